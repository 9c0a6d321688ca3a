#include "quarn/ast/utf8.h"

#include <cstdint>
#include <cstring>

namespace quarn::ast {
namespace {

// Length of the well-formed sequence at `p` (1 to 4), or 0 with `bad` set to the length of the
// maximal ill-formed prefix found there (at least 1).
size_t sequence_length(const unsigned char* p, size_t n, size_t& bad) {
    const unsigned char lead = p[0];
    size_t need;
    unsigned char lo = 0x80, hi = 0xBF;  // range of the second byte
    if (lead < 0x80) return 1;
    if (lead >= 0xC2 && lead <= 0xDF) {
        need = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        need = 3;
        if (lead == 0xE0) lo = 0xA0;  // no overlong forms
        if (lead == 0xED) hi = 0x9F;  // no surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        need = 4;
        if (lead == 0xF0) lo = 0x90;
        if (lead == 0xF4) hi = 0x8F;  // nothing above U+10FFFF
    } else {
        bad = 1;
        return 0;
    }
    for (size_t i = 1; i < need; ++i) {
        const unsigned char b = i < n ? p[i] : 0;
        const bool ok = i == 1 ? (b >= lo && b <= hi) : (b >= 0x80 && b <= 0xBF);
        if (i >= n || !ok) {
            bad = i;
            return 0;
        }
    }
    return need;
}

bool all_ascii(const unsigned char* p) {
    uint64_t word;
    std::memcpy(&word, p, 8);
    return (word & 0x8080808080808080ull) == 0;
}

}  // namespace

bool is_valid_utf8(std::string_view bytes) {
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    size_t n = bytes.size();
    size_t i = 0;
    while (i < n) {
        if (n - i >= 8 && all_ascii(p + i)) {
            i += 8;
            continue;
        }
        size_t bad = 0;
        const size_t len = sequence_length(p + i, n - i, bad);
        if (len == 0) return false;
        i += len;
    }
    return true;
}

std::string utf8_lossy(std::string_view bytes) {
    if (is_valid_utf8(bytes)) return std::string(bytes);
    std::string out;
    out.reserve(bytes.size() + 8);
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    size_t n = bytes.size();
    size_t i = 0;
    while (i < n) {
        size_t bad = 0;
        const size_t len = sequence_length(p + i, n - i, bad);
        if (len == 0) {
            out += "\xEF\xBF\xBD";
            i += bad;
        } else {
            out.append(bytes.data() + i, len);
            i += len;
        }
    }
    return out;
}

}  // namespace quarn::ast

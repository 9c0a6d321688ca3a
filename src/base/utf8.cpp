#include "base/utf8.h"

#include <unicode/uchar.h>
#include <unicode/utf8.h>

#include <algorithm>
#include <cstring>

namespace quarn {
namespace {

bool eight_ascii_bytes(const char* p) {
    uint64_t word;
    std::memcpy(&word, p, 8);
    return (word & 0x8080808080808080ull) == 0;
}

}  // namespace

Utf8Char decode_utf8(std::string_view text, size_t at) {
    const auto* p = reinterpret_cast<const uint8_t*>(text.data()) + at;
    if (p[0] < 0x80) return Utf8Char{p[0], 1};
    // A window of at most one sequence keeps ICU's 32-bit indices valid for any text length.
    const auto window = static_cast<int32_t>(std::min<size_t>(4, text.size() - at));
    int32_t length = 0;
    UChar32 c;
    U8_NEXT(p, length, window, c);
    return Utf8Char{c, static_cast<uint32_t>(length)};
}

bool is_valid_utf8(std::string_view bytes) {
    size_t i = 0;
    while (i < bytes.size()) {
        if (bytes.size() - i >= 8 && eight_ascii_bytes(bytes.data() + i)) {
            i += 8;
            continue;
        }
        const Utf8Char c = decode_utf8(bytes, i);
        if (c.code_point < 0) return false;
        i += c.length;
    }
    return true;
}

std::string utf8_lossy(std::string_view bytes) {
    if (is_valid_utf8(bytes)) return std::string(bytes);
    std::string out;
    out.reserve(bytes.size() + 8);
    for (size_t i = 0; i < bytes.size();) {
        const Utf8Char c = decode_utf8(bytes, i);
        if (c.code_point < 0) {
            out += "\xEF\xBF\xBD";
        } else {
            out.append(bytes.data() + i, c.length);
        }
        i += c.length;
    }
    return out;
}

size_t encode_utf8(char32_t c, char* out) {
    uint8_t buffer[U8_MAX_LENGTH];
    size_t length = 0;
    U8_APPEND_UNSAFE(buffer, length, c);
    std::memcpy(out, buffer, length);
    return length;
}

void append_utf8(std::string& out, char32_t c) {
    char buffer[U8_MAX_LENGTH];
    out.append(buffer, encode_utf8(c, buffer));
}

bool is_white_space(int32_t code_point) {
    return code_point >= 0 && u_isUWhiteSpace(code_point);
}

size_t white_space_length(std::string_view text, size_t at) {
    const Utf8Char c = decode_utf8(text, at);
    return is_white_space(c.code_point) ? c.length : 0;
}

std::string_view trim_white_space(std::string_view text) {
    size_t start = text.size();
    size_t end = 0;
    for (size_t i = 0; i < text.size();) {
        // ASCII is answered here: nearly every byte of what gets trimmed is ASCII.
        const auto byte = static_cast<unsigned char>(text[i]);
        size_t length = 1;
        bool space = byte == ' ' || (byte >= 0x09 && byte <= 0x0D);
        if (byte >= 0x80) {
            const Utf8Char c = decode_utf8(text, i);
            length = c.length;
            space = is_white_space(c.code_point);
        }
        if (!space) {
            if (start == text.size()) start = i;
            end = i + length;
        }
        i += length;
    }
    return start < end ? text.substr(start, end - start) : std::string_view{};
}

}  // namespace quarn

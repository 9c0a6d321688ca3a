#include "quarn/utils/debug_str.h"

#include <unicode/uchar.h>

#include <cstdint>

#include <fmt/format.h>

namespace quarn::utils {
namespace {

// Printable means a visible character or the plain space: controls, format characters,
// surrogates, private-use and unassigned code points, separators other than U+0020, and
// combining marks (which would otherwise fuse with the quote or the previous character) are not.
bool is_printable(UChar32 c) {
    if (c < 0x80) return c >= 0x20 && c < 0x7f;
    if (u_hasBinaryProperty(c, UCHAR_GRAPHEME_EXTEND)) return false;
    switch (u_charType(c)) {
        case U_CONTROL_CHAR:
        case U_FORMAT_CHAR:
        case U_SURROGATE:
        case U_PRIVATE_USE_CHAR:
        case U_UNASSIGNED:
        case U_LINE_SEPARATOR:
        case U_PARAGRAPH_SEPARATOR:
        case U_SPACE_SEPARATOR:
            return false;
        default:
            return true;
    }
}

// Decodes one well-formed UTF-8 sequence at `i`, advancing `i`; -1 (and one byte) when the
// bytes there are not well-formed (overlong forms, surrogates and values past U+10FFFF included).
int32_t next_code_point(const uint8_t* bytes, size_t length, size_t& i) {
    const uint8_t b0 = bytes[i];
    if (b0 < 0x80) {
        ++i;
        return b0;
    }
    size_t n;
    int32_t c, min;
    if (b0 >= 0xc2 && b0 <= 0xdf) {
        n = 1, c = b0 & 0x1f, min = 0x80;
    } else if (b0 >= 0xe0 && b0 <= 0xef) {
        n = 2, c = b0 & 0x0f, min = 0x800;
    } else if (b0 >= 0xf0 && b0 <= 0xf4) {
        n = 3, c = b0 & 0x07, min = 0x10000;
    } else {
        ++i;
        return -1;
    }
    if (length - i <= n) {
        ++i;
        return -1;
    }
    for (size_t k = 1; k <= n; ++k) {
        const uint8_t b = bytes[i + k];
        if ((b & 0xc0) != 0x80) {
            ++i;
            return -1;
        }
        c = (c << 6) | (b & 0x3f);
    }
    if (c < min || c > 0x10ffff || (c >= 0xd800 && c <= 0xdfff)) {
        ++i;
        return -1;
    }
    i += n + 1;
    return c;
}

}  // namespace

void append_debug_str(std::string& out, std::string_view text) {
    out.reserve(out.size() + text.size() + 2);
    out.push_back('"');
    const auto* bytes = reinterpret_cast<const uint8_t*>(text.data());
    size_t i = 0;
    while (i < text.size()) {
        const size_t start = i;
        const int32_t c = next_code_point(bytes, text.size(), i);
        if (c < 0) {
            fmt::format_to(std::back_inserter(out), "\\x{{{:x}}}", bytes[start]);
            continue;
        }
        switch (c) {
            case '"':
                out += "\\\"";
                continue;
            case '\\':
                out += "\\\\";
                continue;
            case '\t':
                out += "\\t";
                continue;
            case '\r':
                out += "\\r";
                continue;
            case '\n':
                out += "\\n";
                continue;
            case '\0':
                out += "\\0";
                continue;
            default:
                break;
        }
        if (is_printable(c)) {
            out.append(text.data() + start, i - start);
        } else {
            fmt::format_to(std::back_inserter(out), "\\u{{{:x}}}", static_cast<uint32_t>(c));
        }
    }
    out.push_back('"');
}

}  // namespace quarn::utils

#include "base/quote.h"

#include <unicode/uchar.h>

#include <cstdint>
#include <iterator>

#include <fmt/format.h>

#include "base/utf8.h"

namespace quarn {
namespace {

// Combining marks would otherwise fuse with the quote or the character before them.
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

bool is_escaped(UChar32 c, DebugEscapes escapes) {
    if (escapes == DebugEscapes::NotPrintable) return !is_printable(c);
    return u_iscntrl(c) || u_hasBinaryProperty(c, UCHAR_GRAPHEME_EXTEND);
}

// The named escape of `c`, or null.
const char* named_escape(int32_t c) {
    switch (c) {
        case '"':
            return "\\\"";
        case '\\':
            return "\\\\";
        case '\t':
            return "\\t";
        case '\r':
            return "\\r";
        case '\n':
            return "\\n";
        case '\0':
            return "\\0";
        default:
            return nullptr;
    }
}

}  // namespace

void append_debug_str(std::string& out, std::string_view text, DebugEscapes escapes) {
    out.reserve(out.size() + text.size() + 2);
    out.push_back('"');
    for (size_t i = 0; i < text.size();) {
        const Utf8Char c = decode_utf8(text, i);
        if (c.code_point < 0) {
            // One byte at a time, so that every byte of an ill-formed sequence shows.
            fmt::format_to(std::back_inserter(out), "\\x{{{:x}}}", static_cast<uint8_t>(text[i]));
            ++i;
            continue;
        }
        if (const char* named = named_escape(c.code_point)) {
            out += named;
        } else if (is_escaped(c.code_point, escapes)) {
            fmt::format_to(std::back_inserter(out), "\\u{{{:x}}}",
                           static_cast<uint32_t>(c.code_point));
        } else {
            out.append(text.data() + i, c.length);
        }
        i += c.length;
    }
    out.push_back('"');
}

void append_json_string(std::string& out, std::string_view text) {
    static constexpr char HEX[] = "0123456789abcdef";
    out += '"';
    // Runs of bytes that need no escape are copied at once.
    size_t run = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c >= 0x20 && c != '"' && c != '\\' && c != 0x7F) continue;
        out.append(text.data() + run, i - run);
        run = i + 1;
        switch (c) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            default:
                out += "\\u00";
                out += HEX[c >> 4];
                out += HEX[c & 0xF];
        }
    }
    out.append(text.data() + run, text.size() - run);
    out += '"';
}

}  // namespace quarn

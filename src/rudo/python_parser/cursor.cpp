#include "rudo/python_parser/cursor.h"

namespace rudo::python_parser {

char32_t decode_utf8(const char* data, TextSize available, TextSize& length) {
    constexpr char32_t REPLACEMENT = 0xFFFD;
    length = 1;
    if (available == 0) return REPLACEMENT;
    auto b0 = static_cast<uint8_t>(data[0]);
    if (b0 < 0x80) return b0;
    TextSize need;
    char32_t c;
    char32_t min;
    if ((b0 & 0xE0) == 0xC0) {
        need = 2, c = b0 & 0x1F, min = 0x80;
    } else if ((b0 & 0xF0) == 0xE0) {
        need = 3, c = b0 & 0x0F, min = 0x800;
    } else if ((b0 & 0xF8) == 0xF0) {
        need = 4, c = b0 & 0x07, min = 0x10000;
    } else {
        return REPLACEMENT;
    }
    if (available < need) return REPLACEMENT;
    for (TextSize i = 1; i < need; ++i) {
        auto b = static_cast<uint8_t>(data[i]);
        if ((b & 0xC0) != 0x80) return REPLACEMENT;
        c = (c << 6) | (b & 0x3F);
    }
    if (c < min || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return REPLACEMENT;
    length = need;
    return c;
}

char32_t Cursor::bump_char() {
    TextSize length;
    char32_t c = peek_char(length);
    skip_bytes(length);
    return c;
}

char32_t Cursor::peek_char(TextSize& length) const {
    return decode_utf8(data_ + pos_, size_ - pos_, length);
}

}  // namespace rudo::python_parser

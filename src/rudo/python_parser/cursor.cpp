#include "rudo/python_parser/cursor.h"

#include "base/utf8.h"

namespace rudo::python_parser {

char32_t Cursor::bump_char() {
    TextSize length;
    char32_t c = peek_char(length);
    skip_bytes(length);
    return c;
}

char32_t Cursor::peek_char(TextSize& length) const {
    constexpr char32_t REPLACEMENT = 0xFFFD;
    length = 1;
    if (pos_ >= size_) return REPLACEMENT;
    const quarn::Utf8Char c = quarn::decode_utf8(std::string_view(data_, size_), pos_);
    if (c.code_point < 0) return REPLACEMENT;
    length = c.length;
    return static_cast<char32_t>(c.code_point);
}

}  // namespace rudo::python_parser

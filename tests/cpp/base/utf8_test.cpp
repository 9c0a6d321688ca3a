#include "base/utf8.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>

namespace {

// Well-formed UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF, no stray or
// missing continuation bytes.
TEST(Utf8, ValidationAndDecoding) {
    struct Case {
        std::string bytes;
        bool valid;
        int32_t first;    // code point decoded at 0, negative when ill-formed
        uint32_t length;  // bytes taken by that decode
    };
    const Case cases[] = {
        {"a", true, 'a', 1},
        {"\x7f", true, 0x7f, 1},
        {"\xc2\x80", true, 0x80, 2},
        {"\xdf\xbf", true, 0x7ff, 2},
        {"\xe0\xa0\x80", true, 0x800, 3},
        {"\xed\x9f\xbf", true, 0xd7ff, 3},
        {"\xee\x80\x80", true, 0xe000, 3},
        {"\xef\xbf\xbf", true, 0xffff, 3},
        {"\xf0\x90\x80\x80", true, 0x10000, 4},
        {"\xf4\x8f\xbf\xbf", true, 0x10ffff, 4},
        {"abcdefgh\xc3\xa9", true, 'a', 1},
        // Overlong forms.
        {"\xc0\x80", false, -1, 1},
        {"\xc1\xbf", false, -1, 1},
        {"\xe0\x9f\xbf", false, -1, 1},
        {"\xf0\x8f\xbf\xbf", false, -1, 1},
        // Surrogates.
        {"\xed\xa0\x80", false, -1, 1},
        {"\xed\xbf\xbf", false, -1, 1},
        // Above U+10FFFF, and lead bytes that start nothing.
        {"\xf4\x90\x80\x80", false, -1, 1},
        {"\xf5\x80\x80\x80", false, -1, 1},
        {"\xf8\x88\x80\x80\x80", false, -1, 1},
        {"\xff", false, -1, 1},
        // A continuation byte alone, and sequences cut off: the decode takes the good prefix.
        {"\x80", false, -1, 1},
        {"\xc3", false, -1, 1},
        {"\xe2\x82", false, -1, 2},
        {"\xf0\x9f\x98", false, -1, 3},
        {"\xe2\x82x", false, -1, 2},
        // Ill-formed after a clean start of eight ASCII bytes.
        {"abcdefgh\xc0\x80", false, 'a', 1},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(quarn::is_valid_utf8(c.bytes), c.valid) << testing::PrintToString(c.bytes);
        const quarn::Utf8Char decoded = quarn::decode_utf8(c.bytes, 0);
        EXPECT_EQ(decoded.code_point < 0 ? -1 : decoded.code_point, c.first)
            << testing::PrintToString(c.bytes);
        EXPECT_EQ(decoded.length, c.length) << testing::PrintToString(c.bytes);
    }
}

TEST(Utf8, Encoding) {
    struct Case {
        char32_t code_point;
        std::string bytes;
    };
    const Case cases[] = {
        {U'\0', std::string(1, '\0')},
        {U'a', "a"},
        {0x7f, "\x7f"},
        {0x80, "\xc2\x80"},
        {0x7ff, "\xdf\xbf"},
        {0x800, "\xe0\xa0\x80"},
        {0x20ac, "\xe2\x82\xac"},
        {0xffff, "\xef\xbf\xbf"},
        {0x10000, "\xf0\x90\x80\x80"},
        {0x10ffff, "\xf4\x8f\xbf\xbf"},
        // Unchecked: a surrogate gets the three-byte form.
        {0xd800, "\xed\xa0\x80"},
    };
    for (const auto& c : cases) {
        std::string out = "<";
        quarn::append_utf8(out, c.code_point);
        EXPECT_EQ(out, "<" + c.bytes) << static_cast<uint32_t>(c.code_point);
    }
}

// White_Space as Unicode defines it; a byte that is not well-formed is not white space.
TEST(Utf8, WhiteSpaceLength) {
    struct Case {
        std::string text;
        size_t length;
    };
    const Case cases[] = {
        {" x", 1},
        {"\t", 1},
        {"\x0b", 1},
        {"\x0c", 1},
        {"\x0d", 1},
        {"\x1c", 0},  // a separator control, but not White_Space
        {"\xc2\x85", 2},
        {"\xc2\xa0", 2},
        {"\xe1\x9a\x80", 3},
        {"\xe2\x80\x80", 3},
        {"\xe2\x80\x8a", 3},
        {"\xe2\x80\x8b", 0},  // zero-width space is not White_Space
        {"\xe2\x80\xa8", 3},
        {"\xe2\x80\xa9", 3},
        {"\xe2\x80\xaf", 3},
        {"\xe2\x81\x9f", 3},
        {"\xe3\x80\x80", 3},
        {"\xef\xbb\xbf", 0},  // byte-order mark
        {"a", 0},
        {"\xc2", 0},
        {"\xe2\x80", 0},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(quarn::white_space_length(c.text, 0), c.length) << testing::PrintToString(c.text);
    }
}

// Both ends lose their White_Space, ASCII or not; what is inside stays, and an ill-formed byte
// is kept as a character that is not white space.
TEST(Utf8, TrimWhiteSpace) {
    struct Case {
        std::string text;
        std::string trimmed;
    };
    const Case cases[] = {
        {"", ""},
        {" \t\n\x0b\x0c\r", ""},
        {"  a b  ", "a b"},
        {"\xe3\x80\x80x\xc2\xa0", "x"},      // ideographic space, no-break space
        {"\xc2\xa0 \xe2\x80\xa8", ""},
        {"\x1cx\x1c", "\x1cx\x1c"},           // not White_Space
        {"\xe2\x80\x8bx", "\xe2\x80\x8bx"},  // zero-width space is not either
        {" \xff ", "\xff"},
        {"\xe2\x80 ", "\xe2\x80"},           // a cut-off sequence
        {" 1h\t", "1h"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(quarn::trim_white_space(c.text), c.trimmed) << testing::PrintToString(c.text);
    }
}

TEST(Utf8Lossy, ReplacesEachMaximalIllFormedPartOnce) {
    const std::pair<std::string, std::string> cases[] = {
        {"plain", "plain"},
        {"a\xFF"
         "b",
         "a\xEF\xBF\xBD"
         "b"},
        // A cut-off four-byte form is one part, not three.
        {"a\xF0\x9F\x98"
         "b",
         "a\xEF\xBF\xBD"
         "b"},
        // E0 80: 80 cannot follow E0, so both bytes are parts of their own.
        {"\xE0\x80", "\xEF\xBF\xBD\xEF\xBF\xBD"},
        {"\xED\xA0\x80", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},
        {"\xC3\xA9\xC3", "\xC3\xA9\xEF\xBF\xBD"},
    };
    for (const auto& [bytes, text] : cases) {
        EXPECT_EQ(quarn::utf8_lossy(bytes), text) << testing::PrintToString(bytes);
    }
}

}  // namespace

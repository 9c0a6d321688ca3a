#include "base/quote.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using quarn::debug_str;
using quarn::DebugEscapes;

TEST(DebugStr, QuotesAndEscapes) {
    struct Case {
        std::string input;
        std::string expected;
    };
    const Case cases[] = {
        {"", R"("")"},
        {"2024-01-05", R"("2024-01-05")"},
        {"say \"hi\"", R"("say \"hi\"")"},
        {"a\\b", R"("a\\b")"},
        {"\t\r\n", R"("\t\r\n")"},
        {std::string("a\0b", 3), R"("a\0b")"},
        {"'single'", R"("'single'")"},
        // Other controls, DEL and invisible format or separator characters by their code.
        {"\x01\x1b\x7f", R"("\u{1}\u{1b}\u{7f}")"},
        {"\xc2\x85", R"("\u{85}")"},  // NEL
        {"a\xc2\xa0"
         "b",
         R"("a\u{a0}b")"},                       // no-break space
        {"\xe2\x80\x8b", R"("\u{200b}")"},       // zero-width space
        {"\xe2\x80\xa8", R"("\u{2028}")"},       // line separator
        {"\xef\xbb\xbf", R"("\u{feff}")"},       // byte-order mark
        {"\xf3\xa0\x80\x81", R"("\u{e0001}")"},  // language tag
        {"e\xcc\x81", R"("e\u{301}")"},          // combining acute accent
        // Printable non-ASCII characters stand unchanged.
        {"12:00\xc3\xa9", "\"12:00\xc3\xa9\""},
        {"\xe6\x97\xa5\xe6\x9c\xac", "\"\xe6\x97\xa5\xe6\x9c\xac\""},
        {"\xf0\x9f\x98\x80", "\"\xf0\x9f\x98\x80\""},
        {" ", "\" \""},
        // Bytes outside well-formed UTF-8 are shown one by one, never dropped.
        {"a\xff"
         "b",
         R"("a\x{ff}b")"},
        {"\xc3", R"("\x{c3}")"},
        {"\xc0\xaf", R"("\x{c0}\x{af}")"},            // overlong "/"
        {"\xed\xa0\x80", R"("\x{ed}\x{a0}\x{80}")"},  // surrogate
    };
    for (const auto& c : cases)
        EXPECT_EQ(debug_str(c.input), c.expected) << c.input;
}

// Names in syntax errors escape only controls, format characters and combining marks: other
// spaces, private-use and unassigned characters stay as they are. Both forms show every byte of
// an ill-formed sequence.
TEST(DebugStr, NameForm) {
    struct Case {
        std::string input;
        std::string expected;
    };
    const Case cases[] = {
        {"kw", R"("kw")"},
        {"a\"b\\", R"("a\"b\\")"},
        {"\t\n\x01\x7f", R"("\t\n\u{1}\u{7f}")"},
        {"\xc2\x85", R"("\u{85}")"},           // NEL
        {"\xe2\x80\x8b", R"("\u{200b}")"},     // zero-width space: a format character
        {"\xe2\x80\xa8", R"("\u{2028}")"},     // line separator
        {"e\xcc\x81", R"("e\u{301}")"},        // combining acute accent
        {"\xc2\xa0", "\"\xc2\xa0\""},          // no-break space
        {"\xee\x80\x80", "\"\xee\x80\x80\""},  // private use
        {"\xf0\x9f\x98\x80", "\"\xf0\x9f\x98\x80\""},
        {"\xe0\xa0", R"("\x{e0}\x{a0}")"},  // cut off
        {"\xc0\x80", R"("\x{c0}\x{80}")"},  // overlong NUL
    };
    for (const auto& c : cases)
        EXPECT_EQ(debug_str(c.input, DebugEscapes::ControlsAndMarks), c.expected) << c.input;
}

TEST(JsonString, EscapesControlsAndKeepsUtf8) {
    struct Case {
        std::string input;
        std::string expected;
    };
    const Case cases[] = {
        {"", R"("")"},
        {"say \"hi\" \\ bye", R"("say \"hi\" \\ bye")"},
        {"\n\r\t", R"("\n\r\t")"},
        {std::string("\0\x01\x1f\x7f", 4), R"("\u0000\u0001\u001f\u007f")"},
        {"\xc3\xa9\xe2\x80\xa8", "\"\xc3\xa9\xe2\x80\xa8\""},
        {"'/<>", R"("'/<>")"},
    };
    for (const auto& c : cases) {
        std::string out = "x";
        quarn::append_json_string(out, c.input);
        EXPECT_EQ(out, "x" + c.expected) << c.input;
    }
}

}  // namespace

#include "quarn/utils/debug_str.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using quarn::utils::debug_str;

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

}  // namespace

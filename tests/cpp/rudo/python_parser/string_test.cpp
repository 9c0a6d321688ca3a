#include <gtest/gtest.h>

#include "rudo/python_parser/string.h"

namespace rudo::python_parser {
namespace {

namespace tf = python_ast::token_flags;
using Kind = LexicalErrorType::Kind;
using python_ast::BytesLiteral;
using python_ast::StringLiteral;
using python_ast::TokenFlags;

// Every literal in these tables starts at file offset 10.
constexpr TextSize START = 10;

// The range of a literal written with `prefix`, quotes of length `quote` and `body`.
TextRange literal_range(std::string_view prefix, size_t quote, std::string_view body) {
    return TextRange::at(START, static_cast<TextSize>(prefix.size() + 2 * quote + body.size()));
}

TokenFlags prefix_bits(std::string_view prefix) {
    TokenFlags bits = 0;
    for (char c : prefix) {
        if (c == 'b' || c == 'B') bits |= tf::B_PREFIX;
        if (c == 'r') bits |= tf::R_PREFIX_LOWER;
        if (c == 'R') bits |= tf::R_PREFIX_UPPER;
        if (c == 'u' || c == 'U') bits |= tf::U_PREFIX;
    }
    return bits;
}

quarn::Result<StringType, LexicalError> decode(std::string_view prefix, std::string_view body,
                                               bool triple = false) {
    TokenFlags bits = prefix_bits(prefix) | (triple ? tf::TRIPLE_QUOTED : 0);
    return parse_string_literal(std::string(body), AnyStringFlags(bits),
                                literal_range(prefix, triple ? 3 : 1, body));
}

struct ValueCase {
    std::string_view prefix;
    std::string_view body;
    std::string expected;
    bool triple = false;
};

TEST(ParseStringLiteral, DecodesEveryEscapeForm) {
    const ValueCase cases[] = {
        {"", "plain text", "plain text"},
        {"", "\\x41\\u00e9\\U0001F600\\N{BULLET}", "A\xc3\xa9\xf0\x9f\x98\x80\xe2\x80\xa2"},
        {"", "\\ud800", "\xef\xbf\xbd"},
        {"", "\\U0000DFFF", "\xef\xbf\xbd"},
        {"", "\\U0010FFFF", "\xf4\x8f\xbf\xbf"},
        {"", "\\xFf\\xfF", "\xc3\xbf\xc3\xbf"},
        {"", "\\101", "A"},
        {"", "\\1012", "A2"},
        {"", "\\0", std::string("\0", 1)},
        {"", "\\777", "\xc7\xbf"},
        {"", "\\8\\9\\d\\{\\q", "\\8\\9\\d\\{\\q"},
        {"", "\\\xc3\xa9", "\\\xc3\xa9"},
        {"", "\\\\\\'\\\"", "\\'\""},
        {"", "\\a\\b\\f\\n\\r\\t\\v", "\x07\x08\x0c\n\r\t\x0b"},
        {"", "\\N{bullet}\\N{Latin Small Letter A}",
         "\xe2\x80\xa2"
         "a"},
        {"", "\\N{LATIN CAPITAL LETTER GHA}", "\xc6\xa2"},
        {"", "\\N{CJK UNIFIED IDEOGRAPH-4E00}\\N{HANGUL SYLLABLE GA}", "\xe4\xb8\x80\xea\xb0\x80"},
        // Name aliases of every kind: control, abbreviation, figment, alternate, correction.
        {"", "\\N{NULL}\\N{LINE FEED}", std::string("\0\n", 2)},
        {"", "\\N{DEL}\\N{NBSP}\\N{nbsp}", "\x7f\xc2\xa0\xc2\xa0"},
        {"", "\\N{BYTE ORDER MARK}\\N{BOM}", "\xef\xbb\xbf\xef\xbb\xbf"},
        {"", "\\N{PADDING CHARACTER}\\N{PAD}", "\xc2\x80\xc2\x80"},
        {"", "\\N{LATIN CAPITAL LETTER GHA}\\N{LATIN CAPITAL LETTER OI}", "\xc6\xa2\xc6\xa2"},
        {"", "\\N{VS1}\\N{ZWNBSP}", "\xef\xb8\x80\xef\xbb\xbf"},
        {"u", "\\x41", "A"},
        {"", "a\\\nb", "ab", true},
        {"", "a\\\r\nb", "ab", true},
        {"", "a\\\rb", "ab", true},
        {"r", "\\n", "\\n"},
        {"R", "\\x\\N{", "\\x\\N{"},
        {"", "trailing \\\\", "trailing \\"},
    };
    for (const ValueCase& c : cases) {
        SCOPED_TRACE(std::string(c.prefix) + "'" + std::string(c.body) + "'");
        auto result = decode(c.prefix, c.body, c.triple);
        ASSERT_TRUE(result.ok()) << result.error().error.message();
        const auto* literal = std::get_if<StringLiteral>(&*result);
        ASSERT_NE(literal, nullptr);
        EXPECT_EQ(literal->value, c.expected);
        EXPECT_EQ(literal->range, literal_range(c.prefix, c.triple ? 3 : 1, c.body));
        EXPECT_EQ(literal->node_index.load(), python_ast::AtomicNodeIndex::NONE);
    }
}

TEST(ParseStringLiteral, DecodesBytes) {
    const ValueCase cases[] = {
        {"b", "\\x41\\u00e9", "A\\u00e9"},
        {"b", "\\U0001F600\\N{BULLET}", "\\U0001F600\\N{BULLET}"},
        {"b", "\\400", std::string("\0", 1)},
        {"b", "\\377\\777", "\xff\xff"},
        {"b", "\\xff\\x00", std::string("\xff\0", 2)},
        {"b", "\\n\\'\\d", "\n'\\d"},
        {"B", "a\\\nb", "ab", true},
        {"rb", "\\x41", "\\x41"},
        {"Rb", "\\", "\\"},
    };
    for (const ValueCase& c : cases) {
        SCOPED_TRACE(std::string(c.prefix) + "'" + std::string(c.body) + "'");
        auto result = decode(c.prefix, c.body, c.triple);
        ASSERT_TRUE(result.ok()) << result.error().error.message();
        const auto* literal = std::get_if<BytesLiteral>(&*result);
        ASSERT_NE(literal, nullptr);
        EXPECT_EQ(literal->value, c.expected);
    }
}

TEST(ParseStringLiteral, FlagsAreNarrowedPerKind) {
    auto plain = parse_string_literal(
        "x", AnyStringFlags(tf::DOUBLE_QUOTES | tf::U_PREFIX | tf::UNTERMINATED), TextRange(0, 3));
    EXPECT_EQ(std::get<StringLiteral>(*plain).flags.bits(), 0x01 | 0x04 | 0x40);
    auto bytes = parse_string_literal(
        "x", AnyStringFlags(tf::B_PREFIX | tf::R_PREFIX_UPPER | tf::TRIPLE_QUOTED),
        TextRange(0, 9));
    EXPECT_EQ(std::get<BytesLiteral>(*bytes).flags.bits(), 0x02 | 0x08);
}

// Without a backslash to decode (or in a raw literal) the body is the value, byte for byte.
TEST(ParseStringLiteral, BodyWithoutBackslashIsTheValue) {
    const std::string body(100, 'x');
    auto result = parse_string_literal(body, AnyStringFlags(), TextRange(0, 102));
    EXPECT_EQ(std::get<StringLiteral>(*result).value, body);
    const std::string raw(100, '\\');
    result = parse_string_literal(raw, AnyStringFlags(tf::R_PREFIX_LOWER), TextRange(0, 103));
    EXPECT_EQ(std::get<StringLiteral>(*result).value, raw);
}

struct ErrorCase {
    std::string_view prefix;
    std::string_view body;
    Kind kind;
    TextSize start, end;  // file offsets; the body starts at 11 without a prefix
    bool triple = false;
};

TEST(ParseStringLiteral, ErrorsHaveExactKindsAndRanges) {
    const ErrorCase cases[] = {
        {"", "\\U00110000", Kind::UnexpectedUnicode, 21, 21},
        {"", "\\x4", Kind::UnexpectedUnicode, 14, 14},
        {"", "\\x4g", Kind::UnexpectedUnicode, 14, 15},
        {"", "\\u12\xc3\xa9", Kind::UnexpectedUnicode, 15, 17},
        {"", "\\U0001F6", Kind::UnexpectedUnicode, 19, 19},
        {"", "\\N{NO SUCH NAME}", Kind::UnexpectedUnicode, 14, 26},
        {"", "\\N{}", Kind::UnexpectedUnicode, 14, 14},
        {"", "\\N{<control-000A>}", Kind::UnexpectedUnicode, 14, 28},
        {"", "\\N{NBSP }", Kind::UnexpectedUnicode, 14, 19},
        {"", "\\N{LINE  FEED}", Kind::UnexpectedUnicode, 14, 24},
        {"", "\\N{BULL\xc3\xa9T}", Kind::UnexpectedUnicode, 14, 21},
        {"", "\\N", Kind::MissingUnicodeLbrace, 13, 13},
        {"", "\\Nx{BULLET}", Kind::MissingUnicodeLbrace, 13, 13},
        {"", "\\N{BULLET", Kind::MissingUnicodeRbrace, 20, 20},
        {"", "abc\\", Kind::UnexpectedString, 15, 15},
        {"u", "\\N", Kind::MissingUnicodeLbrace, 14, 14},
        {"", "\\N", Kind::MissingUnicodeLbrace, 15, 15, true},
        {"b", "\xc3\xa9", Kind::NonAsciiBytes, 12, 14},
        {"rb", "\xc3\xa9", Kind::NonAsciiBytes, 13, 15},
        {"b", "ab\xe2\x80\xa2", Kind::NonAsciiBytes, 14, 17},
        // Ill-formed UTF-8: a byte that starts nothing is one character, a cut-off sequence the
        // bytes it got.
        {"b",
         "\xf0"
         "abc",
         Kind::NonAsciiBytes, 12, 13},
        {"",
         "\\u12\xe2\x82"
         "ab",
         Kind::UnexpectedUnicode, 15, 17},
        {"b", "\\x4", Kind::UnexpectedUnicode, 15, 15},
        // The first error ends decoding.
        {"", "\\x4g\\N", Kind::UnexpectedUnicode, 14, 15},
    };
    for (const ErrorCase& c : cases) {
        SCOPED_TRACE(std::string(c.prefix) + "'" + std::string(c.body) + "'");
        auto result = decode(c.prefix, c.body, c.triple);
        ASSERT_FALSE(result.ok());
        EXPECT_EQ(result.error().error.kind, c.kind);
        EXPECT_EQ(result.error().location, TextRange(c.start, c.end));
    }
}

TEST(ParseStringLiteral, ErrorMessages) {
    EXPECT_EQ(decode("", "\\x4").error().error.message(), "Got unexpected unicode");
    EXPECT_EQ(decode("", "\\N").error().error.message(), "Missing `{` in Unicode escape sequence");
    EXPECT_EQ(decode("", "\\N{A").error().error.message(),
              "Missing `}` in Unicode escape sequence");
    EXPECT_EQ(decode("", "\\").error().error.message(), "Got unexpected string");
    EXPECT_EQ(decode("b", "\xc3\xa9").error().error.message(),
              "bytes can only contain ASCII literal characters");
}

// Middles of f-strings and t-strings: `source` is what the lexer hands over (doubled braces
// collapsed), starting at file offset `start`.
struct ElementCase {
    TokenFlags flags;
    std::string_view text;
    TextSize start;
    std::string expected;
};

TEST(ParseInterpolatedStringLiteralElement, DecodesLiteralParts) {
    const ElementCase cases[] = {
        {tf::F_PREFIX, "a{b}c", 2, "a{b}c"},
        {tf::F_PREFIX, "\\n{\\x41", 2, "\n{A"},
        {tf::T_PREFIX, "\\N{EN DASH}", 2, "\xe2\x80\x93"},
        {tf::F_PREFIX, "\\{", 2, "\\{"},
        {tf::F_PREFIX, "a\\", 2, "a\\"},
        {tf::F_PREFIX, "\\d\\8", 2, "\\d\\8"},
        {tf::F_PREFIX | tf::TRIPLE_QUOTED, "a\\\nb", 4, "ab"},
        {tf::F_PREFIX | tf::R_PREFIX_LOWER, "\\n\\{\\N{x", 3, "\\n\\{\\N{x"},
        {tf::T_PREFIX | tf::R_PREFIX_UPPER, "\\", 3, "\\"},
    };
    for (const ElementCase& c : cases) {
        SCOPED_TRACE(std::string(c.text));
        TextRange range = TextRange::at(c.start, static_cast<TextSize>(c.text.size() + 1));
        auto result = parse_interpolated_string_literal_element(std::string(c.text),
                                                                AnyStringFlags(c.flags), range);
        ASSERT_TRUE(result.ok()) << result.error().error.message();
        EXPECT_EQ(result->value, c.expected);
        EXPECT_EQ(result->range, range);
    }
}

struct ElementErrorCase {
    std::string_view source;  // the whole literal as written, for reading the expectation
    std::string_view text;    // its middle after the lexer collapsed doubled braces
    Kind kind;
    TextSize start, end;
};

TEST(ParseInterpolatedStringLiteralElement, ErrorRangesCountCollapsedBraces) {
    const ElementErrorCase cases[] = {
        // f'{{\N{BAD}': BAD is at 7..10 in the source.
        {"f'{{\\N{BAD}'", "{\\N{BAD}", Kind::UnexpectedUnicode, 7, 10},
        // f'a}}\x4g': g at 8.
        {"f'a}}\\x4g'", "a}\\x4g", Kind::UnexpectedUnicode, 8, 9},
        // f'{{}}{{\x4': the end of the middle is at 11.
        {"f'{{}}{{\\x4'", "{}{\\x4", Kind::UnexpectedUnicode, 11, 11},
        // A backslash before a doubled brace: f'\{{\N{BAD}' has BAD at 8..11.
        {"f'\\{{\\N{BAD}'", "\\{\\N{BAD}", Kind::UnexpectedUnicode, 8, 11},
        {"f'\\}}\\N'", "\\}\\N", Kind::MissingUnicodeLbrace, 7, 7},
        {"f'\\N{x'", "\\N{x", Kind::MissingUnicodeRbrace, 6, 6},
    };
    for (const ElementErrorCase& c : cases) {
        SCOPED_TRACE(std::string(c.source));
        // The middle starts after `f'`; its token covers the braces as written.
        TextRange range(2, static_cast<TextSize>(c.source.size() - 1));
        auto result = parse_interpolated_string_literal_element(
            std::string(c.text), AnyStringFlags(tf::F_PREFIX), range);
        ASSERT_FALSE(result.ok());
        EXPECT_EQ(result.error().error.kind, c.kind);
        EXPECT_EQ(result.error().location, TextRange(c.start, c.end));
    }
}

TEST(InterpolatedStringKind, Display) {
    EXPECT_EQ(display(InterpolatedStringKind::FString), "f-string");
    EXPECT_EQ(fmt::format("{}", InterpolatedStringKind::TString), "t-string");
}

}  // namespace
}  // namespace rudo::python_parser

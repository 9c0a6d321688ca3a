// Numbers, strings, bytes, f-strings and t-strings.
#include <clocale>
#include <cmath>

#include <gtest/gtest.h>

#include "rudo/python_parser/lex_helpers.h"

namespace {

using namespace lexer_test;
using rudo::python_ast::IntErrorKind;

struct LiteralCase {
    std::string_view source;
    const char* tokens;  // kinds with values
    const char* errors;
};

void check(const LiteralCase& c) {
    Lexed lexed = lex_all(c.source);
    EXPECT_EQ(valued(lexed), c.tokens) << c.source;
    EXPECT_EQ(errors(lexed.errors), c.errors) << c.source;
}

TEST(Lexer, Numbers) {
    const LiteralCase cases[] = {
        {"0 00 0_0 7 1_000",
         "Int=int:0 Int=int:0 Int=int:0 Int=int:7 Int=int:1000 Newline EndOfFile", ""},
        {"1__0", "Int=int:1 Name=name:__0 Newline EndOfFile", ""},
        {"1_", "Int=int:1 Name=name:_ Newline EndOfFile", ""},
        {"18446744073709551615", "Int=int:18446744073709551615 Newline EndOfFile", ""},
        {"18446744073709551616", "Int=bigint:18446744073709551616 Newline EndOfFile", ""},
        {"1_8446744073709551616", "Int=bigint:18446744073709551616 Newline EndOfFile", ""},
        {"0x1_0000_0000_0000_0000", "Int=bigint:0x1_0000_0000_0000_0000 Newline EndOfFile", ""},
        {"0xFF 0XfF 0o17 0O7 0b101 0B1 0x_f",
         "Int=int:255 Int=int:255 Int=int:15 Int=int:7 Int=int:5 Int=int:1 Int=int:15 Newline "
         "EndOfFile",
         ""},
        {"0xFFFFFFFFFFFFFFFF", "Int=int:18446744073709551615 Newline EndOfFile", ""},
        {"0x", "Unknown Newline EndOfFile", "ParseIntError { kind: Empty } @ 0..2"},
        {"0b2", "Unknown Int=int:2 Newline EndOfFile", "ParseIntError { kind: Empty } @ 0..2"},
        {"0o_", "Unknown Name=name:_ Newline EndOfFile", "ParseIntError { kind: Empty } @ 0..2"},
        {"01", "Unknown Newline EndOfFile", "Invalid decimal integer literal @ 0..2"},
        {"0_1", "Unknown Newline EndOfFile", "Invalid decimal integer literal @ 0..3"},
        {"0.5 0e0 01.5 1. 1.e2 1_0.2_5 1e+5 1E-2",
         "Float=float:0.5 Float=float:0 Float=float:1.5 Float=float:1 Float=float:100 "
         "Float=float:10.25 Float=float:100000 Float=float:0.01 Newline EndOfFile",
         ""},
        {"01j .5j 1.5e3J 10j",
         "Complex=complex:1j Complex=complex:0.5j Complex=complex:1500j "
         "Complex=complex:10j Newline EndOfFile",
         ""},
        {"1._5", "Unknown Int=int:5 Newline EndOfFile", "Invalid Syntax @ 2..3"},
        {"1e400 1e-400", "Float=float:inf Float=float:0 Newline EndOfFile", ""},
        {"1e 1e_5", "Int=int:1 Name=name:e Int=int:1 Name=name:e_5 Newline EndOfFile", ""},
        {"1if 0x1j", "Int=int:1 If Int=int:1 Name=name:j Newline EndOfFile", ""},
        {"x.5", "Name=name:x Float=float:0.5 Newline EndOfFile", ""},
    };
    for (const auto& c : cases)
        check(c);
}

TEST(Lexer, FloatsIgnoreTheProcessLocale) {
    // A locale whose decimal separator is a comma must not change how `1.5` reads.
    const char* previous = std::setlocale(LC_NUMERIC, nullptr);
    std::string saved = previous ? previous : "C";
    for (const char* name : {"de_DE.UTF-8", "fr_FR.UTF-8", "de_DE", "C.UTF-8"}) {
        if (std::setlocale(LC_NUMERIC, name)) break;
    }
    Lexed lexed = lex_all("1.5 2.5e1");
    std::setlocale(LC_NUMERIC, saved.c_str());
    EXPECT_EQ(valued(lexed), "Float=float:1.5 Float=float:25 Newline EndOfFile");
}

TEST(Lexer, FloatsRoundToNearest) {
    Lexed lexed = lex_all("0.1 1.7976931348623157e308 1.8e308 5e-324 2e-324");
    ASSERT_EQ(lexed.tokens.size(), 7u);
    EXPECT_EQ(std::get<double>(lexed.values[0]), 0.1);
    EXPECT_EQ(std::get<double>(lexed.values[1]), 1.7976931348623157e308);
    EXPECT_TRUE(std::isinf(std::get<double>(lexed.values[2])));
    EXPECT_EQ(std::get<double>(lexed.values[3]), 5e-324);
    EXPECT_EQ(std::get<double>(lexed.values[4]), 0.0);
}

struct StringCase {
    std::string_view source;
    const char* tokens;  // ranges with flags
    const char* body;    // value of the first token
    const char* errors;
};

TEST(Lexer, Strings) {
    const StringCase cases[] = {
        {"'abc'", "String 0..5, Newline 5..5, EndOfFile 5..5", "abc", ""},
        {"\"abc\"", "String 0..5/0x1, Newline 5..5, EndOfFile 5..5", "abc", ""},
        {"''", "String 0..2, Newline 2..2, EndOfFile 2..2", "", ""},
        {"'''a'b'''", "String 0..9/0x2, Newline 9..9, EndOfFile 9..9", "a'b", ""},
        {"\"\"\"a\n\"b\"\"\"", "String 0..10/0x3, Newline 10..10, EndOfFile 10..10", "a\n\"b", ""},
        {"'a\\'b'", "String 0..6, Newline 6..6, EndOfFile 6..6", "a\\'b", ""},
        {"'a\\\\'", "String 0..5, Newline 5..5, EndOfFile 5..5", "a\\\\", ""},
        {"'''a\\'''b'''", "String 0..12/0x2, Newline 12..12, EndOfFile 12..12", "a\\'''b", ""},
        {"'a\\\nb'", "String 0..6, Newline 6..6, EndOfFile 6..6", "a\\\nb", ""},
        {"'a\\\r\nb'", "String 0..7, Newline 7..7, EndOfFile 7..7", "a\\\r\nb", ""},
        {"\"it's\"", "String 0..6/0x1, Newline 6..6, EndOfFile 6..6", "it's", ""},
        {"b'x'", "String 0..4/0x8, Newline 4..4, EndOfFile 4..4", "x", ""},
        {"rb'x'", "String 0..5/0x48, Newline 5..5, EndOfFile 5..5", "x", ""},
        {"Rb'x'", "String 0..5/0x88, Newline 5..5, EndOfFile 5..5", "x", ""},
        {"bR'x'", "String 0..5/0x88, Newline 5..5, EndOfFile 5..5", "x", ""},
        {"Br'x'", "String 0..5/0x48, Newline 5..5, EndOfFile 5..5", "x", ""},
        {"u'x'", "String 0..4/0x4, Newline 4..4, EndOfFile 4..4", "x", ""},
        {"U\"x\"", "String 0..4/0x5, Newline 4..4, EndOfFile 4..4", "x", ""},
        // Even in a raw string a backslash keeps the quote after it from closing the string.
        {"r'\\'", "String 0..4/0x140, Newline 4..4, EndOfFile 4..4", "\\'",
         "missing closing quote in string literal @ 0..4"},
        {"r'\\''", "String 0..5/0x40, Newline 5..5, EndOfFile 5..5", "\\'", ""},
        {"R'x'", "String 0..4/0x80, Newline 4..4, EndOfFile 4..4", "x", ""},
        {"'abc\n", "String 0..4/0x100, Newline 4..5, EndOfFile 5..5", "abc",
         "missing closing quote in string literal @ 0..4"},
        {"'abc", "String 0..4/0x100, Newline 4..4, EndOfFile 4..4", "abc",
         "missing closing quote in string literal @ 0..4"},
        {"'''abc", "String 0..6/0x102, Newline 6..6, EndOfFile 6..6", "abc",
         "missing closing quote in string literal @ 0..6"},
        {"'''ab''", "String 0..7/0x102, Newline 7..7, EndOfFile 7..7", "ab''",
         "missing closing quote in string literal @ 0..7"},
        {"'a\\", "String 0..3/0x100, Newline 3..3, EndOfFile 3..3", "a\\",
         "missing closing quote in string literal @ 0..3"},
        {"'caf\xC3\xA9'", "String 0..7, Newline 7..7, EndOfFile 7..7", "caf\xC3\xA9", ""},
    };
    for (const auto& c : cases) {
        Lexed lexed = lex_all(c.source);
        EXPECT_EQ(ranged(lexed.tokens), c.tokens) << c.source;
        EXPECT_EQ(value_text(lexed.values[0]), std::string("str:") + c.body) << c.source;
        EXPECT_EQ(errors(lexed.errors), c.errors) << c.source;
    }
}

TEST(Lexer, InterpolatedStrings) {
    const LiteralCase cases[] = {
        {"f'a{{b}}c'", "FStringStart FStringMiddle=middle:a{b}c FStringEnd Newline EndOfFile", ""},
        {"f'{x:>{w}}'",
         "FStringStart Lbrace Name=name:x Colon FStringMiddle=middle:> Lbrace Name=name:w Rbrace "
         "Rbrace FStringEnd Newline EndOfFile",
         ""},
        {"f'{x!r}'",
         "FStringStart Lbrace Name=name:x Exclamation Name=name:r Rbrace FStringEnd Newline "
         "EndOfFile",
         ""},
        {"f'{x!=y}'",
         "FStringStart Lbrace Name=name:x NotEqual Name=name:y Rbrace FStringEnd Newline EndOfFile",
         ""},
        {"f'{x:=5}'",
         "FStringStart Lbrace Name=name:x Colon FStringMiddle=middle:=5 Rbrace FStringEnd Newline "
         "EndOfFile",
         ""},
        {"f'{(x:=5)}'",
         "FStringStart Lbrace Lpar Name=name:x ColonEqual Int=int:5 Rpar Rbrace FStringEnd Newline "
         "EndOfFile",
         ""},
        {"f'{d[\"k\"]:{w}.{p}f}'",
         "FStringStart Lbrace Name=name:d Lsqb String=str:k Rsqb Colon Lbrace Name=name:w Rbrace "
         "FStringMiddle=middle:. Lbrace Name=name:p Rbrace FStringMiddle=middle:f Rbrace "
         "FStringEnd Newline EndOfFile",
         ""},
        {"f'{x:{{}}}'",
         "FStringStart Lbrace Name=name:x Colon Lbrace Lbrace Rbrace Rbrace Rbrace FStringEnd "
         "Newline EndOfFile",
         ""},
        {"f'\\N{DASH}{x}'",
         "FStringStart FStringMiddle=middle:\\N{DASH} Lbrace Name=name:x Rbrace FStringEnd "
         "Newline EndOfFile",
         ""},
        {"rf'\\N{x}'",
         "FStringStart FStringMiddle=middle:\\N Lbrace Name=name:x Rbrace FStringEnd Newline "
         "EndOfFile",
         ""},
        {"f'\\{x}'",
         "FStringStart FStringMiddle=middle:\\ Lbrace Name=name:x Rbrace FStringEnd Newline "
         "EndOfFile",
         ""},
        {"f'a}b'",
         "FStringStart FStringMiddle=middle:a Unknown FStringMiddle=middle:b FStringEnd "
         "Newline EndOfFile",
         "f-string: single `}` is not allowed @ 3..4"},
        {"t'{x}'", "TStringStart Lbrace Name=name:x Rbrace TStringEnd Newline EndOfFile", ""},
        {"t'a}'", "TStringStart TStringMiddle=middle:a Unknown TStringEnd Newline EndOfFile",
         "t-string: single `}` is not allowed @ 3..4"},
        {"f'{f\"{x}\"}'",
         "FStringStart Lbrace FStringStart Lbrace Name=name:x Rbrace FStringEnd Rbrace FStringEnd "
         "Newline EndOfFile",
         ""},
        {"f'{f'{x}'}'",
         "FStringStart Lbrace FStringStart Lbrace Name=name:x Rbrace FStringEnd Rbrace FStringEnd "
         "Newline EndOfFile",
         ""},
        {"f'''a\nb{x}'''",
         "FStringStart FStringMiddle=middle:a\nb Lbrace Name=name:x Rbrace FStringEnd Newline "
         "EndOfFile",
         ""},
        {"f'''{\nx\n}'''",
         "FStringStart Lbrace NonLogicalNewline Name=name:x NonLogicalNewline Rbrace FStringEnd "
         "Newline EndOfFile",
         ""},
        {"f\"'\"", "FStringStart FStringMiddle=middle:' FStringEnd Newline EndOfFile", ""},
        {"f'ab\n", "FStringStart FStringMiddle=middle:ab Newline EndOfFile",
         "f-string: unterminated string @ 2..4"},
        {"f'abc", "FStringStart FStringMiddle=middle:abc Newline EndOfFile",
         "f-string: unterminated string @ 2..5"},
        {"f'''abc", "FStringStart FStringMiddle=middle:abc Newline EndOfFile",
         "f-string: unterminated triple-quoted string @ 4..7"},
        {"t'''abc", "TStringStart TStringMiddle=middle:abc Newline EndOfFile",
         "t-string: unterminated triple-quoted string @ 4..7"},
        {"f'{x:a\n",
         "FStringStart Lbrace Name=name:x Colon FStringMiddle=middle:a Newline EndOfFile",
         "f-string: newlines are not allowed in format specifiers when using single quotes @ 5..6"},
        {"f'{x'\n",
         "FStringStart Lbrace Name=name:x String=str: NonLogicalNewline Newline EndOfFile",
         "missing closing quote in string literal @ 4..5; f-string: unterminated string @ 6..6"},
        {"f'{x", "FStringStart Lbrace Name=name:x Newline EndOfFile",
         "f-string: unterminated string @ 4..4"},
        {"(f'{x", "Lpar FStringStart Lbrace Name=name:x Unknown Newline EndOfFile",
         "f-string: unterminated string @ 5..5; unexpected EOF while parsing @ 5..5"},
    };
    for (const auto& c : cases)
        check(c);
}

TEST(Lexer, InterpolatedStringFlagsAndRanges) {
    struct Case {
        std::string_view source;
        const char* tokens;
    };
    const Case cases[] = {
        {"f'a{{b}}c'",
         "FStringStart 0..2/0x10, FStringMiddle 2..9/0x10, FStringEnd 9..10/0x10, "
         "Newline 10..10, EndOfFile 10..10"},
        {"rF\"\"\"x\"\"\"",
         "FStringStart 0..5/0x53, FStringMiddle 5..6/0x53, FStringEnd 6..9/0x53, Newline 9..9, "
         "EndOfFile 9..9"},
        {"Rt'x'",
         "TStringStart 0..3/0xa0, TStringMiddle 3..4/0xa0, TStringEnd 4..5/0xa0, "
         "Newline 5..5, EndOfFile 5..5"},
        // An unterminated string with nothing left in its literal part hands UNTERMINATED to
        // the token lexed in its place.
        {"f'\n", "FStringStart 0..2/0x10, Newline 2..3/0x100, EndOfFile 3..3"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ranged(lex_all(c.source).tokens), c.tokens) << c.source;
}

TEST(Int, FromStrRadix) {
    using rudo::python_ast::Int;
    struct Case {
        std::string_view digits;
        uint32_t radix;
        const char* expected;  // value, "big:<text>" or the error
    };
    const Case cases[] = {
        {"0", 10, "0"},
        {"+5", 10, "5"},
        {"zz", 36, "1295"},
        {"ff", 16, "255"},
        {"18446744073709551615", 10, "18446744073709551615"},
        {"18446744073709551616", 10, "big:18446744073709551616"},
        {"10000000000000000", 16, "big:10000000000000000"},
        {"", 10, "ParseIntError { kind: Empty }"},
        {"+", 10, "ParseIntError { kind: InvalidDigit }"},
        {"12a", 10, "ParseIntError { kind: InvalidDigit }"},
        {"2", 2, "ParseIntError { kind: InvalidDigit }"},
        {"-1", 10, "ParseIntError { kind: InvalidDigit }"},
    };
    for (const auto& c : cases) {
        auto result = Int::from_str_radix(c.digits, c.radix, c.digits);
        std::string got = !result.ok()         ? result.error().debug()
                          : result->is_small() ? result->to_string()
                                               : "big:" + result->to_string();
        EXPECT_EQ(got, c.expected) << c.digits << " radix " << c.radix;
    }
    EXPECT_THROW(Int::from_str_radix("1", 1, "1"), quarn::Panic);
    EXPECT_THROW(Int::from_str_radix("1", 37, "1"), quarn::Panic);
}

}  // namespace

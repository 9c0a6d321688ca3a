// String expressions: literal prefixes and flags, implicit concatenation and its mixing rules,
// f-string and t-string elements with debug text, conversions and nested format specs.
#include <string>
#include <string_view>

#include <gtest/gtest.h>

#include "rudo/python_parser/parser/parse_case.h"

namespace {

using namespace rudo::python_parser;
using namespace rudo::python_parser::test;

const TreeCase TREES[] = {
    {"'a'", "ExprStringLiteral[0..3](value=StringLiteral[0..3](value=\"a\"))"},
    // Flags narrowed from the token: quotes, triple quotes, prefixes.
    {"\"a\"",
     "ExprStringLiteral[0..3](value=StringLiteral[0..3](value=\"a\", flags=DOUBLE_QUOTES))"},
    {"'''a'''",
     "ExprStringLiteral[0..7](value=StringLiteral[0..7](value=\"a\", flags=TRIPLE_QUOTED))"},
    {"u'a'", "ExprStringLiteral[0..4](value=StringLiteral[0..4](value=\"a\", flags=U_PREFIX))"},
    {"R'\\d'",
     "ExprStringLiteral[0..5](value=StringLiteral[0..5](value=\"\\\\d\", flags=R_PREFIX_UPPER))"},
    {"r\"\"\"x\"\"\"",
     "ExprStringLiteral[0..8](value=StringLiteral[0..8](value=\"x\", "
     "flags=DOUBLE_QUOTES|TRIPLE_QUOTED|R_PREFIX_LOWER))"},
    {"b'a'", "ExprBytesLiteral[0..4](value=BytesLiteral[0..4](value=b\"a\"))"},
    {"Rb'\\n'",
     "ExprBytesLiteral[0..6](value=BytesLiteral[0..6](value=b\"\\\\n\", flags=R_PREFIX_UPPER))"},
    {"Br'x'",
     "ExprBytesLiteral[0..5](value=BytesLiteral[0..5](value=b\"x\", flags=R_PREFIX_LOWER))"},
    {"F'x'",
     "ExprFString[0..4](value=FString[0..4](elements=[InterpolatedStringElementLiteral[2..3]("
     "value=\"x\")]))"},
    {"fR'{x}'",
     "ExprFString[0..7](value=FString[0..7](elements=[InterpolatedStringElementInterpolation[3..6]("
     "expression=ExprName[4..5](id=\"x\", ctx=Load), conversion=-1)], flags=R_PREFIX_UPPER))"},
    {"f'''a\n{x}'''",
     "ExprFString[0..12](value=FString[0..12](elements=[InterpolatedStringElementLiteral[4..6]("
     "value=\"a\\n\"), InterpolatedStringElementInterpolation[6..9](expression=ExprName[7..8](id="
     "\"x\", ctx=Load), conversion=-1)], flags=TRIPLE_QUOTED))"},
    // Escapes are decoded.
    {"'\\x41\\n'", "ExprStringLiteral[0..8](value=StringLiteral[0..8](value=\"A\\n\"))"},
    {"b'\\xff'", "ExprBytesLiteral[0..7](value=BytesLiteral[0..7](value=b\"\\xff\"))"},
    // Escapes kept verbatim: the value is as long as the body.
    {"'\\d\\q'", "ExprStringLiteral[0..6](value=StringLiteral[0..6](value=\"\\\\d\\\\q\"))"},
    // Implicit concatenation: one expression over all parts.
    {"'a' 'b'",
     "ExprStringLiteral[0..7](value=[StringLiteral[0..3](value=\"a\"), "
     "StringLiteral[4..7](value=\"b\")])"},
    {"b'a' b\"b\"",
     "ExprBytesLiteral[0..9](value=[BytesLiteral[0..4](value=b\"a\"), "
     "BytesLiteral[5..9](value=b\"b\", flags=DOUBLE_QUOTES)])"},
    {"('a'\n 'b')",
     "ExprStringLiteral[1..9](value=[StringLiteral[1..4](value=\"a\"), "
     "StringLiteral[6..9](value=\"b\")])"},
    // A plain string joins an adjacent f-string's value, in source order, across lines too.
    {"('a'\n f'{x}')",
     "ExprFString[1..12](value=[StringLiteral[1..4](value=\"a\"), FString[6..12](elements=["
     "InterpolatedStringElementInterpolation[8..11](expression=ExprName[9..10](id=\"x\", "
     "ctx=Load), "
     "conversion=-1)])])"},
    {"'a' f'b{x}'",
     "ExprFString[0..11](value=[StringLiteral[0..3](value=\"a\"), FString[4..11](elements=["
     "InterpolatedStringElementLiteral[6..7](value=\"b\"), "
     "InterpolatedStringElementInterpolation[7..10](expression=ExprName[8..9](id=\"x\", ctx=Load), "
     "conversion=-1)])])"},
    {"f'{x}' 'a'",
     "ExprFString[0..10](value=[FString[0..6](elements=["
     "InterpolatedStringElementInterpolation[2..5](expression=ExprName[3..4](id=\"x\", ctx=Load), "
     "conversion=-1)]), StringLiteral[7..10](value=\"a\")])"},
    {"f'a' f\"b\"",
     "ExprFString[0..9](value=[FString[0..4](elements=[InterpolatedStringElementLiteral[2..3]("
     "value=\"a\")]), "
     "FString[5..9](elements=[InterpolatedStringElementLiteral[7..8](value=\"b\")], "
     "flags=DOUBLE_QUOTES)])"},
    // F-string elements.
    {"f''", "ExprFString[0..3](value=FString[0..3])"},
    {"f'a{x!r}b'",
     "ExprFString[0..10](value=FString[0..10](elements=[InterpolatedStringElementLiteral[2..3]("
     "value=\"a\"), "
     "InterpolatedStringElementInterpolation[3..8](expression=ExprName[4..5](id=\"x\", "
     "ctx=Load), conversion=114), InterpolatedStringElementLiteral[8..9](value=\"b\")]))"},
    {"f'{x!s}{y!a}'",
     "ExprFString[0..13](value=FString[0..13](elements=["
     "InterpolatedStringElementInterpolation[2..7](expression=ExprName[3..4](id=\"x\", ctx=Load), "
     "conversion=115), "
     "InterpolatedStringElementInterpolation[7..12](expression=ExprName[8..9](id=\"y\", ctx=Load), "
     "conversion=97)]))"},
    {"f'{{a}}'",
     "ExprFString[0..8](value=FString[0..8](elements=[InterpolatedStringElementLiteral[2..7]("
     "value=\"{a}\")]))"},
    {"rf\"{x}\"",
     "ExprFString[0..7](value=FString[0..7](elements=[InterpolatedStringElementInterpolation[3..6]("
     "expression=ExprName[4..5](id=\"x\", ctx=Load), conversion=-1)], "
     "flags=DOUBLE_QUOTES|R_PREFIX_LOWER))"},
    // Debug text: `=` and the blanks around it are trailing text.
    {"f'{x=}'",
     "ExprFString[0..7](value=FString[0..7](elements=[InterpolatedStringElementInterpolation[2..6]("
     "expression=ExprName[3..4](id=\"x\", ctx=Load), debug_text=DebugText(leading=\"\", "
     "trailing=\"=\"), conversion=-1)]))"},
    {"f'{ x = !r:>10}'",
     "ExprFString[0..16](value=FString[0..16](elements=["
     "InterpolatedStringElementInterpolation[2..15](expression=ExprName[4..5](id=\"x\", ctx=Load), "
     "debug_text=DebugText(leading=\" \", "
     "trailing=\" = \"), conversion=114, "
     "format_spec=InterpolatedStringFormatSpec[11..14](elements=["
     "InterpolatedStringElementLiteral[11..14](value=\">10\")]))]))"},
    // Format specs: empty, and nested interpolations inside them.
    {"f'{x:}'",
     "ExprFString[0..7](value=FString[0..7](elements=[InterpolatedStringElementInterpolation[2..6]("
     "expression=ExprName[3..4](id=\"x\", ctx=Load), conversion=-1, "
     "format_spec=InterpolatedStringFormatSpec[5..5])]))"},
    {"f'{x:>{w}}'",
     "ExprFString[0..11](value=FString[0..11](elements=["
     "InterpolatedStringElementInterpolation[2..10](expression=ExprName[3..4](id=\"x\", ctx=Load), "
     "conversion=-1, "
     "format_spec=InterpolatedStringFormatSpec[5..9](elements=["
     "InterpolatedStringElementLiteral[5..6](value=\">\"), "
     "InterpolatedStringElementInterpolation[6..9](expression=ExprName[7..8](id=\"w\", "
     "ctx=Load), conversion=-1)]))]))"},
    // A tuple may stand bare in an interpolation.
    {"f'{a, b}'",
     "ExprFString[0..9](value=FString[0..9](elements=[InterpolatedStringElementInterpolation[2..8]("
     "expression=ExprTuple[3..7](elts=[ExprName[3..4](id=\"a\", ctx=Load), "
     "ExprName[6..7](id=\"b\", "
     "ctx=Load)], ctx=Load, parenthesized=false), conversion=-1)]))"},
    // Nested f-strings.
    {"f'{f\"{x}\"}'",
     "ExprFString[0..11](value=FString[0..11](elements=["
     "InterpolatedStringElementInterpolation[2..10](expression=ExprFString[3..9]("
     "value=FString[3..9](elements=["
     "InterpolatedStringElementInterpolation[5..8](expression=ExprName[6..7](id=\"x\", ctx=Load), "
     "conversion=-1)], flags=DOUBLE_QUOTES)), conversion=-1)]))"},
    // T-strings.
    {"t'{x}' t'y'",
     "ExprTString[0..11](value=[TString[0..6](elements=["
     "InterpolatedStringElementInterpolation[2..5](expression=ExprName[3..4](id=\"x\", ctx=Load), "
     "conversion=-1)]), "
     "TString[7..11](elements=[InterpolatedStringElementLiteral[9..10](value=\"y\")])])"},
    {"t'{x!r:>3}'",
     "ExprTString[0..11](value=TString[0..11](elements=["
     "InterpolatedStringElementInterpolation[2..10](expression=ExprName[3..4](id=\"x\", ctx=Load), "
     "conversion=114, "
     "format_spec=InterpolatedStringFormatSpec[7..9](elements=["
     "InterpolatedStringElementLiteral[7..9](value=\">3\")]))]))"},
    {"f'{(lambda x: 1)}'", ""},
};

TEST(StringTree, ValidSources) {
    for (const TreeCase& row : TREES)
        expect_tree(row);
}

const ErrorCase ERRORS[] = {
    {"'a' b'b'", "Bytes literal cannot be mixed with non-bytes literals at byte range 0..8"},
    {"b'a' f'{x}'", "Bytes literal cannot be mixed with non-bytes literals at byte range 0..11"},
    {"t'{x}' 'a'",
     "cannot mix t-string literals with string or bytes literals at byte range 0..10"},
    {"f'a' t'b'", "cannot mix t-string literals with string or bytes literals at byte range 0..9"},
    {"'\\N{NOPE}'", "Got unexpected unicode at byte range 4..8"},
    {"f'\\N{NOPE}'", "Got unexpected unicode at byte range 5..9"},
    {"b'\\N{x}' '\\q'",
     "Bytes literal cannot be mixed with non-bytes literals at byte range 0..13"},
    {"f'{x!z}'", "f-string: invalid conversion character at byte range 5..6"},
    {"f'{x!rr}'", "f-string: invalid conversion character at byte range 5..7"},
    {"t'{x!z}'", "t-string: invalid conversion character at byte range 5..6"},
    {"f'{x! r}'",
     "f-string: conversion type must come right after the exclamation mark at byte range 5..6"},
    {"f'{x!}'", "f-string: invalid conversion character at byte range 5..6"},
    {"f'{x'\n", "f-string: expecting `}` at byte range 4..5"},
    {"t'{x'\n", "t-string: expecting `}` at byte range 4..5"},
    {"f'{x y}'", "f-string: expecting `}` at byte range 5..6"},
    // The lexer's own errors win at their offset.
    {"f'a}b'", "f-string: single `}` is not allowed at byte range 3..4"},
    {"f'abc\n", "f-string: unterminated string at byte range 2..5"},
    {"'abc\n", "missing closing quote in string literal at byte range 0..4"},
};

TEST(StringErrors, FirstError) {
    for (const ErrorCase& row : ERRORS)
        expect_first_error(row);
}

// Trees built around errors: placeholders keep the shape, only the first error at an offset
// is kept.
const RecoveryCase RECOVERED[] = {
    {"'a' b'b'",
     "ExprStringLiteral[0..8](value=[StringLiteral[0..3](value=\"a\"), "
     "StringLiteral[4..8](value=\"\", flags=INVALID)])",
     {"Bytes literal cannot be mixed with non-bytes literals at byte range 0..8"}},
    {"b'a' f'{x}'",
     "ExprFString[0..11](value=[StringLiteral[0..4](value=\"\", flags=INVALID), FString[5..11]("
     "elements=[InterpolatedStringElementInterpolation[7..10](expression=ExprName[8..9](id=\"x\", "
     "ctx=Load), conversion=-1)])])",
     {"Bytes literal cannot be mixed with non-bytes literals at byte range 0..11"}},
    {"t'{x}' 'a'",
     "ExprFString[0..10](value=[StringLiteral[0..6](value=\"\", flags=INVALID), "
     "StringLiteral[7..10](value=\"a\")])",
     {"cannot mix t-string literals with string or bytes literals at byte range 0..10"}},
    // Both mixing errors start at the same offset: only the first is recorded.
    {"b'a' t'b' 'c'",
     "ExprFString[0..13](value=[StringLiteral[0..4](value=\"\", flags=INVALID), "
     "StringLiteral[5..9](value=\"\", flags=INVALID), StringLiteral[10..13](value=\"c\")])",
     {"Bytes literal cannot be mixed with non-bytes literals at byte range 0..13"}},
    {"b'a' 'b' b'c'",
     "ExprStringLiteral[0..13](value=[StringLiteral[0..4](value=\"\", flags=INVALID), "
     "StringLiteral[5..8](value=\"b\"), StringLiteral[9..13](value=\"\", flags=INVALID)])",
     {"Bytes literal cannot be mixed with non-bytes literals at byte range 0..13"}},
    // An undecodable literal keeps its quote flags and gains INVALID.
    {"\"\\N{NOPE}\"",
     "ExprStringLiteral[0..10](value=StringLiteral[0..10](value=\"\", "
     "flags=DOUBLE_QUOTES|INVALID))",
     {"Got unexpected unicode at byte range 4..8"}},
    {"b'\\xZZ'",
     "ExprBytesLiteral[0..7](value=BytesLiteral[0..7](value=b\"\", flags=INVALID))",
     {"Got unexpected unicode at byte range 4..5"}},
    {"b'\xc3\xa9'",
     "ExprBytesLiteral[0..5](value=BytesLiteral[0..5](value=b\"\", flags=INVALID))",
     {"bytes can only contain ASCII literal characters at byte range 2..4"}},
    // The first part of a concatenation fails alone; the parts after it decode as usual.
    {"'\\N{NOPE}' 'b'",
     "ExprStringLiteral[0..14](value=[StringLiteral[0..10](value=\"\", flags=INVALID), "
     "StringLiteral[11..14](value=\"b\")])",
     {"Got unexpected unicode at byte range 4..8"}},
    {"f'\\N{NOPE}'",
     "ExprFString[0..11](value=FString[0..11](elements=[InterpolatedStringElementLiteral[2..10]("
     "value=\"\")]))",
     {"Got unexpected unicode at byte range 5..9"}},
    // A bad conversion still keeps a good letter after the gap.
    {"f'{x! r}'",
     "ExprFString[0..9](value=FString[0..9](elements=[InterpolatedStringElementInterpolation[2..8]("
     "expression=ExprName[3..4](id=\"x\", ctx=Load), conversion=114)]))",
     {"f-string: conversion type must come right after the exclamation mark at byte range 5..6"}},
    // `!}` consumes the `}`: the end token then lacks its brace.
    {"f'{x!}'",
     "ExprFString[0..7](value=FString[0..7](elements=[InterpolatedStringElementInterpolation[2..6]("
     "expression=ExprName[3..4](id=\"x\", ctx=Load), conversion=-1)]))",
     {"f-string: invalid conversion character at byte range 5..6",
      "f-string: expecting `}` at byte range 6..7"}},
    // The closing quote after an open interpolation ends the f-string.
    {"f'{x'\n",
     "ExprFString[0..5](value=FString[0..5](elements=[InterpolatedStringElementInterpolation[2..4]("
     "expression=ExprName[3..4](id=\"x\", ctx=Load), conversion=-1)]))",
     {"f-string: expecting `}` at byte range 4..5"}},
    // Without its end token the f-string keeps its elements and is marked unterminated.
    {"f'abc\n",
     "ExprFString[0..5](value=FString[0..5](elements=[InterpolatedStringElementLiteral[2..5]("
     "value=\"abc\")], flags=UNTERMINATED))",
     {"f-string: unterminated string at byte range 2..5",
      "Expected FStringEnd, found newline at byte range 5..6"}},
    {"'abc\n",
     "ExprStringLiteral[0..4](value=StringLiteral[0..4](value=\"abc\", flags=UNTERMINATED))",
     {"missing closing quote in string literal at byte range 0..4"}},
};

TEST(StringRecovery, TreesAndErrors) {
    for (const RecoveryCase& row : RECOVERED)
        expect_recovery(row);
}

TEST(StringErrors, UnparenthesizedLambdaInInterpolation) {
    constexpr const char* source = "f'{lambda x: 1}'";
    Parsed parsed = parse_all(source);
    // Its `:` opens a format spec in the lexer, so other errors come too.
    EXPECT_NE(all_messages(parsed).find(
                  "f-string: lambda expressions are not allowed without parentheses at byte range "
                  "3..12"),
              std::string::npos)
        << all_messages(parsed);
}

// Far more nested f-strings or format specs than the parser's depth limit: an error, never a
// crash.
TEST(StringDepth, DeeplyNestedInterpolatedStrings) {
    constexpr int N = 10000;
    std::string nested_strings;
    for (int i = 0; i < N; ++i)
        nested_strings += "f'{";
    nested_strings += "x";
    for (int i = 0; i < N; ++i)
        nested_strings += "}'";
    std::string nested_specs = "f'{x";
    for (int i = 0; i < N; ++i)
        nested_specs += ":{x";
    for (int i = 0; i < N; ++i)
        nested_specs += "}";
    nested_specs += "}'";
    for (const std::string& source : {nested_strings, nested_specs}) {
        Parsed parsed = parse_all(source);
        ASSERT_FALSE(parsed.errors.empty());
        EXPECT_NE(all_messages(parsed).find("Expression nested too deeply"), std::string::npos);
    }
}

// A long run of adjacent literals is one flat concatenation.
TEST(StringTree, LongConcatenation) {
    std::string source;
    constexpr int N = 100000;
    for (int i = 0; i < N; ++i)
        source += "'a' ";
    Parsed parsed = parse_all(source);
    ASSERT_TRUE(parsed.errors.empty()) << all_messages(parsed);
    const auto* stmt = parsed.syntax.body.at(0).as<rudo::python_ast::StmtExpr>();
    ASSERT_NE(stmt, nullptr);
    const auto* string = stmt->value->as<rudo::python_ast::ExprStringLiteral>();
    ASSERT_NE(string, nullptr);
    EXPECT_EQ(string->value.parts().size(), static_cast<size_t>(N));
    EXPECT_EQ(string->range, rudo::text_size::TextRange(0, 4 * N - 1));
    EXPECT_EQ(string->value.to_str(), std::string(N, 'a'));
}

}  // namespace

// Displays, parenthesized forms, generator expressions and comprehension clauses: trees with
// their ranges for valid code, the first error for invalid code.
#include <string>
#include <string_view>

#include <gtest/gtest.h>

#include "rudo/python_parser/parser/parse_case.h"

namespace {

using namespace rudo::python_parser;
using namespace rudo::python_parser::test;

const TreeCase TREES[] = {
    // Empty displays cover both brackets.
    {"[]", "ExprList[0..2](ctx=Load)"},
    {"{}", "ExprDict[0..2]"},
    {"()", "ExprTuple[0..2](ctx=Load, parenthesized=true)"},
    // A lone parenthesized expression is the expression itself, parentheses outside its range.
    {"(x)", "ExprName[1..2](id=\"x\", ctx=Load)"},
    {"((x))", "ExprName[2..3](id=\"x\", ctx=Load)"},
    // Around an operand the parentheses belong to the node built on it.
    {"(a) + b",
     "ExprBinOp[0..7](left=ExprName[1..2](id=\"a\", ctx=Load), op=Add, "
     "right=ExprName[6..7](id=\"b\", ctx=Load))"},
    {"(x,)",
     "ExprTuple[0..4](elts=[ExprName[1..2](id=\"x\", ctx=Load)], ctx=Load, parenthesized=true)"},
    // Trailing commas.
    {"[1, 2,]",
     "ExprList[0..7](elts=[ExprNumberLiteral[1..2](value=1), ExprNumberLiteral[4..5](value=2)], "
     "ctx=Load)"},
    {"{1, 2,}",
     "ExprSet[0..7](elts=[ExprNumberLiteral[1..2](value=1), ExprNumberLiteral[4..5](value=2)])"},
    {"{1: 2,}",
     "ExprDict[0..7](items=[DictItem(key=ExprNumberLiteral[1..2](value=1), "
     "value=ExprNumberLiteral[4..5](value=2))])"},
    {"(1, 2,)",
     "ExprTuple[0..7](elts=[ExprNumberLiteral[1..2](value=1), ExprNumberLiteral[4..5](value=2)], "
     "ctx=Load, parenthesized=true)"},
    // Dict items: `**` without key, then ordinary items.
    {"{**a, b: c}",
     "ExprDict[0..11](items=[DictItem(value=ExprName[3..4](id=\"a\", ctx=Load)), "
     "DictItem(key=ExprName[6..7](id=\"b\", ctx=Load), value=ExprName[9..10](id=\"c\", "
     "ctx=Load))])"},
    {"{a: b, **c}",
     "ExprDict[0..11](items=[DictItem(key=ExprName[1..2](id=\"a\", ctx=Load), "
     "value=ExprName[4..5](id=\"b\", ctx=Load)), DictItem(value=ExprName[9..10](id=\"c\", "
     "ctx=Load))])"},
    {"{(a := 1): 2}",
     "ExprDict[0..13](items=[DictItem(key=ExprNamedExpr[2..8](target=ExprName[2..3](id=\"a\", "
     "ctx=Store), value=ExprNumberLiteral[7..8](value=1)), "
     "value=ExprNumberLiteral[11..12](value=2))])"},
    // A named expression is a valid set element.
    {"{a := 1}",
     "ExprSet[0..8](elts=[ExprNamedExpr[1..7](target=ExprName[1..2](id=\"a\", ctx=Store), "
     "value=ExprNumberLiteral[6..7](value=1))])"},
    {"[*a, b]",
     "ExprList[0..7](elts=[ExprStarred[1..3](value=ExprName[2..3](id=\"a\", ctx=Load), ctx=Load), "
     "ExprName[5..6](id=\"b\", ctx=Load)], ctx=Load)"},
    {"(*a, b)",
     "ExprTuple[0..7](elts=[ExprStarred[1..3](value=ExprName[2..3](id=\"a\", ctx=Load), ctx=Load), "
     "ExprName[5..6](id=\"b\", ctx=Load)], ctx=Load, parenthesized=true)"},
    // Displays span lines.
    {"[\n  1,\n  2\n]",
     "ExprList[0..12](elts=[ExprNumberLiteral[4..5](value=1), ExprNumberLiteral[9..10](value=2)], "
     "ctx=Load)"},
    {"[[1], (2,)]",
     "ExprList[0..11](elts=[ExprList[1..4](elts=[ExprNumberLiteral[2..3](value=1)], ctx=Load), "
     "ExprTuple[6..10](elts=[ExprNumberLiteral[7..8](value=2)], ctx=Load, parenthesized=true)], "
     "ctx=Load)"},
    // Comprehensions: conditions collect on their clause, a second `for` opens another.
    {"[x for x in y if a if b for z in w]",
     "ExprListComp[0..35](elt=ExprName[1..2](id=\"x\", ctx=Load), generators=["
     "Comprehension[3..23](target=ExprName[7..8](id=\"x\", ctx=Store), "
     "iter=ExprName[12..13](id=\"y\", ctx=Load), ifs=[ExprName[17..18](id=\"a\", ctx=Load), "
     "ExprName[22..23](id=\"b\", ctx=Load)], is_async=false), "
     "Comprehension[24..34](target=ExprName[28..29](id=\"z\", ctx=Store), "
     "iter=ExprName[33..34](id=\"w\", ctx=Load), is_async=false)])"},
    {"[x async for x in y]",
     "ExprListComp[0..20](elt=ExprName[1..2](id=\"x\", ctx=Load), generators=["
     "Comprehension[3..19](target=ExprName[13..14](id=\"x\", ctx=Store), "
     "iter=ExprName[18..19](id=\"y\", ctx=Load), is_async=true)])"},
    {"{x for x in y}",
     "ExprSetComp[0..14](elt=ExprName[1..2](id=\"x\", ctx=Load), generators=["
     "Comprehension[3..13](target=ExprName[7..8](id=\"x\", ctx=Store), "
     "iter=ExprName[12..13](id=\"y\", ctx=Load), is_async=false)])"},
    // A bare `k, v` target is a tuple stored to.
    {"{k: v for k, v in d}",
     "ExprDictComp[0..20](key=ExprName[1..2](id=\"k\", ctx=Load), "
     "value=ExprName[4..5](id=\"v\", ctx=Load), generators=[Comprehension[6..19](target="
     "ExprTuple[10..14](elts=[ExprName[10..11](id=\"k\", ctx=Store), "
     "ExprName[13..14](id=\"v\", ctx=Store)], ctx=Store, parenthesized=false), "
     "iter=ExprName[18..19](id=\"d\", ctx=Load), is_async=false)])"},
    {"(x for x in y)",
     "ExprGeneratorExp[0..14](elt=ExprName[1..2](id=\"x\", ctx=Load), generators=["
     "Comprehension[3..13](target=ExprName[7..8](id=\"x\", ctx=Store), "
     "iter=ExprName[12..13](id=\"y\", ctx=Load), is_async=false)], parenthesized=true)"},
    // The iterable takes every operator; `if` then starts a condition.
    {"[x for x in a or b if c]",
     "ExprListComp[0..24](elt=ExprName[1..2](id=\"x\", ctx=Load), generators=["
     "Comprehension[3..23](target=ExprName[7..8](id=\"x\", ctx=Store), "
     "iter=ExprBoolOp[12..18](op=Or, values=[ExprName[12..13](id=\"a\", ctx=Load), "
     "ExprName[17..18](id=\"b\", ctx=Load)]), ifs=[ExprName[22..23](id=\"c\", ctx=Load)], "
     "is_async=false)])"},
    // `in` ends the target rather than being read as an operator.
    {"[a for a, *b in c]",
     "ExprListComp[0..18](elt=ExprName[1..2](id=\"a\", ctx=Load), generators=["
     "Comprehension[3..17](target=ExprTuple[7..12](elts=[ExprName[7..8](id=\"a\", ctx=Store), "
     "ExprStarred[10..12](value=ExprName[11..12](id=\"b\", ctx=Store), ctx=Store)], ctx=Store, "
     "parenthesized=false), iter=ExprName[16..17](id=\"c\", ctx=Load), is_async=false)])"},
    // `yield` may stand alone in parentheses.
    {"(yield)", "ExprYield[1..6]"},
};

TEST(DisplayTree, ValidSources) {
    for (const TreeCase& row : TREES)
        expect_tree(row);
}

// The generator as the sole argument of a call uses the call's parentheses.
TEST(DisplayTree, GeneratorAsSoleCallArgument) {
    expect_tree(
        {"f(x for x in y)",
         "ExprCall[0..15](func=ExprName[0..1](id=\"f\", ctx=Load), "
         "arguments=Arguments[1..15](args=[ExprGeneratorExp[2..14](elt=ExprName[2..3](id="
         "\"x\", ctx=Load), generators=[Comprehension[4..14](target=ExprName[8..9](id=\"x\", "
         "ctx=Store), iter=ExprName[13..14](id=\"y\", ctx=Load), is_async=false)], "
         "parenthesized=false)]))"});
}

const ErrorCase ERRORS[] = {
    {"[1 2]", "Expected `,`, found int at byte range 3..4"},
    {"[1, , 2]", "Expected an expression or a ']' at byte range 4..5"},
    // After the first element the list loop starts afresh: the list's own error, not a comma.
    {"[1 ) 2]", "Expected an expression or a ']' at byte range 3..4"},
    {"{1, , 2}", "Expected an expression or a '}' at byte range 4..5"},
    {"{1: 2, , 3: 4}", "Expected an expression or a '}' at byte range 7..8"},
    {"(1, , 2)", "Expected an expression or a ')' at byte range 4..5"},
    {"{1: 2 3: 4}", "Expected `,`, found int at byte range 6..7"},
    {"{1: 2, 3}", "Expected `:`, found `}` at byte range 8..9"},
    {"(a b)", "Expected `)`, found name at byte range 3..4"},
    // Inside a call the argument list claims the `)`: the list lacks its `]`.
    {"f([1 ) 2])", "Expected `]`, found `)` at byte range 5..6"},
    {"f(a, [b)", "Expected `]`, found `)` at byte range 7..8"},
    {"[*a for a in b]", "Iterable unpacking cannot be used in a comprehension at byte range 1..3"},
    {"{*a for a in b}", "Iterable unpacking cannot be used in a comprehension at byte range 1..3"},
    {"(*a for a in b)", "Iterable unpacking cannot be used in a comprehension at byte range 1..3"},
    {"[(*a) for a in b]", "Starred expression cannot be used here at byte range 2..4"},
    {"(*a)", "Starred expression cannot be used here at byte range 1..3"},
    {"{*a: 1}", "Starred expression cannot be used here at byte range 1..3"},
    {"{a := 1: 2}", "Unparenthesized named expression cannot be used here at byte range 1..7"},
    // `for` belongs to the statement list: the dictionary ends before it.
    {"{**a for a in b}", "Expected `}`, found `for` at byte range 5..8"},
    {"[x async x in y]", "Expected `for`, found name at byte range 9..10"},
    {"[x for x y]", "Expected `in`, found name at byte range 9..10"},
    {"[x for 1 in y]", "Invalid assignment target at byte range 7..8"},
    {"[x for f() in y]", "Invalid assignment target at byte range 7..10"},
    {"[x for x in y", "unexpected EOF while parsing at byte range 13..13"},
    // The lexer's end-of-file error replaces the missing element at the same offset.
    {"[", "unexpected EOF while parsing at byte range 1..1"},
};

TEST(DisplayErrors, FirstError) {
    for (const ErrorCase& row : ERRORS)
        expect_first_error(row);
}

// Later errors at the offset of the missing element are dropped; the list still gets a
// placeholder element.
TEST(DisplayErrors, OpenBracketAtEndOfText) {
    Parsed parsed = parse_all("[");
    ASSERT_EQ(parsed.errors.size(), 1u);
    EXPECT_EQ(parsed.errors[0].display(), "unexpected EOF while parsing at byte range 1..1");
}

// Recovery keeps every element that was written.
const TreeCase RECOVERED[] = {
    {"[1 2]",
     "ExprList[0..5](elts=[ExprNumberLiteral[1..2](value=1), ExprNumberLiteral[3..4](value=2)], "
     "ctx=Load)"},
    {"[1, , 2]",
     "ExprList[0..8](elts=[ExprNumberLiteral[1..2](value=1), ExprNumberLiteral[6..7](value=2)], "
     "ctx=Load)"},
    {"[1 ) 2]",
     "ExprList[0..7](elts=[ExprNumberLiteral[1..2](value=1), ExprNumberLiteral[5..6](value=2)], "
     "ctx=Load)"},
};

TEST(DisplayRecovery, ElementsKept) {
    for (const TreeCase& row : RECOVERED)
        expect_recovered_tree(row);
}

// Brackets nested far past the parser's depth limit end with an error, never a crash.
TEST(DisplayDepth, DeeplyNestedBrackets) {
    for (std::string_view open : {"[", "(", "{"}) {
        const std::string_view close = open == "[" ? "]" : open == "(" ? ")" : "}";
        std::string source;
        for (int i = 0; i < 100000; ++i)
            source += open;
        for (int i = 0; i < 100000; ++i)
            source += close;
        Parsed parsed = parse_all(source);
        ASSERT_FALSE(parsed.errors.empty()) << open;
        EXPECT_NE(all_messages(parsed).find("Expression nested too deeply"), std::string::npos)
            << open;
    }
}

}  // namespace

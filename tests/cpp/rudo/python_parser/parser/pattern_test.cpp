// Match statements: subjects, case blocks, every pattern form with its ranges, and the first error
// of every invalid form.
#include <string>
#include <string_view>
#include <vector>

#include <gtest/gtest.h>

#include "rudo/python_ast/dump.h"
#include "rudo/python_parser/parser/parse.h"
#include "rudo/python_parser/parser/parse_case.h"

namespace {

using namespace rudo::python_parser::test;

using rudo::python_ast::dump;
using rudo::python_parser::parse_module_unchecked;
using rudo::python_parser::Parsed;
using rudo::python_parser::ParseError;

// Each pattern is written after `case ` at offset 18 of this frame.
std::string in_case(std::string_view pattern) {
    return "match x:\n    case " + std::string(pattern) + ": pass\n";
}

// The pattern of the one case of the one match statement.
std::string pattern_dump(const Parsed& parsed) {
    if (parsed.syntax.body.size() != 1) return "<not one statement>";
    const auto* match = parsed.syntax.body.front().as<rudo::python_ast::StmtMatch>();
    if (match == nullptr) return "<no match statement>";
    if (match->cases.size() != 1) return "<not one case>";
    return dump(*match->cases.front().pattern);
}

// Each row's pattern put in its place.
template <typename Row>
std::vector<Row> in_cases(std::vector<Row> rows) {
    for (Row& row : rows)
        row.source = in_case(row.source);
    return rows;
}

void expect_patterns(const std::vector<TreeCase>& rows) {
    expect_trees(in_cases(rows), pattern_dump);
}
void expect_recovered_patterns(const std::vector<TreeCase>& rows) {
    expect_recovered_trees(in_cases(rows), pattern_dump);
}
void expect_pattern_errors(const std::vector<ErrorCase>& rows) {
    expect_first_errors(in_cases(rows));
}

TEST(MatchStatement, Statements) {
    expect_first_statements({
        {"match x:\n    case 1 | 2: pass\n",
         R"(StmtMatch[0..29](subject=ExprName[6..7](id="x", ctx=Load), cases=[MatchCase[13..29](pattern=)"
         R"(PatternMatchOr[18..23](patterns=[PatternMatchValue[18..19](value=ExprNumberLiteral[18..19](value=1)), )"
         R"(PatternMatchValue[22..23](value=ExprNumberLiteral[22..23](value=2))]), body=[StmtPass[25..29]])]))"},
        // A starred element in an unparenthesized tuple subject is fine.
        {"match a, *b:\n    case _: pass\n",
         R"(StmtMatch[0..29](subject=ExprTuple[6..11](elts=[ExprName[6..7](id="a", ctx=Load), )"
         R"(ExprStarred[9..11](value=ExprName[10..11](id="b", ctx=Load), ctx=Load)], ctx=Load, parenthesized=false), )"
         R"(cases=[MatchCase[17..29](pattern=PatternMatchAs[22..23], body=[StmtPass[25..29]])]))"},
        {"match x:\n    case y if y > 0: pass\n",
         R"(StmtMatch[0..34](subject=ExprName[6..7](id="x", ctx=Load), cases=[MatchCase[13..34](pattern=)"
         R"(PatternMatchAs[18..19](name="y"[18..19]), guard=ExprCompare[23..28](left=ExprName[23..24](id="y", ctx=Load), )"
         R"(ops=[Gt], comparators=[ExprNumberLiteral[27..28](value=0)]), body=[StmtPass[30..34]])]))"},
        // Two cases; the last one's block ends the statement.
        {"match x:\n    case 1:\n        pass\n    case _:\n        y\n",
         R"(StmtMatch[0..55](subject=ExprName[6..7](id="x", ctx=Load), cases=[MatchCase[13..33](pattern=)"
         R"(PatternMatchValue[18..19](value=ExprNumberLiteral[18..19](value=1)), body=[StmtPass[29..33]]), )"
         R"(MatchCase[38..55](pattern=PatternMatchAs[43..44], body=[StmtExpr[54..55](value=ExprName[54..55](id="y", ctx=Load))])]))"},
    });
}

TEST(MatchPattern, Forms) {
    expect_patterns({
        {"x", R"(PatternMatchAs[18..19](name="x"[18..19]))"},
        {"_", R"(PatternMatchAs[18..19])"},
        {"None", R"(PatternMatchSingleton[18..22](value=None))"},
        {"False", R"(PatternMatchSingleton[18..23](value=False))"},
        {R"("s")",
         R"(PatternMatchValue[18..21](value=ExprStringLiteral[18..21](value=StringLiteral[18..21](value="s", flags=DOUBLE_QUOTES))))"},
        {"-1",
         R"(PatternMatchValue[18..20](value=ExprUnaryOp[18..20](op=USub, operand=ExprNumberLiteral[19..20](value=1))))"},
        {"Color.RED",
         R"(PatternMatchValue[18..27](value=ExprAttribute[18..27](value=ExprName[18..23](id="Color", ctx=Load), )"
         R"(attr="RED"[24..27], ctx=Load)))"},
        // Parentheses only group: the pattern keeps its own range.
        {"(x)", R"(PatternMatchAs[19..20](name="x"[19..20]))"},
        {"(x,)",
         R"(PatternMatchSequence[18..22](patterns=[PatternMatchAs[19..20](name="x"[19..20])]))"},
        {"[x]",
         R"(PatternMatchSequence[18..21](patterns=[PatternMatchAs[19..20](name="x"[19..20])]))"},
        {"()", R"(PatternMatchSequence[18..20])"},
        {"[]", R"(PatternMatchSequence[18..20])"},
        {"[a, *_]",
         R"(PatternMatchSequence[18..25](patterns=[PatternMatchAs[19..20](name="a"[19..20]), PatternMatchStar[22..24]]))"},
        {"a, *rest",
         R"(PatternMatchSequence[18..26](patterns=[PatternMatchAs[18..19](name="a"[18..19]), )"
         R"(PatternMatchStar[21..26](name="rest"[22..26])]))"},
        {"1 | 2",
         R"(PatternMatchOr[18..23](patterns=[PatternMatchValue[18..19](value=ExprNumberLiteral[18..19](value=1)), )"
         R"(PatternMatchValue[22..23](value=ExprNumberLiteral[22..23](value=2))]))"},
        {"x as y",
         R"(PatternMatchAs[18..24](pattern=PatternMatchAs[18..19](name="x"[18..19]), name="y"[23..24]))"},
        {"1 | 2 as n",
         R"(PatternMatchAs[18..28](pattern=PatternMatchOr[18..23](patterns=[PatternMatchValue[18..19](value=)"
         R"(ExprNumberLiteral[18..19](value=1)), PatternMatchValue[22..23](value=ExprNumberLiteral[22..23](value=2))]), )"
         R"(name="n"[27..28]))"},
        // The `as` pattern starts at the opening parenthesis; the or-pattern inside does not.
        {"(1 | x) as y",
         R"(PatternMatchAs[18..30](pattern=PatternMatchOr[19..24](patterns=[PatternMatchValue[19..20](value=)"
         R"(ExprNumberLiteral[19..20](value=1)), PatternMatchAs[23..24](name="x"[23..24])]), name="y"[29..30]))"},
    });
}

TEST(MatchPattern, ComplexLiterals) {
    expect_patterns({
        {"1 + 2j",
         R"(PatternMatchValue[18..24](value=ExprBinOp[18..24](left=ExprNumberLiteral[18..19](value=1), op=Add, )"
         R"(right=ExprNumberLiteral[22..24](value=Complex(real=0.0, imag=2.0)))))"},
        {"-1.5 - 3j",
         R"(PatternMatchValue[18..27](value=ExprBinOp[18..27](left=ExprUnaryOp[18..22](op=USub, )"
         R"(operand=ExprNumberLiteral[19..22](value=1.5)), op=Sub, right=ExprNumberLiteral[25..27](value=)"
         R"(Complex(real=0.0, imag=3.0)))))"},
    });
}

TEST(MatchPattern, ClassAndMapping) {
    expect_patterns({
        {"Point(x=1, y=2)",
         R"(PatternMatchClass[18..33](cls=ExprName[18..23](id="Point", ctx=Load), arguments=PatternArguments[23..33](keywords=[)"
         R"(PatternKeyword[24..27](attr="x"[24..25], pattern=PatternMatchValue[26..27](value=ExprNumberLiteral[26..27](value=1))), )"
         R"(PatternKeyword[29..32](attr="y"[29..30], pattern=PatternMatchValue[31..32](value=ExprNumberLiteral[31..32](value=2)))])))"},
        {"C(a, b=c)",
         R"(PatternMatchClass[18..27](cls=ExprName[18..19](id="C", ctx=Load), arguments=PatternArguments[19..27](patterns=[)"
         R"(PatternMatchAs[20..21](name="a"[20..21])], keywords=[PatternKeyword[23..26](attr="b"[23..24], )"
         R"(pattern=PatternMatchAs[25..26](name="c"[25..26]))])))"},
        // `_` is an ordinary attribute name of a keyword pattern.
        {"C(_=1)",
         R"(PatternMatchClass[18..24](cls=ExprName[18..19](id="C", ctx=Load), arguments=PatternArguments[19..24](keywords=[)"
         R"(PatternKeyword[20..23](attr="_"[20..21], pattern=PatternMatchValue[22..23](value=ExprNumberLiteral[22..23](value=1)))])))"},
        {"a.b.C()",
         R"(PatternMatchClass[18..25](cls=ExprAttribute[18..23](value=ExprAttribute[18..21](value=ExprName[18..19](id="a", ctx=Load), )"
         R"(attr="b"[20..21], ctx=Load), attr="C"[22..23], ctx=Load), arguments=PatternArguments[23..25]))"},
        {R"({"k": v, **rest})",
         R"(PatternMatchMapping[18..34](keys=[ExprStringLiteral[19..22](value=StringLiteral[19..22](value="k", flags=DOUBLE_QUOTES))], )"
         R"(patterns=[PatternMatchAs[24..25](name="v"[24..25])], rest="rest"[29..33]))"},
        {"{None: x}",
         R"(PatternMatchMapping[18..27](keys=[ExprNoneLiteral[19..23]], patterns=[PatternMatchAs[25..26](name="x"[25..26])]))"},
    });
}

TEST(MatchPattern, RecoveredTrees) {
    expect_recovered_patterns({
        // An invalid class stays as the expression it stands for.
        {"1()",
         R"(PatternMatchClass[18..21](cls=ExprNumberLiteral[18..19](value=1), arguments=PatternArguments[19..21]))"},
        {"[a, *b]()",
         R"(PatternMatchClass[18..27](cls=ExprList[18..25](elts=[ExprName[19..20](id="a", ctx=Store), )"
         R"(ExprStarred[22..24](value=ExprName[23..24](id="b", ctx=Store), ctx=Store)], ctx=Store), )"
         R"(arguments=PatternArguments[25..27]))"},
        {"(a as b)()",
         R"(PatternMatchClass[18..28](cls=ExprName[19..25](id="", ctx=Invalid), arguments=PatternArguments[26..28]))"},
        // The positional pattern after a keyword one is kept.
        {"Point(x=1, 2)",
         R"(PatternMatchClass[18..31](cls=ExprName[18..23](id="Point", ctx=Load), arguments=PatternArguments[23..31](patterns=[)"
         R"(PatternMatchValue[29..30](value=ExprNumberLiteral[29..30](value=2))], keywords=[PatternKeyword[24..27](attr="x"[24..25], )"
         R"(pattern=PatternMatchValue[26..27](value=ExprNumberLiteral[26..27](value=1)))])))"},
        // A keyword pattern without a name gets an empty one at the end of its `=`.
        {"C(1=2)",
         R"(PatternMatchClass[18..24](cls=ExprName[18..19](id="C", ctx=Load), arguments=PatternArguments[19..24](keywords=[)"
         R"(PatternKeyword[20..23](attr=""[22..22], pattern=PatternMatchValue[22..23](value=ExprNumberLiteral[22..23](value=2)))])))"},
        // The later rest name wins; a pair after the rest stays.
        {"{**a, **b}", R"(PatternMatchMapping[18..28](rest="b"[26..27]))"},
        {"{**a, 1: v}",
         R"(PatternMatchMapping[18..29](keys=[ExprNumberLiteral[24..25](value=1)], patterns=[PatternMatchAs[27..28](name="v"[27..28])], )"
         R"(rest="a"[21..22]))"},
        {"1 + 2",
         R"(PatternMatchValue[18..23](value=ExprBinOp[18..23](left=ExprNumberLiteral[18..19](value=1), op=Add, )"
         R"(right=ExprNumberLiteral[22..23](value=2))))"},
        // A chain nests to the right.
        {"1 + 1j + 1j",
         R"(PatternMatchValue[18..29](value=ExprBinOp[18..29](left=ExprNumberLiteral[18..19](value=1), op=Add, )"
         R"(right=ExprBinOp[22..29](left=ExprNumberLiteral[22..24](value=Complex(real=0.0, imag=1.0)), op=Add, )"
         R"(right=ExprNumberLiteral[27..29](value=Complex(real=0.0, imag=1.0))))))"},
    });
}

TEST(MatchPattern, FirstErrors) {
    expect_pattern_errors({
        {"*rest", "Star pattern cannot be used here at byte range 18..23"},
        {"*a | b", "Star pattern cannot be used here at byte range 18..20"},
        {"*a as b", "Star pattern cannot be used here at byte range 18..20"},
        {"C(*a)", "Star pattern cannot be used here at byte range 20..22"},
        {"+1", "Unary '+' is not allowed as a literal pattern at byte range 18..20"},
        {"1j + 2j", "Expected a real number in complex literal pattern at byte range 18..20"},
        {"1 + 2", "Expected an imaginary number in complex literal pattern at byte range 22..23"},
        // `1j + 1j` is the real part of the next term, a nested sum.
        {"1 + 1j + 1j", "Expected a real number in complex literal pattern at byte range 22..24"},
        {"Point(x=1, 2)",
         "Positional patterns cannot follow keyword patterns at byte range 29..30"},
        {"C(1=2)", "Expected an identifier for the keyword pattern at byte range 20..21"},
        {"1()", "Invalid value for a class pattern at byte range 18..19"},
        {"_()", "Invalid value for a class pattern at byte range 18..19"},
        {"{**a, **b}", "Only one double star pattern is allowed at byte range 24..27"},
        {R"({**a, "k": v})", "Pattern cannot follow a double star pattern at byte range 24..30"},
        {"{x: 1}", "Invalid mapping pattern key at byte range 19..20"},
        {"", "Expected a pattern at byte range 18..19"},
        {"-x", "Expected a pattern at byte range 18..19"},
        {"{1 x}", "Expected `:`, found name at byte range 21..22"},
        {"(", "Missing ')' at byte range 19..20"},
        {"[", "Missing ']' at byte range 19..20"},
        // Two elements without a comma between them.
        {"[a b]", "Expected `,`, found name at byte range 21..22"},
        {"(a b)", "Expected `)`, found name at byte range 21..22"},
        {"[1, =]", "Expected a pattern or the end of the sequence pattern at byte range 22..23"},
        {"C(=)", "Expected a pattern or a ')' at byte range 20..21"},
        {"{=}",
         "Expected a mapping pattern or the end of the mapping pattern at byte range 19..20"},
        {"a if ", "Expected an expression at byte range 23..24"},
        {"x as ", "Expected an identifier at byte range 23..24"},
    });
}

TEST(MatchStatement, FirstErrors) {
    expect_first_errors({
        {"match *a:\n    case _: pass\n",
         "Starred expression cannot be used here at byte range 6..8"},
        {"match x:\npass\n",
         "Expected an indented block after `match` statement at byte range 9..13"},
        {"match x:\n    pass\n", "Expected `case` block at byte range 13..17"},
        {"match x: case 1: pass\n", "Expected newline, found `case` at byte range 9..13"},
        {"match x:\n    case 1 pass\n", "Expected `:`, found `pass` at byte range 20..24"},
        {"match x:\n    case 1:\nx\n",
         "Expected an indented block after `case` block at byte range 20..21"},
    });
}

// Long flat chains are built in loops and deep nesting meets the depth limit: neither may
// exhaust the stack.
TEST(MatchPattern, LongAndDeepInputsEndCleanly) {
    std::string alternatives = "1";
    std::string terms = "1";
    for (int i = 0; i < 100000; ++i) {
        alternatives += " | 1";
        terms += " + 1j";
    }
    {
        Parsed parsed = parse_module_unchecked(in_case(alternatives));
        EXPECT_TRUE(parsed.errors.empty());
    }
    {
        Parsed parsed = parse_module_unchecked(in_case(terms));
        ASSERT_FALSE(parsed.errors.empty());
        EXPECT_EQ(parsed.errors.front().display(),
                  "Expected a real number in complex literal pattern at byte range 22..24");
    }
    for (std::string_view open : {"[", "(", "{1: ", "C("}) {
        std::string deep;
        for (int i = 0; i < 100000; ++i)
            deep += open;
        Parsed parsed = parse_module_unchecked(in_case(deep));
        ASSERT_FALSE(parsed.errors.empty());
        bool too_deep = false;
        for (const ParseError& error : parsed.errors) {
            too_deep = too_deep || error.display().starts_with("Expression nested too deeply");
        }
        EXPECT_TRUE(too_deep) << open;
    }
}

}  // namespace

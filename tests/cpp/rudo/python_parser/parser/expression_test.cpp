// Expressions: precedence, prefix forms and their gates, atoms, postfix forms, calls, slices,
// identifiers, and the errors of each.
#include <string>
#include <string_view>
#include <vector>

#include <gtest/gtest.h>

#include "rudo/python_ast/dump.h"
#include "rudo/python_parser/parser/parse_case.h"
#include "rudo/python_parser/parser/parser.h"

namespace {

using namespace rudo::python_parser;
using namespace rudo::python_parser::test;
using rudo::python_ast::dump;

// Expected dumps are written out by hand; these spell the most repeated leaves.
std::string name(std::string_view id, uint32_t start, std::string_view ctx = "Load") {
    return fmt::format("ExprName[{}..{}](id=\"{}\", ctx={})", start, start + id.size(), id, ctx);
}
std::string integer(std::string_view digits, uint32_t start) {
    return fmt::format("ExprNumberLiteral[{}..{}](value={})", start, start + digits.size(), digits);
}
std::string missing(uint32_t at) {
    return fmt::format("ExprName[{}..{}](id=\"\", ctx=Invalid)", at, at);
}

// Most rows are modules of one expression statement. The parser itself is driven only where a
// row needs what no statement gives: an expression position of its own, the token the
// expression stops at, or whether it stood alone in parentheses.

enum class Entry { List, Named };

struct Expression {
    std::string tree;
    std::vector<ParseError> errors;
    TokenKind next = TokenKind::EndOfFile;
    bool in_parentheses = false;

    std::string first_error() const { return errors.empty() ? "" : errors.front().display(); }
};

// One expression parsed from the start of `source` with the given position flags.
Expression parse_expr(std::string_view source, uint8_t position = 0, Entry entry = Entry::List) {
    auto token_source = TokenSource::from_source(source);
    Parser parser(std::move(token_source).value(), source, ParserOptions{});
    ExprWithParens parsed = entry == Entry::List
                                ? parser.parse_expression_list(position)
                                : parser.parse_named_expression_or_higher(position);
    return Expression{dump(parsed.expr), parser.errors(), parser.current_token_kind(),
                      parsed.in_parentheses};
}

// A row read at a position no statement gives it: its tree (without errors) or its first error.
struct PositionedCase {
    std::string source;
    std::string expected;
    uint8_t position = 0;
    Entry entry = Entry::List;
};

void expect_positioned_trees(const std::vector<PositionedCase>& cases) {
    for (const PositionedCase& c : cases) {
        SCOPED_TRACE(c.source);
        Expression parsed = parse_expr(c.source, c.position, c.entry);
        EXPECT_EQ(parsed.tree, c.expected);
        EXPECT_EQ(parsed.first_error(), "");
    }
}

void expect_positioned_errors(const std::vector<PositionedCase>& cases) {
    for (const PositionedCase& c : cases) {
        SCOPED_TRACE(c.source);
        EXPECT_EQ(parse_expr(c.source, c.position, c.entry).first_error(), c.expected);
    }
}

TEST(Expression, BinaryOperatorsNestByLevel) {
    expect_trees({
        {"a ** b ** c", "ExprBinOp[0..11](left=" + name("a", 0) +
                            ", op=Pow, right=ExprBinOp[5..11](left=" + name("b", 5) +
                            ", op=Pow, right=" + name("c", 10) + "))"},
        {"a - b - c", "ExprBinOp[0..9](left=ExprBinOp[0..5](left=" + name("a", 0) +
                          ", op=Sub, right=" + name("b", 4) + "), op=Sub, right=" + name("c", 8) +
                          ")"},
        {"a // b * c", "ExprBinOp[0..10](left=ExprBinOp[0..6](left=" + name("a", 0) +
                           ", op=FloorDiv, right=" + name("b", 5) +
                           "), op=Mult, right=" + name("c", 9) + ")"},
        {"a | b ^ c & d << e + f * g ** h",
         "ExprBinOp[0..31](left=" + name("a", 0) + ", op=BitOr, right=ExprBinOp[4..31](left=" +
             name("b", 4) + ", op=BitXor, right=ExprBinOp[8..31](left=" + name("c", 8) +
             ", op=BitAnd, right=ExprBinOp[12..31](left=" + name("d", 12) +
             ", op=LShift, right=ExprBinOp[17..31](left=" + name("e", 17) +
             ", op=Add, right=ExprBinOp[21..31](left=" + name("f", 21) +
             ", op=Mult, right=ExprBinOp[25..31](left=" + name("g", 25) +
             ", op=Pow, right=" + name("h", 30) + ")))))))"},
        {"a @ b % c >> d",
         "ExprBinOp[0..14](left=ExprBinOp[0..9](left=ExprBinOp[0..5](left=" + name("a", 0) +
             ", op=MatMult, right=" + name("b", 4) + "), op=Mod, right=" + name("c", 8) +
             "), op=RShift, right=" + name("d", 13) + ")"},
        {"a / b", "ExprBinOp[0..5](left=" + name("a", 0) + ", op=Div, right=" + name("b", 4) + ")"},
    });
}

TEST(Expression, UnaryAndAwaitBindAroundPower) {
    expect_trees({
        {"-a ** b", "ExprUnaryOp[0..7](op=USub, operand=ExprBinOp[1..7](left=" + name("a", 1) +
                        ", op=Pow, right=" + name("b", 6) + "))"},
        {"a ** -b", "ExprBinOp[0..7](left=" + name("a", 0) +
                        ", op=Pow, right=ExprUnaryOp[5..7](op=USub, operand=" + name("b", 6) +
                        "))"},
        {"await a ** b", "ExprBinOp[0..12](left=ExprAwait[0..7](value=" + name("a", 6) +
                             "), op=Pow, right=" + name("b", 11) + ")"},
        {"await f()", "ExprAwait[0..9](value=ExprCall[6..9](func=" + name("f", 6) +
                          ", arguments=Arguments[7..9]))"},
        {"-a.b", "ExprUnaryOp[0..4](op=USub, operand=ExprAttribute[1..4](value=" + name("a", 1) +
                     ", attr=\"b\"[3..4], ctx=Load))"},
        {"~+a", "ExprUnaryOp[0..3](op=Invert, operand=ExprUnaryOp[1..3](op=UAdd, operand=" +
                    name("a", 2) + "))"},
        {"-a * b", "ExprBinOp[0..6](left=ExprUnaryOp[0..2](op=USub, operand=" + name("a", 1) +
                       "), op=Mult, right=" + name("b", 5) + ")"},
    });
}

TEST(Expression, ComparisonsAndBooleans) {
    expect_trees({
        {"a < b < c", "ExprCompare[0..9](left=" + name("a", 0) + ", ops=[Lt, Lt], comparators=[" +
                          name("b", 4) + ", " + name("c", 8) + "])"},
        {"a < b <= c is not d", "ExprCompare[0..19](left=" + name("a", 0) +
                                    ", ops=[Lt, LtE, IsNot], comparators=[" + name("b", 4) + ", " +
                                    name("c", 9) + ", " + name("d", 18) + "])"},
        {"a == b != c > d >= e", "ExprCompare[0..20](left=" + name("a", 0) +
                                     ", ops=[Eq, NotEq, Gt, GtE], comparators=[" + name("b", 5) +
                                     ", " + name("c", 10) + ", " + name("d", 14) + ", " +
                                     name("e", 19) + "])"},
        {"a is b", "ExprCompare[0..6](left=" + name("a", 0) + ", ops=[Is], comparators=[" +
                       name("b", 5) + "])"},
        {"a is not b", "ExprCompare[0..10](left=" + name("a", 0) + ", ops=[IsNot], comparators=[" +
                           name("b", 9) + "])"},
        {"a not in b", "ExprCompare[0..10](left=" + name("a", 0) + ", ops=[NotIn], comparators=[" +
                           name("b", 9) + "])"},
        {"a in b", "ExprCompare[0..6](left=" + name("a", 0) + ", ops=[In], comparators=[" +
                       name("b", 5) + "])"},
        {"a < b | c", "ExprCompare[0..9](left=" + name("a", 0) +
                          ", ops=[Lt], comparators=[ExprBinOp[4..9](left=" + name("b", 4) +
                          ", op=BitOr, right=" + name("c", 8) + ")])"},
        {"a < b and b < c", "ExprBoolOp[0..15](op=And, values=[ExprCompare[0..5](left=" +
                                name("a", 0) + ", ops=[Lt], comparators=[" + name("b", 4) +
                                "]), ExprCompare[10..15](left=" + name("b", 10) +
                                ", ops=[Lt], comparators=[" + name("c", 14) + "])])"},
        {"a or b or c", "ExprBoolOp[0..11](op=Or, values=[" + name("a", 0) + ", " + name("b", 5) +
                            ", " + name("c", 10) + "])"},
        {"a and b or c", "ExprBoolOp[0..12](op=Or, values=[ExprBoolOp[0..7](op=And, values=[" +
                             name("a", 0) + ", " + name("b", 6) + "]), " + name("c", 11) + "])"},
        {"a or b and c or d", "ExprBoolOp[0..17](op=Or, values=[" + name("a", 0) +
                                  ", ExprBoolOp[5..12](op=And, values=[" + name("b", 5) + ", " +
                                  name("c", 11) + "]), " + name("d", 16) + "])"},
        {"not not a", "ExprUnaryOp[0..9](op=Not, operand=ExprUnaryOp[4..9](op=Not, operand=" +
                          name("a", 8) + "))"},
        {"a and not b", "ExprBoolOp[0..11](op=And, values=[" + name("a", 0) +
                            ", ExprUnaryOp[6..11](op=Not, operand=" + name("b", 10) + ")])"},
        {"not a == b", "ExprUnaryOp[0..10](op=Not, operand=ExprCompare[4..10](left=" +
                           name("a", 4) + ", ops=[Eq], comparators=[" + name("b", 9) + "]))"},
        {"not a and b", "ExprBoolOp[0..11](op=And, values=[ExprUnaryOp[0..5](op=Not, operand=" +
                            name("a", 4) + "), " + name("b", 10) + "])"},
    });
}

// Read by the parser: the rows check the token the expression stops at.
TEST(Expression, OperatorLoopStopsWhereTheExpressionEnds) {
    struct Case {
        const char* source;
        uint8_t position;
        std::string tree;
        TokenKind next;
    };
    const Case cases[] = {
        // `not` without `in` is no operator.
        {"a not b", 0, name("a", 0), TokenKind::Not},
        // A `for` target: `in` ends the expression, also inside a comparison chain.
        {"x in y", ExprPosition::NO_IN_OPERATOR, name("x", 0), TokenKind::In},
        {"a < b in c", ExprPosition::NO_IN_OPERATOR,
         "ExprCompare[0..5](left=" + name("a", 0) + ", ops=[Lt], comparators=[" + name("b", 4) +
             "])",
         TokenKind::In},
        {"a + b in c", ExprPosition::NO_IN_OPERATOR,
         "ExprBinOp[0..5](left=" + name("a", 0) + ", op=Add, right=" + name("b", 4) + ")",
         TokenKind::In},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.source);
        Expression parsed = parse_expr(c.source, c.position);
        EXPECT_EQ(parsed.tree, c.tree);
        EXPECT_EQ(parsed.first_error(), "");
        EXPECT_EQ(parsed.next, c.next);
    }
}

TEST(Expression, ConditionalLambdaNamedAndTuples) {
    expect_trees({
        {"a if b else c if d else e",
         "ExprIfExp[0..25](test=" + name("b", 5) + ", body=" + name("a", 0) +
             ", orelse=ExprIfExp[12..25](test=" + name("d", 17) + ", body=" + name("c", 12) +
             ", orelse=" + name("e", 24) + "))"},
        {"a if b else lambda: c", "ExprIfExp[0..21](test=" + name("b", 5) +
                                      ", body=" + name("a", 0) +
                                      ", orelse=ExprLambda[12..21](body=" + name("c", 20) + "))"},
        {"lambda: a if b else c", "ExprLambda[0..21](body=ExprIfExp[8..21](test=" + name("b", 13) +
                                      ", body=" + name("a", 8) + ", orelse=" + name("c", 20) +
                                      "))"},
        {"a or b if c and d else e",
         "ExprIfExp[0..24](test=ExprBoolOp[10..17](op=And, values=[" + name("c", 10) + ", " +
             name("d", 16) + "]), body=ExprBoolOp[0..6](op=Or, values=[" + name("a", 0) + ", " +
             name("b", 5) + "]), orelse=" + name("e", 23) + ")"},
        {"x, y", "ExprTuple[0..4](elts=[" + name("x", 0) + ", " + name("y", 3) +
                     "], ctx=Load, parenthesized=false)"},
        {"1,", "ExprTuple[0..2](elts=[" + integer("1", 0) + "], ctx=Load, parenthesized=false)"},
        {"a, b, ", "ExprTuple[0..5](elts=[" + name("a", 0) + ", " + name("b", 3) +
                       "], ctx=Load, parenthesized=false)"},
        {"*a, b", "ExprTuple[0..5](elts=[ExprStarred[0..2](value=" + name("a", 1) +
                      ", ctx=Load), " + name("b", 4) + "], ctx=Load, parenthesized=false)"},
        {"*a | b", "ExprStarred[0..6](value=ExprBinOp[1..6](left=" + name("a", 1) +
                       ", op=BitOr, right=" + name("b", 5) + "), ctx=Load)"},
    });
}

// A module's statement takes no unparenthesized named expression: these are read at the entry
// that does.
TEST(Expression, NamedExpressions) {
    expect_positioned_trees({
        {"x := 1",
         "ExprNamedExpr[0..6](target=" + name("x", 0, "Store") + ", value=" + integer("1", 5) + ")",
         0, Entry::Named},
        {"x := a if b else c",
         "ExprNamedExpr[0..18](target=" + name("x", 0, "Store") + ", value=ExprIfExp[5..18](test=" +
             name("b", 10) + ", body=" + name("a", 5) + ", orelse=" + name("c", 17) + "))",
         0, Entry::Named},
    });
}

TEST(Expression, Atoms) {
    expect_trees({
        {"a", name("a", 0)},
        {"match", name("match", 0)},
        {"case", name("case", 0)},
        {"type", name("type", 0)},
        {"123", integer("123", 0)},
        {"0x10", "ExprNumberLiteral[0..4](value=16)"},
        {"1.5", "ExprNumberLiteral[0..3](value=1.5)"},
        {"2j", "ExprNumberLiteral[0..2](value=Complex(real=0.0, imag=2.0))"},
        // The largest value kept as a number, and the first ones kept as their text: decimal
        // digits without underscores, or a prefixed literal's whole text.
        {"18446744073709551615", integer("18446744073709551615", 0)},
        {"18446744073709551616", integer("18446744073709551616", 0)},
        {"1_000_000_000_000_000_000_000", "ExprNumberLiteral[0..29](value=1000000000000000000000)"},
        {"0x10000000000000000", "ExprNumberLiteral[0..19](value=0x10000000000000000)"},
        {"f(18446744073709551616, 1.5)",
         "ExprCall[0..28](func=" + name("f", 0) + ", arguments=Arguments[1..28](args=[" +
             integer("18446744073709551616", 2) + ", ExprNumberLiteral[24..27](value=1.5)]))"},
        {"True", "ExprBooleanLiteral[0..4](value=true)"},
        {"False", "ExprBooleanLiteral[0..5](value=false)"},
        {"None", "ExprNoneLiteral[0..4]"},
        {"...", "ExprEllipsisLiteral[0..3]"},
        {"None.x", "ExprAttribute[0..6](value=ExprNoneLiteral[0..4], attr=\"x\"[5..6], ctx=Load)"},
    });
}

TEST(Expression, PostfixForms) {
    expect_trees({
        {"a.b.c", "ExprAttribute[0..5](value=ExprAttribute[0..3](value=" + name("a", 0) +
                      ", attr=\"b\"[2..3], ctx=Load), attr=\"c\"[4..5], ctx=Load)"},
        {"f(a)(b)", "ExprCall[0..7](func=ExprCall[0..4](func=" + name("f", 0) +
                        ", arguments=Arguments[1..4](args=[" + name("a", 2) +
                        "])), arguments=Arguments[4..7](args=[" + name("b", 5) + "]))"},
        {"x[1][2].y(z)",
         "ExprCall[0..12](func=ExprAttribute[0..9](value=ExprSubscript[0..7]("
         "value=ExprSubscript[0..4](value=" +
             name("x", 0) + ", slice=" + integer("1", 2) + ", ctx=Load), slice=" + integer("2", 5) +
             ", ctx=Load), attr=\"y\"[8..9], ctx=Load), arguments=Arguments[9..12](args=[" +
             name("z", 10) + "]))"},
        {"f(match, case, type)", "ExprCall[0..20](func=" + name("f", 0) +
                                     ", arguments=Arguments[1..20](args=[" + name("match", 2) +
                                     ", " + name("case", 9) + ", " + name("type", 15) + "]))"},
        {"f(a, *b, c=1, **d)",
         "ExprCall[0..18](func=" + name("f", 0) + ", arguments=Arguments[1..18](args=[" +
             name("a", 2) + ", ExprStarred[5..7](value=" + name("b", 6) +
             ", ctx=Load)], keywords=[Keyword[9..12](arg=\"c\"[9..10], value=" + integer("1", 11) +
             "), Keyword[14..17](value=" + name("d", 16) + ")]))"},
        {"f(a=1, *b)",
         "ExprCall[0..10](func=" + name("f", 0) +
             ", arguments=Arguments[1..10](args=[ExprStarred[7..9](value=" + name("b", 8) +
             ", ctx=Load)], keywords=[Keyword[2..5](arg=\"a\"[2..3], value=" + integer("1", 4) +
             ")]))"},
        {"f(**a, b=1)",
         "ExprCall[0..11](func=" + name("f", 0) +
             ", arguments=Arguments[1..11](keywords=[Keyword[2..5](value=" + name("a", 4) +
             "), Keyword[7..10](arg=\"b\"[7..8], value=" + integer("1", 9) + ")]))"},
        {"f(a,)", "ExprCall[0..5](func=" + name("f", 0) + ", arguments=Arguments[1..5](args=[" +
                      name("a", 2) + "]))"},
        {"f(x := 1)", "ExprCall[0..9](func=" + name("f", 0) +
                          ", arguments=Arguments[1..9](args=[ExprNamedExpr[2..8](target=" +
                          name("x", 2, "Store") + ", value=" + integer("1", 7) + ")]))"},
    });
}

TEST(Expression, SubscriptsAndSlices) {
    expect_trees({
        {"a[1:2, ::3]",
         "ExprSubscript[0..11](value=" + name("a", 0) +
             ", slice=ExprTuple[2..10](elts=[ExprSlice[2..5](lower=" + integer("1", 2) +
             ", upper=" + integer("2", 4) + "), ExprSlice[7..10](step=" + integer("3", 9) +
             ")], ctx=Load, parenthesized=false), ctx=Load)"},
        {"a[::]",
         "ExprSubscript[0..5](value=" + name("a", 0) + ", slice=ExprSlice[2..4], ctx=Load)"},
        {"a[:]",
         "ExprSubscript[0..4](value=" + name("a", 0) + ", slice=ExprSlice[2..3], ctx=Load)"},
        {"a[b:]", "ExprSubscript[0..5](value=" + name("a", 0) +
                      ", slice=ExprSlice[2..4](lower=" + name("b", 2) + "), ctx=Load)"},
        {"a[:b:c]", "ExprSubscript[0..7](value=" + name("a", 0) + ", slice=ExprSlice[2..6](upper=" +
                        name("b", 3) + ", step=" + name("c", 5) + "), ctx=Load)"},
        {"a[1,]", "ExprSubscript[0..5](value=" + name("a", 0) + ", slice=ExprTuple[2..4](elts=[" +
                      integer("1", 2) + "], ctx=Load, parenthesized=false), ctx=Load)"},
        {"a[*b]", "ExprSubscript[0..5](value=" + name("a", 0) +
                      ", slice=ExprTuple[2..4](elts=[ExprStarred[2..4](value=" + name("b", 3) +
                      ", ctx=Load)], ctx=Load, parenthesized=false), ctx=Load)"},
        {"a[x:=1]", "ExprSubscript[0..7](value=" + name("a", 0) +
                        ", slice=ExprNamedExpr[2..6](target=" + name("x", 2, "Store") +
                        ", value=" + integer("1", 5) + "), ctx=Load)"},
        {"a[b, c:d]", "ExprSubscript[0..9](value=" + name("a", 0) +
                          ", slice=ExprTuple[2..8](elts=[" + name("b", 2) +
                          ", ExprSlice[5..8](lower=" + name("c", 5) + ", upper=" + name("d", 7) +
                          ")], ctx=Load, parenthesized=false), ctx=Load)"},
    });
}

TEST(Expression, YieldAndAwait) {
    expect_trees({
        {"yield", "ExprYield[0..5]"},
        {"yield\n", "ExprYield[0..5]"},
        {"yield a, b", "ExprYield[0..10](value=ExprTuple[6..10](elts=[" + name("a", 6) + ", " +
                           name("b", 9) + "], ctx=Load, parenthesized=false))"},
        {"yield *a, b",
         "ExprYield[0..11](value=ExprTuple[6..11](elts=[ExprStarred[6..8](value=" + name("a", 7) +
             ", ctx=Load), " + name("b", 10) + "], ctx=Load, parenthesized=false))"},
        {"yield from a", "ExprYieldFrom[0..12](value=" + name("a", 11) + ")"},
        {"await x", "ExprAwait[0..7](value=" + name("x", 6) + ")"},
    });
}

TEST(Expression, Placeholders) {
    expect_recoveries({
        {"a +\n",
         "ExprBinOp[0..3](left=" + name("a", 0) + ", op=Add, right=" + missing(3) + ")",
         {"Expected an expression at byte range 3..4"}},
        {"a.\n",
         "ExprAttribute[0..2](value=" + name("a", 0) + ", attr=\"\"[2..2], ctx=Load)",
         {"Expected an identifier at byte range 2..3"}},
        {"x.if",
         "ExprAttribute[0..4](value=" + name("x", 0) + ", attr=\"if\"[2..4], ctx=Load)",
         {"Expected an identifier, but found a keyword `if` that cannot be used here at byte range "
          "2..4"}},
        {"a + if",
         "ExprBinOp[0..6](left=" + name("a", 0) + ", op=Add, right=" + name("if", 4) + ")",
         {"Expected an identifier, but found a keyword `if` that cannot be used here at byte range "
          "4..6"}},
        {"a[]",
         "ExprSubscript[0..3](value=" + name("a", 0) +
             ", slice=ExprName[2..3](id=\"\", ctx=Invalid), ctx=Load)",
         {"Expected index or slice expression at byte range 2..3"}},
        {"f(a.b=1)",
         "ExprCall[0..8](func=" + name("f", 0) +
             ", arguments=Arguments[1..8](keywords=[Keyword[2..7](arg=\"\"[2..5], value=" +
             integer("1", 6) + ")]))",
         {"Expected a parameter name at byte range 2..5"}},
        {"a if b\n",
         "ExprIfExp[0..6](test=" + name("b", 5) + ", body=" + name("a", 0) +
             ", orelse=" + missing(6) + ")",
         {"Expected `else`, found newline at byte range 6..7"}},
    });
}

// No statement starts with these tokens; the expression entry still reads them, around a
// placeholder.
TEST(Expression, PlaceholdersWhereNoStatementStarts) {
    const RecoveryCase cases[] = {
        {")", missing(0), {"Expected an expression at byte range 0..1"}},
        {".a",
         "ExprAttribute[0..2](value=" + missing(0) + ", attr=\"a\"[1..2], ctx=Load)",
         {"Expected an expression at byte range 0..1"}},
    };
    for (const RecoveryCase& c : cases) {
        SCOPED_TRACE(c.source);
        Expression parsed = parse_expr(c.source);
        EXPECT_EQ(parsed.tree, c.expected);
        std::vector<std::string> errors;
        for (const ParseError& error : parsed.errors)
            errors.push_back(error.display());
        EXPECT_EQ(errors, c.errors);
    }
}

TEST(Expression, MisplacedConstructs) {
    expect_first_errors({
        {"a + not b", "Boolean 'not' expression cannot be used here at byte range 4..9"},
        {"a == not b", "Boolean 'not' expression cannot be used here at byte range 5..10"},
        {"a | not b", "Boolean 'not' expression cannot be used here at byte range 4..9"},
        {"await -x", "Unary '-' expression cannot be used here at byte range 6..8"},
        {"await ~x", "Unary '~' expression cannot be used here at byte range 6..8"},
        {"await await x", "Await expression cannot be used here at byte range 6..13"},
        {"x + *y", "Starred expression cannot be used here at byte range 4..6"},
        {"1 + lambda: 2", "Lambda expression cannot be used here at byte range 4..13"},
        {"not lambda: 2", "Lambda expression cannot be used here at byte range 4..13"},
        {"a + yield", "Yield expression cannot be used here at byte range 4..9"},
        {"yield from a, b",
         "Unparenthesized tuple expression cannot be used here at byte range 11..15"},
        {"*a or b", "Boolean expression cannot be used here at byte range 1..7"},
        {"*not a", "Boolean expression cannot be used here at byte range 1..6"},
        {"*lambda: 1", "Lambda expression cannot be used here at byte range 1..10"},
        {"*a if b else c", "Conditional expression cannot be used here at byte range 1..14"},
        {"*a < b", "Comparison expression cannot be used here at byte range 1..6"},
        {"a[*b:c]", "Starred expression cannot be used here at byte range 2..4"},
        {"a[x:=1:2]", "Unparenthesized named expression cannot be used here at byte range 2..6"},
        {"a[)", "Expected `:`, found `)` at byte range 2..3"},
        {"f(a=1, a=2)", "Duplicate keyword argument \"a\" at byte range 7..10"},
        {"f(**a, b)",
         "Positional argument cannot follow keyword argument unpacking at byte range 7..8"},
        {"f(**a, *b)",
         "Iterable argument unpacking cannot follow keyword argument unpacking at byte range 7..9"},
        {"f(a=1, b)", "Positional argument cannot follow keyword argument at byte range 7..8"},
        {"f(1=2)", "Expected a parameter name at byte range 2..3"},
        {"a, b := c", "Expected `,`, found `:=` at byte range 5..7"},
    });
}

// Where the position takes neither a starred nor a yield expression (an expression statement
// takes both), and a named expression's target.
TEST(Expression, MisplacedAtTheirOwnPositions) {
    expect_positioned_errors({
        {"*y", "Starred expression cannot be used here at byte range 0..2"},
        {"yield", "Yield expression cannot be used here at byte range 0..5"},
        {"a.b := 1", "Assignment expression target must be an identifier at byte range 0..3", 0,
         Entry::Named},
    });
}

TEST(Expression, NamedExpressionTargetKeepsItsNode) {
    Expression parsed = parse_expr("a.b := 1", 0, Entry::Named);
    EXPECT_EQ(parsed.tree, "ExprNamedExpr[0..8](target=ExprAttribute[0..3](value=" + name("a", 0) +
                               ", attr=\"b\"[2..3], ctx=Store), value=" + integer("1", 7) + ")");
}

TEST(Expression, EveryRepeatedKeywordIsReported) {
    Parsed parsed = parse_all("f(a=1, b=2, a=3, a=4)");
    ASSERT_EQ(parsed.errors.size(), 2u);
    EXPECT_EQ(parsed.errors[0].display(), "Duplicate keyword argument \"a\" at byte range 12..15");
    EXPECT_EQ(parsed.errors[1].display(), "Duplicate keyword argument \"a\" at byte range 17..20");
}

TEST(Expression, SoftKeywordsAreRecordedAsNames) {
    Parsed parsed = parse_all("f(match, case, type)\n");
    EXPECT_TRUE(parsed.errors.empty()) << all_messages(parsed);
    const auto& tokens = parsed.tokens;
    ASSERT_EQ(tokens.size(), 9u);
    for (size_t i : {2u, 4u, 6u})
        EXPECT_EQ(tokens[i].kind, TokenKind::Name) << i;
}

// A left-associative chain of any length is parsed in a loop, without recursion.
TEST(Expression, LongFlatChainsParse) {
    // Each step is appended to `a` that many times.
    const std::pair<std::string_view, int> chains[] = {{"+a", 1'000'000}, {" or a", 200'000},
                                                       {" < a", 200'000}, {".a", 200'000},
                                                       {"()", 200'000},   {"[0]", 200'000}};
    for (auto [step, count] : chains) {
        SCOPED_TRACE(step);
        std::string source = "a";
        for (int i = 0; i < count; ++i)
            source += step;
        Parsed parsed = parse_all(source);
        EXPECT_TRUE(parsed.errors.empty());
        ASSERT_EQ(parsed.syntax.body.size(), 1u);
        const auto* stmt = parsed.syntax.body.front().as<rudo::python_ast::StmtExpr>();
        ASSERT_NE(stmt, nullptr);
        EXPECT_EQ(stmt->value->range(), TextRange(0, static_cast<uint32_t>(source.size())));
    }
}

// Nesting past the parser's limit is one syntax error, never a stack overflow.
TEST(Expression, DeepNestingIsAnError) {
    auto repeat = [](std::string_view part, int n) {
        std::string out;
        for (int i = 0; i < n; ++i)
            out += part;
        return out;
    };
    const std::string sources[] = {
        repeat("-", 200'000) + "a",
        repeat("not ", 100'000) + "a",
        repeat("await ", 100'000) + "a",
        repeat("a**", 100'000) + "a",
        repeat("a if b else ", 100'000) + "c",
        repeat("lambda: ", 100'000) + "a",
        repeat("*", 100'000) + "a",
        repeat("yield ", 100'000) + "a",
        repeat("f(", 100'000),
        repeat("a[", 100'000),
    };
    for (const std::string& source : sources) {
        SCOPED_TRACE(source.substr(0, 12));
        Parsed parsed = parse_all(source);
        ASSERT_FALSE(parsed.errors.empty());
        bool nested = false;
        for (const ParseError& error : parsed.errors)
            nested |= error.error.text == NESTED_TOO_DEEPLY;
        EXPECT_TRUE(nested);
    }
}

// The token after `is` or `not` is looked at once for all the operator loops that stop there;
// the result is the same as for a short operand. Read by the parser, for the token it stops at.
TEST(Expression, LookAheadAfterIsAndNotAcrossNestedLoops) {
    std::string big = "'" + std::string(1 << 20, 'x') + "'";
    std::string minus;
    for (int i = 0; i < 150; ++i)
        minus += "-";
    std::string source = minus + "1\n" + big + "\n";
    Expression parsed = parse_expr(source);
    EXPECT_EQ(parsed.first_error(), "");
    EXPECT_EQ(parsed.next, TokenKind::Newline);

    std::string nots;
    for (int i = 0; i < 150; ++i)
        nots += "not ";
    source = nots + "a not " + big;
    parsed = parse_expr(source);
    EXPECT_EQ(parsed.next, TokenKind::Not);
    EXPECT_EQ(parsed.first_error(), "");
}

// Operands that other areas parse (brackets, strings, generator arguments), seen from here.
// Read by the parser, which tells whether the expression stood alone in parentheses.
TEST(Expression, ParenthesizedOperands) {
    struct Case {
        const char* source;
        std::string tree;
        bool in_parentheses;
    };
    const Case cases[] = {
        {"(a)", name("a", 1), true},
        {"(a + b)",
         "ExprBinOp[1..6](left=" + name("a", 1) + ", op=Add, right=" + name("b", 5) + ")", true},
        {"(a) + b",
         "ExprBinOp[0..7](left=" + name("a", 1) + ", op=Add, right=" + name("b", 6) + ")", false},
        {"(a).b", "ExprAttribute[0..5](value=" + name("a", 1) + ", attr=\"b\"[4..5], ctx=Load)",
         false},
        {"(a)(b)",
         "ExprCall[0..6](func=" + name("a", 1) + ", arguments=Arguments[3..6](args=[" +
             name("b", 4) + "]))",
         false},
        {"a[(x:=1):2]",
         "ExprSubscript[0..11](value=" + name("a", 0) +
             ", slice=ExprSlice[2..10](lower=ExprNamedExpr[3..7](target=" + name("x", 3, "Store") +
             ", value=" + integer("1", 6) + "), upper=" + integer("2", 9) + "), ctx=Load)",
         false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.source);
        Expression parsed = parse_expr(c.source);
        EXPECT_EQ(parsed.tree, c.tree);
        EXPECT_EQ(parsed.in_parentheses, c.in_parentheses);
    }
}

TEST(Expression, ErrorsAroundOtherAreasOperands) {
    expect_first_errors({
        {"(a.b := 1)", "Assignment expression target must be an identifier at byte range 1..4"},
        {"((a) := 1)", ""},
        {"a[(x:=1):2]", ""},
        {"f(*a for a in b)",
         "Iterable unpacking cannot be used in a comprehension at byte range 2..4"},
        {"f(x for x in y)", ""},
        {"f(x for x in y, z)",
         "Unparenthesized generator expression cannot be used here at byte range 2..14"},
        {"f(z, x for x in y)",
         "Unparenthesized generator expression cannot be used here at byte range 5..17"},
        {"f(x for x in y,)",
         "Unparenthesized generator expression cannot be used here at byte range 2..14"},
        {"f((x for x in y), z)", ""},
        {"[*a or b]", "Boolean expression cannot be used here at byte range 2..8"},
        {"[*(a or b)]", ""},
        {"[*(a) or b]", "Boolean expression cannot be used here at byte range 2..10"},
        {"{**a or b}", "Boolean expression cannot be used here at byte range 3..9"},
        {"{**(a or b)}", ""},
        // A named expression is a valid set element.
        {"{a := 1}", ""},
        {"f(a)[b].c('s')", ""},
    });
}

TEST(Expression, GeneratorArgumentUsesTheCallsParentheses) {
    Parsed parsed = parse_all("f(x for x in y)");
    EXPECT_TRUE(parsed.errors.empty()) << all_messages(parsed);
    const std::string tree = expression_dump(parsed);
    EXPECT_NE(tree.find("args=[ExprGeneratorExp[2..14]("), std::string::npos) << tree;
    EXPECT_NE(tree.find("parenthesized=false)]"), std::string::npos) << tree;
}

}  // namespace

// Compound statements and blocks: statement dispatch, `if`/`while`/`for`/`try`, decorators,
// `async`, the `match` decision and the block rules, with their ranges and first errors.
#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "rudo/python_ast/dump.h"
#include "rudo/python_parser/parser/parse.h"
#include "rudo/python_parser/parser/parse_case.h"

namespace rudo::python_parser {
namespace {

using Case = test::ModuleCase;

class CompoundStatement : public ::testing::TestWithParam<Case> {};
TEST_P(CompoundStatement, TreeAndFirstError) {
    test::check_module(GetParam());
}

INSTANTIATE_TEST_SUITE_P(
    If, CompoundStatement,
    ::testing::Values(
        Case{"if a: pass\nelif b: pass\nelif c: pass\nelse: pass\n",
             "[StmtIf[0..47](test=ExprName[3..4](id=\"a\", ctx=Load), body=[StmtPass[6..10]], "
             "elif_else_clauses=[ElifElseClause[11..23](test=ExprName[16..17](id=\"b\", ctx=Load), "
             "body=[StmtPass[19..23]]), ElifElseClause[24..36](test=ExprName[29..30](id=\"c\", "
             "ctx=Load), "
             "body=[StmtPass[32..36]]), ElifElseClause[37..47](body=[StmtPass[43..47]])])]"},
        Case{"if x := f(): pass\n",
             "[StmtIf[0..17](test=ExprNamedExpr[3..11](target=ExprName[3..4](id=\"x\", ctx=Store), "
             "value=ExprCall[8..11](func=ExprName[8..9](id=\"f\", ctx=Load), "
             "arguments=Arguments[9..11])), "
             "body=[StmtPass[13..17]])]"},
        // A compound statement ends with the last token of its last block: no newline, dedent or
        // comment after it.
        Case{"if a:\n    if b:\n        pass\n    x\ny\n",
             "[StmtIf[0..34](test=ExprName[3..4](id=\"a\", ctx=Load), "
             "body=[StmtIf[10..28](test=ExprName[13..14]"
             "(id=\"b\", ctx=Load), body=[StmtPass[24..28]]), "
             "StmtExpr[33..34](value=ExprName[33..34](id=\"x\", "
             "ctx=Load))]), StmtExpr[35..36](value=ExprName[35..36](id=\"y\", ctx=Load))]"},
        Case{"if x:\n    pass\n\n# trailing\n",
             "[StmtIf[0..14](test=ExprName[3..4](id=\"x\", ctx=Load), body=[StmtPass[10..14]])]"}));

INSTANTIATE_TEST_SUITE_P(
    SameLineBlock, CompoundStatement,
    ::testing::Values(
        Case{
            "if x: a; b\n",
            "[StmtIf[0..10](test=ExprName[3..4](id=\"x\", ctx=Load), "
            "body=[StmtExpr[6..7](value=ExprName[6..7]"
            "(id=\"a\", ctx=Load)), StmtExpr[9..10](value=ExprName[9..10](id=\"b\", ctx=Load))])]"},
        Case{"if x: pass;\n",
             "[StmtIf[0..10](test=ExprName[3..4](id=\"x\", ctx=Load), body=[StmtPass[6..10]])]"},
        Case{"if x: a b\n",
             "[StmtIf[0..9](test=ExprName[3..4](id=\"x\", ctx=Load), "
             "body=[StmtExpr[6..7](value=ExprName[6..7]"
             "(id=\"a\", ctx=Load)), StmtExpr[8..9](value=ExprName[8..9](id=\"b\", ctx=Load))])]",
             "Simple statements must be separated by newlines or semicolons at byte range 8..9"},
        Case{"if x: pass )\n", "", "Expected newline, found `)` at byte range 11..12"},
        Case{"if x: pass; def f(): pass\n", "",
             "Compound statements are not allowed on the same line as simple statements at byte "
             "range 12..15"},
        Case{"if x: if y: pass\n",
             "[StmtIf[0..5](test=ExprName[3..4](id=\"x\", ctx=Load)), "
             "StmtIf[6..16](test=ExprName[9..10]"
             "(id=\"y\", ctx=Load), body=[StmtPass[12..16]])]",
             "Expected a simple statement at byte range 6..8"}));

INSTANTIATE_TEST_SUITE_P(
    MissingBlock, CompoundStatement,
    ::testing::Values(
        Case{"if x:\npass\n",
             "[StmtIf[0..5](test=ExprName[3..4](id=\"x\", ctx=Load)), StmtPass[6..10]]",
             "Expected an indented block after `if` statement at byte range 6..10"},
        // At the end of the file the error falls on the newline.
        Case{"if x:\n", "", "Expected an indented block after `if` statement at byte range 5..6"},
        Case{"if a: pass\nelif b:\nx\n", "",
             "Expected an indented block after `elif` clause at byte range 19..20"},
        Case{"while x: pass\nelse:\npass\n", "",
             "Expected an indented block after `else` clause at byte range 20..24"},
        Case{"for x in y:\nx\n", "",
             "Expected an indented block after `for` statement at byte range 12..13"},
        Case{"while x:\nx\n", "",
             "Expected an indented block after `while` statement at byte range 9..10"},
        Case{"try:\nx\n", "",
             "Expected an indented block after `try` statement at byte range 5..6"},
        Case{"try:\n    pass\nexcept:\nx\n", "",
             "Expected an indented block after `except` clause at byte range 22..23"},
        Case{"try:\n    pass\nfinally:\nx\n", "",
             "Expected an indented block after `finally` clause at byte range 23..24"},
        Case{"class C:\nx\n", "",
             "Expected an indented block after `class` definition at byte range 9..10"},
        Case{"def f():\nx\n", "",
             "Expected an indented block after function definition at byte range 9..10"},
        Case{"with a:\nx\n", "",
             "Expected an indented block after `with` statement at byte range 8..9"}));

// While the `elif` clauses or the handlers are read, a list left open in a clause body ends at
// the next clause keyword, so the clause after it is kept.
INSTANTIATE_TEST_SUITE_P(
    ClauseRecovery, CompoundStatement,
    ::testing::Values(
        Case{"if a:\n    pass\nelif b:\n    f(x,\nelse:\n    pass\n",
             "[StmtIf[0..46](test=ExprName[3..4](id=\"a\", ctx=Load), body=[StmtPass[10..14]], "
             "elif_else_clauses=[ElifElseClause[15..31](test=ExprName[20..21](id=\"b\", ctx=Load), "
             "body=[StmtExpr[27..31](value=ExprCall[27..31](func=ExprName[27..28](id=\"f\", "
             "ctx=Load), "
             "arguments=Arguments[28..31](args=[ExprName[29..30](id=\"x\", ctx=Load)])))]), "
             "ElifElseClause[32..46](body=[StmtPass[42..46]])])]",
             "Expected `)`, found newline at byte range 31..32"},
        Case{"try:\n    pass\nexcept E:\n    f(x,\nfinally:\n    pass\n",
             "[StmtTry[0..50](body=[StmtPass[9..13]], handlers=[ExceptHandlerExceptHandler[14..32]"
             "(type=ExprName[21..22](id=\"E\", ctx=Load), "
             "body=[StmtExpr[28..32](value=ExprCall[28..32]"
             "(func=ExprName[28..29](id=\"f\", ctx=Load), "
             "arguments=Arguments[29..32](args=[ExprName[30..31]"
             "(id=\"x\", ctx=Load)])))])], finalbody=[StmtPass[46..50]], is_star=false)]",
             "Expected `)`, found newline at byte range 32..33"}));

INSTANTIATE_TEST_SUITE_P(
    WhileFor, CompoundStatement,
    ::testing::Values(
        Case{"while x:\n    pass\nelse:\n    pass\n",
             "[StmtWhile[0..32](test=ExprName[6..7](id=\"x\", ctx=Load), body=[StmtPass[13..17]], "
             "orelse=[StmtPass[28..32]])]"},
        Case{"for x, in y: pass\n",
             "[StmtFor[0..17](is_async=false, "
             "target=ExprTuple[4..6](elts=[ExprName[4..5](id=\"x\", ctx=Store)], "
             "ctx=Store, parenthesized=false), iter=ExprName[10..11](id=\"y\", ctx=Load), "
             "body=[StmtPass[13..17]])]"},
        Case{"for x in *a, b: pass\n",
             "[StmtFor[0..20](is_async=false, target=ExprName[4..5](id=\"x\", ctx=Store), "
             "iter=ExprTuple[9..14]"
             "(elts=[ExprStarred[9..11](value=ExprName[10..11](id=\"a\", ctx=Load), ctx=Load), "
             "ExprName[13..14]"
             "(id=\"b\", ctx=Load)], ctx=Load, parenthesized=false), body=[StmtPass[16..20]])]"},
        Case{"for x in y:\n    pass\nelse:\n    pass\n",
             "[StmtFor[0..35](is_async=false, target=ExprName[4..5](id=\"x\", ctx=Store), "
             "iter=ExprName[9..10]"
             "(id=\"y\", ctx=Load), body=[StmtPass[16..20]], orelse=[StmtPass[31..35]])]"},
        Case{"for f() in y: pass\n", "", "Invalid assignment target at byte range 4..7"},
        Case{"for x y: pass\n", "", "Expected `in`, found name at byte range 6..7"},
        Case{"while x pass\n", "", "Expected `:`, found `pass` at byte range 8..12"}));

INSTANTIATE_TEST_SUITE_P(
    Async, CompoundStatement,
    ::testing::Values(
        Case{"async for x in y: pass\n",
             "[StmtFor[0..22](is_async=true, target=ExprName[10..11](id=\"x\", ctx=Store), "
             "iter=ExprName[15..16]"
             "(id=\"y\", ctx=Load), body=[StmtPass[18..22]])]"},
        Case{"async with a: pass\n",
             "[StmtWith[0..18](is_async=true, "
             "items=[WithItem[11..12](context_expr=ExprName[11..12](id=\"a\", "
             "ctx=Load))], body=[StmtPass[14..18]])]"},
        Case{"async def f(): pass\n",
             "[StmtFunctionDef[0..19](is_async=true, name=\"f\"[10..11], "
             "parameters=Parameters[11..13], "
             "body=[StmtPass[15..19]])]"},
        Case{"async x = 1\n",
             "[StmtAssign[6..11](targets=[ExprName[6..7](id=\"x\", ctx=Store)], "
             "value=ExprNumberLiteral[10..11]"
             "(value=1))]",
             "Expected `def`, `with` or `for` to follow `async`, found name at byte range 6..7"},
        Case{
            "async async def f(): pass\n",
            "[StmtFunctionDef[6..25](is_async=true, name=\"f\"[16..17], "
            "parameters=Parameters[17..19], "
            "body=[StmtPass[21..25]])]",
            "Expected `def`, `with` or `for` to follow `async`, found `async` at byte range 6..11"},
        Case{"async\n", "",
             "Expected `def`, `with` or `for` to follow `async`, found newline at byte range "
             "5..6"}));

INSTANTIATE_TEST_SUITE_P(
    Decorators, CompoundStatement,
    ::testing::Values(Case{"@a.b(c)\n@d\ndef f(): pass\n",
                           "[StmtFunctionDef[0..24](is_async=false, "
                           "decorator_list=[Decorator[0..7](expression=ExprCall[1..7]"
                           "(func=ExprAttribute[1..4](value=ExprName[1..2](id=\"a\", ctx=Load), "
                           "attr=\"b\"[3..4], ctx=Load), "
                           "arguments=Arguments[4..7](args=[ExprName[5..6](id=\"c\", "
                           "ctx=Load)]))), Decorator[8..10]"
                           "(expression=ExprName[9..10](id=\"d\", ctx=Load))], name=\"f\"[15..16], "
                           "parameters=Parameters[16..18], "
                           "body=[StmtPass[20..24]])]"},
                      Case{"@d\nasync def f(): pass\n",
                           "[StmtFunctionDef[0..22](is_async=true, "
                           "decorator_list=[Decorator[0..2](expression=ExprName[1..2]"
                           "(id=\"d\", ctx=Load))], name=\"f\"[13..14], "
                           "parameters=Parameters[14..16], body=[StmtPass[18..22]])]"},
                      Case{"@d\nclass C: pass\n",
                           "[StmtClassDef[0..16](decorator_list=[Decorator[0..2](expression="
                           "ExprName[1..2](id=\"d\", "
                           "ctx=Load))], name=\"C\"[9..10], body=[StmtPass[12..16]])]"},
                      Case{"@d\nx = 1\n",
                           "[StmtFunctionDef[0..2](is_async=false, "
                           "decorator_list=[Decorator[0..2](expression=ExprName[1..2]"
                           "(id=\"d\", ctx=Load))], name=\"\"[2..2], parameters=Parameters[2..2]), "
                           "StmtAssign[3..8]"
                           "(targets=[ExprName[3..4](id=\"x\", ctx=Store)], "
                           "value=ExprNumberLiteral[7..8](value=1))]",
                           "Expected class, function definition or async function definition after "
                           "decorator at byte range "
                           "3..4"},
                      Case{"@d\nasync x\n", "",
                           "Expected class, function definition or async function definition after "
                           "decorator at byte range "
                           "3..8"},
                      Case{"@def f(): pass\n",
                           "[StmtFunctionDef[0..14](is_async=false, "
                           "decorator_list=[Decorator[0..1](expression=ExprName[1..1]"
                           "(id=\"\", ctx=Invalid))], name=\"f\"[5..6], "
                           "parameters=Parameters[6..8], body=[StmtPass[10..14]])]",
                           "Expected an identifier at byte range 1..4"},
                      Case{"@d x\ndef f(): pass\n", "",
                           "Expected newline, found name at byte range 3..4"}));

INSTANTIATE_TEST_SUITE_P(
    Try, CompoundStatement,
    ::testing::Values(
        Case{"try:\n    a\nexcept (A, B) as e:\n    b\nelse:\n    c\nfinally:\n    d\n",
             "[StmtTry[0..63](body=[StmtExpr[9..10](value=ExprName[9..10](id=\"a\", ctx=Load))], "
             "handlers=[ExceptHandlerExceptHandler[11..36](type=ExprTuple[18..24](elts=["
             "ExprName[19..20](id=\"A\", ctx=Load), ExprName[22..23](id=\"B\", ctx=Load)], "
             "ctx=Load, "
             "parenthesized=true), "
             "name=\"e\"[28..29], body=[StmtExpr[35..36](value=ExprName[35..36](id=\"b\", "
             "ctx=Load))])], "
             "orelse=[StmtExpr[47..48](value=ExprName[47..48](id=\"c\", ctx=Load))], "
             "finalbody=[StmtExpr[62..63](value=ExprName[62..63](id=\"d\", ctx=Load))], "
             "is_star=false)]"},
        Case{"try:\n    pass\nexcept* E:\n    pass\n",
             "[StmtTry[0..33](body=[StmtPass[9..13]], handlers=[ExceptHandlerExceptHandler[14..33]"
             "(type=ExprName[22..23](id=\"E\", ctx=Load), body=[StmtPass[29..33]])], "
             "is_star=true)]"},
        Case{"try:\n    pass\nfinally:\n    pass\n",
             "[StmtTry[0..31](body=[StmtPass[9..13]], finalbody=[StmtPass[27..31]], "
             "is_star=false)]"},
        Case{"try:\n    pass\nexcept A, B:\n    pass\n",
             "[StmtTry[0..35](body=[StmtPass[9..13]], handlers=[ExceptHandlerExceptHandler[14..35]"
             "(type=ExprTuple[21..25](elts=[ExprName[21..22](id=\"A\", ctx=Load), "
             "ExprName[24..25](id=\"B\", "
             "ctx=Load)], ctx=Load, parenthesized=false), body=[StmtPass[31..35]])], "
             "is_star=false)]"},
        Case{"try:\n    pass\nexcept:\n    pass\n",
             "[StmtTry[0..30](body=[StmtPass[9..13]], handlers=[ExceptHandlerExceptHandler[14..30]"
             "(body=[StmtPass[26..30]])], is_star=false)]"},
        Case{"try:\n    pass\nexcept* A:\n    pass\nexcept B:\n    pass\n", "",
             "Cannot have both 'except' and 'except*' on the same 'try' at byte range 34..52"},
        Case{"try:\n    pass\nexcept A, B as e:\n    pass\n", "",
             "Multiple exception types must be parenthesized when using `as` at byte range 21..25"},
        Case{"try:\n    pass\nexcept* :\n    pass\n", "",
             "Expected one or more exception types at byte range 22..23"},
        Case{"try:\n    pass\nexcept as e:\n    pass\n", "",
             "Expected one or more exception types at byte range 21..23"},
        Case{"try:\n    pass\nexcept E as:\n    pass\n", "",
             "Expected name after `as` at byte range 25..26"},
        Case{"try:\n    pass\nelse:\n    pass\nx\n", "",
             "Expected `except` or `finally` after `try` block at byte range 29..30"},
        Case{"try:\n    pass\nx = 1\n", "",
             "Expected `except` or `finally` after `try` block at byte range 14..15"},
        Case{"try:\n    pass\nfinally:\n    pass\nelse:\n    pass\n", "",
             "`else` block must come before `finally` block at byte range 32..36"}));

INSTANTIATE_TEST_SUITE_P(
    Match, CompoundStatement,
    ::testing::Values(
        Case{
            "match x:\n    case 1:\n        pass\n",
            "[StmtMatch[0..33](subject=ExprName[6..7](id=\"x\", ctx=Load), cases=[MatchCase[13..33]"
            "(pattern=PatternMatchValue[18..19](value=ExprNumberLiteral[18..19](value=1)), "
            "body=[StmtPass[29..33]])])]"},
        Case{
            "match (x):\n    case 1:\n        pass\n",
            "[StmtMatch[0..35](subject=ExprName[7..8](id=\"x\", ctx=Load), cases=[MatchCase[15..35]"
            "(pattern=PatternMatchValue[20..21](value=ExprNumberLiteral[20..21](value=1)), "
            "body=[StmtPass[31..35]])])]"},
        Case{"match -x:\n    case 1: pass\n",
             "[StmtMatch[0..26](subject=ExprUnaryOp[6..8](op=USub, "
             "operand=ExprName[7..8](id=\"x\", ctx=Load)), "
             "cases=[MatchCase[14..26](pattern=PatternMatchValue[19..20]("
             "value=ExprNumberLiteral[19..20](value=1)), body=[StmtPass[22..26]])])]"},
        Case{"match(x)\n",
             "[StmtExpr[0..8](value=ExprCall[0..8](func=ExprName[0..5](id=\"match\", ctx=Load), "
             "arguments=Arguments[5..8](args=[ExprName[6..7](id=\"x\", ctx=Load)])))]"},
        // The failed attempt leaves none of its errors behind.
        Case{"match(*a)\n",
             "[StmtExpr[0..9](value=ExprCall[0..9](func=ExprName[0..5](id=\"match\", ctx=Load), "
             "arguments=Arguments[5..9](args=[ExprStarred[6..8](value=ExprName[7..8](id=\"a\", "
             "ctx=Load), "
             "ctx=Load)])))]"},
        Case{"match [a]\n",
             "[StmtExpr[0..9](value=ExprSubscript[0..9](value=ExprName[0..5](id=\"match\", "
             "ctx=Load), "
             "slice=ExprName[7..8](id=\"a\", ctx=Load), ctx=Load))]"},
        Case{"match = 3\n",
             "[StmtAssign[0..9](targets=[ExprName[0..5](id=\"match\", ctx=Store)], "
             "value=ExprNumberLiteral[8..9]"
             "(value=3))]"},
        Case{"match.x = 1\n",
             "[StmtAssign[0..11](targets=[ExprAttribute[0..7](value=ExprName[0..5](id=\"match\", "
             "ctx=Load), "
             "attr=\"x\"[6..7], ctx=Store)], value=ExprNumberLiteral[10..11](value=1))]"},
        Case{"match[a] = b\n",
             "[StmtAssign[0..12](targets=[ExprSubscript[0..8](value=ExprName[0..5](id=\"match\", "
             "ctx=Load), "
             "slice=ExprName[6..7](id=\"a\", ctx=Load), ctx=Store)], "
             "value=ExprName[11..12](id=\"b\", ctx=Load))]"},
        Case{"match not in y\n",
             "[StmtExpr[0..14](value=ExprCompare[0..14](left=ExprName[0..5](id=\"match\", "
             "ctx=Load), ops=[NotIn], "
             "comparators=[ExprName[13..14](id=\"y\", ctx=Load)]))]"},
        Case{"match\n", "[StmtExpr[0..5](value=ExprName[0..5](id=\"match\", ctx=Load))]"},
        Case{
            "match (x)\n    case 1: pass\n",
            "[StmtMatch[0..26](subject=ExprName[7..8](id=\"x\", ctx=Load), cases=[MatchCase[14..26]"
            "(pattern=PatternMatchValue[19..20](value=ExprNumberLiteral[19..20](value=1)), "
            "body=[StmtPass[22..26]])])]",
            "Expected `:`, found newline at byte range 9..10"},
        Case{"match x\n    case 1: pass\n", "", "Expected `:`, found newline at byte range 7..8"},
        Case{"match x:\npass\n", "",
             "Expected an indented block after `match` statement at byte range 9..13"},
        Case{"match x:\n    pass\n", "", "Expected `case` block at byte range 13..17"},
        Case{"match (x):\n", "",
             "Expected an indented block after `match` statement at byte range 11..11"}));

// A long `elif` chain is read in a loop, not by recursion.
TEST(CompoundStatementTest, LongElifChain) {
    constexpr int CLAUSES = 100000;
    std::string source = "if a: pass\n";
    for (int i = 0; i < CLAUSES; ++i)
        source += "elif a: pass\n";
    source += "else: pass\n";
    Parsed parsed = parse_module_unchecked(source);
    ASSERT_TRUE(parsed.errors.empty()) << parsed.errors.front().display();
    ASSERT_EQ(parsed.syntax.body.size(), 1u);
    const auto* stmt = parsed.syntax.body[0].as<python_ast::StmtIf>();
    ASSERT_NE(stmt, nullptr);
    EXPECT_EQ(stmt->elif_else_clauses.size(), size_t{CLAUSES + 1});
    EXPECT_EQ(stmt->range.end(), source.size() - 1);
}

// Blocks nested ten thousand levels deep end in the nesting error instead of exhausting the
// stack; what lies past the limit is skipped.
TEST(CompoundStatementTest, DeepBlocksStopAtTheNestingLimit) {
    constexpr int LEVELS = 10000;
    std::string source;
    source.reserve(size_t{LEVELS} * (LEVELS / 2 + 8));
    for (int i = 0; i < LEVELS; ++i) {
        source.append(static_cast<size_t>(i), ' ');
        source += "if x:\n";
    }
    source.append(size_t{LEVELS}, ' ');
    source += "pass\n";
    Parsed parsed = parse_module_unchecked(source);
    ASSERT_FALSE(parsed.errors.empty());
    EXPECT_TRUE(
        parsed.errors.front().display().starts_with("Expression nested too deeply at byte range"))
        << parsed.errors.front().display();
    ASSERT_EQ(parsed.syntax.body.size(), 1u);
    EXPECT_TRUE(parsed.syntax.body[0].is<python_ast::StmtIf>());
}

// Two hundred nested blocks are well inside the limit and parse without error.
TEST(CompoundStatementTest, NestedBlocksWithinTheLimit) {
    constexpr int LEVELS = 200;
    std::string source;
    for (int i = 0; i < LEVELS; ++i) {
        source.append(static_cast<size_t>(i), ' ');
        source += "while x:\n";
    }
    source.append(size_t{LEVELS}, ' ');
    source += "pass\n";
    Parsed parsed = parse_module_unchecked(source);
    EXPECT_TRUE(parsed.errors.empty()) << parsed.errors.front().display();
    const python_ast::Stmt* stmt = &parsed.syntax.body.at(0);
    int depth = 0;
    while (const auto* loop = stmt->as<python_ast::StmtWhile>()) {
        ++depth;
        ASSERT_EQ(loop->body.size(), 1u);
        stmt = &loop->body[0];
    }
    EXPECT_EQ(depth, LEVELS);
    EXPECT_TRUE(stmt->is<python_ast::StmtPass>());
}

}  // namespace
}  // namespace rudo::python_parser

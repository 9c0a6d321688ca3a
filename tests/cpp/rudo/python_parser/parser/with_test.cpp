// With statements: item lists with and without parentheses, the `with (` decision, targets,
// ranges, and the first error of every invalid form.
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

TEST(WithStatement, Items) {
    expect_first_statements({
        {"with a as b, c as d: pass",
         R"(StmtWith[0..25](is_async=false, items=[WithItem[5..11](context_expr=ExprName[5..6](id="a", ctx=Load), )"
         R"(optional_vars=ExprName[10..11](id="b", ctx=Store)), WithItem[13..19](context_expr=ExprName[13..14](id="c", ctx=Load), )"
         R"(optional_vars=ExprName[18..19](id="d", ctx=Store))], body=[StmtPass[21..25]]))"},
        {"async with a: pass",
         R"(StmtWith[0..18](is_async=true, items=[WithItem[11..12](context_expr=ExprName[11..12](id="a", ctx=Load))], )"
         R"(body=[StmtPass[14..18]]))"},
        // A target is a conditional-level expression: a parenthesized tuple is one target.
        {"with a as (b, c): pass",
         R"(StmtWith[0..22](is_async=false, items=[WithItem[5..16](context_expr=ExprName[5..6](id="a", ctx=Load), )"
         R"(optional_vars=ExprTuple[10..16](elts=[ExprName[11..12](id="b", ctx=Store), ExprName[14..15](id="c", ctx=Store)], )"
         R"(ctx=Store, parenthesized=true))], body=[StmtPass[18..22]]))"},
        {"with a:\n    with b:\n        pass\n",
         R"(StmtWith[0..32](is_async=false, items=[WithItem[5..6](context_expr=ExprName[5..6](id="a", ctx=Load))], )"
         R"(body=[StmtWith[12..32](is_async=false, items=[WithItem[17..18](context_expr=ExprName[17..18](id="b", ctx=Load))], )"
         R"(body=[StmtPass[28..32]])]))"},
    });
}

TEST(WithStatement, ParenthesizedItemsOrExpression) {
    expect_first_statements({
        // Read as a list of items.
        {"with (a, b): pass",
         R"(StmtWith[0..17](is_async=false, items=[WithItem[6..7](context_expr=ExprName[6..7](id="a", ctx=Load)), )"
         R"(WithItem[9..10](context_expr=ExprName[9..10](id="b", ctx=Load))], body=[StmtPass[13..17]]))"},
        {"with (a): pass",
         R"(StmtWith[0..14](is_async=false, items=[WithItem[6..7](context_expr=ExprName[6..7](id="a", ctx=Load))], )"
         R"(body=[StmtPass[10..14]]))"},
        {"with (a,): pass",
         R"(StmtWith[0..15](is_async=false, items=[WithItem[6..7](context_expr=ExprName[6..7](id="a", ctx=Load))], )"
         R"(body=[StmtPass[11..15]]))"},
        {"with (a as x, b): pass",
         R"(StmtWith[0..22](is_async=false, items=[WithItem[6..12](context_expr=ExprName[6..7](id="a", ctx=Load), )"
         R"(optional_vars=ExprName[11..12](id="x", ctx=Store)), WithItem[14..15](context_expr=ExprName[14..15](id="b", ctx=Load))], )"
         R"(body=[StmtPass[18..22]]))"},
        {"with (a as b, c as d,): pass",
         R"(StmtWith[0..28](is_async=false, items=[WithItem[6..12](context_expr=ExprName[6..7](id="a", ctx=Load), )"
         R"(optional_vars=ExprName[11..12](id="b", ctx=Store)), WithItem[14..20](context_expr=ExprName[14..15](id="c", ctx=Load), )"
         R"(optional_vars=ExprName[19..20](id="d", ctx=Store))], body=[StmtPass[24..28]]))"},
        // Read again as an expression: the parenthesis belongs to the first context expression.
        {"with (a, b) as c: pass",
         R"(StmtWith[0..22](is_async=false, items=[WithItem[5..16](context_expr=ExprTuple[5..11](elts=[)"
         R"(ExprName[6..7](id="a", ctx=Load), ExprName[9..10](id="b", ctx=Load)], ctx=Load, parenthesized=true), )"
         R"(optional_vars=ExprName[15..16](id="c", ctx=Store))], body=[StmtPass[18..22]]))"},
        {"with (a) as b: pass",
         R"(StmtWith[0..19](is_async=false, items=[WithItem[5..13](context_expr=ExprName[6..7](id="a", ctx=Load), )"
         R"(optional_vars=ExprName[12..13](id="b", ctx=Store))], body=[StmtPass[15..19]]))"},
        {"with (a), b: pass",
         R"(StmtWith[0..17](is_async=false, items=[WithItem[5..8](context_expr=ExprName[6..7](id="a", ctx=Load)), )"
         R"(WithItem[10..11](context_expr=ExprName[10..11](id="b", ctx=Load))], body=[StmtPass[13..17]]))"},
        {"with (a).b: pass",
         R"(StmtWith[0..16](is_async=false, items=[WithItem[5..10](context_expr=ExprAttribute[5..10](value=)"
         R"(ExprName[6..7](id="a", ctx=Load), attr="b"[9..10], ctx=Load))], body=[StmtPass[12..16]]))"},
        {"with (yield x): pass",
         R"(StmtWith[0..20](is_async=false, items=[WithItem[5..14](context_expr=ExprYield[6..13](value=)"
         R"(ExprName[12..13](id="x", ctx=Load)))], body=[StmtPass[16..20]]))"},
        {"with (a := 1): pass",
         R"(StmtWith[0..19](is_async=false, items=[WithItem[5..13](context_expr=ExprNamedExpr[6..12](target=)"
         R"(ExprName[6..7](id="a", ctx=Store), value=ExprNumberLiteral[11..12](value=1)))], body=[StmtPass[15..19]]))"},
        {"with (*a, b): pass",
         R"(StmtWith[0..18](is_async=false, items=[WithItem[5..12](context_expr=ExprTuple[5..12](elts=[)"
         R"(ExprStarred[6..8](value=ExprName[7..8](id="a", ctx=Load), ctx=Load), ExprName[10..11](id="b", ctx=Load)], )"
         R"(ctx=Load, parenthesized=true))], body=[StmtPass[14..18]]))"},
        {"with (): pass",
         R"(StmtWith[0..13](is_async=false, items=[WithItem[5..7](context_expr=ExprTuple[5..7](ctx=Load, )"
         R"(parenthesized=true))], body=[StmtPass[9..13]]))"},
        // Parentheses of its own make a named expression fine in an item list.
        {"with (a as b, (c := 1)): pass",
         R"(StmtWith[0..29](is_async=false, items=[WithItem[6..12](context_expr=ExprName[6..7](id="a", ctx=Load), )"
         R"(optional_vars=ExprName[11..12](id="b", ctx=Store)), WithItem[14..22](context_expr=ExprNamedExpr[15..21](target=)"
         R"(ExprName[15..16](id="c", ctx=Store), value=ExprNumberLiteral[20..21](value=1)))], body=[StmtPass[25..29]]))"},
    });
}

TEST(WithStatement, FirstErrors) {
    expect_first_errors({
        {"with (a as b, c := 1): pass",
         "Unparenthesized named expression cannot be used here at byte range 14..20"},
        {"with (a as x, yield y): pass",
         "Yield expression cannot be used here at byte range 14..21"},
        {"with (a as x, *b): pass", "Starred expression cannot be used here at byte range 14..16"},
        {"with a,: pass", "Trailing comma not allowed at byte range 6..7"},
        {"with a, b,: pass", "Trailing comma not allowed at byte range 9..10"},
        // The list after a rejected `with (` allows no trailing comma either.
        {"with (a), b,: pass", "Trailing comma not allowed at byte range 11..12"},
        {"with: pass",
         "Expected the start of an expression after `with` keyword at byte range 4..5"},
        {"with\n", "Expected the start of an expression after `with` keyword at byte range 4..5"},
        {"with a pass", "Expected `:`, found `pass` at byte range 7..11"},
        {"with (a as b: pass", "Expected `)`, found `:` at byte range 12..13"},
        {"with a as f(): pass", "Invalid assignment target at byte range 10..13"},
        {"with a:\nx", "Expected an indented block after `with` statement at byte range 8..9"},
    });
}

}  // namespace

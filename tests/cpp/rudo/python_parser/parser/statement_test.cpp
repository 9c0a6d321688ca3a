// Simple statements: the tree and ranges of every form, and the first error of every way to get
// one wrong.
#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "rudo/python_ast/dump.h"
#include "rudo/python_parser/parser/parse.h"
#include "rudo/python_parser/parser/parse_case.h"

namespace rudo::python_parser {
namespace {

using Case = test::ModuleCase;

class SimpleStatement : public ::testing::TestWithParam<Case> {};
TEST_P(SimpleStatement, TreeAndFirstError) {
    test::check_module(GetParam());
}

INSTANTIATE_TEST_SUITE_P(
    Keywords, SimpleStatement,
    ::testing::Values(
        Case{"pass\n", "[StmtPass[0..4]]"},
        Case{"break; continue\n", "[StmtBreak[0..5], StmtContinue[7..15]]"},
        Case{"return\n", "[StmtReturn[0..6]]"},
        Case{"return *a, b\n",
             "[StmtReturn[0..12](value=ExprTuple[7..12](elts=[ExprStarred[7..9]("
             "value=ExprName[8..9](id=\"a\", ctx=Load), ctx=Load), ExprName[11..12](id=\"b\", "
             "ctx=Load)], ctx=Load, "
             "parenthesized=false))]"},
        Case{"return yield x\n", "", "Yield expression cannot be used here at byte range 7..14"},
        Case{"assert x\n", "[StmtAssert[0..8](test=ExprName[7..8](id=\"x\", ctx=Load))]"},
        Case{"assert x, y\n",
             "[StmtAssert[0..11](test=ExprName[7..8](id=\"x\", ctx=Load), "
             "msg=ExprName[10..11](id=\"y\", "
             "ctx=Load))]"},
        Case{"assert x, \n", "[StmtAssert[0..9](test=ExprName[7..8](id=\"x\", ctx=Load))]",
             "Expected an expression at byte range 10..11"}));

INSTANTIATE_TEST_SUITE_P(
    Raise, SimpleStatement,
    ::testing::Values(
        Case{"raise\n", "[StmtRaise[0..5]]"},
        // A bare `raise` also ends at a `;`.
        Case{"raise; x\n",
             "[StmtRaise[0..5], StmtExpr[7..8](value=ExprName[7..8](id=\"x\", ctx=Load))]"},
        Case{"if e: raise; x = 1\n",
             "[StmtIf[0..18](test=ExprName[3..4](id=\"e\", ctx=Load), body=[StmtRaise[6..11], "
             "StmtAssign[13..18](targets=[ExprName[13..14](id=\"x\", ctx=Store)], "
             "value=ExprNumberLiteral[17..18](value=1))])]"},
        Case{"raise E from c\n",
             "[StmtRaise[0..14](exc=ExprName[6..7](id=\"E\", ctx=Load), "
             "cause=ExprName[13..14](id=\"c\", "
             "ctx=Load))]"},
        Case{"raise (a, b)\n",
             "[StmtRaise[0..12](exc=ExprTuple[6..12](elts=[ExprName[7..8](id=\"a\", ctx=Load), "
             "ExprName[10..11](id=\"b\", ctx=Load)], ctx=Load, parenthesized=true))]"},
        Case{"raise from x\n", "[StmtRaise[0..12](cause=ExprName[11..12](id=\"x\", ctx=Load))]",
             "Exception missing in `raise` statement with cause at byte range 6..10"},
        Case{"raise a, b\n", "",
             "Unparenthesized tuple expression cannot be used here at byte range 6..10"},
        Case{"raise E from a, b\n", "",
             "Unparenthesized tuple expression cannot be used here at byte range 13..17"}));

INSTANTIATE_TEST_SUITE_P(
    Delete, SimpleStatement,
    ::testing::Values(
        Case{"del a, (b, c), d[0]\n",
             "[StmtDelete[0..19](targets=[ExprName[4..5](id=\"a\", ctx=Del), "
             "ExprTuple[7..13](elts=[ExprName[8..9]"
             "(id=\"b\", ctx=Del), ExprName[11..12](id=\"c\", ctx=Del)], ctx=Del, "
             "parenthesized=true), "
             "ExprSubscript[15..19](value=ExprName[15..16](id=\"d\", ctx=Load), "
             "slice=ExprNumberLiteral[17..18]"
             "(value=0), ctx=Del)])]"},
        Case{"del a,\n", "[StmtDelete[0..6](targets=[ExprName[4..5](id=\"a\", ctx=Del)])]"},
        Case{"del [a, b.c]\n",
             "[StmtDelete[0..12](targets=[ExprList[4..12](elts=[ExprName[5..6](id=\"a\", ctx=Del), "
             "ExprAttribute[8..11](value=ExprName[8..9](id=\"b\", ctx=Load), attr=\"c\"[10..11], "
             "ctx=Del)], "
             "ctx=Del)])]"},
        Case{"del\n", "[StmtDelete[0..3]]",
             "Delete statement must have at least one target at byte range 3..4"},
        Case{"del *a\n", "", "Invalid delete target at byte range 4..6"},
        Case{"del f()\n", "", "Invalid delete target at byte range 4..7"},
        Case{"del (a, f())\n", "", "Invalid delete target at byte range 8..11"},
        Case{"del a b\n", "", "Expected `,`, found name at byte range 6..7"},
        Case{"del )\n", "", "Expected a delete target at byte range 4..5"}));

INSTANTIATE_TEST_SUITE_P(
    GlobalNonlocal, SimpleStatement,
    ::testing::Values(
        Case{"global a, b\n", "[StmtGlobal[0..11](names=[\"a\"[7..8], \"b\"[10..11]])]"},
        Case{"global match, type\n",
             "[StmtGlobal[0..18](names=[\"match\"[7..12], \"type\"[14..18]])]"},
        Case{"nonlocal x\n", "[StmtNonlocal[0..10](names=[\"x\"[9..10]])]"},
        Case{"global\n", "[StmtGlobal[0..6]]",
             "Global statement must have at least one name at byte range 6..7"},
        Case{"nonlocal\n", "[StmtNonlocal[0..8]]",
             "Nonlocal statement must have at least one name at byte range 8..9"},
        Case{"global a,\n", "[StmtGlobal[0..9](names=[\"a\"[7..8]])]",
             "Trailing comma not allowed at byte range 8..9"},
        Case{"nonlocal a, b,\n", "", "Trailing comma not allowed at byte range 13..14"},
        Case{"global a b\n", "[StmtGlobal[0..10](names=[\"a\"[7..8], \"b\"[9..10]])]",
             "Expected `,`, found name at byte range 9..10"},
        Case{"global , a\n", "[StmtGlobal[0..10](names=[\"a\"[9..10]])]",
             "Expected an identifier at byte range 7..8"}));

INSTANTIATE_TEST_SUITE_P(
    Import, SimpleStatement,
    ::testing::Values(
        Case{"import a.b as c, d\n",
             "[StmtImport[0..18](names=[Alias[7..15](name=\"a.b\"[7..10], asname=\"c\"[14..15]), "
             "Alias[17..18](name=\"d\"[17..18])])]"},
        Case{"import a.b.c\n", "[StmtImport[0..12](names=[Alias[7..12](name=\"a.b.c\"[7..12])])]"},
        Case{"import match as type\n",
             "[StmtImport[0..20](names=[Alias[7..20](name=\"match\"[7..12], "
             "asname=\"type\"[16..20])])]"},
        Case{"import\n", "[StmtImport[0..6]]",
             "Expected one or more symbol names after import at byte range 6..7"},
        // `*` is no element of a plain import: the list is empty and `*` is left over.
        Case{"import *\n", "", "Expected one or more symbol names after import at byte range 7..8"},
        Case{"import a,\n", "", "Trailing comma not allowed at byte range 8..9"},
        Case{"import a as\n", "[StmtImport[0..11](names=[Alias[7..11](name=\"a\"[7..8])])]",
             "Expected symbol after `as` at byte range 11..12"},
        Case{"import a.\n", "", "Expected an identifier at byte range 9..10"},
        Case{"import )\n", "", "Expected an import name at byte range 7..8"}));

INSTANTIATE_TEST_SUITE_P(
    FromImport, SimpleStatement,
    ::testing::Values(
        Case{"from . import a\n",
             "[StmtImportFrom[0..15](names=[Alias[14..15](name=\"a\"[14..15])], level=1)]"},
        Case{"from .. import a\n",
             "[StmtImportFrom[0..16](names=[Alias[15..16](name=\"a\"[15..16])], level=2)]"},
        Case{"from ... import a\n",
             "[StmtImportFrom[0..17](names=[Alias[16..17](name=\"a\"[16..17])], level=3)]"},
        Case{"from .... import a\n",
             "[StmtImportFrom[0..18](names=[Alias[17..18](name=\"a\"[17..18])], level=4)]"},
        Case{"from ...pkg.mod import b as c\n",
             "[StmtImportFrom[0..29](module=\"pkg.mod\"[8..15], "
             "names=[Alias[23..29](name=\"b\"[23..24], "
             "asname=\"c\"[28..29])], level=3)]"},
        Case{"from m import *\n",
             "[StmtImportFrom[0..15](module=\"m\"[5..6], "
             "names=[Alias[14..15](name=\"*\"[14..15])], level=0)]"},
        Case{"from m import (*)\n",
             "[StmtImportFrom[0..17](module=\"m\"[5..6], "
             "names=[Alias[15..16](name=\"*\"[15..16])], level=0)]"},
        Case{"from m import (a, b,)\n",
             "[StmtImportFrom[0..21](module=\"m\"[5..6], names=[Alias[15..16](name=\"a\"[15..16]), "
             "Alias[18..19](name=\"b\"[18..19])], level=0)]"},
        Case{"from m import (a as b,\n    c)\n",
             "[StmtImportFrom[0..29](module=\"m\"[5..6], names=[Alias[15..21](name=\"a\"[15..16], "
             "asname=\"b\"[20..21]), Alias[27..28](name=\"c\"[27..28])], level=0)]"},
        Case{"from import a\n",
             "[StmtImportFrom[0..13](names=[Alias[12..13](name=\"a\"[12..13])], level=0)]",
             "Expected a module name at byte range 5..11"},
        Case{"from m a\n", "", "Expected `import`, found name at byte range 7..8"},
        Case{"from m import\n", "",
             "Expected one or more symbol names after import at byte range 13..14"},
        Case{"from m import a, b,\n", "", "Trailing comma not allowed at byte range 18..19"},
        Case{"from m import a as\n", "", "Expected symbol after `as` at byte range 18..19"},
        Case{"from m import a, *\n", "",
             "Star import must be the only import at byte range 14..18"},
        Case{"from m import *, a\n", "",
             "Star import must be the only import at byte range 14..18"},
        Case{"from m import (*, a)\n", "",
             "Star import must be the only import at byte range 14..19"},
        Case{"from m import (a, 1)\n", "", "Expected `)`, found int at byte range 18..19"},
        Case{"from m import (=)\n", "", "Expected an import name or a ')' at byte range 15..16"}));

INSTANTIATE_TEST_SUITE_P(
    TypeAlias, SimpleStatement,
    ::testing::Values(
        Case{"type X = int\n",
             "[StmtTypeAlias[0..12](name=ExprName[5..6](id=\"X\", ctx=Store), "
             "value=ExprName[9..12](id=\"int\", "
             "ctx=Load))]"},
        Case{"type X[T] = list[T]\n",
             "[StmtTypeAlias[0..19](name=ExprName[5..6](id=\"X\", ctx=Store), "
             "type_params=TypeParams[6..9]"
             "(type_params=[TypeParamTypeVar[7..8](name=\"T\"[7..8])]), value=ExprSubscript[12..19]"
             "(value=ExprName[12..16](id=\"list\", ctx=Load), slice=ExprName[17..18](id=\"T\", "
             "ctx=Load), "
             "ctx=Load))]"},
        Case{"type match = 1\n",
             "[StmtTypeAlias[0..14](name=ExprName[5..10](id=\"match\", ctx=Store), "
             "value=ExprNumberLiteral[13..14](value=1))]"},
        Case{"type = 1\n",
             "[StmtAssign[0..8](targets=[ExprName[0..4](id=\"type\", ctx=Store)], "
             "value=ExprNumberLiteral[7..8](value=1))]"},
        Case{"type(x)\n",
             "[StmtExpr[0..7](value=ExprCall[0..7](func=ExprName[0..4](id=\"type\", ctx=Load), "
             "arguments=Arguments[4..7](args=[ExprName[5..6](id=\"x\", ctx=Load)])))]"},
        Case{"type.x = 1\n",
             "[StmtAssign[0..10](targets=[ExprAttribute[0..6](value=ExprName[0..4](id=\"type\", "
             "ctx=Load), "
             "attr=\"x\"[5..6], ctx=Store)], value=ExprNumberLiteral[9..10](value=1))]"},
        Case{"type X[T]\n", "", "Expected `=`, found newline at byte range 9..10"}));

INSTANTIATE_TEST_SUITE_P(
    ExpressionStatement, SimpleStatement,
    ::testing::Values(
        Case{"f(x)\n",
             "[StmtExpr[0..4](value=ExprCall[0..4](func=ExprName[0..1](id=\"f\", ctx=Load), "
             "arguments=Arguments[1..4](args=[ExprName[2..3](id=\"x\", ctx=Load)])))]"},
        Case{"*a, b\n",
             "[StmtExpr[0..5](value=ExprTuple[0..5](elts=[ExprStarred[0..2](value=ExprName[1..2]("
             "id=\"a\", "
             "ctx=Load), ctx=Load), ExprName[4..5](id=\"b\", ctx=Load)], ctx=Load, "
             "parenthesized=false))]"},
        // The statement starts at the parenthesis, the expression inside it.
        Case{"(a)\n", "[StmtExpr[0..3](value=ExprName[1..2](id=\"a\", ctx=Load))]"},
        Case{"yield\n", "[StmtExpr[0..5](value=ExprYield[0..5])]"}));

INSTANTIATE_TEST_SUITE_P(
    AnnotatedAssignment, SimpleStatement,
    ::testing::Values(
        Case{"x: int\n",
             "[StmtAnnAssign[0..6](target=ExprName[0..1](id=\"x\", ctx=Store), "
             "annotation=ExprName[3..6]"
             "(id=\"int\", ctx=Load), simple=true)]"},
        Case{"(x): int = 1\n",
             "[StmtAnnAssign[0..12](target=ExprName[1..2](id=\"x\", ctx=Store), "
             "annotation=ExprName[5..8]"
             "(id=\"int\", ctx=Load), value=ExprNumberLiteral[11..12](value=1), simple=false)]"},
        Case{"a.b: int\n",
             "[StmtAnnAssign[0..8](target=ExprAttribute[0..3](value=ExprName[0..1](id=\"a\", "
             "ctx=Load), "
             "attr=\"b\"[2..3], ctx=Store), annotation=ExprName[5..8](id=\"int\", ctx=Load), "
             "simple=false)]"},
        Case{"x: int = yield\n",
             "[StmtAnnAssign[0..14](target=ExprName[0..1](id=\"x\", ctx=Store), "
             "annotation=ExprName[3..6]"
             "(id=\"int\", ctx=Load), value=ExprYield[9..14], simple=true)]"},
        Case{"x: int =\n",
             "[StmtAnnAssign[0..8](target=ExprName[0..1](id=\"x\", ctx=Store), "
             "annotation=ExprName[3..6]"
             "(id=\"int\", ctx=Load), simple=true)]",
             "Expected an expression at byte range 8..9"},
        Case{"[a, b]: int\n", "",
             "Only single target (not list) can be annotated at byte range 0..6"},
        Case{"a, b: int\n", "",
             "Only single target (not tuple) can be annotated at byte range 0..4"},
        Case{"*a: int\n", "", "Invalid annotated assignment target at byte range 0..2"},
        Case{"f(): int\n", "", "Invalid annotated assignment target at byte range 0..3"}));

INSTANTIATE_TEST_SUITE_P(
    Assignment, SimpleStatement,
    ::testing::Values(
        Case{"a = b = c\n",
             "[StmtAssign[0..9](targets=[ExprName[0..1](id=\"a\", ctx=Store), "
             "ExprName[4..5](id=\"b\", "
             "ctx=Store)], value=ExprName[8..9](id=\"c\", ctx=Load))]"},
        Case{"(a, [b, c.d]) = x\n",
             "[StmtAssign[0..17](targets=[ExprTuple[0..13](elts=[ExprName[1..2](id=\"a\", "
             "ctx=Store), "
             "ExprList[4..12](elts=[ExprName[5..6](id=\"b\", ctx=Store), "
             "ExprAttribute[8..11](value=ExprName[8..9]"
             "(id=\"c\", ctx=Load), attr=\"d\"[10..11], ctx=Store)], ctx=Store)], ctx=Store, "
             "parenthesized=true)], "
             "value=ExprName[16..17](id=\"x\", ctx=Load))]"},
        Case{
            "[a, *b.c] = x\n",
            "[StmtAssign[0..13](targets=[ExprList[0..9](elts=[ExprName[1..2](id=\"a\", ctx=Store), "
            "ExprStarred[4..8](value=ExprAttribute[5..8](value=ExprName[5..6](id=\"b\", ctx=Load), "
            "attr=\"c\"[7..8], ctx=Store), ctx=Store)], ctx=Store)], "
            "value=ExprName[12..13](id=\"x\", ctx=Load))]"},
        Case{"a, b = x = yield\n",
             "[StmtAssign[0..16](targets=[ExprTuple[0..4](elts=[ExprName[0..1](id=\"a\", "
             "ctx=Store), "
             "ExprName[3..4](id=\"b\", ctx=Store)], ctx=Store, parenthesized=false), "
             "ExprName[7..8](id=\"x\", "
             "ctx=Store)], value=ExprYield[11..16])]"},
        Case{"x = 1  # note\n",
             "[StmtAssign[0..5](targets=[ExprName[0..1](id=\"x\", ctx=Store)], "
             "value=ExprNumberLiteral[4..5]"
             "(value=1))]"},
        Case{"f() = 1\n", "", "Invalid assignment target at byte range 0..3"},
        Case{"a = f() = c\n", "", "Invalid assignment target at byte range 4..7"},
        Case{"x = 1 = y\n", "", "Invalid assignment target at byte range 4..5"},
        Case{"(a, f()) = x\n", "", "Invalid assignment target at byte range 4..7"},
        Case{"-a = 1\n", "", "Invalid assignment target at byte range 0..2"},
        Case{"a = b = c else\n", "",
             "The keyword is not allowed as a variable declaration name at byte range 10..14"},
        Case{"a = b = c )\n", "", "Expected an assignment target at byte range 10..11"},
        // An augmented assignment takes no chain.
        Case{"a += b = c\n", "", "Expected a statement at byte range 7..8"},
        Case{"(a, b) += 1\n", "", "Invalid augmented assignment target at byte range 0..6"},
        Case{"[a] += 1\n", "", "Invalid augmented assignment target at byte range 0..3"},
        Case{"f() += 1\n", "", "Invalid augmented assignment target at byte range 0..3"}));

INSTANTIATE_TEST_SUITE_P(
    Terminator, SimpleStatement,
    ::testing::Values(
        Case{"a = 1; b = 2\n",
             "[StmtAssign[0..5](targets=[ExprName[0..1](id=\"a\", ctx=Store)], "
             "value=ExprNumberLiteral[4..5]"
             "(value=1)), StmtAssign[7..12](targets=[ExprName[7..8](id=\"b\", ctx=Store)], "
             "value=ExprNumberLiteral[11..12](value=2))]"},
        Case{"a = 1;\nb\n",
             "[StmtAssign[0..5](targets=[ExprName[0..1](id=\"a\", ctx=Store)], "
             "value=ExprNumberLiteral[4..5]"
             "(value=1)), StmtExpr[7..8](value=ExprName[7..8](id=\"b\", ctx=Load))]"},
        Case{"a = 1 b = 2\n", "",
             "Simple statements must be separated by newlines or semicolons at byte range 6..7"},
        Case{"a = b = c d\n", "",
             "Simple statements must be separated by newlines or semicolons at byte range 10..11"},
        Case{"x = 1 def f(): pass\n", "",
             "Compound statements are not allowed on the same line as simple statements at byte "
             "range 6..9"},
        Case{"x = 1; if y: pass\n", "",
             "Compound statements are not allowed on the same line as simple statements at byte "
             "range 7..9"},
        Case{"x = 1 match y:\n    case 1: pass\n", "",
             "Simple statements must be separated by newlines or semicolons at byte range 6..11"},
        Case{"x = 1; match y:\n    case 1: pass\n", "",
             "Compound statements are not allowed on the same line as simple statements at byte "
             "range 7..12"},
        // After `;` a `match` that does not start a match statement is a simple statement.
        Case{"a; match = 1\n",
             "[StmtExpr[0..1](value=ExprName[0..1](id=\"a\", ctx=Load)), "
             "StmtAssign[3..12](targets=[ExprName[3..8](id=\"match\", ctx=Store)], "
             "value=ExprNumberLiteral[11..12](value=1))]"},
        Case{"a; match(x)\n",
             "[StmtExpr[0..1](value=ExprName[0..1](id=\"a\", ctx=Load)), "
             "StmtExpr[3..11](value=ExprCall[3..11]"
             "(func=ExprName[3..8](id=\"match\", ctx=Load), "
             "arguments=Arguments[8..11](args=[ExprName[9..10]"
             "(id=\"x\", ctx=Load)])))]"},
        Case{"a; match (x):\n    case 1: pass\n", "",
             "Compound statements are not allowed on the same line as simple statements at byte "
             "range 3..8"}));

// Every augmented operator, on `x <op> 1`.
TEST(SimpleStatementTest, AugmentedOperators) {
    struct Row {
        std::string_view token;
        std::string_view op;
    };
    const Row rows[] = {{"+=", "Add"},      {"-=", "Sub"},   {"*=", "Mult"},   {"@=", "MatMult"},
                        {"/=", "Div"},      {"%=", "Mod"},   {"**=", "Pow"},   {"<<=", "LShift"},
                        {">>=", "RShift"},  {"|=", "BitOr"}, {"^=", "BitXor"}, {"&=", "BitAnd"},
                        {"//=", "FloorDiv"}};
    for (const Row& row : rows) {
        std::string source = fmt::format("x {} 1\n", row.token);
        auto one = static_cast<unsigned>(2 + row.token.size() + 1);
        std::string expected = fmt::format(
            "[StmtAugAssign[0..{end}](target=ExprName[0..1](id=\"x\", ctx=Store), op={op}, "
            "value=ExprNumberLiteral[{one}..{end}](value=1))]",
            fmt::arg("end", one + 1), fmt::arg("op", row.op), fmt::arg("one", one));
        SCOPED_TRACE(source);
        test::check_module(Case{source, expected});
    }
}

}  // namespace
}  // namespace rudo::python_parser

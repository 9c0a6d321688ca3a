// Function and class definitions, parameter lists and type-parameter lists: trees with their
// exact ranges, and the first error of every invalid form.
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

TEST(FunctionDefinition, TreesAndRanges) {
    expect_first_statements({
        {"def f(): pass",
         R"(StmtFunctionDef[0..13](is_async=false, name="f"[4..5], parameters=Parameters[5..7], )"
         R"(body=[StmtPass[9..13]]))"},
        // Annotations, a default, `*args` and `**kw` from their stars, a return annotation.
        {"def f(a: int = 1, *args: str, b, **kw) -> bool: pass",
         R"(StmtFunctionDef[0..52](is_async=false, name="f"[4..5], parameters=Parameters[5..38](args=[)"
         R"(ParameterWithDefault[6..16](parameter=Parameter[6..12](name="a"[6..7], )"
         R"(annotation=ExprName[9..12](id="int", ctx=Load)), default=ExprNumberLiteral[15..16](value=1))], )"
         R"(vararg=Parameter[18..28](name="args"[19..23], annotation=ExprName[25..28](id="str", ctx=Load)), )"
         R"(kwonlyargs=[ParameterWithDefault[30..31](parameter=Parameter[30..31](name="b"[30..31]))], )"
         R"(kwarg=Parameter[33..37](name="kw"[35..37])), returns=ExprName[42..46](id="bool", ctx=Load), )"
         R"(body=[StmtPass[48..52]]))"},
        // `/` makes what precedes it positional-only; after `*` the rest is keyword-only.
        {"def f(a, /, b, *, c=1, **d): pass",
         R"(StmtFunctionDef[0..33](is_async=false, name="f"[4..5], parameters=Parameters[5..27](posonlyargs=[)"
         R"(ParameterWithDefault[6..7](parameter=Parameter[6..7](name="a"[6..7]))], args=[)"
         R"(ParameterWithDefault[12..13](parameter=Parameter[12..13](name="b"[12..13]))], kwonlyargs=[)"
         R"(ParameterWithDefault[18..21](parameter=Parameter[18..19](name="c"[18..19]), )"
         R"(default=ExprNumberLiteral[20..21](value=1))], kwarg=Parameter[23..26](name="d"[25..26])), )"
         R"(body=[StmtPass[29..33]]))"},
        // A decorated definition starts at its first `@`.
        {"@dec\nasync def g(): pass\n",
         R"(StmtFunctionDef[0..24](is_async=true, decorator_list=[Decorator[0..4](expression=ExprName[1..4](id="dec", ctx=Load))], )"
         R"(name="g"[15..16], parameters=Parameters[16..18], body=[StmtPass[20..24]]))"},
        // An undecorated `async def` starts at `async`.
        {"async def h(x): ...",
         R"(StmtFunctionDef[0..19](is_async=true, name="h"[10..11], parameters=Parameters[11..14](args=[)"
         R"(ParameterWithDefault[12..13](parameter=Parameter[12..13](name="x"[12..13]))]), )"
         R"(body=[StmtExpr[16..19](value=ExprEllipsisLiteral[16..19])]))"},
        // The range ends with the body's last token, not its newline or a comment after it.
        {"def f():\n    return 1\n# c\n",
         R"(StmtFunctionDef[0..21](is_async=false, name="f"[4..5], parameters=Parameters[5..7], )"
         R"(body=[StmtReturn[13..21](value=ExprNumberLiteral[20..21](value=1))]))"},
        {"def f[T: int = str, *Ts, **P](): pass",
         R"(StmtFunctionDef[0..37](is_async=false, name="f"[4..5], type_params=TypeParams[5..29](type_params=[)"
         R"(TypeParamTypeVar[6..18](name="T"[6..7], bound=ExprName[9..12](id="int", ctx=Load), )"
         R"(default=ExprName[15..18](id="str", ctx=Load)), TypeParamTypeVarTuple[20..23](name="Ts"[21..23]), )"
         R"(TypeParamParamSpec[25..28](name="P"[27..28])]), parameters=Parameters[29..31], )"
         R"(body=[StmtPass[33..37]]))"},
        {"def f(*args: *Ts): pass",
         R"(StmtFunctionDef[0..23](is_async=false, name="f"[4..5], parameters=Parameters[5..17](vararg=)"
         R"(Parameter[6..16](name="args"[7..11], annotation=ExprStarred[13..16](value=ExprName[14..16](id="Ts", ctx=Load), ctx=Load))), )"
         R"(body=[StmtPass[19..23]]))"},
        // Soft keywords are ordinary parameter names.
        {"def f(match, type=1): pass",
         R"(StmtFunctionDef[0..26](is_async=false, name="f"[4..5], parameters=Parameters[5..20](args=[)"
         R"(ParameterWithDefault[6..11](parameter=Parameter[6..11](name="match"[6..11])), )"
         R"(ParameterWithDefault[13..19](parameter=Parameter[13..17](name="type"[13..17]), )"
         R"(default=ExprNumberLiteral[18..19](value=1))]), body=[StmtPass[22..26]]))"},
    });
}

TEST(FunctionDefinition, LambdaParameters) {
    expect_first_statements({
        // No parentheses and no annotations: the `:` ends the list and is not in its range.
        {"lambda a, *b, c=1, **d: 0",
         R"(StmtExpr[0..25](value=ExprLambda[0..25](parameters=Parameters[7..22](args=[)"
         R"(ParameterWithDefault[7..8](parameter=Parameter[7..8](name="a"[7..8]))], )"
         R"(vararg=Parameter[10..12](name="b"[11..12]), kwonlyargs=[ParameterWithDefault[14..17](parameter=)"
         R"(Parameter[14..15](name="c"[14..15]), default=ExprNumberLiteral[16..17](value=1))], )"
         R"(kwarg=Parameter[19..22](name="d"[21..22])), body=ExprNumberLiteral[24..25](value=0))))"},
    });
}

TEST(ClassDefinition, TreesAndRanges) {
    expect_first_statements({
        {"class C: pass", R"(StmtClassDef[0..13](name="C"[6..7], body=[StmtPass[9..13]]))"},
        // Empty parentheses still give arguments.
        {"class C(): pass",
         R"(StmtClassDef[0..15](name="C"[6..7], arguments=Arguments[7..9], body=[StmtPass[11..15]]))"},
        {"class C(B, metaclass=M): pass",
         R"(StmtClassDef[0..29](name="C"[6..7], arguments=Arguments[7..23](args=[ExprName[8..9](id="B", ctx=Load)], )"
         R"(keywords=[Keyword[11..22](arg="metaclass"[11..20], value=ExprName[21..22](id="M", ctx=Load))]), )"
         R"(body=[StmtPass[25..29]]))"},
        {"@d\nclass C[T]: pass",
         R"(StmtClassDef[0..19](decorator_list=[Decorator[0..2](expression=ExprName[1..2](id="d", ctx=Load))], )"
         R"(name="C"[9..10], type_params=TypeParams[10..13](type_params=[TypeParamTypeVar[11..12](name="T"[11..12])]), )"
         R"(body=[StmtPass[15..19]]))"},
    });
}

TEST(FunctionDefinition, RecoveredTrees) {
    expect_recovered_statements({
        // After a bare `*` a named `*b` is the vararg.
        {"def f(*, *b): pass",
         R"(StmtFunctionDef[0..18](is_async=false, name="f"[4..5], parameters=Parameters[5..12](vararg=)"
         R"(Parameter[9..11](name="b"[10..11])), body=[StmtPass[14..18]]))"},
        // A second `*args` is dropped; the first stays.
        {"def f(*a, *b): pass",
         R"(StmtFunctionDef[0..19](is_async=false, name="f"[4..5], parameters=Parameters[5..13](vararg=)"
         R"(Parameter[6..8](name="a"[7..8])), body=[StmtPass[15..19]]))"},
        // A parameter after `**k` still lands in `args`.
        {"def f(**k, a): pass",
         R"(StmtFunctionDef[0..19](is_async=false, name="f"[4..5], parameters=Parameters[5..13](args=[)"
         R"(ParameterWithDefault[11..12](parameter=Parameter[11..12](name="a"[11..12]))], )"
         R"(kwarg=Parameter[6..9](name="k"[8..9])), body=[StmtPass[15..19]]))"},
        // Only the first `/` moves parameters to `posonlyargs`.
        {"def f(a, /, b, /): pass",
         R"(StmtFunctionDef[0..23](is_async=false, name="f"[4..5], parameters=Parameters[5..17](posonlyargs=[)"
         R"(ParameterWithDefault[6..7](parameter=Parameter[6..7](name="a"[6..7]))], args=[)"
         R"(ParameterWithDefault[12..13](parameter=Parameter[12..13](name="b"[12..13]))]), )"
         R"(body=[StmtPass[19..23]]))"},
        {"def f(*, a, /): pass",
         R"(StmtFunctionDef[0..20](is_async=false, name="f"[4..5], parameters=Parameters[5..14](kwonlyargs=[)"
         R"(ParameterWithDefault[9..10](parameter=Parameter[9..10](name="a"[9..10]))]), )"
         R"(body=[StmtPass[16..20]]))"},
        // An empty type-parameter list is kept.
        {"def f[](): pass",
         R"(StmtFunctionDef[0..15](is_async=false, name="f"[4..5], type_params=TypeParams[5..7], )"
         R"(parameters=Parameters[7..9], body=[StmtPass[11..15]]))"},
        {"def f() -> : pass",
         R"(StmtFunctionDef[0..17](is_async=false, name="f"[4..5], parameters=Parameters[5..7], )"
         R"(body=[StmtPass[13..17]]))"},
        {"def f(a=): pass",
         R"(StmtFunctionDef[0..15](is_async=false, name="f"[4..5], parameters=Parameters[5..9](args=[)"
         R"(ParameterWithDefault[6..8](parameter=Parameter[6..7](name="a"[6..7]))]), body=[StmtPass[11..15]]))"},
        // The unparenthesized tuple is kept as the return annotation.
        {"def f() -> int, str: pass",
         R"(StmtFunctionDef[0..25](is_async=false, name="f"[4..5], parameters=Parameters[5..7], )"
         R"(returns=ExprTuple[11..19](elts=[ExprName[11..14](id="int", ctx=Load), ExprName[16..19](id="str", ctx=Load)], )"
         R"(ctx=Load, parenthesized=false), body=[StmtPass[21..25]]))"},
        // Without `(` the parameters are still there, empty; the list skipped the stray `:`.
        {"def f: pass",
         R"(StmtFunctionDef[0..11](is_async=false, name="f"[4..5], parameters=Parameters[5..6], )"
         R"(body=[StmtPass[7..11]]))"},
        {"def (): pass",
         R"(StmtFunctionDef[0..12](is_async=false, name=""[3..3], parameters=Parameters[4..6], )"
         R"(body=[StmtPass[8..12]]))"},
    });
}

TEST(FunctionDefinition, FirstErrors) {
    expect_first_errors({
        // The default of `b` counts against `c`, a keyword-only `d` is fine.
        {"def f(a, b=1, /, c, *, d, e=2, **k): pass",
         "Parameter without a default cannot follow a parameter with a default at byte range "
         "17..18"},
        {"def f(a, /, b, /): pass", "Only one '/' separator allowed at byte range 15..16"},
        {"def f(*, a, /): pass",
         "'/' parameter must appear before '*' parameter at byte range 12..13"},
        {"def f(*a, /): pass",
         "'/' parameter must appear before '*' parameter at byte range 10..11"},
        {"def f(/): pass",
         "Position-only parameter separator not allowed as first parameter at byte range 6..7"},
        {"def f(*): pass",
         "Expected one or more keyword parameter after `*` separator at byte range 6..7"},
        {"lambda *: 0",
         "Expected one or more keyword parameter after `*` separator at byte range 7..8"},
        {"def f(*, **k): pass",
         "Expected one or more keyword parameter after `*` separator at byte range 9..12"},
        {"def f(*a, *b): pass", "Only one '*' parameter allowed at byte range 10..12"},
        {"def f(*, *b): pass", "Only one '*' parameter allowed at byte range 9..11"},
        {"def f(*, a, *): pass", "Only one '*' separator allowed at byte range 12..13"},
        {"def f(*a, *): pass",
         "Keyword-only parameter separator not allowed after '*' parameter at byte range 10..11"},
        {"def f(**k, a): pass",
         "Parameter cannot follow var-keyword parameter at byte range 11..12"},
        // "Only one '**' parameter allowed" starts at the same `**` and is dropped.
        {"def f(**a, **b): pass",
         "Parameter cannot follow var-keyword parameter at byte range 11..13"},
        {"def f(*a=1): pass",
         "Parameter with `*` or `**` cannot have default value at byte range 8..9"},
        {"def f(**a=1): pass",
         "Parameter with `*` or `**` cannot have default value at byte range 9..10"},
        {"def f(a=): pass", "Expected an expression at byte range 8..9"},
        {"def f(a: ): pass", "Expected an expression at byte range 9..10"},
        {"def f() -> int, str: pass",
         "Multiple return types must be parenthesized at byte range 11..19"},
        {"def f() -> : pass", "Expected an expression at byte range 11..12"},
        {"def f: pass", "Expected `(`, found `:` at byte range 5..6"},
        {"def f(a -> int: pass", "Expected `)`, found `->` at byte range 8..10"},
        {"def f() pass", "Expected `:`, found `pass` at byte range 8..12"},
        {"def f(=): pass",
         "Expected a parameter or the end of the parameter list at byte range 6..7"},
        {"def (): pass", "Expected an identifier at byte range 4..5"},
        {"def f():\nx", "Expected an indented block after function definition at byte range 9..10"},
    });
}

TEST(TypeParameters, FirstErrors) {
    expect_first_errors({
        {"def f[](): pass", "Type parameter list cannot be empty at byte range 6..7"},
        {"class C[T, ,]: pass",
         "Expected a type parameter or the end of the type parameter list at byte range 11..12"},
        {"class C[T: ]: pass", "Expected an expression at byte range 11..12"},
        {"class C[*Ts = ]: pass", "Expected an expression at byte range 14..15"},
        {"class C[T(): pass", "Expected `]`, found `(` at byte range 9..10"},
    });
}

TEST(ClassDefinition, FirstErrors) {
    expect_first_errors({
        {"class C pass", "Expected `:`, found `pass` at byte range 8..12"},
        {"class C:\nx", "Expected an indented block after `class` definition at byte range 9..10"},
    });
}

}  // namespace

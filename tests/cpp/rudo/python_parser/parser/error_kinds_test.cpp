// Every row of the parse-error registry is reachable: a source that records it, with the message
// it displays. A row no input produces is dead vocabulary; one whose message drifted shows here.
#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <set>
#include <string>
#include <string_view>

#include "rudo/python_parser/parser/parse.h"
#include "rudo/python_parser/parser/parse_error.h"

namespace {

using namespace rudo::python_parser;
using Id = ParseErrorId;
using Kind = ParseErrorType::Kind;

struct Row {
    Id id;
    const char* source;
    const char* message;
};

// clang-format off
const Row ROWS[] = {
    // Kinds of their own.
    {Id::ExpectedIndexOrSlice, "x[]\n", "Expected index or slice expression"},
    {Id::EmptyGlobalNames, "global\n", "Global statement must have at least one name"},
    {Id::EmptyNonlocalNames, "def f():\n    nonlocal\n", "Nonlocal statement must have at least one name"},
    {Id::EmptyDeleteTargets, "del\n", "Delete statement must have at least one target"},
    {Id::EmptyImportNames, "import\n", "Expected one or more symbol names after import"},
    {Id::EmptyTypeParams, "def f[]():\n    pass\n", "Type parameter list cannot be empty"},
    {Id::UnparenthesizedNamedExpression, "a[x:=1:2]\n",
     "Unparenthesized named expression cannot be used here"},
    {Id::UnparenthesizedTupleExpression, "def f():\n    yield from a, b\n",
     "Unparenthesized tuple expression cannot be used here"},
    {Id::UnparenthesizedGeneratorExpression, "f(x for x in y, 1)\n",
     "Unparenthesized generator expression cannot be used here"},
    {Id::MisplacedLambdaExpression, "x = 1 + lambda: 1\n", "Lambda expression cannot be used here"},
    {Id::MisplacedYieldExpression, "x = 1 + yield y\n", "Yield expression cannot be used here"},
    {Id::MisplacedStarredExpression, "x + *y\n", "Starred expression cannot be used here"},
    {Id::MisplacedStarPattern, "match x:\n    case *a:\n        pass\n", "Star pattern cannot be used here"},
    {Id::ParameterAfterVarKeyword, "def f(**k, a): pass\n", "Parameter cannot follow var-keyword parameter"},
    {Id::NonDefaultParameterAfterDefault, "def f(a=1, b): pass\n",
     "Parameter without a default cannot follow a parameter with a default"},
    {Id::VarParameterWithDefault, "def f(*a=1): pass\n", "Parameter with `*` or `**` cannot have default value"},
    {Id::DuplicateKeywordArgument, "f(x=1, x=2)\n", "Duplicate keyword argument \"x\""},
    {Id::InvalidAssignmentTarget, "1 = x\n", "Invalid assignment target"},
    {Id::InvalidNamedExpressionTarget, "(a.b := 1)\n", "Assignment expression target must be an identifier"},
    {Id::InvalidAnnotatedAssignmentTarget, "f(): int\n", "Invalid annotated assignment target"},
    {Id::InvalidAugmentedAssignmentTarget, "[a] += 1\n", "Invalid augmented assignment target"},
    {Id::InvalidDeleteTarget, "del 1\n", "Invalid delete target"},
    {Id::PositionalAfterKeywordArgument, "f(x=1, y)\n", "Positional argument cannot follow keyword argument"},
    {Id::PositionalAfterKeywordUnpacking, "f(**k, y)\n",
     "Positional argument cannot follow keyword argument unpacking"},
    {Id::IterableUnpackingAfterKeywordUnpacking, "f(**k, *a)\n",
     "Iterable argument unpacking cannot follow keyword argument unpacking"},
    {Id::IterableUnpackingInComprehension, "[*x for x in y]\n",
     "Iterable unpacking cannot be used in a comprehension"},
    {Id::SimpleStatementsOnSameLine, "a b\n", "Simple statements must be separated by newlines or semicolons"},
    {Id::SimpleAndCompoundStatementOnSameLine, "a; if b: pass\n",
     "Compound statements are not allowed on the same line as simple statements"},
    {Id::ExpectedKeywordParameterAfterStar, "def f(*): pass\n",
     "Expected one or more keyword parameter after `*` separator"},
    {Id::ExpectedRealNumber, "match x:\n    case a + 1j:\n        pass\n",
     "Expected a real number in complex literal pattern"},
    {Id::ExpectedImaginaryNumber, "match x:\n    case 1 + 2:\n        pass\n",
     "Expected an imaginary number in complex literal pattern"},
    {Id::ExpectedExpression, "x = \n", "Expected an expression"},
    {Id::ExpectedToken, "f(a b)\n", "Expected `,`, found name"},
    {Id::UnexpectedIndentation, "  x\n", "Unexpected indentation"},
    {Id::UnexpectedTokenAfterAsync, "async x\n", "Expected `def`, `with` or `for` to follow `async`, found name"},
    {Id::FStringError, "f'{x!z}'\n", "f-string: invalid conversion character"},
    {Id::TStringError, "t'{x!z}'\n", "t-string: invalid conversion character"},
    {Id::Lexical, "$\n", "Got unexpected token $"},

    // Texts of kind Other.
    {Id::ExpectedStatement, ")\n", "Expected a statement"},
    {Id::KeywordAsTargetName, "a = b = c else\n", "The keyword is not allowed as a variable declaration name"},
    {Id::ExpectedAssignmentTarget, "a = b = c )\n", "Expected an assignment target"},
    {Id::ExpectedSimpleStatement, "if x: if y: pass\n", "Expected a simple statement"},
    {Id::ExpectedDefinitionAfterDecorator, "@d\nx = 1\n",
     "Expected class, function definition or async function definition after decorator"},
    {Id::ElseAfterFinally, "try:\n    pass\nfinally:\n    pass\nelse:\n    pass\n",
     "`else` block must come before `finally` block"},
    {Id::ExpectedExceptOrFinally, "try:\n    pass\nx = 1\n", "Expected `except` or `finally` after `try` block"},
    {Id::MixedExceptAndExceptStar, "try:\n    pass\nexcept A:\n    pass\nexcept* B:\n    pass\n",
     "Cannot have both 'except' and 'except*' on the same 'try'"},
    {Id::UnparenthesizedExceptionTypesWithAs, "try:\n    pass\nexcept A, B as e:\n    pass\n",
     "Multiple exception types must be parenthesized when using `as`"},
    {Id::ExpectedOneOrMoreExceptionTypes, "try:\n    pass\nexcept* :\n    pass\n",
     "Expected one or more exception types"},
    {Id::ExpectedNameAfterAs, "try:\n    pass\nexcept A as 1:\n    pass\n", "Expected name after `as`"},
    {Id::UnparenthesizedReturnTypes, "def f() -> a, b: pass\n", "Multiple return types must be parenthesized"},
    {Id::SlashAsFirstParameter, "def f(/, a): pass\n",
     "Position-only parameter separator not allowed as first parameter"},
    {Id::RepeatedSlash, "def f(a, /, b, /): pass\n", "Only one '/' separator allowed"},
    {Id::SlashAfterStar, "def f(a, *, b, /): pass\n", "'/' parameter must appear before '*' parameter"},
    {Id::RepeatedStarParameter, "def f(*a, *b): pass\n", "Only one '*' parameter allowed"},
    {Id::RepeatedStarSeparator, "def f(a, *, b, *, c): pass\n", "Only one '*' separator allowed"},
    {Id::StarSeparatorAfterStarParameter, "def f(*a, *, b): pass\n",
     "Keyword-only parameter separator not allowed after '*' parameter"},
    {Id::MisplacedNotExpression, "x = 1 + not y\n", "Boolean 'not' expression cannot be used here"},
    {Id::MisplacedAwaitExpression, "async def f():\n    await await x\n", "Await expression cannot be used here"},
    {Id::ExpectedParameterName, "f(1=2)\n", "Expected a parameter name"},
    {Id::ExpectedIdentifier, "x. 1\n", "Expected an identifier"},
    {Id::TrailingCommaNotAllowed, "global a, b,\n", "Trailing comma not allowed"},
    {Id::ExpectedMatchBlock, "match x:\nx = 1\n", "Expected an indented block after `match` statement"},
    {Id::ExpectedCaseBlock, "match x:\n    x = 1\n", "Expected `case` block"},
    {Id::UnaryPlusLiteralPattern, "match x:\n    case +1:\n        pass\n",
     "Unary '+' is not allowed as a literal pattern"},
    {Id::ExpectedPattern, "match x:\n    case :\n        pass\n", "Expected a pattern"},
    {Id::InvalidValueForClassPattern, "match x:\n    case 1(a):\n        pass\n", "Invalid value for a class pattern"},
    {Id::PositionalPatternAfterKeywordPattern, "match x:\n    case C(a=1, b):\n        pass\n",
     "Positional patterns cannot follow keyword patterns"},
    {Id::ExpectedKeywordPatternName, "match x:\n    case C(1=2):\n        pass\n",
     "Expected an identifier for the keyword pattern"},
    {Id::PatternAfterDoubleStarPattern, "match x:\n    case {**r, 'a': 1}:\n        pass\n",
     "Pattern cannot follow a double star pattern"},
    {Id::RepeatedDoubleStarPattern, "match x:\n    case {**r, **s}:\n        pass\n",
     "Only one double star pattern is allowed"},
    {Id::InvalidMappingPatternKey, "match x:\n    case {a: 1}:\n        pass\n", "Invalid mapping pattern key"},
    {Id::RaiseCauseWithoutException, "raise from e\n", "Exception missing in `raise` statement with cause"},
    {Id::ExpectedModuleName, "from import a\n", "Expected a module name"},
    {Id::StarImportNotAlone, "from m import a, *\n", "Star import must be the only import"},
    {Id::ExpectedSymbolAfterAs, "from m import a as\n", "Expected symbol after `as`"},
    {Id::AnnotatedList, "[a, b]: int\n", "Only single target (not list) can be annotated"},
    {Id::AnnotatedTuple, "a, b: int\n", "Only single target (not tuple) can be annotated"},
    {Id::MixedBytesLiterals, "x = b'a' 'b'\n", "Bytes literal cannot be mixed with non-bytes literals"},
    {Id::MixedTStringLiterals, "x = t'a' 'b'\n", "cannot mix t-string literals with string or bytes literals"},
    {Id::ExpectedExpressionAfterWith, "with :\n    pass\n",
     "Expected the start of an expression after `with` keyword"},
    {Id::ExpectedTypeParameter, "class C[T, ,]: pass\n",
     "Expected a type parameter or the end of the type parameter list"},
    {Id::ExpectedImportNameOrRpar, "from m import (=)\n", "Expected an import name or a ')'"},
    {Id::ExpectedImportName, "import )\n", "Expected an import name"},
    {Id::ExpectedSliceElement, "x[a, ;]\n", "Expected an expression or the end of the slice list"},
    {Id::ExpectedExpressionOrRsqb, "[1, , 2]\n", "Expected an expression or a ']'"},
    {Id::ExpectedExpressionOrRbrace, "{1, , 2}\n", "Expected an expression or a '}'"},
    {Id::ExpectedExpressionOrRpar, "f(1, , 2)\n", "Expected an expression or a ')'"},
    {Id::ExpectedTupleElement, "x = 1, , 2\n", "Expected an expression"},
    {Id::ExpectedSequencePatternElement, "match x:\n    case [1, , 2]:\n        pass\n",
     "Expected a pattern or the end of the sequence pattern"},
    {Id::ExpectedMappingPatternElement, "match x:\n    case {1: a, , 2: b}:\n        pass\n",
     "Expected a mapping pattern or the end of the mapping pattern"},
    {Id::ExpectedPatternOrRpar, "match x:\n    case C(a, , b):\n        pass\n", "Expected a pattern or a ')'"},
    {Id::ExpectedDeleteTarget, "del a, , b\n", "Expected a delete target"},
    {Id::ExpectedParameter, "def f(=): pass\n", "Expected a parameter or the end of the parameter list"},
    {Id::ExpectedWithItem, "with a, , b:\n    pass\n", "Expected an expression or the end of the with item list"},
    {Id::ExpectedFStringElement, "f'{x!r=}'\n", "Expected an element of or the end of the f-string"},
    {Id::ExpectedTStringElement, "t'{x!r=}'\n", "Expected an element of or the end of the t-string"},
    {Id::NestedTooDeeply, nullptr, "Expression nested too deeply"},
    {Id::ExpectedIndentedBlock, "if x:\npass\n", "Expected an indented block after `if` statement"},
    {Id::MisplacedUnaryExpression, "async def f():\n    await -x\n", "Unary '-' expression cannot be used here"},
    {Id::KeywordAsIdentifier, "import a.if\n",
     "Expected an identifier, but found a keyword `if` that cannot be used here"},
    {Id::MisplacedBitwiseOrOperand, "for x in *a or b:\n    pass\n", "Boolean expression cannot be used here"},
    {Id::MissingRpar, "match x:\n    case (:\n        pass\n", "Missing ')'"},
    {Id::MissingRsqb, "match x:\n    case [:\n        pass\n", "Missing ']'"},
};
// clang-format on

std::string deep_brackets() {
    return std::string(100000, '(') + "\n";
}

TEST(ParseErrorRegistry, EveryRowIsRecordedBySomeInput) {
    for (const Row& row : ROWS) {
        SCOPED_TRACE(name_of(row.id));
        const std::string source = row.source ? row.source : deep_brackets();
        const Parsed parsed = parse_module_unchecked(source);
        const Kind kind = is_kind(row.id) ? static_cast<Kind>(row.id) : Kind::Other;
        bool found = false;
        std::string seen;
        for (const ParseError& error : parsed.errors) {
            found |= error.error.kind == kind && error.error.message() == row.message;
            seen += error.display() + "\n";
        }
        EXPECT_TRUE(found) << "recorded instead:\n" << seen;
    }
}

// Rows no input of a module records: the lexer makes no escape commands; nothing records an
// unexpected token at an expression's end; a second `**` always follows a `**` parameter, whose
// error starts at the same offset; a format spec's lexer makes only elements and `}`; no logical
// newline follows an opening bracket, and at the end of the text the lexer's end-of-file error
// starts at the same offset.
const Id UNREACHED[] = {Id::UnexpectedIpythonEscapeCommand,
                        Id::UnexpectedExpressionToken,
                        Id::RepeatedDoubleStarParameter,
                        Id::ExpectedFStringElementOrRbrace,
                        Id::ExpectedTStringElementOrRbrace,
                        Id::MissingClosingBracket,
                        Id::MissingClosingBrace,
                        Id::MissingClosingParenthesis};

TEST(ParseErrorRegistry, EveryRowHasAnInput) {
    std::set<Id> covered;
    for (const Row& row : ROWS)
        covered.insert(row.id);
    for (size_t i = 0; i < PARSE_ERROR_ID_COUNT; ++i) {
        const auto id = static_cast<Id>(i);
        if (id == Id::Other ||
            std::find(std::begin(UNREACHED), std::end(UNREACHED), id) != std::end(UNREACHED)) {
            continue;
        }
        EXPECT_TRUE(covered.count(id)) << name_of(id);
    }
}

TEST(ParseErrorRegistry, ArgumentsFillTheMessageWhenRecorded) {
    EXPECT_EQ(parse_error<Id::ExpectedIndentedBlock>("`try` statement").message(),
              "Expected an indented block after `try` statement");
    EXPECT_EQ(parse_error<Id::ExpectedToken>(TokenKind::Rpar, TokenKind::Newline).message(),
              "Expected `)`, found newline");
    // A row that says what a kind says is recorded as kind Other with the kind's message.
    const ParseErrorType shared = parse_error<Id::ExpectedTupleElement>();
    EXPECT_EQ(shared.kind, Kind::Other);
    EXPECT_EQ(shared.message(), "Expected an expression");
    EXPECT_EQ(parse_error<Id::ExpectedExpression>().kind, Kind::ExpectedExpression);
}

}  // namespace

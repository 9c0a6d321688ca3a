// Expressions: precedence climbing over the operators, the prefix forms, atoms with their
// postfix forms, call arguments, subscripts and slices, identifiers.
//
// Left-associative chains (`a + b + c`, `a or b or c`, comparison chains, postfix chains) are
// built in loops, so their length never deepens the stack; only true nesting (unary chains, the
// right operand of `**`, conditional chains, lambdas, brackets) recurses, under the depth guard.
#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_set>
#include <utility>
#include <variant>
#include <vector>

#include <fmt/format.h>

#include "base/panic.h"
#include "rudo/python_parser/parser/parser.h"

namespace rudo::python_parser {

using python_ast::BoolOp;
using python_ast::CmpOp;
using python_ast::ExprAwait;
using python_ast::ExprBinOp;
using python_ast::ExprBooleanLiteral;
using python_ast::ExprBoolOp;
using python_ast::ExprCall;
using python_ast::ExprCompare;
using python_ast::ExprEllipsisLiteral;
using python_ast::ExprGeneratorExp;
using python_ast::ExprIfExp;
using python_ast::ExprLambda;
using python_ast::ExprNamedExpr;
using python_ast::ExprNoneLiteral;
using python_ast::ExprNumberLiteral;
using python_ast::ExprSlice;
using python_ast::ExprStarred;
using python_ast::ExprSubscript;
using python_ast::ExprTuple;
using python_ast::ExprUnaryOp;
using python_ast::ExprYield;
using python_ast::ExprYieldFrom;
using python_ast::Keyword;
using python_ast::NumberLiteralValue;
using python_ast::Operator;
using python_ast::OptionalBox;
using python_ast::Seq;

namespace {

struct BinaryOperator {
    Operator op;
    uint8_t level;
};

constexpr std::optional<BinaryOperator> binary_operator(TokenKind kind) {
    switch (kind) {
        case TokenKind::Vbar:
            return BinaryOperator{Operator::BitOr, LEVEL_BIT_OR};
        case TokenKind::CircumFlex:
            return BinaryOperator{Operator::BitXor, LEVEL_BIT_XOR};
        case TokenKind::Amper:
            return BinaryOperator{Operator::BitAnd, LEVEL_BIT_AND};
        case TokenKind::LeftShift:
            return BinaryOperator{Operator::LShift, LEVEL_SHIFT};
        case TokenKind::RightShift:
            return BinaryOperator{Operator::RShift, LEVEL_SHIFT};
        case TokenKind::Plus:
            return BinaryOperator{Operator::Add, LEVEL_ARITH};
        case TokenKind::Minus:
            return BinaryOperator{Operator::Sub, LEVEL_ARITH};
        case TokenKind::Star:
            return BinaryOperator{Operator::Mult, LEVEL_TERM};
        case TokenKind::At:
            return BinaryOperator{Operator::MatMult, LEVEL_TERM};
        case TokenKind::Slash:
            return BinaryOperator{Operator::Div, LEVEL_TERM};
        case TokenKind::Percent:
            return BinaryOperator{Operator::Mod, LEVEL_TERM};
        case TokenKind::DoubleSlash:
            return BinaryOperator{Operator::FloorDiv, LEVEL_TERM};
        case TokenKind::DoubleStar:
            return BinaryOperator{Operator::Pow, LEVEL_POW};
        default:
            return std::nullopt;
    }
}

// The comparison a single token makes; `is` and `not` need the next token and are answered
// by the caller.
constexpr std::optional<CmpOp> single_token_comparison(TokenKind kind) {
    switch (kind) {
        case TokenKind::EqEqual:
            return CmpOp::Eq;
        case TokenKind::NotEqual:
            return CmpOp::NotEq;
        case TokenKind::Less:
            return CmpOp::Lt;
        case TokenKind::LessEqual:
            return CmpOp::LtE;
        case TokenKind::Greater:
            return CmpOp::Gt;
        case TokenKind::GreaterEqual:
            return CmpOp::GtE;
        case TokenKind::In:
            return CmpOp::In;
        default:
            return std::nullopt;
    }
}

// What a token does after an operand, answered by one load in the operator loop: the class of
// operator and the level it continues an expression above. Kinds that are no operator have
// level 0, which no expression's minimum level is below.
enum class OperatorClass : uint8_t { None, Binary, Boolean, Comparison };
struct OperatorRow {
    OperatorClass kind = OperatorClass::None;
    // The operator continues an expression whose minimum level is below this.
    uint8_t binds_above = 0;
    BinaryOperator binary{};
};

constexpr std::array<OperatorRow, python_ast::TOKEN_KIND_COUNT> OPERATOR_TABLE = [] {
    std::array<OperatorRow, python_ast::TOKEN_KIND_COUNT> table{};
    for (size_t i = 0; i < table.size(); ++i) {
        const auto kind = static_cast<TokenKind>(i);
        OperatorRow& row = table[i];
        if (kind == TokenKind::Or || kind == TokenKind::And) {
            row = {OperatorClass::Boolean, kind == TokenKind::Or ? LEVEL_OR : LEVEL_AND, {}};
        } else if (std::optional<BinaryOperator> binary = binary_operator(kind)) {
            // `**` groups to the right: it also continues an operand of its own level.
            const uint8_t above =
                binary->op == Operator::Pow ? uint8_t{LEVEL_POW + 1} : binary->level;
            row = {OperatorClass::Binary, above, *binary};
        } else if (single_token_comparison(kind) || kind == TokenKind::Is ||
                   kind == TokenKind::Not) {
            // `is` and `not` are answered with the token after them.
            row = {OperatorClass::Comparison, LEVEL_COMPARISON, {}};
        }
    }
    return table;
}();

constexpr const OperatorRow& operator_row(TokenKind kind) {
    return OPERATOR_TABLE[static_cast<size_t>(kind)];
}

// Whether the token continues an atom: an attribute, a call or a subscript.
constexpr bool starts_postfix(TokenKind kind) {
    return kind == TokenKind::Dot || kind == TokenKind::Lpar || kind == TokenKind::Lsqb;
}

// Where a slice part or a subscript element ends.
bool ends_slice_part(TokenKind kind) {
    return kind == TokenKind::Newline || kind == TokenKind::EndOfFile || kind == TokenKind::Rpar ||
           kind == TokenKind::Rsqb || kind == TokenKind::Comma;
}

// The node just stored in `expr`, known to be of kind T.
template <typename T>
T& stored(Expr& expr) {
    T* node = expr.as<T>();
    if (node == nullptr) __builtin_unreachable();
    return *node;
}

// The functions on the recursion paths keep small frames, so that the depth limit is reached
// long before a small thread stack runs out: error reporting and node building that need large
// temporaries live in the out-of-line helpers below, and every node is built in place in the
// slot that is finally returned.
#define RUDO_OUT_OF_LINE [[gnu::noinline]]
#define RUDO_COLD [[gnu::noinline, gnu::cold]]

// `left op right` for a binary operator: the node takes the place of `left`.
RUDO_OUT_OF_LINE void parse_binary_operation(Parser& p, ExprWithParens& left, TokenKind kind,
                                             BinaryOperator binary, ExprPosition flags,
                                             TextSize start) {
    p.bump(kind);
    ExprBinOp& node = left.expr.emplace_node<ExprBinOp>(ExprBinOp{
        .left = python_ast::Box<Expr>(std::move(left.expr)), .op = binary.op, .right = {}});
    left.in_parentheses = false;
    // The right operand binds tighter; `**` groups to the right, so its right operand takes
    // another `**` at its own level.
    node.right = p.parse_operand(binary.level, flags).expr;
    node.range = p.node_range(start);
}

// `a or b or c`: one node over all operands joined by the same keyword.
RUDO_OUT_OF_LINE void parse_boolean_operation(Parser& p, ExprWithParens& left, TokenKind kind,
                                              uint8_t level, ExprPosition flags, TextSize start) {
    p.bump(kind);
    auto values = p.list<Expr>();
    values.push_back(std::move(left.expr));
    for (;;) {
        values.push_back(p.parse_operand(level, flags).expr);
        if (!p.at(kind)) break;
        p.bump(kind);
    }
    left.expr = Expr(ExprBoolOp{.range = p.node_range(start),
                                .op = kind == TokenKind::Or ? BoolOp::Or : BoolOp::And,
                                .values = values.take()});
    left.in_parentheses = false;
}

// `a < b <= c`: one node for the whole chain.
RUDO_OUT_OF_LINE void parse_comparison(Parser& p, ExprWithParens& left, CmpOp op,
                                       ExprPosition flags, TextSize start) {
    auto ops = p.list<CmpOp>();
    auto comparators = p.list<Expr>();
    for (;;) {
        p.bump_cmp_op(op);
        ops.push_back(op);
        comparators.push_back(p.parse_operand(LEVEL_COMPARISON, flags).expr);
        if (p.at(TokenKind::In) && flags.contains(ExprPosition::NO_IN_OPERATOR)) break;
        std::optional<CmpOp> next = p.comparison_at_current();
        if (!next) break;
        op = *next;
    }
    left.expr = Expr(ExprCompare{.range = p.node_range(start),
                                 .left = std::move(left.expr),
                                 .ops = ops.take_seq(),
                                 .comparators = comparators.take_seq()});
    left.in_parentheses = false;
}

// `body if test else orelse`, after the body.
RUDO_OUT_OF_LINE ExprWithParens parse_if_expression(Parser& p, Expr body, TextSize start) {
    p.bump(TokenKind::If);
    ExprWithParens result{Expr(ExprIfExp{.test = {}, .body = std::move(body), .orelse = {}}),
                          false};
    stored<ExprIfExp>(result.expr).test = p.parse_operand(LEVEL_LOWEST, ExprPosition{}).expr;
    p.expect(TokenKind::Else);
    // The orelse nests to the right: `a if b else c if d else e`, `a if b else lambda: c`.
    stored<ExprIfExp>(result.expr).orelse =
        p.parse_conditional_expression_or_higher_impl(ExprPosition{}).expr;
    stored<ExprIfExp>(result.expr).range = p.node_range(start);
    return result;
}

// `target := value`, after the target.
RUDO_OUT_OF_LINE ExprWithParens parse_named_expression(Parser& p, Expr target, TextSize start) {
    p.bump(TokenKind::ColonEqual);
    // Parentheses around the name do not matter: `(a) := 1` is valid.
    if (!target.is<ExprName>()) {
        p.report<ParseErrorId::InvalidNamedExpressionTarget>(target.range());
    }
    set_expr_ctx(target, ExprContext::Store);
    ExprWithParens result{Expr(ExprNamedExpr{.target = std::move(target), .value = {}}), false};
    // The value is conditional-level, so `a := b := c` leaves the second `:=` to the caller.
    stored<ExprNamedExpr>(result.expr).value =
        p.parse_conditional_expression_or_higher_impl(ExprPosition{}).expr;
    stored<ExprNamedExpr>(result.expr).range = p.node_range(start);
    return result;
}

// `first, ...`: the unparenthesized tuple, after the first element.
RUDO_OUT_OF_LINE ExprWithParens parse_tuple_rest(Parser& p, Expr first, ExprPosition flags,
                                                 TextSize start) {
    p.expect(TokenKind::Comma);
    ExprWithParens result{
        Expr(ExprTuple{.elts = {}, .ctx = ExprContext::Load, .parenthesized = false}), false};
    auto elts = p.list<Expr>();
    elts.push_back(std::move(first));
    // Empty when the comma ends the tuple: `x = 1,`.
    p.parse_comma_separated_list(tuple_elements_kind(/*parenthesized=*/false), [&] {
        elts.push_back(p.parse_conditional_expression_or_higher_impl(flags).expr);
    });
    stored<ExprTuple>(result.expr).elts = elts.take();
    stored<ExprTuple>(result.expr).range = p.node_range(start);
    return result;
}

// The prefix forms with their gates: each records its error at the node it built, which stays.
RUDO_OUT_OF_LINE ExprWithParens parse_unary_form(Parser& p, TokenKind kind, uint8_t min_level,
                                                 ExprPosition flags) {
    UnaryOp op = kind == TokenKind::Plus    ? UnaryOp::UAdd
                 : kind == TokenKind::Minus ? UnaryOp::USub
                 : kind == TokenKind::Tilde ? UnaryOp::Invert
                                            : UnaryOp::Not;
    ExprWithParens result = p.parse_unary_expression(op, flags);
    if (op == UnaryOp::Not) {
        if (min_level > LEVEL_NOT) {
            p.report<ParseErrorId::MisplacedNotExpression>(result.expr.range());
        }
    } else if (min_level > LEVEL_POW) {
        p.report<ParseErrorId::MisplacedUnaryExpression>(result.expr.range(),
                                                         python_ast::display(op));
    }
    return result;
}

RUDO_OUT_OF_LINE ExprWithParens parse_await_form(Parser& p, uint8_t min_level) {
    TextSize start = p.current_token_range().start();
    p.bump(TokenKind::Await);
    ExprWithParens result{Expr(ExprAwait{}), false};
    // Every binary operator, `**` included, ends the awaited operand: `await a ** b` is
    // `(await a) ** b`.
    stored<ExprAwait>(result.expr).value = p.parse_operand(LEVEL_AWAIT, ExprPosition{}).expr;
    stored<ExprAwait>(result.expr).range = p.node_range(start);
    if (min_level > LEVEL_POW) {
        p.report<ParseErrorId::MisplacedAwaitExpression>(result.expr.range());
    }
    return result;
}

RUDO_OUT_OF_LINE ExprWithParens parse_starred_form(Parser& p, uint8_t min_level,
                                                   ExprPosition flags) {
    TextSize start = p.current_token_range().start();
    p.bump(TokenKind::Star);
    ExprWithParens result{Expr(ExprStarred{.value = {}, .ctx = ExprContext::Load}), false};
    stored<ExprStarred>(result.expr).value =
        flags.contains(ExprPosition::STARRED_AS_BITWISE_OR)
            ? p.parse_expression_with_bitwise_or_precedence().expr
            : p.parse_conditional_expression_or_higher_impl(flags).expr;
    stored<ExprStarred>(result.expr).range = p.node_range(start);
    if (min_level != LEVEL_LOWEST || !flags.contains(ExprPosition::STARRED_ALLOWED)) {
        p.report<ParseErrorId::MisplacedStarredExpression>(result.expr.range());
    }
    return result;
}

RUDO_OUT_OF_LINE ExprWithParens parse_yield_form(Parser& p, uint8_t min_level, ExprPosition flags) {
    ExprWithParens result{p.parse_yield_expression(), false};
    if (min_level != LEVEL_LOWEST || !flags.contains(ExprPosition::YIELD_ALLOWED)) {
        p.report<ParseErrorId::MisplacedYieldExpression>(result.expr.range());
    }
    return result;
}

// A lambda is valid only where the conditional level sees it first.
RUDO_OUT_OF_LINE ExprWithParens parse_misplaced_lambda(Parser& p) {
    ExprWithParens result = p.parse_lambda_expr();
    p.report<ParseErrorId::MisplacedLambdaExpression>(result.expr.range());
    return result;
}

// A call on `expr`, which the call node replaces.
RUDO_OUT_OF_LINE void parse_call(Parser& p, Expr& expr, TextSize start) {
    ExprCall& call = expr.emplace_node<ExprCall>(
        ExprCall{.func = python_ast::Box<Expr>(std::move(expr)), .arguments = {}});
    p.parse_arguments_into(call.arguments);
    call.range = p.node_range(start);
}

RUDO_OUT_OF_LINE void parse_attribute(Parser& p, Expr& expr, TextSize start) {
    expr = Expr(p.parse_attribute_expression(std::move(expr), start));
}

// The state of one argument list while its elements are parsed.
struct ArgumentList {
    explicit ArgumentList(Parser& p) : args(p.list<Expr>()), keywords(p.list<Keyword>()) {}
    ListBuilder<Expr> args;
    ListBuilder<Keyword> keywords;
    bool seen_keyword_argument = false;
    bool seen_keyword_unpacking = false;
};

// What follows an argument's first expression: a generator, a keyword value, or nothing.
RUDO_OUT_OF_LINE void finish_argument(Parser& p, ArgumentList& list, ExprWithParens parsed,
                                      TextSize start) {
    bool bare_starred = parsed.expr.is<ExprStarred>() && !parsed.in_parentheses;
    if (p.at(TokenKind::Async) || p.at(TokenKind::For)) {
        if (bare_starred) {
            p.report<ParseErrorId::IterableUnpackingInComprehension>(parsed.expr.range());
        }
        // The generator uses the call's parentheses; its clauses nest one level deeper.
        NestingGuard guard = p.enter_nesting();
        if (!guard) return;
        parsed.expr = p.parse_generator_expression(std::move(parsed.expr), start,
                                                   /*parenthesized=*/false);
        parsed.in_parentheses = false;
        bare_starred = false;
    } else if (list.seen_keyword_unpacking && bare_starred) {
        p.report<ParseErrorId::IterableUnpackingAfterKeywordUnpacking>(parsed.expr.range());
    }

    if (p.at(TokenKind::Equal)) {
        p.bump(TokenKind::Equal);
        Keyword& keyword = list.keywords.emplace_back();
        if (auto* name = parsed.expr.as<ExprName>()) {
            keyword.arg = Identifier{.id = std::move(name->id), .range = name->range};
        } else {
            p.report<ParseErrorId::ExpectedParameterName>(parsed.expr.range());
            keyword.arg = Identifier{.id = python_ast::Name(), .range = parsed.expr.range()};
        }
        keyword.value = p.parse_conditional_expression_or_higher_impl(ExprPosition{}).expr;
        keyword.range = p.node_range(start);
        list.seen_keyword_argument = true;
        return;
    }

    // Starred positionals may follow keywords (`f(a=1, *b)`); plain ones may not.
    if (!bare_starred) {
        if (list.seen_keyword_unpacking) {
            p.report<ParseErrorId::PositionalAfterKeywordUnpacking>(parsed.expr.range());
        } else if (list.seen_keyword_argument) {
            p.report<ParseErrorId::PositionalAfterKeywordArgument>(parsed.expr.range());
        }
    }
    list.args.push_back(std::move(parsed.expr));
}

RUDO_OUT_OF_LINE void parse_argument(Parser& p, ArgumentList& list) {
    TextSize start = p.current_token_range().start();
    if (p.at(TokenKind::DoubleStar)) {
        p.bump(TokenKind::DoubleStar);
        Keyword& keyword = list.keywords.emplace_back();
        keyword.value = p.parse_conditional_expression_or_higher_impl(ExprPosition{}).expr;
        keyword.range = p.node_range(start);
        list.seen_keyword_unpacking = true;
        return;
    }
    finish_argument(p, list, p.parse_named_expression_or_higher(ExprPosition::STARRED_ALLOWED),
                    start);
}

// The checks that need the whole list: repeated keywords, then unparenthesized generators.
RUDO_OUT_OF_LINE void check_arguments(Parser& p, const Arguments& arguments, bool trailing_comma) {
    // A single keyword cannot repeat: most calls need no set.
    if (arguments.keywords.size() >= 2) {
        std::unordered_set<std::string_view> seen;
        seen.reserve(arguments.keywords.size());
        for (const Keyword& keyword : arguments.keywords) {
            if (!keyword.arg) continue;
            if (!seen.insert(keyword.arg->as_str()).second) {
                p.report<ParseErrorId::DuplicateKeywordArgument>(
                    keyword.range, std::string(keyword.arg->as_str()));
            }
        }
    }
    // A generator may be the only argument, without a trailing comma.
    if (trailing_comma || arguments.args.size() + arguments.keywords.size() >= 2) {
        for (const Expr& arg : arguments.args) {
            if (const auto* generator = arg.as<ExprGeneratorExp>();
                generator && !generator->parenthesized) {
                p.report<ParseErrorId::UnparenthesizedGeneratorExpression>(generator->range);
            }
        }
    }
}

// A slice after its optional lower bound, from the `:` that must follow.
RUDO_OUT_OF_LINE Expr parse_slice_rest(Parser& p, OptionalBox<Expr> lower, TextSize start) {
    // With no lower bound and no colon (`a[)`), the slice has no parts at all.
    p.expect(TokenKind::Colon);
    Expr result(ExprSlice{.lower = std::move(lower), .upper = {}, .step = {}});
    if (!ends_slice_part(p.current_token_kind()) && !p.at(TokenKind::Colon)) {
        stored<ExprSlice>(result).upper =
            p.parse_conditional_expression_or_higher_impl(ExprPosition{}).expr;
    }
    if (p.at(TokenKind::Colon)) {
        p.bump(TokenKind::Colon);
        // A third colon is left for the caller.
        if (!ends_slice_part(p.current_token_kind())) {
            stored<ExprSlice>(result).step =
                p.parse_conditional_expression_or_higher_impl(ExprPosition{}).expr;
        }
    }
    stored<ExprSlice>(result).range = p.node_range(start);
    return result;
}

// The index of a subscript after `[`: `]` is expected by the caller unless the index is missing.
RUDO_OUT_OF_LINE Expr parse_subscript_index(Parser& p, TextSize start) {
    Expr first = p.parse_slice();
    if (p.at(TokenKind::Comma)) {
        p.bump(TokenKind::Comma);
        Expr tuple(ExprTuple{.elts = {}, .ctx = ExprContext::Load, .parenthesized = false});
        auto elts = p.list<Expr>();
        elts.push_back(std::move(first));
        p.parse_comma_separated_list(RecoveryContextKind::Slices,
                                     [&] { elts.push_back(p.parse_slice()); });
        stored<ExprTuple>(tuple).elts = elts.take();
        stored<ExprTuple>(tuple).range = p.node_range(start);
        return tuple;
    }
    if (first.is<ExprStarred>()) {
        // `a[*b]` indexes with a one-element tuple.
        Expr tuple(ExprTuple{.elts = {}, .ctx = ExprContext::Load, .parenthesized = false});
        stored<ExprTuple>(tuple).elts.push_back(std::move(first));
        stored<ExprTuple>(tuple).range = p.node_range(start);
        return tuple;
    }
    return first;
}

// A subscript of `expr`, which the subscript node replaces.
RUDO_OUT_OF_LINE void parse_subscript(Parser& p, Expr& expr, TextSize start) {
    NestingGuard guard = p.enter_nesting();
    if (!guard) return;  // the rest of the file is skipped: nothing to subscript with
    p.bump(TokenKind::Lsqb);
    set_expr_ctx(expr, ExprContext::Load);
    expr = Expr(ExprSubscript{.value = std::move(expr), .slice = {}, .ctx = ExprContext::Load});
    if (p.at(TokenKind::Rsqb)) {
        TextRange range = p.current_token_range();
        p.bump(TokenKind::Rsqb);
        p.report<ParseErrorId::ExpectedIndexOrSlice>(range);
        stored<ExprSubscript>(expr).slice = p.missing_expr(range);
    } else {
        stored<ExprSubscript>(expr).slice =
            parse_subscript_index(p, p.current_token_range().start());
        p.expect(TokenKind::Rsqb);
    }
    stored<ExprSubscript>(expr).range = p.node_range(start);
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Operators and precedence.

// The depth guard is held by the operand levels, the conditional level, lambdas, calls and
// subscripts: every recursion of the expression grammar passes through one of them.
namespace {

// The levels of an expression below return one named result on every path, so each builds its
// node in its caller's slot: an operand is not moved on its way up through the levels. The
// levels from a conditional expression down to an atom's first token are one frame: each keeps
// its own depth guard, and a plain name or number is built there without further calls.
#define RUDO_INLINE_LEVEL [[gnu::always_inline]] inline

// A number literal from the value the lexer read.
RUDO_INLINE_LEVEL NumberLiteralValue number_value(TokenValue&& value) {
    if (auto* integer = std::get_if<Int>(&value)) {
        return NumberLiteralValue(std::in_place_index<0>, std::move(*integer));
    }
    if (auto* real = std::get_if<double>(&value)) return NumberLiteralValue(*real);
    if (auto* complex = std::get_if<NumberLiteralComplex>(&value)) {
        return NumberLiteralValue(*complex);
    }
    quarn::unreachable();
}

// The current number token's value, which it consumes. A value that fits in 64 bits or a float
// is read where the lexer keeps it; only a big integer's text is taken over.
RUDO_INLINE_LEVEL NumberLiteralValue bump_number(Parser& p, TokenKind kind) {
    const TokenValue& value = p.token_source().current_value();
    if (const auto* integer = std::get_if<Int>(&value)) {
        if (const uint64_t* small = integer->as_u64()) {
            const uint64_t number = *small;
            p.bump(kind);
            return NumberLiteralValue(std::in_place_index<0>, Int::small(number));
        }
    } else if (const auto* real = std::get_if<double>(&value)) {
        const double number = *real;
        p.bump(kind);
        return NumberLiteralValue(number);
    }
    return number_value(p.bump_value(kind));
}

// Whether the token starts one of the prefix forms of an operand, which take no postfix.
constexpr bool starts_prefix_form(TokenKind kind) {
    switch (kind) {
        case TokenKind::Plus:
        case TokenKind::Minus:
        case TokenKind::Tilde:
        case TokenKind::Not:
        case TokenKind::Await:
        case TokenKind::Star:
        case TokenKind::Yield:
        case TokenKind::Lambda:
            return true;
        default:
            return false;
    }
}

// The operand's first part: a prefix form, or an atom without its postfix.
RUDO_INLINE_LEVEL ExprWithParens parse_operand_head(Parser& p, TokenKind kind, uint8_t min_level,
                                                    ExprPosition flags) {
    switch (kind) {
        case TokenKind::Name: {
            // parse_atom's name, without its calls.
            const TextRange range = p.current_token_range();
            python_ast::Name name = p.token_source().take_name();
            p.bump(TokenKind::Name);
            const ExprContext ctx = name.empty() ? ExprContext::Invalid : ExprContext::Load;
            return ExprWithParens{Expr(std::in_place_type<ExprName>,
                                       ExprName{.range = range, .id = std::move(name), .ctx = ctx}),
                                  false};
        }
        case TokenKind::Int:
        case TokenKind::Float:
        case TokenKind::Complex: {
            const TextRange range = p.current_token_range();
            return ExprWithParens{
                Expr(std::in_place_type<ExprNumberLiteral>,
                     ExprNumberLiteral{.range = range, .value = bump_number(p, kind)}),
                false};
        }
        case TokenKind::Plus:
        case TokenKind::Minus:
        case TokenKind::Tilde:
        case TokenKind::Not:
            return parse_unary_form(p, kind, min_level, flags);
        case TokenKind::Await:
            return parse_await_form(p, min_level);
        case TokenKind::Star:
            return parse_starred_form(p, min_level, flags);
        case TokenKind::Yield:
            return parse_yield_form(p, min_level, flags);
        case TokenKind::Lambda:
            return parse_misplaced_lambda(p);
        default:
            return p.parse_atom();
    }
}

// parse_lhs_expression's work under its guard, which `lhs_guard` holds and which ends before
// the operators: a prefix form, or an atom with its attributes, calls and subscripts.
RUDO_INLINE_LEVEL ExprWithParens parse_lhs_body(Parser& p, uint8_t min_level, ExprPosition flags,
                                                TextSize start) {
    const TokenKind kind = p.current_token_kind();
    ExprWithParens operand = parse_operand_head(p, kind, min_level, flags);
    if (!starts_prefix_form(kind) && starts_postfix(p.current_token_kind())) {
        p.continue_postfix_expression(operand, start);
    }
    return operand;
}

RUDO_INLINE_LEVEL ExprWithParens parse_operand_body(Parser& p, uint8_t min_level,
                                                    ExprPosition flags, NestingGuard& lhs_guard) {
    const TextSize start = p.current_token_range().start();
    ExprWithParens operand = parse_lhs_body(p, min_level, flags, start);
    lhs_guard.release();
    // Most operands end at a closer or a comma, or before an operator they do not take.
    if (operator_row(p.current_token_kind()).binds_above > min_level) {
        p.continue_binary_expression(operand, min_level, flags, start);
    }
    return operand;
}

// parse_operand: its own level and the one of parse_lhs_expression below it.
RUDO_INLINE_LEVEL ExprWithParens parse_operand_level(Parser& p, uint8_t min_level,
                                                     ExprPosition flags) {
    NestingGuard guard = p.enter_nesting();
    if (!guard) return ExprWithParens{p.placeholder_expression(), false};
    NestingGuard lhs_guard = p.enter_nesting();
    if (!lhs_guard) return ExprWithParens{p.placeholder_expression(), false};
    return parse_operand_body(p, min_level, flags, lhs_guard);
}

RUDO_INLINE_LEVEL ExprWithParens parse_conditional_body(Parser& p, ExprPosition flags) {
    const TextSize start = p.current_token_range().start();
    ExprWithParens body = parse_operand_level(p, LEVEL_LOWEST, flags);
    if (p.at(TokenKind::If)) body = parse_if_expression(p, std::move(body.expr), start);
    return body;
}

// parse_conditional_expression_or_higher_impl.
RUDO_INLINE_LEVEL ExprWithParens parse_conditional_level(Parser& p, ExprPosition flags) {
    NestingGuard guard = p.enter_nesting();
    if (!guard) return ExprWithParens{p.placeholder_expression(), false};
    if (p.at(TokenKind::Lambda)) return p.parse_lambda_expr();
    return parse_conditional_body(p, flags);
}

}  // namespace

ExprWithParens Parser::parse_operand(uint8_t min_level, ExprPosition flags) {
    return parse_operand_level(*this, min_level, flags);
}

std::optional<CmpOp> Parser::comparison_at_current() {
    TokenKind kind = current_token_kind();
    if (kind == TokenKind::Is) return peek_once() == TokenKind::Not ? CmpOp::IsNot : CmpOp::Is;
    if (kind == TokenKind::Not) {
        if (peek_once() == TokenKind::In) return CmpOp::NotIn;
        return std::nullopt;
    }
    return single_token_comparison(kind);
}

// Several nested operator loops may stop at the same `is` or `not`: the token after it is lexed
// once for all of them.
TokenKind Parser::peek_once() {
    TextSize start = current_token_range().start();
    if (!operator_peek_ || operator_peek_->token_index != current_token_index_ ||
        operator_peek_->start != start) {
        operator_peek_ = OperatorPeek{current_token_index_, start, token_source_.peek()};
    }
    return operator_peek_->kind;
}

void Parser::bump_cmp_op(CmpOp op) {
    switch (op) {
        case CmpOp::Eq:
            bump(TokenKind::EqEqual);
            break;
        case CmpOp::NotEq:
            bump(TokenKind::NotEqual);
            break;
        case CmpOp::Lt:
            bump(TokenKind::Less);
            break;
        case CmpOp::LtE:
            bump(TokenKind::LessEqual);
            break;
        case CmpOp::Gt:
            bump(TokenKind::Greater);
            break;
        case CmpOp::GtE:
            bump(TokenKind::GreaterEqual);
            break;
        case CmpOp::Is:
            bump(TokenKind::Is);
            break;
        case CmpOp::IsNot:
            bump(TokenKind::Is);
            bump(TokenKind::Not);
            break;
        case CmpOp::In:
            bump(TokenKind::In);
            break;
        case CmpOp::NotIn:
            bump(TokenKind::Not);
            bump(TokenKind::In);
            break;
    }
}

ExprWithParens Parser::parse_binary_expression_or_higher_recursive(ExprWithParens left,
                                                                   uint8_t min_level,
                                                                   ExprPosition flags,
                                                                   TextSize start) {
    continue_binary_expression(left, min_level, flags, start);
    return left;
}

void Parser::continue_binary_expression(ExprWithParens& left, uint8_t min_level, ExprPosition flags,
                                        TextSize start) {
    for (;;) {
        const TokenKind kind = current_token_kind();
        const OperatorRow& row = operator_row(kind);
        if (row.binds_above <= min_level) break;
        switch (row.kind) {
            case OperatorClass::Binary:
                parse_binary_operation(*this, left, kind, row.binary, flags, start);
                continue;
            case OperatorClass::Boolean:
                parse_boolean_operation(*this, left, kind, row.binds_above, flags, start);
                continue;
            case OperatorClass::Comparison:
                break;
            case OperatorClass::None:
                return;
        }
        if (kind == TokenKind::In && flags.contains(ExprPosition::NO_IN_OPERATOR)) break;
        std::optional<CmpOp> op = comparison_at_current();
        if (!op) break;
        parse_comparison(*this, left, *op, flags, start);
    }
}

ExprWithParens Parser::parse_unary_expression(UnaryOp op, ExprPosition flags) {
    TextSize start = current_token_range().start();
    bump(current_token_kind());  // the operator, chosen by the caller from this token
    ExprWithParens result{Expr(ExprUnaryOp{.op = op, .operand = {}}), false};
    stored<ExprUnaryOp>(result.expr).operand =
        parse_operand(op == UnaryOp::Not ? LEVEL_NOT : LEVEL_UNARY, flags).expr;
    stored<ExprUnaryOp>(result.expr).range = node_range(start);
    return result;
}

ExprWithParens Parser::parse_conditional_expression_or_higher_impl(ExprPosition flags) {
    return parse_conditional_level(*this, flags);
}

ExprWithParens Parser::parse_lambda_expr() {
    NestingGuard guard = enter_nesting();
    if (!guard) return ExprWithParens{missing_expr(TextRange::empty(prev_token_end_)), false};
    TextSize start = current_token_range().start();
    bump(TokenKind::Lambda);
    ExprWithParens result{Expr(ExprLambda{}), false};
    if (!at(TokenKind::Colon)) {
        stored<ExprLambda>(result.expr).parameters = parse_parameters(FunctionKind::Lambda);
    }
    expect(TokenKind::Colon);
    // A single conditional-level body: a following `:=` or comma ends the lambda.
    stored<ExprLambda>(result.expr).body =
        parse_conditional_expression_or_higher_impl(ExprPosition{}).expr;
    stored<ExprLambda>(result.expr).range = node_range(start);
    return result;
}

ExprWithParens Parser::parse_named_expression_or_higher(ExprPosition flags) {
    TextSize start = current_token_range().start();
    ExprWithParens target = parse_conditional_level(*this, flags);
    if (at(TokenKind::ColonEqual)) {
        target = parse_named_expression(*this, std::move(target.expr), start);
    }
    return target;
}

ExprWithParens Parser::parse_expression_list(ExprPosition flags) {
    TextSize start = current_token_range().start();
    ExprWithParens first = parse_conditional_expression_or_higher_impl(flags);
    if (at(TokenKind::Comma)) first = parse_tuple_rest(*this, std::move(first.expr), flags, start);
    return first;
}

ExprWithParens Parser::parse_expression_with_bitwise_or_precedence() {
    ExprWithParens parsed = parse_conditional_expression_or_higher_impl(ExprPosition{});
    if (parsed.in_parentheses) return parsed;
    std::string_view what;
    const Expr& expr = parsed.expr;
    if (expr.is<ExprBoolOp>()) {
        what = "Boolean";
    } else if (const auto* unary = expr.as<ExprUnaryOp>(); unary && unary->op == UnaryOp::Not) {
        what = "Boolean";
    } else if (expr.is<ExprLambda>()) {
        what = "Lambda";
    } else if (expr.is<ExprIfExp>()) {
        what = "Conditional";
    } else if (expr.is<ExprCompare>()) {
        what = "Comparison";
    }
    if (!what.empty()) report<ParseErrorId::MisplacedBitwiseOrOperand>(expr.range(), what);
    return parsed;
}

// ---------------------------------------------------------------------------------------------
// Operands.

ExprWithParens Parser::parse_lhs_expression(uint8_t min_level, ExprPosition flags) {
    // Comprehension clauses call in here directly, not through the operand level.
    NestingGuard guard = enter_nesting();
    if (!guard) return ExprWithParens{missing_expr(TextRange::empty(prev_token_end_)), false};
    return parse_lhs_body(*this, min_level, flags, current_token_range().start());
}

Expr Parser::parse_yield_expression() {
    TextSize start = current_token_range().start();
    bump(TokenKind::Yield);
    if (at(TokenKind::From)) {
        bump(TokenKind::From);
        Expr result(ExprYieldFrom{});
        stored<ExprYieldFrom>(result).value = parse_expression_list(ExprPosition{}).expr;
        const Expr& value = *stored<ExprYieldFrom>(result).value;
        if (const auto* tuple = value.as<ExprTuple>(); tuple && !tuple->parenthesized) {
            report<ParseErrorId::UnparenthesizedTupleExpression>(tuple->range);
        }
        stored<ExprYieldFrom>(result).range = node_range(start);
        return result;
    }
    Expr result(ExprYield{});
    // `yield` alone before `)`, a newline, `=` and the like has no value.
    if (at_expr()) {
        stored<ExprYield>(result).value = parse_expression_list(ExprPosition::STARRED_ALLOWED |
                                                                ExprPosition::STARRED_AS_BITWISE_OR)
                                              .expr;
    }
    stored<ExprYield>(result).range = node_range(start);
    return result;
}

Expr Parser::placeholder_expression() const {
    return missing_expr(TextRange::empty(prev_token_end_));
}

ExprWithParens Parser::parse_atom() {
    TokenKind kind = current_token_kind();
    TextRange range = current_token_range();
    switch (kind) {
        case TokenKind::String:
        case TokenKind::FStringStart:
        case TokenKind::TStringStart:
            return ExprWithParens{parse_strings(), false};
        case TokenKind::Int:
        case TokenKind::Float:
        case TokenKind::Complex: {
            return ExprWithParens{
                ExprNumberLiteral{.range = range, .value = number_value(bump_value(kind))}, false};
        }
        case TokenKind::True:
        case TokenKind::False:
            bump(kind);
            return ExprWithParens{
                ExprBooleanLiteral{.range = range, .value = kind == TokenKind::True}, false};
        case TokenKind::None:
            bump(kind);
            return ExprWithParens{ExprNoneLiteral{.range = range}, false};
        case TokenKind::Ellipsis:
            bump(kind);
            return ExprWithParens{ExprEllipsisLiteral{.range = range}, false};
        case TokenKind::Lsqb:
            return parse_list_like_expression();
        case TokenKind::Lbrace:
            return parse_set_or_dict_like_expression();
        case TokenKind::Lpar:
            return parse_parenthesized_expression();
        default:
            break;
    }
    // Soft keywords are names here; other keywords become names after an error.
    if (kind == TokenKind::Name || python_ast::is_keyword(kind)) {
        return ExprWithParens{parse_name(), false};
    }
    report<ParseErrorId::ExpectedExpression>(range);
    return ExprWithParens{placeholder_expression(), false};
}

ExprWithParens Parser::parse_postfix_expression(ExprWithParens atom, TextSize start) {
    continue_postfix_expression(atom, start);
    return atom;
}

void Parser::continue_postfix_expression(ExprWithParens& atom, TextSize start) {
    for (;;) {
        switch (current_token_kind()) {
            case TokenKind::Dot:
                parse_attribute(*this, atom.expr, start);
                break;
            case TokenKind::Lpar:
                parse_call(*this, atom.expr, start);
                break;
            case TokenKind::Lsqb:
                parse_subscript(*this, atom.expr, start);
                break;
            default:
                return;
        }
        atom.in_parentheses = false;
    }
}

ExprAttribute Parser::parse_attribute_expression(Expr&& value, TextSize start) {
    bump(TokenKind::Dot);
    Identifier attr = parse_identifier();
    return ExprAttribute{.range = node_range(start),
                         .value = std::move(value),
                         .attr = std::move(attr),
                         .ctx = ExprContext::Load};
}

Expr Parser::parse_slice() {
    TextSize start = current_token_range().start();
    OptionalBox<Expr> lower;
    if (at_expr()) {
        ExprWithParens parsed = parse_named_expression_or_higher(ExprPosition::STARRED_ALLOWED);
        // A plain index, which may be a named or a starred expression.
        if (ends_slice_part(current_token_kind())) return std::move(parsed.expr);
        if (!parsed.in_parentheses) {
            if (parsed.expr.is<ExprNamedExpr>()) {
                report<ParseErrorId::UnparenthesizedNamedExpression>(parsed.expr.range());
            } else if (parsed.expr.is<ExprStarred>()) {
                report<ParseErrorId::MisplacedStarredExpression>(parsed.expr.range());
            }
        }
        lower = std::move(parsed.expr);
    }
    return parse_slice_rest(*this, std::move(lower), start);
}

Arguments Parser::parse_arguments() {
    Arguments arguments;
    parse_arguments_into(arguments);
    return arguments;
}

void Parser::parse_arguments_into(Arguments& arguments) {
    NestingGuard guard = enter_nesting();
    TextSize start = current_token_range().start();
    if (!guard) {
        arguments.range = node_range(start);
        return;
    }
    bump(TokenKind::Lpar);
    ArgumentList list(*this);
    parse_comma_separated_list(RecoveryContextKind::Arguments,
                               [&] { parse_argument(*this, list); });
    bool trailing_comma = last_consumed_is_comma();
    expect(TokenKind::Rpar);
    arguments.range = node_range(start);
    arguments.args = list.args.take_seq();
    arguments.keywords = list.keywords.take_seq();
    // A single argument without a trailing comma has nothing to check.
    if (trailing_comma || arguments.args.size() + arguments.keywords.size() >= 2) {
        check_arguments(*this, arguments, trailing_comma);
    }
}

bool Parser::last_consumed_is_comma() const {
    const std::vector<python_ast::Token>& tokens = token_source_.tokens();
    for (auto it = tokens.rbegin(); it != tokens.rend(); ++it) {
        if (!python_ast::is_trivia(it->kind)) return it->kind == TokenKind::Comma;
    }
    return false;
}

// ---------------------------------------------------------------------------------------------
// Identifiers.

Identifier Parser::parse_identifier() {
    TokenKind kind = current_token_kind();
    TextRange range = current_token_range();
    if (kind == TokenKind::Name) {
        Name name = token_source().take_name();
        bump(TokenKind::Name);
        return Identifier{.id = std::move(name), .range = range};
    }
    if (python_ast::is_soft_keyword(kind)) {
        Name text(src_text(range));
        // Used as a name, a soft keyword is recorded as one.
        do_bump(TokenKind::Name);
        return Identifier{.id = std::move(text), .range = range};
    }
    if (python_ast::is_keyword(kind)) {
        // Parsing goes on as if a name had been written: `x.if` has the attribute `if`.
        report<ParseErrorId::KeywordAsIdentifier>(range, python_ast::display(kind));
        Name text(src_text(range));
        bump_any();
        return Identifier{.id = std::move(text), .range = range};
    }
    return parse_missing_identifier();
}

Identifier Parser::parse_missing_identifier() {
    report<ParseErrorId::ExpectedIdentifier>(current_token_range());
    return Identifier{.id = Name(), .range = TextRange::empty(prev_token_end_)};
}

ExprName Parser::parse_name() {
    Identifier identifier = parse_identifier();
    ExprContext ctx = identifier.is_valid() ? ExprContext::Load : ExprContext::Invalid;
    return ExprName{.range = identifier.range, .id = std::move(identifier.id), .ctx = ctx};
}

}  // namespace rudo::python_parser

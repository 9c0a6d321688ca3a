// Expressions: precedence climbing over the operators, the prefix forms, atoms with their
// postfix forms, call arguments, subscripts and slices, identifiers.
//
// Left-associative chains (`a + b + c`, `a or b or c`, comparison chains, postfix chains) are
// built in loops, so their length never deepens the stack; only true nesting (unary chains, the
// right operand of `**`, conditional chains, lambdas, brackets) recurses, under the depth guard.
#include <optional>
#include <string>
#include <string_view>
#include <unordered_set>
#include <utility>
#include <variant>
#include <vector>

#include <fmt/format.h>

#include "quarn/panic.h"
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

// Binding levels; an operator continues an expression when its level is above the
// expression's minimum level.
constexpr uint8_t LEVEL_OR = 6;
constexpr uint8_t LEVEL_AND = 7;
constexpr uint8_t LEVEL_NOT = 8;
constexpr uint8_t LEVEL_COMPARISON = 9;
constexpr uint8_t LEVEL_UNARY = 16;
constexpr uint8_t LEVEL_POW = 17;
constexpr uint8_t LEVEL_AWAIT = 18;

struct BinaryOperator {
    Operator op;
    uint8_t level;
};

std::optional<BinaryOperator> binary_operator(TokenKind kind) {
    switch (kind) {
        case TokenKind::Vbar: return BinaryOperator{Operator::BitOr, 10};
        case TokenKind::CircumFlex: return BinaryOperator{Operator::BitXor, 11};
        case TokenKind::Amper: return BinaryOperator{Operator::BitAnd, 12};
        case TokenKind::LeftShift: return BinaryOperator{Operator::LShift, 13};
        case TokenKind::RightShift: return BinaryOperator{Operator::RShift, 13};
        case TokenKind::Plus: return BinaryOperator{Operator::Add, 14};
        case TokenKind::Minus: return BinaryOperator{Operator::Sub, 14};
        case TokenKind::Star: return BinaryOperator{Operator::Mult, 15};
        case TokenKind::At: return BinaryOperator{Operator::MatMult, 15};
        case TokenKind::Slash: return BinaryOperator{Operator::Div, 15};
        case TokenKind::Percent: return BinaryOperator{Operator::Mod, 15};
        case TokenKind::DoubleSlash: return BinaryOperator{Operator::FloorDiv, 15};
        case TokenKind::DoubleStar: return BinaryOperator{Operator::Pow, LEVEL_POW};
        default: return std::nullopt;
    }
}

// The comparison a single token makes; `is` and `not` need the next token and are answered
// by the caller.
std::optional<CmpOp> single_token_comparison(TokenKind kind) {
    switch (kind) {
        case TokenKind::EqEqual: return CmpOp::Eq;
        case TokenKind::NotEqual: return CmpOp::NotEq;
        case TokenKind::Less: return CmpOp::Lt;
        case TokenKind::LessEqual: return CmpOp::LtE;
        case TokenKind::Greater: return CmpOp::Gt;
        case TokenKind::GreaterEqual: return CmpOp::GtE;
        case TokenKind::In: return CmpOp::In;
        default: return std::nullopt;
    }
}

// Where a slice part or a subscript element ends.
bool ends_slice_part(TokenKind kind) {
    return kind == TokenKind::Newline || kind == TokenKind::EndOfFile || kind == TokenKind::Rpar ||
           kind == TokenKind::Rsqb || kind == TokenKind::Comma;
}

}  // namespace

// Every recursion of the expression grammar passes through here or through the conditional
// level (unary chains, the right operand of `**`, brackets via their elements), so these two
// entries, with lambdas, hold the depth guard.
ExprWithParens Parser::parse_operand(uint8_t min_level, ExprPosition flags) {
    NestingGuard guard = enter_nesting();
    if (!guard) return ExprWithParens{missing_expr(TextRange::empty(prev_token_end_)), false};
    TextSize start = current_token_range().start();
    ExprWithParens lhs = parse_lhs_expression(min_level, flags);
    return parse_binary_expression_or_higher_recursive(std::move(lhs), min_level, flags, start);
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
        case CmpOp::Eq: bump(TokenKind::EqEqual); break;
        case CmpOp::NotEq: bump(TokenKind::NotEqual); break;
        case CmpOp::Lt: bump(TokenKind::Less); break;
        case CmpOp::LtE: bump(TokenKind::LessEqual); break;
        case CmpOp::Gt: bump(TokenKind::Greater); break;
        case CmpOp::GtE: bump(TokenKind::GreaterEqual); break;
        case CmpOp::Is: bump(TokenKind::Is); break;
        case CmpOp::IsNot:
            bump(TokenKind::Is);
            bump(TokenKind::Not);
            break;
        case CmpOp::In: bump(TokenKind::In); break;
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
    for (;;) {
        TokenKind kind = current_token_kind();
        if (kind == TokenKind::In && (flags.contains(ExprPosition::NO_IN_OPERATOR))) break;

        if (kind == TokenKind::And || kind == TokenKind::Or) {
            uint8_t level = kind == TokenKind::Or ? LEVEL_OR : LEVEL_AND;
            if (level <= min_level) break;
            bump(kind);
            std::vector<Expr> values;
            values.push_back(std::move(left.expr));
            for (;;) {
                values.push_back(parse_operand(level, flags).expr);
                if (!at(kind)) break;
                bump(kind);
            }
            left = ExprWithParens{Expr(ExprBoolOp{.range = node_range(start),
                                                  .op = kind == TokenKind::Or ? BoolOp::Or
                                                                              : BoolOp::And,
                                                  .values = std::move(values)}),
                                  false};
            continue;
        }

        if (auto binary = binary_operator(kind)) {
            bool binds = binary->op == Operator::Pow ? min_level <= LEVEL_POW
                                                     : binary->level > min_level;
            if (!binds) break;
            bump(kind);
            Expr right = parse_operand(binary->level, flags).expr;
            left = ExprWithParens{Expr(ExprBinOp{.range = node_range(start),
                                                 .left = std::move(left.expr),
                                                 .op = binary->op,
                                                 .right = std::move(right)}),
                                  false};
            continue;
        }

        // Comparisons bind below level 9 only; deciding that first spares the look-ahead that
        // `is` and `not` need.
        if (min_level >= LEVEL_COMPARISON) break;
        std::optional<CmpOp> op = comparison_at_current();
        if (!op) break;
        std::vector<CmpOp> ops;
        std::vector<Expr> comparators;
        for (;;) {
            bump_cmp_op(*op);
            ops.push_back(*op);
            comparators.push_back(parse_operand(LEVEL_COMPARISON, flags).expr);
            if (at(TokenKind::In) && (flags.contains(ExprPosition::NO_IN_OPERATOR))) break;
            op = comparison_at_current();
            if (!op) break;
        }
        left = ExprWithParens{Expr(ExprCompare{.range = node_range(start),
                                               .left = std::move(left.expr),
                                               .ops = Seq<CmpOp>(std::move(ops)),
                                               .comparators = Seq<Expr>(std::move(comparators))}),
                              false};
    }
    return left;
}

ExprWithParens Parser::parse_unary_expression(UnaryOp op, ExprPosition flags) {
    TextSize start = current_token_range().start();
    bump_any();  // the operator's token, checked by the caller's dispatch
    Expr operand = parse_operand(op == UnaryOp::Not ? LEVEL_NOT : LEVEL_UNARY, flags).expr;
    return ExprWithParens{
        Expr(ExprUnaryOp{.range = node_range(start), .op = op, .operand = std::move(operand)}),
        false};
}

ExprWithParens Parser::parse_conditional_expression_or_higher_impl(ExprPosition flags) {
    NestingGuard guard = enter_nesting();
    if (!guard) return ExprWithParens{missing_expr(TextRange::empty(prev_token_end_)), false};
    if (at(TokenKind::Lambda)) return parse_lambda_expr();
    TextSize start = current_token_range().start();
    ExprWithParens body = parse_operand(0, flags);
    if (!at(TokenKind::If)) return body;
    bump(TokenKind::If);
    Expr test = parse_operand(0, ExprPosition{}).expr;
    expect(TokenKind::Else);
    Expr orelse = parse_conditional_expression_or_higher_impl(ExprPosition{}).expr;
    return ExprWithParens{Expr(ExprIfExp{.range = node_range(start),
                                         .test = std::move(test),
                                         .body = std::move(body.expr),
                                         .orelse = std::move(orelse)}),
                          false};
}

ExprWithParens Parser::parse_lambda_expr() {
    NestingGuard guard = enter_nesting();
    if (!guard) return ExprWithParens{missing_expr(TextRange::empty(prev_token_end_)), false};
    TextSize start = current_token_range().start();
    bump(TokenKind::Lambda);
    OptionalBox<Parameters> parameters;
    if (!at(TokenKind::Colon)) parameters = parse_parameters(FunctionKind::Lambda);
    expect(TokenKind::Colon);
    Expr body = parse_conditional_expression_or_higher_impl(ExprPosition{}).expr;
    return ExprWithParens{Expr(ExprLambda{.range = node_range(start),
                                          .parameters = std::move(parameters),
                                          .body = std::move(body)}),
                          false};
}

ExprWithParens Parser::parse_named_expression_or_higher(ExprPosition flags) {
    TextSize start = current_token_range().start();
    ExprWithParens target = parse_conditional_expression_or_higher_impl(flags);
    if (!at(TokenKind::ColonEqual)) return target;
    bump(TokenKind::ColonEqual);
    if (!target.expr.is<ExprName>()) {
        add_error(ParseErrorType::of(ParseErrorType::Kind::InvalidNamedExpressionTarget),
                  target.expr.range());
    }
    set_expr_ctx(target.expr, ExprContext::Store);
    Expr value = parse_conditional_expression_or_higher_impl(ExprPosition{}).expr;
    return ExprWithParens{Expr(ExprNamedExpr{.range = node_range(start),
                                             .target = std::move(target.expr),
                                             .value = std::move(value)}),
                          false};
}

ExprWithParens Parser::parse_expression_list(ExprPosition flags) {
    TextSize start = current_token_range().start();
    ExprWithParens first = parse_conditional_expression_or_higher_impl(flags);
    if (!at(TokenKind::Comma)) return first;
    expect(TokenKind::Comma);
    std::vector<Expr> elts;
    elts.push_back(std::move(first.expr));
    parse_comma_separated_list(tuple_elements_kind(/*parenthesized=*/false), [&] {
        elts.push_back(parse_conditional_expression_or_higher_impl(flags).expr);
    });
    return ExprWithParens{Expr(ExprTuple{.range = node_range(start),
                                         .elts = std::move(elts),
                                         .ctx = ExprContext::Load,
                                         .parenthesized = false}),
                          false};
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
    if (!what.empty()) {
        add_error(ParseErrorType::other(fmt::format("{} expression cannot be used here", what)),
                  expr.range());
    }
    return parsed;
}

ExprWithParens Parser::parse_lhs_expression(uint8_t min_level, ExprPosition flags) {
    TextSize start = current_token_range().start();
    TokenKind kind = current_token_kind();
    switch (kind) {
        case TokenKind::Plus:
        case TokenKind::Minus:
        case TokenKind::Tilde: {
            UnaryOp op = kind == TokenKind::Plus    ? UnaryOp::UAdd
                         : kind == TokenKind::Minus ? UnaryOp::USub
                                                    : UnaryOp::Invert;
            ExprWithParens unary = parse_unary_expression(op, flags);
            if (min_level > LEVEL_POW) {
                add_error(ParseErrorType::other(fmt::format(
                              "Unary '{}' expression cannot be used here", python_ast::display(op))),
                          unary.expr.range());
            }
            return unary;
        }
        case TokenKind::Not: {
            ExprWithParens unary = parse_unary_expression(UnaryOp::Not, flags);
            if (min_level > LEVEL_NOT) {
                add_error(ParseErrorType::other("Boolean 'not' expression cannot be used here"),
                          unary.expr.range());
            }
            return unary;
        }
        case TokenKind::Await: {
            bump(TokenKind::Await);
            Expr value = parse_operand(LEVEL_AWAIT, ExprPosition{}).expr;
            Expr await = ExprAwait{.range = node_range(start), .value = std::move(value)};
            if (min_level > LEVEL_POW) {
                add_error(ParseErrorType::other("Await expression cannot be used here"),
                          await.range());
            }
            return ExprWithParens{std::move(await), false};
        }
        case TokenKind::Star: {
            bump(TokenKind::Star);
            Expr value = flags.contains(ExprPosition::STARRED_AS_BITWISE_OR)
                             ? parse_expression_with_bitwise_or_precedence().expr
                             : parse_conditional_expression_or_higher_impl(flags).expr;
            Expr starred = ExprStarred{
                .range = node_range(start), .value = std::move(value), .ctx = ExprContext::Load};
            if (min_level != 0 || !flags.contains(ExprPosition::STARRED_ALLOWED)) {
                add_error(ParseErrorType::of(ParseErrorType::Kind::MisplacedStarredExpression),
                          starred.range());
            }
            return ExprWithParens{std::move(starred), false};
        }
        case TokenKind::Yield: {
            Expr yield = parse_yield_expression();
            if (min_level != 0 || !flags.contains(ExprPosition::YIELD_ALLOWED)) {
                add_error(ParseErrorType::of(ParseErrorType::Kind::MisplacedYieldExpression),
                          yield.range());
            }
            return ExprWithParens{std::move(yield), false};
        }
        case TokenKind::Lambda: {
            ExprWithParens lambda = parse_lambda_expr();
            add_error(ParseErrorType::of(ParseErrorType::Kind::MisplacedLambdaExpression),
                      lambda.expr.range());
            return lambda;
        }
        default:
            break;
    }
    ExprWithParens atom = parse_atom();
    return parse_postfix_expression(std::move(atom), start);
}

Expr Parser::parse_yield_expression() {
    TextSize start = current_token_range().start();
    bump(TokenKind::Yield);
    if (at(TokenKind::From)) {
        bump(TokenKind::From);
        Expr value = parse_expression_list(ExprPosition{}).expr;
        if (const auto* tuple = value.as<ExprTuple>(); tuple && !tuple->parenthesized) {
            add_error(ParseErrorType::of(ParseErrorType::Kind::UnparenthesizedTupleExpression),
                      tuple->range);
        }
        return ExprYieldFrom{.range = node_range(start), .value = std::move(value)};
    }
    OptionalBox<Expr> value;
    if (at_expr()) {
        value = parse_expression_list(ExprPosition::STARRED_ALLOWED |
                                      ExprPosition::STARRED_AS_BITWISE_OR)
                    .expr;
    }
    return ExprYield{.range = node_range(start), .value = std::move(value)};
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
            TokenValue value = bump_value(kind);
            NumberLiteralValue number;
            if (auto* integer = std::get_if<Int>(&value)) {
                number = std::move(*integer);
            } else if (auto* real = std::get_if<double>(&value)) {
                number = *real;
            } else if (auto* complex = std::get_if<Complex>(&value)) {
                number = NumberLiteralValue::Complex{complex->real, complex->imag};
            } else {
                quarn::panic("internal error: entered unreachable code");
            }
            return ExprWithParens{ExprNumberLiteral{.range = range, .value = std::move(number)},
                                  false};
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
    if (kind == TokenKind::Name || python_ast::is_keyword(kind)) {
        return ExprWithParens{parse_name(), false};
    }
    add_error(ParseErrorType::of(ParseErrorType::Kind::ExpectedExpression), range);
    return ExprWithParens{placeholder_expression(), false};
}

ExprWithParens Parser::parse_postfix_expression(ExprWithParens atom, TextSize start) {
    for (;;) {
        switch (current_token_kind()) {
            case TokenKind::Dot:
                atom = ExprWithParens{parse_attribute_expression(std::move(atom.expr), start), false};
                continue;
            case TokenKind::Lpar: {
                Arguments arguments = parse_arguments();
                atom = ExprWithParens{ExprCall{.range = node_range(start),
                                               .func = std::move(atom.expr),
                                               .arguments = std::move(arguments)},
                                      false};
                continue;
            }
            case TokenKind::Lsqb:
                atom = ExprWithParens{parse_subscript_expression(std::move(atom.expr), start), false};
                continue;
            default:
                return atom;
        }
    }
}

ExprAttribute Parser::parse_attribute_expression(Expr value, TextSize start) {
    bump(TokenKind::Dot);
    Identifier attr = parse_identifier();
    return ExprAttribute{.range = node_range(start),
                         .value = std::move(value),
                         .attr = std::move(attr),
                         .ctx = ExprContext::Load};
}

ExprSubscript Parser::parse_subscript_expression(Expr value, TextSize start) {
    bump(TokenKind::Lsqb);
    set_expr_ctx(value, ExprContext::Load);
    TextSize index_start = current_token_range().start();
    Expr index = placeholder_expression();
    if (at(TokenKind::Rsqb)) {
        TextRange range = current_token_range();
        bump(TokenKind::Rsqb);
        add_error(ParseErrorType::of(ParseErrorType::Kind::ExpectedIndexOrSlice), range);
        index = missing_expr(range);
    } else {
        Expr first = parse_slice();
        if (at(TokenKind::Comma)) {
            bump(TokenKind::Comma);
            std::vector<Expr> elts;
            elts.push_back(std::move(first));
            parse_comma_separated_list(RecoveryContextKind::Slices, [&] {
                elts.push_back(parse_slice());
            });
            index = ExprTuple{.range = node_range(index_start),
                              .elts = std::move(elts),
                              .ctx = ExprContext::Load,
                              .parenthesized = false};
        } else if (first.is<ExprStarred>()) {
            std::vector<Expr> elts;
            elts.push_back(std::move(first));
            index = ExprTuple{.range = node_range(index_start),
                              .elts = std::move(elts),
                              .ctx = ExprContext::Load,
                              .parenthesized = false};
        } else {
            index = std::move(first);
        }
        expect(TokenKind::Rsqb);
    }
    return ExprSubscript{.range = node_range(start),
                         .value = std::move(value),
                         .slice = std::move(index),
                         .ctx = ExprContext::Load};
}

Expr Parser::parse_slice() {
    TextSize start = current_token_range().start();
    OptionalBox<Expr> lower;
    if (at_expr()) {
        ExprWithParens parsed = parse_named_expression_or_higher(ExprPosition::STARRED_ALLOWED);
        if (ends_slice_part(current_token_kind())) return std::move(parsed.expr);
        if (!parsed.in_parentheses) {
            if (parsed.expr.is<ExprNamedExpr>()) {
                add_error(ParseErrorType::of(ParseErrorType::Kind::UnparenthesizedNamedExpression),
                          parsed.expr.range());
            } else if (parsed.expr.is<ExprStarred>()) {
                add_error(ParseErrorType::of(ParseErrorType::Kind::MisplacedStarredExpression),
                          parsed.expr.range());
            }
        }
        lower = std::move(parsed.expr);
    }
    expect(TokenKind::Colon);
    OptionalBox<Expr> upper;
    if (!ends_slice_part(current_token_kind()) && !at(TokenKind::Colon)) {
        upper = parse_conditional_expression_or_higher_impl(ExprPosition{}).expr;
    }
    OptionalBox<Expr> step;
    if (at(TokenKind::Colon)) {
        bump(TokenKind::Colon);
        if (!ends_slice_part(current_token_kind())) {
            step = parse_conditional_expression_or_higher_impl(ExprPosition{}).expr;
        }
    }
    return ExprSlice{.range = node_range(start),
                     .lower = std::move(lower),
                     .upper = std::move(upper),
                     .step = std::move(step)};
}

Arguments Parser::parse_arguments() {
    TextSize start = current_token_range().start();
    bump(TokenKind::Lpar);
    std::vector<Expr> args;
    std::vector<Keyword> keywords;
    bool seen_keyword_argument = false;
    bool seen_keyword_unpacking = false;
    auto add_kind_error = [&](ParseErrorType::Kind kind, TextRange range) {
        add_error(ParseErrorType::of(kind), range);
    };

    parse_comma_separated_list(RecoveryContextKind::Arguments, [&] {
        TextSize argument_start = current_token_range().start();
        if (at(TokenKind::DoubleStar)) {
            bump(TokenKind::DoubleStar);
            Expr value = parse_conditional_expression_or_higher_impl(ExprPosition{}).expr;
            keywords.push_back(Keyword{.range = node_range(argument_start),
                                       .arg = std::nullopt,
                                       .value = std::move(value)});
            seen_keyword_unpacking = true;
            return;
        }
        ExprWithParens parsed = parse_named_expression_or_higher(ExprPosition::STARRED_ALLOWED);
        bool bare_starred = parsed.expr.is<ExprStarred>() && !parsed.in_parentheses;
        if (at(TokenKind::Async) || at(TokenKind::For)) {
            if (bare_starred) {
                add_kind_error(ParseErrorType::Kind::IterableUnpackingInComprehension,
                               parsed.expr.range());
            }
            parsed = ExprWithParens{parse_generator_expression(std::move(parsed.expr),
                                                               argument_start,
                                                               /*parenthesized=*/false),
                                    false};
            bare_starred = false;
        } else if (seen_keyword_unpacking && bare_starred) {
            add_kind_error(ParseErrorType::Kind::IterableUnpackingAfterKeywordUnpacking,
                           parsed.expr.range());
        }
        if (at(TokenKind::Equal)) {
            bump(TokenKind::Equal);
            Identifier arg;
            if (auto* name = parsed.expr.as<ExprName>()) {
                arg = Identifier{.id = std::move(name->id), .range = name->range};
            } else {
                add_error(ParseErrorType::other("Expected a parameter name"), parsed.expr.range());
                arg = Identifier{.id = Name(), .range = parsed.expr.range()};
            }
            Expr value = parse_conditional_expression_or_higher_impl(ExprPosition{}).expr;
            keywords.push_back(Keyword{.range = node_range(argument_start),
                                       .arg = std::move(arg),
                                       .value = std::move(value)});
            seen_keyword_argument = true;
            return;
        }
        if (!bare_starred) {
            if (seen_keyword_unpacking) {
                add_kind_error(ParseErrorType::Kind::PositionalAfterKeywordUnpacking,
                               parsed.expr.range());
            } else if (seen_keyword_argument) {
                add_kind_error(ParseErrorType::Kind::PositionalAfterKeywordArgument,
                               parsed.expr.range());
            }
        }
        args.push_back(std::move(parsed.expr));
    });
    bool trailing_comma = last_consumed_is_comma();
    expect(TokenKind::Rpar);
    TextRange range = node_range(start);

    // Duplicate keywords: every repetition after the first is reported, in order.
    {
        std::unordered_set<std::string_view> seen;
        seen.reserve(keywords.size());
        for (const Keyword& keyword : keywords) {
            if (!keyword.arg) continue;
            if (!seen.insert(keyword.arg->as_str()).second) {
                add_error(ParseErrorType::duplicate_keyword_argument(std::string(keyword.arg->as_str())),
                          keyword.range);
            }
        }
    }
    if (trailing_comma || args.size() + keywords.size() >= 2) {
        for (const Expr& arg : args) {
            if (const auto* generator = arg.as<ExprGeneratorExp>();
                generator && !generator->parenthesized) {
                add_kind_error(ParseErrorType::Kind::UnparenthesizedGeneratorExpression,
                               generator->range);
            }
        }
    }
    return Arguments{.range = range, .args = std::move(args), .keywords = std::move(keywords)};
}

Identifier Parser::parse_identifier() {
    TokenKind kind = current_token_kind();
    TextRange range = current_token_range();
    if (kind == TokenKind::Name) {
        TokenValue value = bump_value(TokenKind::Name);
        auto* name = std::get_if<Name>(&value);
        if (!name) quarn::panic("internal error: entered unreachable code");
        return Identifier{.id = std::move(*name), .range = range};
    }
    if (python_ast::is_soft_keyword(kind)) {
        Name text(src_text(range));
        // Used as a name, a soft keyword is recorded as one.
        do_bump(TokenKind::Name);
        return Identifier{.id = std::move(text), .range = range};
    }
    if (python_ast::is_keyword(kind)) {
        add_error(ParseErrorType::other(fmt::format(
                      "Expected an identifier, but found a keyword {} that cannot be used here",
                      python_ast::display(kind))),
                  range);
        Name text(src_text(range));
        bump_any();
        return Identifier{.id = std::move(text), .range = range};
    }
    return parse_missing_identifier();
}

bool Parser::last_consumed_is_comma() const {
    const std::vector<python_ast::Token>& tokens = token_source_.tokens();
    for (auto it = tokens.rbegin(); it != tokens.rend(); ++it) {
        if (!python_ast::is_trivia(it->kind)) return it->kind == TokenKind::Comma;
    }
    return false;
}

Identifier Parser::parse_missing_identifier() {
    add_error(ParseErrorType::other("Expected an identifier"), current_token_range());
    return Identifier{.id = Name(), .range = TextRange::empty(prev_token_end_)};
}

ExprName Parser::parse_name() {
    Identifier identifier = parse_identifier();
    ExprContext ctx = identifier.is_valid() ? ExprContext::Load : ExprContext::Invalid;
    return ExprName{.range = identifier.range, .id = std::move(identifier.id), .ctx = ctx};
}

}  // namespace rudo::python_parser

// Expressions: operators and precedence, operands, postfix forms and calls.
//
// Stub: only names are parsed; every other operand records that it is not supported yet.
#include "rudo/python_parser/parser/parser.h"

namespace rudo::python_parser {

ExprWithParens Parser::parse_expression_list(ExprPosition position) {
    return parse_conditional_expression_or_higher_impl(position);
}

ExprWithParens Parser::parse_named_expression_or_higher(ExprPosition position) {
    return parse_conditional_expression_or_higher_impl(position);
}

ExprWithParens Parser::parse_conditional_expression_or_higher_impl(ExprPosition position) {
    const TextSize start = current_token_range().start();
    ExprWithParens lhs = parse_lhs_expression(0, position);
    return parse_binary_expression_or_higher_recursive(std::move(lhs), 0, position, start);
}

ExprWithParens Parser::parse_expression_with_bitwise_or_precedence() {
    return parse_conditional_expression_or_higher_impl(0);
}

ExprWithParens Parser::parse_binary_expression_or_higher_recursive(ExprWithParens left, uint8_t,
                                                                   ExprPosition, TextSize) {
    return left;
}

ExprWithParens Parser::parse_lhs_expression(uint8_t, ExprPosition) {
    const TextSize start = current_token_range().start();
    auto guard = enter_nesting();
    if (!guard) return {missing_expr(node_range(start))};
    if (at(TokenKind::Name) || at_soft_keyword()) return {Expr(parse_name())};
    unsupported("This expression");
    return {missing_expr(node_range(start))};
}

ExprWithParens Parser::parse_unary_expression(UnaryOp, ExprPosition) {
    const TextSize start = current_token_range().start();
    unsupported("A unary expression");
    return {missing_expr(node_range(start))};
}

ExprWithParens Parser::parse_lambda_expr() {
    const TextSize start = current_token_range().start();
    unsupported("A lambda expression");
    return {missing_expr(node_range(start))};
}

ExprName Parser::parse_name() {
    Identifier identifier = parse_identifier();
    const ExprContext ctx = identifier.is_valid() ? ExprContext::Load : ExprContext::Invalid;
    return ExprName{.range = identifier.range, .id = std::move(identifier.id), .ctx = ctx};
}

Identifier Parser::parse_identifier() {
    const TextRange range = current_token_range();
    if (at(TokenKind::Name)) {
        TokenValue value = bump_value(TokenKind::Name);
        if (auto* name = std::get_if<python_ast::Name>(&value)) {
            return Identifier{.id = std::move(*name), .range = range};
        }
        quarn::unreachable();
    }
    if (at_soft_keyword()) {
        bump_any();
        return Identifier{.id = python_ast::Name(src_text(range)), .range = range};
    }
    return parse_missing_identifier();
}

Identifier Parser::parse_missing_identifier() {
    add_error(ParseErrorType::other("Expected an identifier"), current_token_range());
    return Identifier{.id = python_ast::Name(""), .range = TextRange::empty(prev_token_end())};
}

ExprAttribute Parser::parse_attribute_expression(Expr value, TextSize start) {
    bump(TokenKind::Dot);
    Identifier attr = parse_identifier();
    return ExprAttribute{.range = node_range(start), .value = std::move(value), .attr = std::move(attr),
                         .ctx = ExprContext::Load};
}

Arguments Parser::parse_arguments() {
    const TextSize start = current_token_range().start();
    unsupported("A call's argument list");
    return Arguments{.range = node_range(start)};
}

}  // namespace rudo::python_parser

// Displays, parenthesized expressions and comprehensions.
//
// Stub: each bracket records that it is not supported yet.
#include "rudo/python_parser/parser/parser.h"

namespace rudo::python_parser {

ExprWithParens Parser::parse_list_like_expression() {
    const TextSize start = current_token_range().start();
    unsupported("A list display");
    return {missing_expr(node_range(start))};
}

ExprWithParens Parser::parse_set_or_dict_like_expression() {
    const TextSize start = current_token_range().start();
    unsupported("A set or dict display");
    return {missing_expr(node_range(start))};
}

ExprWithParens Parser::parse_parenthesized_expression() {
    const TextSize start = current_token_range().start();
    unsupported("A parenthesized expression");
    return {missing_expr(node_range(start))};
}

Expr Parser::parse_generator_expression(Expr element, TextSize start, bool) {
    unsupported("A generator expression");
    (void)element;
    return missing_expr(node_range(start));
}

std::vector<Comprehension> Parser::parse_generators() {
    unsupported("A comprehension");
    return {};
}

}  // namespace rudo::python_parser

// Simple statements.
//
// Stub: only expression statements are parsed.
#include "rudo/python_parser/parser/parser.h"

namespace rudo::python_parser {

Stmt Parser::parse_simple_statement() {
    const TextSize start = current_token_range().start();
    if (at_expr()) {
        ExprWithParens value = parse_expression_list(ExprPosition::STARRED_ALLOWED |
                                                     ExprPosition::STARRED_AS_BITWISE_OR |
                                                     ExprPosition::YIELD_ALLOWED);
        return python_ast::StmtExpr{.range = node_range(start), .value = std::move(value.expr)};
    }
    unsupported("This statement");
    return python_ast::StmtExpr{.range = node_range(start), .value = missing_expr(node_range(start))};
}

}  // namespace rudo::python_parser

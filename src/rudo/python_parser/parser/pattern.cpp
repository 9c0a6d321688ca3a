// Match statements and patterns.
//
// Stub: each construct records that it is not supported yet.
#include "rudo/python_parser/parser/parser.h"

namespace rudo::python_parser {

Expr Parser::parse_match_subject_expression() {
    const TextSize start = current_token_range().start();
    unsupported("A match subject");
    return missing_expr(node_range(start));
}

std::vector<MatchCase> Parser::parse_match_body() {
    unsupported("A match statement's cases");
    return {};
}

Pattern Parser::parse_match_pattern(AllowStarPattern) {
    const TextSize start = current_token_range().start();
    unsupported("A match pattern");
    return Pattern(python_ast::PatternMatchAs{.range = node_range(start)});
}

}  // namespace rudo::python_parser

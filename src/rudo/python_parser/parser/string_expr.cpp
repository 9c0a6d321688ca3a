// String and interpolated-string expressions.
//
// Stub: a string records that it is not supported yet.
#include "rudo/python_parser/parser/parser.h"

namespace rudo::python_parser {

Expr Parser::parse_strings() {
    const TextSize start = current_token_range().start();
    unsupported("A string expression");
    return missing_expr(node_range(start));
}

}  // namespace rudo::python_parser

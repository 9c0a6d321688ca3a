// With statements.
//
// Stub: records that the statement is not supported yet.
#include "rudo/python_parser/parser/parser.h"

namespace rudo::python_parser {

StmtWith Parser::parse_with_statement(TextSize start) {
    unsupported("A with statement");
    return StmtWith{.range = node_range(start)};
}

}  // namespace rudo::python_parser

// The one place the project index calls the parser.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "base/result.h"
#include "rudo/python_ast/nodes.h"
#include "rudo/python_trivia/comment_ranges.h"

namespace quarn::ast {

struct ParsedSource {
    std::vector<rudo::python_ast::Stmt> suite;
    rudo::python_trivia::CommentRanges comment_ranges;
};

// The module's statements and comments, or the first syntax error displayed as
// "{} at byte range {}".
Result<ParsedSource> parse_source(std::string_view source);

}  // namespace quarn::ast

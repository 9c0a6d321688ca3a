#include "quarn/ast/parse_source.h"

#if __has_include("rudo/python_parser/parser/parse.h")
#include "rudo/python_parser/parser/parse.h"
#define QUARN_HAVE_PARSER 1
#else
#define QUARN_HAVE_PARSER 0
#endif

#include <fmt/format.h>

namespace quarn::ast {

#if QUARN_HAVE_PARSER
Result<ParsedSource> parse_source(std::string_view source) {
    auto parsed = rudo::python_parser::parse_module(source);
    if (!parsed.ok()) return Err(fmt::format("{}", parsed.error()));
    auto& module = *parsed;
    ParsedSource out;
    out.comment_ranges = rudo::python_trivia::CommentRanges::from(module.tokens);
    // Moved, not copied: the statements may nest deeply and the rest of the parse is dropped.
    out.suite = std::move(module.syntax.body);
    return out;
}
#else
Result<ParsedSource> parse_source(std::string_view) {
    return Err(std::string("the Python parser is not part of this build"));
}
#endif

}  // namespace quarn::ast

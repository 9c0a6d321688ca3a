#include "quarn/ast/parse_source.h"

#include <fmt/format.h>

#include "rudo/python_parser/parser/parse.h"

namespace quarn::ast {

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

}  // namespace quarn::ast

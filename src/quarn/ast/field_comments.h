// The metadata a feature field takes from the comment block directly above it: the comment
// itself, its description lines and its `:owner:` and `:tags:` markers.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <vector>

#include "quarn/ast/file_locator.h"
#include "quarn/ast/parser_cache_types.h"
#include "quarn/ast/string_map.h"
#include "rudo/python_ast/nodes.h"

namespace quarn::ast {

struct FieldCommentMetadata {
    std::optional<std::string> comment;
    std::optional<std::string> description;
    std::optional<std::string> owner;
    std::vector<std::string> tags;
};

// The metadata of a block of comment texts (already stripped of `#` and trimmed).
FieldCommentMetadata field_comment_metadata(std::span<const std::string> lines);

// Field name -> metadata of the comment block directly above one of its statements (`fields`,
// the field statements of `c` in source order); the last block of a name wins.
StringMap<FieldCommentMetadata> field_metadata(
    const rudo::python_ast::StmtClassDef& c, std::span<const rudo::python_ast::Stmt* const> fields,
    const ParsedFileCache& parsed, const FileLocator& locator);

}  // namespace quarn::ast

// The records of a file's feature classes and of their fields.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "quarn/ast/ast_types.h"
#include "quarn/ast/field_comments.h"
#include "quarn/ast/file_locator.h"
#include "quarn/ast/parser_cache_types.h"
#include "rudo/python_ast/nodes.h"

namespace quarn::ast {

// The field a class-body statement declares: `name = value` with one name target, or
// `name: annotation [= value]`.
std::optional<std::string_view> feature_field_name(const rudo::python_ast::Stmt& statement);

// The feature classes among `classes` (every class of the file, in pre-order), written into
// `arena` (`module` is a text of it).
Items<FeatureClassAST> collect_feature_class_asts(
    const ParsedFileCache& parsed, std::span<const rudo::python_ast::StmtClassDef* const> classes,
    Text module, const FileLocator& locator, RecordArena& arena);

}  // namespace quarn::ast

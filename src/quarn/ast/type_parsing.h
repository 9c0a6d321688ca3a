// The definition extraction: functions, resolvers and feature classes of one parsed file.
#pragma once

#include <memory>
#include <span>
#include <string_view>

#include "quarn/ast/ast_types.h"
#include "quarn/ast/decorators.h"
#include "quarn/ast/feature_class_extraction.h"
#include "quarn/ast/field_comments.h"
#include "quarn/ast/file_locator.h"
#include "quarn/ast/function_extraction.h"
#include "quarn/ast/location.h"
#include "quarn/ast/parser_cache_types.h"
#include "quarn/ast/source_text.h"
#include "rudo/python_ast/nodes.h"

namespace quarn::ast {

// The typed records of `parsed`, whose top-level statements are `suite`, each record carrying
// `module`, in an arena of their own. Never fails: a file whose URI cannot be made reports
// nothing.
ParsedAstFile parse_ast_file_with_feature_module(
    const std::shared_ptr<const ParsedFileCache>& parsed,
    std::span<const rudo::python_ast::Stmt> suite, std::string_view module);
// The same written into `arena`, which may hold the records of other files too.
ParsedAstFile parse_ast_file_with_feature_module(
    const std::shared_ptr<const ParsedFileCache>& parsed,
    std::span<const rudo::python_ast::Stmt> suite, std::string_view module,
    std::shared_ptr<RecordArena> arena);

}  // namespace quarn::ast

// The record of one function definition, resolver or not.
#pragma once

#include <optional>
#include <string_view>

#include "quarn/ast/ast_types.h"
#include "quarn/ast/file_locator.h"
#include "quarn/ast/parser_cache_types.h"
#include "quarn/ast/string_map.h"
#include "rudo/python_ast/nodes.h"

namespace quarn::ast {

// The decorator names that make a function a resolver in a file with these imports.
StringSet resolver_decorator_names(const ImportTable& imports);

// The record of `f`, a resolver when one of its decorators is named in `resolver_names`, written
// into `arena` (`module` is a text of it); absent when the file has no URI.
std::optional<ResolverAST> resolver_ast(const rudo::python_ast::StmtFunctionDef& f, Text module,
                                        const StringSet& resolver_names, const FileLocator& locator,
                                        RecordArena& arena);

}  // namespace quarn::ast

// What functions and feature classes share: the decorator names a file imports, the decorator
// chosen among a definition's, and the locations of a call's keywords.
#pragma once

#include <array>
#include <span>
#include <string_view>
#include <utility>

#include "quarn/ast/ast_types.h"
#include "quarn/ast/file_locator.h"
#include "quarn/ast/parser_cache_types.h"
#include "rudo/python_ast/nodes.h"

namespace quarn::ast {

inline constexpr std::array<std::string_view, 1> FEATURES_MODULE = {"quarn.features"};

// The local names under which the file imports any of `symbols` from any of `modules`.
StringSet collect_import_names_for_symbols_from_map(const ImportTable& imports,
                                                    std::span<const std::string_view> modules,
                                                    std::span<const std::string_view> symbols);

// The first of `decorators` whose name (a bare `@x` or the callee of `@x(...)`) is in `names`.
const rudo::python_ast::Decorator* chosen_decorator(
    std::span<const rudo::python_ast::Decorator> decorators, const StringSet& names);

// The literal when `expr` is a string literal written as one part.
const rudo::python_ast::ExprStringLiteral* single_string(const rudo::python_ast::Expr& expr);

// Keyword name -> location of the name, and -> location of the value, for the named keywords of
// a call whose name is found as written between the keyword's start and its value.
// Their texts are written into `arena`.
std::pair<LocationMap, LocationMap> keyword_location_maps(
    std::span<const rudo::python_ast::Keyword> keywords, const FileLocator& locator,
    RecordArena& arena);

}  // namespace quarn::ast

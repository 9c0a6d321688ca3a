// The definition extraction: functions, resolvers and feature classes of one parsed file.
#pragma once

#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "quarn/ast/ast_types.h"
#include "quarn/ast/location.h"
#include "quarn/ast/parser_cache_types.h"
#include "rudo/python_ast/nodes.h"

namespace quarn::ast {

// The typed records of `parsed`, each carrying `module`. Never fails: a file whose URI cannot be
// made reports nothing.
ParsedAstFile parse_ast_file_with_feature_module(const ParsedFileCache& parsed,
                                                 std::string_view module);
// The same from statements the record does not hold (the parsed-file cache hands them over once).
ParsedAstFile parse_ast_file_with_feature_module(const ParsedFileCache& parsed,
                                                 std::span<const rudo::python_ast::Stmt> suite,
                                                 std::string_view module);

// The local names under which the file imports any of `symbols` from any of `modules`.
StringSet collect_import_names_for_symbols_from_map(const ImportTable& imports,
                                                    std::span<const std::string_view> modules,
                                                    std::span<const std::string_view> symbols);

// Where one file's parts are: its text and line index, and its URI formed once.
class FileLocator {
  public:
    FileLocator(std::string_view source, std::optional<Uri> uri)
        : context_(source), uri_(std::move(uri)) {}

    // Absent exactly when the file has no URI.
    std::optional<Location> location(TextRange bytes) const {
        if (!uri_) return std::nullopt;
        return Location{*uri_, context_.range(bytes)};
    }
    template <typename Node>
    std::optional<Location> location_of(const Node& node) const {
        return location(node.range());
    }

    bool has_uri() const { return uri_.has_value(); }
    const LocationContext& context() const { return context_; }
    std::string_view source() const { return context_.source(); }

  private:
    LocationContext context_;
    std::optional<Uri> uri_;
};

// Keyword name -> location of the name, and -> location of the value, for the named keywords of
// a call whose name is found as written between the keyword's start and its value.
std::pair<LocationMap, LocationMap> keyword_location_maps(
    std::span<const rudo::python_ast::Keyword> keywords, const FileLocator& locator);

// The metadata a field takes from the comment block directly above it.
struct FieldCommentMetadata {
    std::optional<std::string> comment;
    std::optional<std::string> description;
    std::optional<std::string> owner;
    std::vector<std::string> tags;
};

// The metadata of a block of comment texts (already stripped of `#` and trimmed).
FieldCommentMetadata field_comment_metadata(std::span<const std::string> lines);

// The field a class-body statement declares: `name = value` with one name target, or
// `name: annotation [= value]`.
std::optional<std::string_view> feature_field_name(const rudo::python_ast::Stmt& statement);

FeatureFieldAST new_feature_field_ast(std::string name, Location location,
                                      const FieldCommentMetadata& metadata);

// The feature classes among `classes` (every class of the file, in pre-order).
std::vector<FeatureClassAST> collect_feature_class_asts(
    const ParsedFileCache& parsed, std::span<const rudo::python_ast::StmtClassDef* const> classes,
    std::string_view module, const FileLocator& locator);

// `text` less the indentation its non-blank lines share; blank lines keep only their line break,
// and line breaks (`\n`, `\r\n`, a lone `\r`) stay as they were.
std::string dedent(std::string_view text);

}  // namespace quarn::ast

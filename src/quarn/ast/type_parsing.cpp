#include "quarn/ast/type_parsing.h"

#include "base/pause_point.h"
#include "quarn/ast/statement_walk.h"

namespace quarn::ast {

ParsedAstFile parse_ast_file_with_feature_module(const ParsedFileCache& parsed,
                                                 std::span<const rudo::python_ast::Stmt> suite,
                                                 std::string_view module) {
    ParsedAstFile out;
    // One URI for the whole file: every record is located against the same text.
    const FileLocator locator(parsed.source, file_uri_for_path(parsed.path));
    if (!locator.has_uri()) return out;

    DefinitionCollector definitions;
    definitions.collect(suite);

    const StringSet resolver_names = resolver_decorator_names(parsed.imports);
    out.functions.reserve(definitions.functions.size());
    for (const rudo::python_ast::StmtFunctionDef* f : definitions.functions) {
        // A file of many definitions may be held still between two of them.
        quarn::pause_point();
        if (auto record = resolver_ast(*f, module, resolver_names, locator)) {
            out.functions.push_back(std::move(*record));
        }
    }
    // The resolvers refer to their function records: `functions` is complete and never grows.
    for (const ResolverAST& record : out.functions) {
        if (record.decorator_location) out.resolvers.push_back(record);
    }
    out.feature_classes = collect_feature_class_asts(parsed, definitions.classes, module, locator);
    return out;
}

}  // namespace quarn::ast

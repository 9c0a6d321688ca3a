#include "quarn/ast/type_parsing.h"

#include <memory>
#include <vector>

#include "base/pause_point.h"
#include "quarn/ast/statement_walk.h"

namespace quarn::ast {

ParsedAstFile parse_ast_file_with_feature_module(
    const std::shared_ptr<const ParsedFileCache>& parsed,
    std::span<const rudo::python_ast::Stmt> suite, std::string_view module) {
    return parse_ast_file_with_feature_module(parsed, suite, module, RecordArena::for_file());
}

ParsedAstFile parse_ast_file_with_feature_module(const std::shared_ptr<const ParsedFileCache>& file,
                                                 std::span<const rudo::python_ast::Stmt> suite,
                                                 std::string_view module,
                                                 std::shared_ptr<RecordArena> arena) {
    const ParsedFileCache& parsed = *file;
    ParsedAstFile out;
    // One URI for the whole file: every record is located against the same text.
    const FileLocator locator(parsed.source, file_uri_for_path(parsed.path));
    if (!locator.has_uri()) return out;
    out.uri = locator.uri();

    DefinitionCollector definitions;
    definitions.collect(suite);

    RecordArena& room = *arena;
    const Text module_text = room.text(module);
    const StringSet resolver_names = resolver_decorator_names(parsed.imports);
    std::vector<ResolverAST> functions;
    functions.reserve(definitions.functions.size());
    size_t resolvers = 0;
    for (const rudo::python_ast::StmtFunctionDef* f : definitions.functions) {
        // A file of many definitions may be held still between two of them.
        quarn::pause_point();
        if (auto record = resolver_ast(*f, module_text, resolver_names, locator, room)) {
            resolvers += record->decorator_location.has_value();
            functions.push_back(*record);
        }
    }
    ResolverAST* const kept = room.array<ResolverAST>(functions.size());
    std::uninitialized_copy(functions.begin(), functions.end(), kept);
    out.functions = Items<ResolverAST>(kept, functions.size());
    ItemsWriter<const ResolverAST*> listed(room, resolvers);
    for (const ResolverAST& record : out.functions) {
        if (record.decorator_location) listed.push_back(&record);
    }
    out.resolvers = RecordList<ResolverAST>(listed.done());
    out.feature_classes =
        collect_feature_class_asts(parsed, definitions.classes, module_text, locator, room);
    out.arena = std::move(arena);
    out.source = std::shared_ptr<const void>(file, parsed.source.data());
    out.lines = locator.kept_lines();
    return out;
}

}  // namespace quarn::ast

#include "quarn/ast/project_index.h"

#include <type_traits>

#include <fmt/format.h>

#include "quarn/ast/parse_source.h"
#include "quarn/ast/type_parsing.h"

namespace quarn::ast {

Result<std::shared_ptr<const ParsedAstFile>> AstProjectIndexInner::records(std::string_view path) {
    // Lock order: this entry, then the parsed-file cache's own locks.
    return typed_entries.get(path, [&]() -> Result<std::shared_ptr<const ParsedAstFile>> {
        auto parse = parser_cache.read_parsed_file(path);
        if (!parse.ok()) return Err(std::move(parse).error());
        const ParsedFileCache& file = *parse->file;
        if (!parse->statements) {
            // The cache hands the statements to the call that parses the file and keeps none.
            // This entry is computed again only when an earlier computation left it open (it ran
            // short of memory, or a fork left its thread behind): the kept text parsed then, so
            // it parses the same now.
            auto again = parse_source(file.source);
            if (!again.ok()) return Err(fmt::format("Failed to parse {}: {}", path, again.error()));
            parse->statements.emplace(std::move(again->suite));
        }
        return std::make_shared<const ParsedAstFile>(parse_ast_file_with_feature_module(
            parse->file, *parse->statements, parser_cache.module_name_for_path(path), arena));
    });
}

void detail::start_warm_up(const AstProjectIndex& index, size_t parallelism) {
    if (index.files_->empty()) return;
    if (index.inner_->started.exchange(true)) return;
    const size_t workers = std::max<size_t>(1, std::min(index.files_->size(), parallelism));
    // Every slot exists before the workers start: they then only ever read the two maps.
    index.inner_->typed_entries.add_slots(*index.files_);
    index.inner_->parser_cache.inner()->entries.add_slots(*index.files_);
    warm_up::start(index.files_, index.inner_, index.users_, workers);
}

AstProjectIndex::AstProjectIndex(std::shared_ptr<const std::vector<std::string>> files,
                                 std::shared_ptr<AstProjectIndexInner> inner,
                                 std::shared_ptr<const StringMap<std::vector<size_t>>> positions)
    : files_(std::move(files)),
      inner_(std::move(inner)),
      module_positions_(std::move(positions)),
      users_(std::make_shared<const int>(0)) {}

AstProjectIndex::AstProjectIndex(std::string project_root, std::vector<std::string> files)
    : AstProjectIndex(*with_filesystem(std::move(project_root), files,
                                       std::make_shared<StdAstFileSystem>(files))) {}

Result<AstProjectIndex> AstProjectIndex::with_filesystem(
    std::string project_root, std::vector<std::string> files,
    std::shared_ptr<const AstFileSystem> filesystem) {
    auto cache =
        AstFileParserCache::with_filesystem(std::move(project_root), std::move(filesystem));
    // Every record of a file carries the file's module name, which depends only on its path: a
    // module lookup needs only the files of that module.
    auto positions = std::make_shared<StringMap<std::vector<size_t>>>();
    for (size_t k = 0; k < files.size(); ++k) {
        (*positions)[cache.module_name_for_path(files[k])].push_back(k);
    }
    return AstProjectIndex(std::make_shared<const std::vector<std::string>>(std::move(files)),
                           std::make_shared<AstProjectIndexInner>(std::move(cache)),
                           std::move(positions));
}

Result<std::shared_ptr<const ParsedAstFile>> AstProjectIndex::get_parsed_ast_file(
    std::string_view path) const {
    try {
        return inner_->records(path);
    } catch (const TransientFailure& failure) {
        // Answers this caller only; the entry stays open.
        return Err(std::string(failure.what()));
    }
}

std::span<const size_t> AstProjectIndex::positions_of(std::string_view module) const {
    const auto found = module_positions_->find(module);
    if (found == module_positions_->end()) return {};
    return found->second;
}

namespace {

using FilePtr = std::shared_ptr<const ParsedAstFile>;

// The record inside the file's shared records, which it keeps alive.
template <typename Record>
SharedRecord<Record> inside(const FilePtr& file, const Record& record) {
    return SharedRecord<Record>(file, &record);
}

template <typename Records, typename Field>
auto first_in(const FilePtr& file, const Records& records, Field name_of, std::string_view name)
    -> SharedRecord<std::remove_cvref_t<decltype(*records.begin())>> {
    for (const auto& record : records) {
        if (record.*name_of == name) return inside(file, record);
    }
    return nullptr;
}

}  // namespace

template <typename List>
SharedRecord<ResolverAST> AstProjectIndex::first_function_of_module(
    std::string_view module, std::string_view name, List ParsedAstFile::*list) const {
    for (const size_t k : positions_of(module)) {
        const auto file = get_parsed_ast_file((*files_)[k]);
        // A file that cannot be read or parsed holds no records; the module's other files may.
        if (!file.ok()) continue;
        for (const ResolverAST& record : (**file).*list) {
            if (record.module == module && record.resolver_name == name) {
                return inside(*file, record);
            }
        }
    }
    return nullptr;
}

SharedRecord<ResolverAST> AstProjectIndex::shared_function_ast(
    std::string_view module, std::string_view function_name) const {
    return first_function_of_module(module, function_name, &ParsedAstFile::functions);
}

SharedRecord<ResolverAST> AstProjectIndex::shared_resolver_ast(
    std::string_view module, std::string_view resolver_name) const {
    return first_function_of_module(module, resolver_name, &ParsedAstFile::resolvers);
}

SharedRecord<FeatureClassAST> AstProjectIndex::shared_feature_class_ast(
    std::string_view module, std::string_view class_name) const {
    for (const size_t k : positions_of(module)) {
        const auto file = get_parsed_ast_file((*files_)[k]);
        // A file that cannot be read or parsed holds no records; the module's other files may.
        if (!file.ok()) continue;
        // Only the first class of that name in each file counts.
        for (const FeatureClassAST& record : (*file)->feature_classes) {
            if (record.class_name != class_name) continue;
            if (record.module == module) return inside(*file, record);
            break;
        }
    }
    return nullptr;
}

SharedRecord<ResolverAST> AstProjectIndex::shared_function_ast_in_file(
    std::string_view file_path, std::string_view function_name) const {
    const auto file = get_parsed_ast_file(file_path);
    // A file that cannot be read or parsed holds no record of that name.
    if (!file.ok()) return nullptr;
    return first_in(*file, (*file)->functions, &ResolverAST::resolver_name, function_name);
}

SharedRecord<ResolverAST> AstProjectIndex::shared_resolver_ast_in_file(
    std::string_view file_path, std::string_view resolver_name) const {
    const auto file = get_parsed_ast_file(file_path);
    // A file that cannot be read or parsed holds no record of that name.
    if (!file.ok()) return nullptr;
    return first_in(*file, (*file)->resolvers, &ResolverAST::resolver_name, resolver_name);
}

SharedRecord<FeatureClassAST> AstProjectIndex::shared_feature_class_ast_in_file(
    std::string_view file_path, std::string_view class_name) const {
    const auto file = get_parsed_ast_file(file_path);
    // A file that cannot be read or parsed holds no record of that name.
    if (!file.ok()) return nullptr;
    return first_in(*file, (*file)->feature_classes, &FeatureClassAST::class_name, class_name);
}

void AstProjectIndex::nonblocking_start_index() const {
    detail::start_warm_up(*this, detail::available_parallelism());
}

}  // namespace quarn::ast

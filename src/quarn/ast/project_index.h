// The project index: typed records memoised per file, lookups by module or by file, and
// warm-up threads that fill the caches ahead of the lookups.
#pragma once

#include <atomic>
#include <cstddef>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/result.h"
#include "quarn/ast/ast_filesystem.h"
#include "quarn/ast/ast_types.h"
#include "quarn/ast/memo_map.h"
#include "quarn/ast/parser_cache.h"
#include "quarn/ast/string_map.h"
#include "quarn/ast/warm_up.h"

namespace quarn::ast {

class AstProjectIndex;

namespace detail {
// `nonblocking_start_index` as if the process had `parallelism` processors.
void start_warm_up(const AstProjectIndex& index, size_t parallelism);
}  // namespace detail

// The memo slot of one path: absent until computed, then the records or the failure text.
using TypedAstEntry = MemoSlot<std::shared_ptr<const ParsedAstFile>>;

struct AstProjectIndexInner {
    explicit AstProjectIndexInner(AstFileParserCache parser_cache)
        : parser_cache(std::move(parser_cache)) {}

    // The records of `path`, memoised; a failure of the moment throws TransientFailure (or
    // std::bad_alloc) and leaves the path open.
    Result<std::shared_ptr<const ParsedAstFile>> records(std::string_view path);

    AstFileParserCache parser_cache;
    // Where the records of every file are written, beside the sources the parsed-file cache
    // keeps; kept alive by each file's records too.
    std::shared_ptr<RecordArena> arena = parser_cache.inner()->arena;
    // Path exactly as asked for -> its memo slot. Entries are never removed.
    MemoMap<std::shared_ptr<const ParsedAstFile>> typed_entries{
        "typed AST entry map lock poisoned", "typed AST cache lock poisoned for "};
    std::atomic<bool> started{false};
};

// A record inside its file's shared records, which it keeps alive; never changed.
template <typename Record>
using SharedRecord = std::shared_ptr<const Record>;

// A cheap handle: copies share the file list and the inner state.
class AstProjectIndex {
  public:
    // Over a StdAstFileSystem of `files` (keeping its `.py` paths); the index itself keeps the
    // list as passed.
    AstProjectIndex(std::string project_root, std::vector<std::string> files);

    // Construction never fails; the result type leaves room for it.
    static Result<AstProjectIndex> with_filesystem(std::string project_root,
                                                   std::vector<std::string> files,
                                                   std::shared_ptr<const AstFileSystem> filesystem);

    // The records of one file, memoised per path, failures included; a failure of the moment
    // (out of file descriptors or memory) is not memoised.
    Result<std::shared_ptr<const ParsedAstFile>> get_parsed_ast_file(std::string_view path) const;

    // The first record of that module and name over the files in list order; files that cannot
    // be read or parsed are passed over. Only the files of that module are read. The memoised
    // record itself, shared and immutable, or null.
    SharedRecord<ResolverAST> shared_function_ast(std::string_view module,
                                                  std::string_view function_name) const;
    SharedRecord<ResolverAST> shared_resolver_ast(std::string_view module,
                                                  std::string_view resolver_name) const;
    SharedRecord<FeatureClassAST> shared_feature_class_ast(std::string_view module,
                                                           std::string_view class_name) const;
    // The first record of that name in one file, whatever its module.
    SharedRecord<ResolverAST> shared_function_ast_in_file(std::string_view file_path,
                                                          std::string_view function_name) const;
    SharedRecord<ResolverAST> shared_resolver_ast_in_file(std::string_view file_path,
                                                          std::string_view resolver_name) const;
    SharedRecord<FeatureClassAST> shared_feature_class_ast_in_file(
        std::string_view file_path, std::string_view class_name) const;

    // Starts the warm-up threads once per index (over every copy of the handle) and returns at
    // once. A worker stops early when no handle on the index is left, or when the process exits.
    void nonblocking_start_index() const;

    const std::vector<std::string>& files() const { return *files_; }
    const AstFileParserCache& parser_cache() const { return inner_->parser_cache; }
    const std::shared_ptr<AstProjectIndexInner>& inner() const { return inner_; }

  private:
    AstProjectIndex(std::shared_ptr<const std::vector<std::string>> files,
                    std::shared_ptr<AstProjectIndexInner> inner,
                    std::shared_ptr<const StringMap<std::vector<size_t>>> module_positions);

    std::span<const size_t> positions_of(std::string_view module) const;
    // The first of a file's functions (or resolvers) of that module and name, over the module's
    // files in list order.
    template <typename List>
    SharedRecord<ResolverAST> first_function_of_module(std::string_view module,
                                                       std::string_view name,
                                                       List ParsedAstFile::*list) const;
    friend void detail::start_warm_up(const AstProjectIndex&, size_t);

    std::shared_ptr<const std::vector<std::string>> files_;
    std::shared_ptr<AstProjectIndexInner> inner_;
    // Module name -> positions in `files_` of the files of that module, in list order.
    std::shared_ptr<const StringMap<std::vector<size_t>>> module_positions_;
    // Shared by the handles only, never by the workers: it expires with the last handle.
    std::shared_ptr<const void> users_;
};

}  // namespace quarn::ast

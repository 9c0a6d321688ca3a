// The parsed-file cache handle: the project's file system and root, the module name of every
// listed file, and one memo slot per path asked for.
#pragma once

#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/result.h"
#include "quarn/ast/ast_filesystem.h"
#include "quarn/ast/memo_map.h"
#include "quarn/ast/parser_cache_types.h"
#include "quarn/ast/record_arena.h"
#include "quarn/ast/string_map.h"

namespace quarn::ast {

// The memo slot of one path: absent until computed, then the parsed file or the failure text,
// never replaced. Shared by the map and by each call using it, so the map lock can be released
// before this one is taken.
using FileParseEntry = MemoSlot<std::shared_ptr<const ParsedFileCache>>;

struct AstFileParserCacheInner {
    AstFileParserCacheInner(std::shared_ptr<const AstFileSystem> filesystem,
                            std::string project_root, StringMap<std::string> module_names)
        : filesystem(std::move(filesystem)),
          project_root(std::move(project_root)),
          module_names(std::move(module_names)) {}

    // Every listing and every read of the cache goes through it.
    const std::shared_ptr<const AstFileSystem> filesystem;
    // As passed: absolute or relative, not normalised.
    const std::string project_root;
    // Root-joined path -> module name, for every listed file. Written only before the handle is
    // shared, so read without a lock.
    const StringMap<std::string> module_names;
    // Where the sources of the parsed files are kept, each entry keeping it alive; the project
    // index over this cache writes its records there too.
    const std::shared_ptr<RecordArena> arena = RecordArena::for_index();
    // Path exactly as asked for -> its memo slot. Entries are never removed.
    MemoMap<std::shared_ptr<const ParsedFileCache>> entries{"AST file entry map lock poisoned",
                                                            "AST parse cache lock poisoned for "};
};

// A cheap handle: copies share one cache, which lives until the last handle goes.
class AstFileParserCache {
  public:
    // Over a StdAstFileSystem of `paths` (only `.py` paths, sorted, each once).
    AstFileParserCache(std::string project_root, std::vector<std::string> paths);

    // Lists the file system once to name its files; a failed listing leaves the names to be
    // computed on demand.
    static AstFileParserCache with_filesystem(std::string project_root,
                                              std::shared_ptr<const AstFileSystem> filesystem);

    // The module of the file `path` names: an absolute path as it stands, a relative one joined
    // to the project root. The same with or without the names computed at construction.
    std::string module_name_for_path(std::string_view path) const;

    // The file `path` names read and parsed once, or the failure text, memoised either way:
    // "Failed to read {}: {}" or "Failed to parse {}: {}". A failure of the moment (out of file
    // descriptors or memory) is not memoised: its text is returned, or std::bad_alloc thrown,
    // and the next call tries again. Any thread; waits only while another
    // thread computes the same path. The path is the key exactly as given (a.py and ./a.py are
    // two entries) and is read through the file system as it stands. The statements of the
    // parse are not kept.
    Result<std::shared_ptr<const ParsedFileCache>> get_parsed_file(std::string_view path) const;

    // The same memo, with the statements handed to the call that parsed the file. A read that
    // fails for the moment throws TransientFailure instead of returning its text, so that a memo
    // built on top leaves its own entry open too.
    Result<FileParse> read_parsed_file(std::string_view path) const;

    // The file system's listing, unchanged.
    Result<std::vector<std::string>, IoError> all_files() const;

    const std::string& project_root() const { return inner_->project_root; }
    const std::shared_ptr<const AstFileSystem>& filesystem() const { return inner_->filesystem; }
    const std::shared_ptr<AstFileParserCacheInner>& inner() const { return inner_; }

  private:
    explicit AstFileParserCache(std::shared_ptr<AstFileParserCacheInner> inner)
        : inner_(std::move(inner)) {}

    std::shared_ptr<AstFileParserCacheInner> inner_;
};

}  // namespace quarn::ast

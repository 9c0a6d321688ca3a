#include "quarn/ast/parser_cache.h"

#include <cerrno>
#include <tuple>
#include <utility>

#include <fmt/format.h>

#include "base/panic.h"
#include "quarn/ast/module_name.h"
#include "quarn/ast/parse_source.h"
#include "quarn/ast/path.h"

namespace quarn::ast {

AstFileParserCache::AstFileParserCache(std::string project_root, std::vector<std::string> paths)
    : AstFileParserCache(with_filesystem(std::move(project_root),
                                         std::make_shared<StdAstFileSystem>(std::move(paths)))) {}

AstFileParserCache AstFileParserCache::with_filesystem(
    std::string project_root, std::shared_ptr<const AstFileSystem> filesystem) {
    if (!filesystem) panic("AstFileParserCache needs a file system");
    StringMap<std::string> module_names;
    // A listing that fails only costs the precomputed names.
    if (auto listed = filesystem->all_files(); listed.ok()) {
        module_names.reserve(listed->size());
        for (const std::string& path : *listed) {
            std::string key = join_path(project_root, path);
            if (module_names.contains(key)) continue;
            std::string name = module_name_for_absolute_path(key, project_root);
            module_names.emplace(std::move(key), std::move(name));
        }
    }
    return AstFileParserCache(std::make_shared<AstFileParserCacheInner>(
        std::move(filesystem), std::move(project_root), std::move(module_names)));
}

std::string AstFileParserCache::module_name_for_path(std::string_view path) const {
    const std::string key = join_path(inner_->project_root, path);
    if (auto found = inner_->module_names.find(key); found != inner_->module_names.end()) {
        return found->second;
    }
    return module_name_for_absolute_path(key, inner_->project_root);
}

namespace {

using Outcome = Result<std::shared_ptr<const ParsedFileCache>>;

// The process or the system ran short: the same read may well succeed later.
bool is_transient(const IoError& error) {
    if (error.kind() != IoErrorKind::Os) return false;
    const int code = error.raw_os_error();
    return code == EMFILE || code == ENFILE || code == ENOMEM || code == ENOBUFS || code == EINTR ||
           code == EAGAIN;
}

// A transient failure answers this caller only.
Outcome reported(const TransientFailure& failure) {
    return Err(std::string(failure.what()));
}

// The outcome of `path`; the statements of a successful parse go to `statements`, its text to
// `arena`.
Outcome compute(const AstFileSystem& filesystem, const std::shared_ptr<RecordArena>& arena,
                std::string_view path, std::optional<rudo::python_ast::Suite>& statements) {
    Result<std::string, IoError> text =
        path.find('\0') != std::string_view::npos
            // The system would open the shorter path before the NUL: another file.
            ? Result<std::string, IoError>(Err(IoError::nul_in_path()))
            : filesystem.read_to_string(path);
    if (!text.ok()) {
        std::string message = fmt::format("Failed to read {}: {}", path, text.error().message());
        if (is_transient(text.error())) throw TransientFailure(message);
        return Err(std::move(message));
    }
    auto parsed = parse_source(*text);
    if (!parsed.ok()) return Err(fmt::format("Failed to parse {}: {}", path, parsed.error()));
    // Written into the arena only once the parse succeeded, so a failure keeps nothing there;
    // the tree holds copies of its texts, never views of the source. The table is made in
    // place: assigned, it would be copied to the heap.
    auto file = std::make_shared<const ParsedFileCache>(ParsedFileCache{
        .arena = arena,
        .path = std::string(path),
        .source = text->empty() ? std::string_view("") : arena->text(*text),
        .imports = collect_imports(parsed->suite, arena->resource()),
        .comment_ranges = std::move(parsed->comment_ranges),
    });
    statements.emplace(std::move(parsed->suite));
    return file;
}

}  // namespace

namespace {

// The entry of `key`, made when missing. Looked up first: an entry made for a key already there
// would leave its memory unused in an arena.
template <typename Map>
typename Map::mapped_type& entry_of(Map& map, std::string_view key) {
    if (auto found = map.find(key); found != map.end()) return found->second;
    return map.emplace(std::piecewise_construct, std::forward_as_tuple(key), std::tuple<>())
        .first->second;
}

}  // namespace

ImportTable collect_imports(std::span<const rudo::python_ast::Stmt> suite,
                            std::pmr::memory_resource* memory) {
    ImportTable imports(memory);
    for (const auto& stmt : suite) {
        const auto* from = stmt.as<rudo::python_ast::StmtImportFrom>();
        if (!from || from->level != 0 || !from->module) continue;
        // The module's entry exists even when no name lands in it.
        auto& names = entry_of(imports, from->module->as_str());
        for (const auto& alias : from->names) {
            const auto local = alias.asname ? alias.asname->as_str() : alias.name.as_str();
            auto& locals = entry_of(names, alias.name.as_str());
            if (!locals.contains(local)) locals.emplace(local);
        }
    }
    return imports;
}

Result<std::shared_ptr<const ParsedFileCache>> AstFileParserCache::get_parsed_file(
    std::string_view path) const {
    const fork_gate::Enlisted enlisted;
    try {
        auto parse = read_parsed_file(path);
        if (!parse.ok()) return Err(std::move(parse).error());
        return std::move(parse->file);
    } catch (const TransientFailure& failure) {
        return reported(failure);
    }
}

Result<FileParse> AstFileParserCache::read_parsed_file(std::string_view path) const {
    FileParse parse;
    auto outcome = inner_->entries.get(
        path, [&] { return compute(*inner_->filesystem, inner_->arena, path, parse.statements); });
    if (!outcome.ok()) return Err(std::move(outcome).error());
    parse.file = std::move(*outcome);
    return parse;
}

Result<std::vector<std::string>, IoError> AstFileParserCache::all_files() const {
    return inner_->filesystem->all_files();
}

}  // namespace quarn::ast

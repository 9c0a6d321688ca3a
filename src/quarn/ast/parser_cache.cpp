#include "quarn/ast/parser_cache.h"

#include "quarn/ast/module_name.h"
#include "quarn/ast/path.h"
#include "quarn/panic.h"

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

Result<std::vector<std::string>, IoError> AstFileParserCache::all_files() const {
    return inner_->filesystem->all_files();
}

}  // namespace quarn::ast

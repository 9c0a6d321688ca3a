#include "quarn/ast/path.h"

namespace quarn::ast {
namespace {

struct NameParts {
    std::string_view stem;
    std::optional<std::string_view> extension;
};

NameParts split_file_name(std::string_view name) {
    const size_t dot = name.rfind('.');
    if (dot == std::string_view::npos || dot == 0) return {name, std::nullopt};
    return {name.substr(0, dot), name.substr(dot + 1)};
}

}  // namespace

std::vector<PathComponent> path_components(std::string_view path) {
    std::vector<PathComponent> out;
    size_t i = 0;
    if (!path.empty() && path[0] == '/') {
        out.push_back({PathComponentKind::RootDir, path.substr(0, 1)});
        i = 1;
    } else if (path == "." || path.starts_with("./")) {
        out.push_back({PathComponentKind::CurDir, path.substr(0, 1)});
        i = 1;
    }
    while (i < path.size()) {
        size_t end = path.find('/', i);
        if (end == std::string_view::npos) end = path.size();
        const std::string_view part = path.substr(i, end - i);
        if (part == "..") {
            out.push_back({PathComponentKind::ParentDir, part});
        } else if (!part.empty() && part != ".") {
            out.push_back({PathComponentKind::Normal, part});
        }
        i = end + 1;
    }
    return out;
}

bool path_is_absolute(std::string_view path) {
    return !path.empty() && path[0] == '/';
}

std::optional<std::string_view> path_file_name(std::string_view path) {
    // From the end, so no component list is built.
    size_t end = path.size();
    while (true) {
        while (end > 0 && path[end - 1] == '/')
            --end;
        if (end == 0) return std::nullopt;  // nothing, or only the root, is left
        const size_t slash = path.rfind('/', end - 1);
        const size_t start = slash == std::string_view::npos ? 0 : slash + 1;
        const std::string_view part = path.substr(start, end - start);
        if (part == "..") return std::nullopt;
        if (part != ".") return part;
        // A leading `.` is the current directory; anywhere else it does not count.
        if (start == 0) return std::nullopt;
        end = start;
    }
}

std::optional<std::string_view> path_extension(std::string_view path) {
    const auto name = path_file_name(path);
    if (!name) return std::nullopt;
    return split_file_name(*name).extension;
}

std::optional<std::string_view> path_file_stem(std::string_view path) {
    const auto name = path_file_name(path);
    if (!name) return std::nullopt;
    return split_file_name(*name).stem;
}

std::string join_path(std::string_view base, std::string_view path) {
    if (path_is_absolute(path) || base.empty()) return std::string(path);
    std::string out;
    out.reserve(base.size() + 1 + path.size());
    out += base;
    if (base.back() != '/') out += '/';
    out += path;
    return out;
}

}  // namespace quarn::ast

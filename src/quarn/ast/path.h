// Paths as texts: their components, file names and extensions, on Unix rules and without
// touching the disk.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quarn::ast {

enum class PathComponentKind : uint8_t {
    RootDir,    // the leading `/`
    CurDir,     // a `.` at the very start of a relative path
    ParentDir,  // `..`
    Normal,
};

struct PathComponent {
    PathComponentKind kind;
    std::string_view text;  // the component's bytes; "/" for the root

    friend bool operator==(const PathComponent& a, const PathComponent& b) {
        return a.kind == b.kind && (a.kind != PathComponentKind::Normal || a.text == b.text);
    }
};

// The parts between `/` separators: repeated and trailing separators do not count, and a `.`
// counts only at the very start of a relative path.
std::vector<PathComponent> path_components(std::string_view path);

bool path_is_absolute(std::string_view path);

// The last component when it is a normal one (so not for "/" or a path ending in "..").
std::optional<std::string_view> path_file_name(std::string_view path);

// The text after the last `.` of the file name; a name without `.`, or whose only `.` is its
// first character (".py", ".bashrc"), has none.
std::optional<std::string_view> path_extension(std::string_view path);

// The file name less its extension and the `.` before it: "a.b.py" gives "a.b", ".bashrc"
// stays whole.
std::optional<std::string_view> path_file_stem(std::string_view path);

// `path` as it stands when absolute, else `base` joined with it by one `/`; an empty base
// leaves the path unchanged.
std::string join_path(std::string_view base, std::string_view path);

}  // namespace quarn::ast

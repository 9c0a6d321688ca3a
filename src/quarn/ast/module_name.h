// Dotted Python module names of file paths, relative to a project root.
#pragma once

#include <string>
#include <string_view>

namespace quarn::ast {

// The module of `path` under `root`, compared component by component: "/p/pkg/mod.py" under
// "/p" is "pkg.mod", "/p/pkg/__init__.py" is "pkg". A path outside the root, or one that leaves
// no name under it, falls back to its file stem, and failing that to the whole path as text.
// Pure: never touches the disk.
std::string module_name_for_absolute_path(std::string_view path, std::string_view root);

}  // namespace quarn::ast

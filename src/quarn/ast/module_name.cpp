#include "quarn/ast/module_name.h"

#include <algorithm>

#include "base/utf8.h"
#include "quarn/ast/path.h"

namespace quarn::ast {

std::string module_name_for_absolute_path(std::string_view path, std::string_view root) {
    const auto path_parts = path_components(path);
    const auto root_parts = path_components(root);
    if (root_parts.size() <= path_parts.size() &&
        std::equal(root_parts.begin(), root_parts.end(), path_parts.begin())) {
        std::string name;
        bool collected = false;
        bool utf8 = true;
        for (size_t i = root_parts.size(); i < path_parts.size(); ++i) {
            const PathComponent& part = path_parts[i];
            if (part.kind != PathComponentKind::Normal) continue;
            if (!is_valid_utf8(part.text)) {
                utf8 = false;
                break;
            }
            if (part.text == "__init__.py") continue;
            std::string_view segment = part.text;
            // Directories named like modules lose the suffix too.
            if (segment.size() >= 3 && segment.ends_with(".py")) {
                segment.remove_suffix(3);
            }
            if (collected) name += '.';
            name += segment;
            collected = true;
        }
        if (utf8 && collected) return name;
    }
    const auto stem = path_file_stem(path);
    if (stem && is_valid_utf8(*stem)) return std::string(*stem);
    return utf8_lossy(path);
}

}  // namespace quarn::ast

#include "quarn/utils/namespace.h"

namespace quarn::utils {

std::string to_snake_case(std::string_view name) { return std::string(name); }
std::string build_namespaced_name(std::optional<std::string_view>,
                                  std::optional<std::string_view> name) {
    return std::string(name.value_or(""));
}

}  // namespace quarn::utils

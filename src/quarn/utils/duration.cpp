#include "quarn/utils/duration.h"

namespace quarn::utils {

std::string make_error(std::string_view, std::string_view) { return {}; }
Result<int64_t> parse_duration_ms(std::string_view) { return int64_t{0}; }
Result<int64_t> parse_duration_s(std::string_view) { return int64_t{0}; }
std::string seconds_to_duration_string(double) { return {}; }

}  // namespace quarn::utils

#include "quarn/utils/isodate.h"

#include "quarn/panic.h"

namespace quarn::utils {

Result<IsoDate> parse_date(std::string_view) {
    unreachable("parse_date not built yet");
}
Result<IsoTime> parse_time(std::string_view) {
    unreachable("parse_time not built yet");
}
Result<IsoDateTime> parse_datetime_with_default_date(std::string_view, std::optional<IsoDate>) {
    unreachable("parse_datetime_with_default_date not built yet");
}
std::optional<uint8_t> month_number(std::string_view) {
    return std::nullopt;
}
Result<IsoDuration> parse_duration(std::string_view) {
    unreachable("parse_duration not built yet");
}
Result<TimeDelta> split_timedelta(i128) {
    unreachable("split_timedelta not built yet");
}
std::string duration_isoformat(int32_t, int32_t, int32_t) {
    unreachable("duration_isoformat not built yet");
}

}  // namespace quarn::utils

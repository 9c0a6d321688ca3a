// Compact duration strings ("1h30m", "250ms", "all"): parsing to milliseconds or seconds and
// printing a number of seconds back in the same notation.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "base/result.h"

namespace quarn::utils {

struct KnownDuration {
    std::string_view text;
    int64_t milliseconds;
};

// Texts answered from this table before any parsing; the whole input must match exactly.
inline constexpr std::array<KnownDuration, 32> KNOWN_DURATIONS = {{
    {"", 0},
    {"0s", 0},
    {"1s", 1'000},
    {"1m", 60'000},
    {"5m", 300'000},
    {"1h", 3'600'000},
    {"2h", 7'200'000},
    {"1d", 86'400'000},
    {"2d", 172'800'000},
    {"3d", 259'200'000},
    {"5d", 432'000'000},
    {"7d", 604'800'000},
    {"1w", 604'800'000},
    {"all", 3'153'600'000'000},
    {"50s", 50'000},
    {"10m", 600'000},
    {"20m", 1'200'000},
    {"30m", 1'800'000},
    {"12h", 43'200'000},
    {"24h", 86'400'000},
    {"48h", 172'800'000},
    {"10d", 864'000'000},
    {"14d", 1'209'600'000},
    {"30d", 2'592'000'000},
    {"45d", 3'888'000'000},
    {"60d", 5'184'000'000},
    {"90d", 7'776'000'000},
    {"200s", 200'000},
    {"100d", 8'640'000'000},
    {"365d", 31'536'000'000},
    {"infinity", 3'153'600'000'000},
    {"15m", 900'000},
}};

// "The duration '{input}' contained a component '{component}' that could not be parsed. ..."
std::string make_error(std::string_view input, std::string_view component);

// Signed milliseconds, or the make_error message.
Result<int64_t> parse_duration_ms(std::string_view s);

// parse_duration_ms divided by 1000, truncated toward zero.
Result<int64_t> parse_duration_s(std::string_view s);

// Days, hours, minutes, seconds and milliseconds ("1h1m1s500ms"); "infinity" from 100 years of
// 365 days on. Never fails: not-a-number and out-of-range values are clamped.
std::string seconds_to_duration_string(double total_seconds);

}  // namespace quarn::utils

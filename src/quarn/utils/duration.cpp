#include "quarn/utils/duration.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>

#include <fmt/format.h>

#include "base/utf8.h"

namespace quarn::utils {
namespace {

constexpr std::string_view DOCS_URL = "https://docs.quarn.dev/api-docs#Duration";

// 100 years of 365 days, in seconds: the value "infinity" and "all" stand for.
constexpr double INFINITY_SECONDS = 3'153'600'000.0;

bool is_ascii_digit(char c) {
    return c >= '0' && c <= '9';
}
bool is_ascii_letter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

// The units, each usable once per text, longest suffix first where one starts another ("ms"
// before "m"); `printed` marks those that seconds_to_duration_string writes.
struct DurationUnit {
    std::string_view suffix;
    int64_t milliseconds;
    bool printed;
};
constexpr DurationUnit UNITS[] = {
    {"w", 604'800'000, false}, {"d", 86'400'000, true}, {"h", 3'600'000, true},
    {"ms", 1, true},           {"m", 60'000, true},     {"s", 1'000, true},
};
constexpr size_t MILLISECOND = 3;
static_assert(UNITS[MILLISECOND].milliseconds == 1);

// The unit whose suffix starts s at `at`, or none.
const DurationUnit* unit_at(std::string_view s, size_t at) {
    for (const DurationUnit& unit : UNITS) {
        if (s.substr(at, unit.suffix.size()) == unit.suffix) return &unit;
    }
    return nullptr;
}

void append_decimal(std::string& out, uint64_t value, std::string_view suffix) {
    char digits[20];
    // Twenty digits hold every 64-bit value, so the conversion cannot fail.
    const auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
    out.append(digits, end);
    out.append(suffix);
}

// A float to an unsigned 64-bit integer toward zero: NaN gives 0, too large gives the maximum.
uint64_t saturating_u64(double x) {
    if (!(x > 0)) return 0;
    if (x >= 18446744073709551616.0) return std::numeric_limits<uint64_t>::max();
    return static_cast<uint64_t>(x);
}

}  // namespace

std::string make_error(std::string_view input, std::string_view component) {
    return fmt::format(
        "The duration '{}' contained a component '{}' that could not be parsed. Please use a "
        "valid duration, like '10m', '1h', or '1h30m'. Read more at {}",
        input, component, DOCS_URL);
}

Result<int64_t> parse_duration_ms(std::string_view s) {
    for (const KnownDuration& known : KNOWN_DURATIONS) {
        if (known.text == s) return known.milliseconds;
    }
    if (trim_white_space(s).empty()) return Err(make_error(s, s));

    size_t pos = 0;
    bool negative = false;
    if (s.front() == '-') {
        negative = true;
        pos = 1;
        if (pos == s.size()) return Err(make_error(s, s));
    }
    // Everything before `pos` has been consumed, so what is left over on a failure is the rest
    // of the text from the component that failed.
    auto fail_with_rest = [&](size_t from) {
        return Err(make_error(s, trim_white_space(s.substr(from))));
    };

    int64_t total = 0;
    uint8_t used_units = 0;
    bool read_any = false;
    while (true) {
        while (pos < s.size() && s[pos] == ' ')
            ++pos;
        if (pos == s.size()) {
            if (!read_any) return Err(make_error(s, s));
            break;
        }
        const size_t component_start = pos;
        if (!is_ascii_digit(s[pos])) return fail_with_rest(component_start);
        size_t digits_end = pos;
        while (digits_end < s.size() && is_ascii_digit(s[digits_end]))
            ++digits_end;
        int64_t number = 0;
        auto [ptr, ec] = std::from_chars(s.data() + pos, s.data() + digits_end, number);
        if (ec != std::errc()) {
            return Err(make_error(s, s.substr(pos, digits_end - pos)));
        }
        if (digits_end == s.size()) return fail_with_rest(component_start);

        const DurationUnit* unit = unit_at(s, digits_end);
        if (unit == nullptr) return fail_with_rest(component_start);
        const size_t unit_end = digits_end + unit->suffix.size();
        const auto unit_bit = static_cast<uint8_t>(1u << (unit - UNITS));
        if (used_units & unit_bit) return fail_with_rest(component_start);
        if (unit_end < s.size() && is_ascii_letter(s[unit_end])) {
            return fail_with_rest(component_start);
        }

        // A total beyond the signed 64-bit range is refused rather than wrapped around.
        int64_t amount;
        if (__builtin_mul_overflow(number, unit->milliseconds, &amount) ||
            __builtin_add_overflow(total, amount, &total)) {
            return Err(make_error(s, s.substr(component_start, unit_end - component_start)));
        }
        used_units |= unit_bit;
        read_any = true;
        pos = unit_end;
        if (pos == s.size()) break;
    }
    return negative ? -total : total;
}

Result<int64_t> parse_duration_s(std::string_view s) {
    Result<int64_t> ms = parse_duration_ms(s);
    if (!ms) return ms;
    return *ms / 1000;
}

std::string seconds_to_duration_string(double total_seconds) {
    if (total_seconds >= INFINITY_SECONDS) return "infinity";
    const double a = std::fabs(total_seconds);
    const uint64_t seconds = saturating_u64(a);
    const uint64_t millis = saturating_u64(std::round((a - static_cast<double>(seconds)) * 1000.0));

    std::string out;
    if (total_seconds < 0) out.push_back('-');
    // Whole units of the seconds from the largest down; the milliseconds are rounded on their
    // own and not carried into the seconds.
    uint64_t rest = seconds;
    for (const DurationUnit& unit : UNITS) {
        if (!unit.printed || unit.milliseconds < 1000) continue;
        const auto unit_seconds = static_cast<uint64_t>(unit.milliseconds / 1000);
        if (const uint64_t v = rest / unit_seconds) append_decimal(out, v, unit.suffix);
        rest %= unit_seconds;
    }
    if (millis) append_decimal(out, millis, UNITS[MILLISECOND].suffix);
    return out;
}

}  // namespace quarn::utils

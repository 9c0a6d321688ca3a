// ISO 8601 durations: parsed into exact microseconds, split into a time delta's parts, and
// written back.
#include <charconv>
#include <cmath>
#include <limits>
#include <string>
#include <system_error>

#include "base/quote.h"
#include "quarn/utils/isodate.h"
#include "quarn/utils/iso_text.h"

namespace quarn::utils {
namespace {

using u128 = unsigned __int128;
using iso::is_ascii;
using iso::is_digit;

// Spelled out: the standard library only describes 128-bit integers in its GNU dialect.
constexpr i128 kI128Max = static_cast<i128>(~u128{0} >> 1);
constexpr i128 kI128Min = -kI128Max - 1;

std::string duration_syntax_error(std::string_view input) {
    std::string message = "Unable to parse duration string ";
    append_debug_str(message, input);
    return message;
}

constexpr std::string_view kOutOfRange = "Duration value is out of range";

// One or more digits, then optionally "." or "," and one or more digits. Returns its length
// at the start of s, 0 when there is none.
size_t scan_number(std::string_view s) {
    size_t i = 0;
    while (i < s.size() && is_digit(s[i]))
        ++i;
    if (i == 0) return 0;
    if (i < s.size() && (s[i] == '.' || s[i] == ',')) {
        size_t j = i + 1;
        while (j < s.size() && is_digit(s[j]))
            ++j;
        if (j == i + 1) return 0;
        i = j;
    }
    return i;
}

// Reads the components of one section ("YMWD" or "HMS"), each at most once and in order, into
// `out` (one slot per designator). False on a malformed component.
bool scan_section(std::string_view& s, std::string_view designators, std::string_view* out) {
    size_t next = 0;
    while (!s.empty() && is_digit(s[0])) {
        const size_t len = scan_number(s);
        if (len == 0 || len == s.size()) return false;
        size_t slot = next;
        while (slot < designators.size() && designators[slot] != s[len])
            ++slot;
        if (slot == designators.size()) return false;
        out[slot] = s.substr(0, len);
        next = slot + 1;
        s.remove_prefix(len + 1);
    }
    return true;
}

bool has_nonzero_digit(std::string_view number) {
    for (char c : number) {
        if (c >= '1' && c <= '9') return true;
    }
    return false;
}

// The number text read as binary64, "," standing for ".", rounded to nearest.
double parse_f64_duration(std::string_view number) {
    if (number.empty()) return 0.0;
    // Whole numbers below 10^15 are exact in binary64; no need for the general reader.
    if (number.size() <= 15) {
        uint64_t whole = 0;
        size_t i = 0;
        while (i < number.size() && is_digit(number[i]))
            whole = whole * 10 + (number[i++] - '0');
        if (i == number.size()) return static_cast<double>(whole);
    }
    char buffer[64];
    std::string long_copy;
    const char* first = number.data();
    if (const size_t comma = number.find(','); comma != std::string_view::npos) {
        char* copy = buffer;
        if (number.size() > sizeof buffer) {
            long_copy.assign(number);
            copy = long_copy.data();
        } else {
            number.copy(buffer, number.size());
        }
        copy[comma] = '.';
        first = copy;
    }
    double value = 0.0;
    const auto [ptr, ec] =
        std::from_chars(first, first + number.size(), value, std::chars_format::fixed);
    if (ec == std::errc::result_out_of_range) {
        // Too large for binary64 rounds to infinity, too small to zero.
        const size_t int_len = std::min(number.find_first_of(".,"), number.size());
        return has_nonzero_digit(number.substr(0, int_len))
                   ? std::numeric_limits<double>::infinity()
                   : 0.0;
    }
    (void)ptr;
    return value;
}

Result<i128> round_f64_half_even(double x) {
    if (!std::isfinite(x)) return Err(std::string(kOutOfRange));
    double floor = std::floor(x);
    const double rest = x - floor;  // exact
    if (rest > 0.5 || (rest == 0.5 && std::fmod(floor, 2.0) != 0.0)) floor += 1.0;
    const double limit = std::ldexp(1.0, 127);
    if (floor >= limit) return kI128Max;
    if (floor < -limit) return kI128Min;
    return static_cast<i128>(floor);
}

}  // namespace

Result<IsoDuration> parse_duration(std::string_view s) {
    const std::string_view input = s;
    if (!is_ascii(s)) return Err(duration_syntax_error(input));
    const bool negative = !s.empty() && s[0] == '-';
    if (!s.empty() && (s[0] == '-' || s[0] == '+')) s.remove_prefix(1);
    if (s.size() < 2 || s[0] != 'P') return Err(duration_syntax_error(input));
    s.remove_prefix(1);
    const char first = s[0];
    if (!is_digit(first) && !((first | 0x20) >= 'a' && (first | 0x20) <= 'z')) {
        return Err(duration_syntax_error(input));
    }

    std::string_view date[4];  // Y M W D
    std::string_view time[3];  // H M S
    if (!scan_section(s, "YMWD", date)) return Err(duration_syntax_error(input));
    if (!s.empty() && s[0] == 'T') {
        s.remove_prefix(1);
        if (!scan_section(s, "HMS", time)) return Err(duration_syntax_error(input));
    }
    if (!s.empty()) return Err(duration_syntax_error(input));

    if (has_nonzero_digit(date[0]) || has_nonzero_digit(date[1])) return IsoDuration::year_month();

    // Microseconds per unit, summed in binary64 in this fixed order.
    const double weeks = parse_f64_duration(date[2]) * 6.048e11;
    const double days = parse_f64_duration(date[3]) * 8.64e10;
    const double hours = parse_f64_duration(time[0]) * 3.6e9;
    const double minutes = parse_f64_duration(time[1]) * 6e7;
    const double seconds = parse_f64_duration(time[2]) * 1e6;
    double total = weeks + days;
    total += hours;
    total += minutes;
    total += seconds;

    auto rounded = round_f64_half_even(total);
    if (!rounded) return Err(std::move(rounded).error());
    return IsoDuration::exact(negative ? -*rounded : *rounded);
}

Result<TimeDelta> split_timedelta(i128 microseconds) {
    constexpr i128 kPerDay = i128{86400} * 1000000;
    // From the remainder, not days * kPerDay: that product leaves 128 bits near the minimum.
    i128 days = microseconds / kPerDay;
    i128 rest = microseconds % kPerDay;
    if (rest < 0) {
        rest += kPerDay;
        --days;
    }
    if (days < std::numeric_limits<int32_t>::min() || days > std::numeric_limits<int32_t>::max()) {
        return Err(std::string(kOutOfRange));
    }
    return TimeDelta{static_cast<int32_t>(days), static_cast<int32_t>(rest / 1000000),
                     static_cast<int32_t>(rest % 1000000)};
}

namespace {

void append_number(std::string& out, uint64_t v, char designator) {
    char digits[24];
    const auto end = std::to_chars(digits, digits + sizeof digits, v).ptr;
    out.append(digits, end);
    out.push_back(designator);
}

}  // namespace

std::string duration_isoformat(int32_t days, int32_t seconds, int32_t microseconds) {
    // Whole seconds and a microsecond part 0..999999; the total is negative exactly when the
    // seconds are. 64 bits hold every total of 32-bit parts.
    int64_t secs = int64_t{days} * 86400 + seconds + microseconds / 1000000;
    int64_t micros = microseconds % 1000000;
    if (micros < 0) {
        micros += 1000000;
        --secs;
    }
    std::string out;
    out.reserve(32);
    uint64_t abs_secs, abs_micros;
    if (secs < 0) {
        out.push_back('-');
        abs_secs = static_cast<uint64_t>(-(secs + (micros != 0)));
        abs_micros = micros != 0 ? static_cast<uint64_t>(1000000 - micros) : 0;
    } else {
        abs_secs = static_cast<uint64_t>(secs);
        abs_micros = static_cast<uint64_t>(micros);
    }
    out.push_back('P');
    const uint64_t whole_days = abs_secs / 86400;
    const uint64_t rest = abs_secs % 86400;
    if (whole_days > 0) append_number(out, whole_days, 'D');
    if (rest == 0 && abs_micros == 0) {
        if (whole_days == 0) out += "0D";
        return out;
    }
    out.push_back('T');
    if (rest >= 3600) append_number(out, rest / 3600, 'H');
    if (rest % 3600 >= 60) append_number(out, rest % 3600 / 60, 'M');
    const uint64_t s = rest % 60;
    if (abs_micros == 0) {
        if (s != 0) append_number(out, s, 'S');
        return out;
    }
    char digits[24];
    char* end = std::to_chars(digits, digits + sizeof digits, s).ptr;
    *end++ = '.';
    for (uint64_t scale = 100000; scale != 0 && abs_micros != 0; scale /= 10) {
        *end++ = static_cast<char>('0' + abs_micros / scale);
        abs_micros %= scale;
    }
    *end++ = 'S';
    out.append(digits, end);
    return out;
}

}  // namespace quarn::utils

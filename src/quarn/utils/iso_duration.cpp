// ISO 8601 durations: parsed into exact microseconds, split into a time delta's parts, and
// written back.
#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>
#include <string>
#include <system_error>

#include "base/quote.h"
#include "quarn/utils/iso_text.h"
#include "quarn/utils/isodate.h"

namespace quarn::utils {
namespace {

using u128 = unsigned __int128;
using iso::is_ascii;
using iso::is_digit;

// Spelled out: the standard library only describes 128-bit integers in its GNU dialect.
constexpr i128 kI128Max = static_cast<i128>(~u128{0} >> 1);

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

// The components with a fixed length, in the order of the text: weeks, days, hours, minutes,
// seconds, and the seconds in one unit of each.
constexpr size_t kFixedUnits = 5;
constexpr uint32_t kSecondsPerUnit[kFixedUnits] = {604800, 86400, 3600, 60, 1};

// The integer digits of a number without their leading zeros.
std::string_view significant_integer_digits(std::string_view number) {
    number = number.substr(0, std::min(number.find_first_of(".,"), number.size()));
    const size_t first = number.find_first_not_of('0');
    return first == std::string_view::npos ? std::string_view{} : number.substr(first);
}

// A component whose value does not fit binary64 (or whose total does not) is out of range, not
// clamped. Only numbers of some 300 digits come near that, so shorter ones are never read as
// binary64.
bool out_of_range(const std::string_view (&numbers)[kFixedUnits]) {
    constexpr size_t kFiniteDigits = 290;
    bool long_number = false;
    for (std::string_view number : numbers)
        long_number |= significant_integer_digits(number).size() > kFiniteDigits;
    if (!long_number) return false;
    double total = 0.0;
    for (size_t i = 0; i < kFixedUnits; ++i)
        total += parse_f64_duration(numbers[i]) * (kSecondsPerUnit[i] * 1e6);
    return !std::isfinite(total);
}

// The sum of the components in microseconds, exact: whole microseconds in 128 bits (clamped at
// the largest signed value, since no component is negative), and the rest below a microsecond as
// the decimal digits after the point, which every decimal fraction times a whole number of
// microseconds per unit is.
class ExactMicroseconds {
  public:
    void add(std::string_view number, uint32_t seconds_per_unit) {
        const std::string_view whole = significant_integer_digits(number);
        const size_t point = number.find_first_of(".,");
        const std::string_view fraction =
            point == std::string_view::npos ? std::string_view{} : number.substr(point + 1);
        // The number in whole microseconds: its integer digits, then six fraction digits.
        u128 micros = 0;
        bool overflow = whole.size() > kMaxDigits;
        for (size_t i = 0; i < whole.size() + 6 && !overflow; ++i) {
            const char c = i < whole.size()                     ? whole[i]
                           : i - whole.size() < fraction.size() ? fraction[i - whole.size()]
                                                                : '0';
            overflow = __builtin_mul_overflow(micros, u128{10}, &micros) ||
                       __builtin_add_overflow(micros, static_cast<unsigned>(c - '0'), &micros);
        }
        overflow = overflow || __builtin_mul_overflow(micros, u128{seconds_per_unit}, &micros);
        add_whole(overflow ? kMax : micros);
        if (fraction.size() > 6) add_whole(add_rest(fraction.substr(6), seconds_per_unit));
    }

    // Rounded to the nearest microsecond, a half to the even neighbour.
    i128 rounded() const {
        u128 value = whole_;
        if (!rest_.empty()) {
            const bool beyond_half = rest_.find_first_not_of('0', 1) != std::string::npos;
            if (rest_[0] > '5' || (rest_[0] == '5' && (beyond_half || (value & 1) != 0))) {
                value = value < kMax ? value + 1 : kMax;
            }
        }
        return static_cast<i128>(value);
    }

  private:
    static constexpr u128 kMax = static_cast<u128>(kI128Max);
    // 10^38 times 10^6 already leaves 128 bits.
    static constexpr size_t kMaxDigits = 38;

    void add_whole(u128 micros) { whole_ = whole_ > kMax - micros ? kMax : whole_ + micros; }

    // Adds `digits` (the fraction of a microsecond, 0.d1d2...) times `factor` to the rest, digit
    // by digit from the last; returns the whole microseconds carried out of it.
    uint64_t add_rest(std::string_view digits, uint32_t factor) {
        if (rest_.size() < digits.size()) rest_.resize(digits.size(), '0');
        uint64_t carry = 0;
        for (size_t i = digits.size(); i-- > 0;) {
            const uint64_t v = static_cast<uint64_t>(digits[i] - '0') * factor +
                               static_cast<uint64_t>(rest_[i] - '0') + carry;
            rest_[i] = static_cast<char>('0' + v % 10);
            carry = v / 10;
        }
        return carry;
    }

    u128 whole_ = 0;
    std::string rest_;
};

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

    const std::string_view fixed[kFixedUnits] = {date[2], date[3], time[0], time[1], time[2]};
    if (out_of_range(fixed)) return Err(std::string(kOutOfRange));
    ExactMicroseconds total;
    for (size_t i = 0; i < kFixedUnits; ++i) {
        if (!fixed[i].empty()) total.add(fixed[i], kSecondsPerUnit[i]);
    }
    const i128 microseconds = total.rounded();
    return IsoDuration::exact(negative ? -microseconds : microseconds);
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

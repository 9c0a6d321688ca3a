#include "quarn/utils/isodate.h"

#include <fmt/format.h>

#include <array>
#include <charconv>
#include <cmath>
#include <limits>
#include <system_error>

#include "base/panic.h"
#include "base/quote.h"

namespace quarn::utils {

ZoneName::ZoneName(std::string_view text) {
    if (text.size() > kCapacity) panic("zone name " + debug_str(text) + " is too long");
    text.copy(bytes_, text.size());
    size_ = static_cast<uint8_t>(text.size());
}

namespace {

using u128 = unsigned __int128;

// Spelled out: the standard library only describes 128-bit integers in its GNU dialect.
constexpr i128 kI128Max = static_cast<i128>(~u128{0} >> 1);
constexpr i128 kI128Min = -kI128Max - 1;

constexpr bool is_digit(char c) {
    return c >= '0' && c <= '9';
}

bool is_ascii(std::string_view s) {
    for (char c : s) {
        if (static_cast<unsigned char>(c) >= 0x80) return false;
    }
    return true;
}

// True when s[pos .. pos + n) are all ASCII digits (and inside s).
bool digits_at(std::string_view s, size_t pos, size_t n) {
    if (pos + n > s.size()) return false;
    for (size_t i = pos; i < pos + n; ++i) {
        if (!is_digit(s[i])) return false;
    }
    return true;
}

// The value of s[pos .. pos + n), which digits_at has accepted; n is at most 9.
uint32_t digits_value(std::string_view s, size_t pos, size_t n) {
    uint32_t v = 0;
    for (size_t i = pos; i < pos + n; ++i)
        v = v * 10 + static_cast<uint32_t>(s[i] - '0');
    return v;
}

// ---------------------------------------------------------------------------------------------
// Calendar arithmetic: proleptic Gregorian with a year 0, counted in days from 1970-01-01.

constexpr int64_t days_from_civil(int64_t y, uint32_t m, uint32_t d) {
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const int64_t yoe = y - era * 400;
    const int64_t doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
    const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

constexpr IsoDate civil_from_days(int64_t z) {
    z += 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const int64_t doe = z - era * 146097;
    const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const int64_t mp = (5 * doy + 2) / 153;
    const auto d = static_cast<uint8_t>(doy - (153 * mp + 2) / 5 + 1);
    const auto m = static_cast<uint8_t>(mp < 10 ? mp + 3 : mp - 9);
    return IsoDate{static_cast<int32_t>(yoe + era * 400 + (m <= 2)), m, d};
}

// Monday = 0 .. Sunday = 6; 1970-01-01 was a Thursday.
constexpr int64_t weekday_from_days(int64_t z) {
    return ((z % 7) + 7 + 3) % 7;
}

constexpr bool is_leap_year(int64_t y) {
    return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}

std::optional<IsoDate> parse_week_date(uint32_t year, uint32_t week, uint32_t weekday) {
    if (week < 1 || week > 53 || weekday < 1 || weekday > 7) return std::nullopt;
    const int64_t jan1 = days_from_civil(year, 1, 1);
    const int64_t t = weekday_from_days(jan1);
    // Week 1 holds the year's first Thursday.
    const int64_t monday1 = t <= 3 ? jan1 - t : jan1 + (7 - t);
    return civil_from_days(monday1 + 7 * (week - 1) + (weekday - 1));
}

std::optional<IsoDate> parse_ordinal_date(uint32_t year, uint32_t day) {
    if (day == 0 || day > (is_leap_year(year) ? 366u : 365u)) return std::nullopt;
    return civil_from_days(days_from_civil(year, 1, 1) + (day - 1));
}

// ---------------------------------------------------------------------------------------------
// Dates.

std::optional<IsoDate> scan_date(std::string_view s) {
    if (!is_ascii(s)) return std::nullopt;
    const auto d = [&](size_t pos, size_t n) { return digits_value(s, pos, n); };
    switch (s.size()) {
        case 2:
            if (digits_at(s, 0, 2)) return IsoDate{static_cast<int32_t>(d(0, 2) * 100 + 1), 1, 1};
            break;
        case 4:
            if (digits_at(s, 0, 4)) return IsoDate{static_cast<int32_t>(d(0, 4)), 1, 1};
            break;
        case 6:
            if (digits_at(s, 0, 6)) {
                return IsoDate{static_cast<int32_t>(d(0, 4)), static_cast<uint8_t>(d(4, 2)), 1};
            }
            break;
        case 7:
            if (digits_at(s, 0, 7)) return parse_ordinal_date(d(0, 4), d(4, 3));
            if (!digits_at(s, 0, 4) || !digits_at(s, 5, 2)) break;
            if (s[4] == 'W') return parse_week_date(d(0, 4), d(5, 2), 1);
            if (s[4] == '-') {
                return IsoDate{static_cast<int32_t>(d(0, 4)), static_cast<uint8_t>(d(5, 2)), 1};
            }
            break;
        case 8:
            if (digits_at(s, 0, 8)) {
                return IsoDate{static_cast<int32_t>(d(0, 4)), static_cast<uint8_t>(d(4, 2)),
                               static_cast<uint8_t>(d(6, 2))};
            }
            if (!digits_at(s, 0, 4)) break;
            if (s[4] == '-' && digits_at(s, 5, 3)) return parse_ordinal_date(d(0, 4), d(5, 3));
            if (s[4] == '-' && s[5] == 'W' && digits_at(s, 6, 2)) {
                return parse_week_date(d(0, 4), d(6, 2), 1);
            }
            if (s[4] == 'W' && digits_at(s, 5, 3))
                return parse_week_date(d(0, 4), d(5, 2), d(7, 1));
            break;
        case 10:
            if (!digits_at(s, 0, 4) || s[4] != '-') break;
            if (digits_at(s, 5, 2) && s[7] == '-' && digits_at(s, 8, 2)) {
                return IsoDate{static_cast<int32_t>(d(0, 4)), static_cast<uint8_t>(d(5, 2)),
                               static_cast<uint8_t>(d(8, 2))};
            }
            if (s[5] == 'W' && digits_at(s, 6, 2) && s[8] == '-' && digits_at(s, 9, 1)) {
                return parse_week_date(d(0, 4), d(6, 2), d(9, 1));
            }
            break;
        default:
            break;
    }
    return std::nullopt;
}

// ---------------------------------------------------------------------------------------------
// Times.

// Only this many fraction digits take part; 10^38 still fits 128 bits unsigned.
constexpr size_t kMaxFractionDigits = 38;

constexpr std::array<u128, kMaxFractionDigits + 1> kPow10 = [] {
    std::array<u128, kMaxFractionDigits + 1> p{};
    p[0] = 1;
    for (size_t i = 1; i < p.size(); ++i)
        p[i] = p[i - 1] * 10;
    return p;
}();

// The fraction 0.d1..dk as the exact rational n / 10^k.
struct Fraction {
    u128 n = 0;
    size_t k = 0;
};

Fraction read_fraction(std::string_view digits) {
    Fraction f;
    f.k = std::min(digits.size(), kMaxFractionDigits);
    for (size_t i = 0; i < f.k; ++i)
        f.n = f.n * 10 + static_cast<unsigned>(digits[i] - '0');
    return f;
}

// f * c * 10^e, floored, or rounded half to even when `round` is set. The result is below
// c * 10^e, and every intermediate stays below 2^128 for c <= 36 and e >= 6.
u128 scale_fraction(Fraction f, unsigned c, size_t e, bool round) {
    if (f.k <= e) return f.n * c * kPow10[e - f.k];
    const u128 den = kPow10[f.k - e];
    const u128 q = f.n / den;
    const u128 r = f.n % den * c;
    u128 value = q * c + r / den;
    if (round) {
        const u128 twice_rest = r % den * 2;
        if (twice_rest > den || (twice_rest == den && (value & 1) != 0)) ++value;
    }
    return value;
}

struct SplitFraction {
    uint32_t value;             // the leading digits
    std::string_view fraction;  // empty when absent
    std::string_view rest;
};

// `n` leading digits, then an optional "." or "," with at least one digit.
std::optional<SplitFraction> split_fraction(std::string_view s, size_t n) {
    if (!digits_at(s, 0, n)) return std::nullopt;
    SplitFraction out{digits_value(s, 0, n), {}, s.substr(n)};
    if (n == s.size() || (s[n] != '.' && s[n] != ',')) return out;
    size_t end = n + 1;
    while (end < s.size() && is_digit(s[end]))
        ++end;
    if (end == n + 1) return std::nullopt;
    out.fraction = s.substr(n + 1, end - n - 1);
    out.rest = s.substr(end);
    return out;
}

// Reads the zone designator z (the whole rest of a time) into `out`, which stays empty for an
// empty z. False when z is no designator.
bool parse_tzinfo(std::string_view z, std::optional<IsoZone>& out) {
    if (z.empty()) return true;
    if (z == "Z" || z == "z") {
        out.emplace(IsoZone::utc());
        return true;
    }
    if (z[0] != '+' && z[0] != '-') return false;
    if (!digits_at(z, 1, 2)) return false;
    uint32_t minutes = 0;
    switch (z.size()) {
        case 3:
            break;
        case 5:
            if (!digits_at(z, 3, 2)) return false;
            minutes = digits_value(z, 3, 2);
            break;
        case 6:
            if (z[3] != ':' || !digits_at(z, 4, 2)) return false;
            minutes = digits_value(z, 4, 2);
            break;
        default:
            return false;
    }
    const uint32_t hours = digits_value(z, 1, 2);
    if (hours > 23 || minutes > 59) return false;
    const auto seconds = static_cast<int32_t>(hours * 3600 + minutes * 60);
    out.emplace(IsoZone::offset(z, z[0] == '-' ? -seconds : seconds));
    return true;
}

// The smallest unit that a time's fraction refines.
enum class Unit { Hour, Minute, Second };

// The clock fields while a time is being read; the result is built once from them.
struct Clock {
    uint32_t hour = 0;
    uint32_t minute = 0;
    uint32_t second = 0;
    uint32_t microsecond = 0;
};

// Fills the fields below `unit` from the fraction digits of `unit`.
void apply_fraction(Clock& c, Unit unit, std::string_view digits) {
    if (digits.empty()) return;
    const Fraction f = read_fraction(digits);
    switch (unit) {
        case Unit::Second:
            c.microsecond = static_cast<uint32_t>(scale_fraction(f, 1, 6, false));
            break;
        case Unit::Minute: {
            const auto x = static_cast<uint32_t>(scale_fraction(f, 6, 7, false));
            c.second = x / 1000000;
            c.microsecond = x % 1000000;
            break;
        }
        case Unit::Hour: {
            // Rounded to the nearest microsecond; a value that rounds up to the next whole
            // second carries on through minutes into the hour instead of giving 1,000,000 us.
            const auto x = static_cast<uint64_t>(scale_fraction(f, 36, 8, true));
            c.hour += static_cast<uint32_t>(x / 3600000000u);
            c.minute = static_cast<uint32_t>(x / 60000000 % 60);
            c.second = static_cast<uint32_t>(x / 1000000 % 60);
            c.microsecond = static_cast<uint32_t>(x % 1000000);
            break;
        }
    }
}

// One layout: `c` holds the fields read before `tail`, which starts with the last group of `n`
// digits, then the optional fraction and the zone designator. The time is written straight
// into `out` (no copies of a half-written record: they stall on store forwarding).
bool finish_time(Clock c, Unit unit, std::string_view tail, size_t n, IsoTime& out) {
    const auto split = split_fraction(tail, n);
    if (!split) return false;
    if (!parse_tzinfo(split->rest, out.tzinfo)) return false;
    const uint32_t v = split->value;
    if (n == 6) {  // hhmmss
        c.hour = v / 10000;
        c.minute = v / 100 % 100;
        c.second = v % 100;
    } else if (n == 4) {  // hhmm
        c.hour = v / 100;
        c.minute = v % 100;
    } else if (unit == Unit::Second) {
        c.second = v;
    } else if (unit == Unit::Minute) {
        c.minute = v;
    } else {
        c.hour = v;
    }
    apply_fraction(c, unit, split->fraction);
    out.hour = static_cast<uint8_t>(c.hour);
    out.minute = static_cast<uint8_t>(c.minute);
    out.second = static_cast<uint8_t>(c.second);
    out.microsecond = c.microsecond;
    return true;
}

// parse_time without the message; `out` is meaningful only when it answers true.
bool scan_time(std::string_view s, IsoTime& out) {
    out.tzinfo.reset();
    if (!is_ascii(s)) return false;
    if (!s.empty() && s[0] == 'T') s.remove_prefix(1);
    // hh:mm:ss
    if (s.size() >= 8 && digits_at(s, 0, 2) && s[2] == ':' && digits_at(s, 3, 2) && s[5] == ':') {
        const Clock c{digits_value(s, 0, 2), digits_value(s, 3, 2)};
        if (finish_time(c, Unit::Second, s.substr(6), 2, out)) return true;
    }
    // hhmmss
    if (finish_time({}, Unit::Second, s, 6, out)) return true;
    // hh:mm
    if (s.size() >= 5 && digits_at(s, 0, 2) && s[2] == ':') {
        const Clock c{digits_value(s, 0, 2)};
        if (finish_time(c, Unit::Minute, s.substr(3), 2, out)) return true;
    }
    // hhmm
    if (finish_time({}, Unit::Minute, s, 4, out)) return true;
    // hh
    return finish_time({}, Unit::Hour, s, 2, out);
}

std::string iso_error(std::string_view what, std::string_view input) {
    std::string message = fmt::format("Unrecognised ISO 8601 {} format: ", what);
    append_debug_str(message, input);
    return message;
}

// ---------------------------------------------------------------------------------------------
// Lenient date-times.

constexpr bool is_space(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

std::string_view trim(std::string_view s) {
    while (!s.empty() && is_space(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && is_space(s.back()))
        s.remove_suffix(1);
    return s;
}

std::string_view strip_trailing_commas(std::string_view s) {
    while (!s.empty() && s.back() == ',')
        s.remove_suffix(1);
    return s;
}

// A token of digits only (empty counts as 0) whose value is at most `max`.
std::optional<uint32_t> small_number(std::string_view s, uint32_t max) {
    uint64_t v = 0;
    for (char c : s) {
        if (!is_digit(c)) return std::nullopt;
        v = v * 10 + static_cast<unsigned>(c - '0');
        if (v > max) return std::nullopt;
    }
    return static_cast<uint32_t>(v);
}

// True when the first ":" of s is its second or third character with digits before it.
bool colon_after_hour_digits(std::string_view s) {
    const size_t colon = s.find(':');
    return (colon == 1 || colon == 2) && digits_at(s, 0, colon);
}

// parse_time over the concatenation of a and b, without allocating for everyday lengths.
bool scan_time_joined(std::string_view a, std::string_view b, IsoTime& out) {
    char buffer[64];
    if (a.size() + b.size() <= sizeof buffer) {
        a.copy(buffer, a.size());
        b.copy(buffer + a.size(), b.size());
        return scan_time(std::string_view(buffer, a.size() + b.size()), out);
    }
    std::string joined;
    joined.reserve(a.size() + b.size());
    joined.append(a).append(b);
    return scan_time(joined, out);
}

// "9:30" "pm" and the like: a 12-hour time (one or two hour digits) and its marker.
bool scan_am_pm_time(std::string_view time, std::string_view marker, IsoTime& out) {
    if (!colon_after_hour_digits(time)) return false;
    if (marker.size() != 2 || (marker[1] | 0x20) != 'm') return false;
    const char ap = static_cast<char>(marker[0] | 0x20);
    if (ap != 'a' && ap != 'p') return false;
    IsoTime t;
    if (!(time.find(':') == 1 ? scan_time_joined("0", time, t) : scan_time(time, t))) return false;
    if (t.hour < 1 || t.hour > 12) return false;
    if (ap == 'a') {
        if (t.hour == 12) t.hour = 0;
    } else if (t.hour != 12) {
        t.hour = static_cast<uint8_t>(t.hour + 12);
    }
    out = t;
    return true;
}

// The month-name forms: "Jan 5 2024", "5 January, 2024", with an optional time and am/pm.
bool scan_month_name_form(std::string_view t, IsoDateTime& out) {
    std::array<std::string_view, 5> tokens;
    size_t count = 0;
    for (size_t i = 0; i < t.size();) {
        while (i < t.size() && is_space(t[i]))
            ++i;
        if (i == t.size()) break;
        const size_t start = i;
        while (i < t.size() && !is_space(t[i]))
            ++i;
        if (count == tokens.size()) return false;  // six tokens or more
        tokens[count++] = t.substr(start, i - start);
    }
    if (count < 3) return false;

    std::string_view day_token, year_token;
    std::optional<uint8_t> month = month_number(tokens[0]);
    if (month) {
        day_token = tokens[1];
        year_token = tokens[2];
    } else if ((month = month_number(tokens[1]))) {
        day_token = tokens[0];
        year_token = tokens[2];
    } else {
        return false;
    }
    // Values that do not fit the fields make the form fail rather than wrap around.
    const auto day = small_number(strip_trailing_commas(day_token), 255);
    const auto year = small_number(strip_trailing_commas(year_token),
                                   static_cast<uint32_t>(std::numeric_limits<int32_t>::max()));
    if (!day || !year) return false;

    switch (count) {
        case 3:
            out.time = IsoTime{};
            break;
        case 4:
            if (!scan_time(tokens[3], out.time)) return false;
            break;
        default:  // five
            if (!scan_am_pm_time(tokens[3], tokens[4], out.time) &&
                !scan_time_joined(tokens[3], tokens[4], out.time)) {
                return false;
            }
            break;
    }
    out.date = IsoDate{static_cast<int32_t>(*year), *month, static_cast<uint8_t>(*day)};
    return true;
}

bool scan_datetime(std::string_view t, std::optional<IsoDate> default_date, IsoDateTime& out) {
    // A "T" commits to the ISO form.
    if (const size_t tpos = t.find('T'); tpos != std::string_view::npos) {
        const auto date = scan_date(t.substr(0, tpos));
        if (!date || !scan_time(t.substr(tpos + 1), out.time)) return false;
        out.date = *date;
        return true;
    }
    if (is_digit(t[0])) {
        if (const size_t space = t.find(' '); space != std::string_view::npos) {
            if (const auto date = scan_date(t.substr(0, space))) {
                if (scan_time(t.substr(space + 1), out.time)) {
                    out.date = *date;
                    return true;
                }
            }
        }
    }
    if (const auto date = scan_date(t)) {
        out.date = *date;
        out.time = IsoTime{};
        return true;
    }
    if (scan_month_name_form(t, out)) return true;
    // A time alone, on the default date.
    if (!default_date || !colon_after_hour_digits(t) || !scan_time(t, out.time)) return false;
    out.date = *default_date;
    return true;
}

// ---------------------------------------------------------------------------------------------
// Durations.

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

Result<IsoDate> parse_date(std::string_view s) {
    if (auto date = scan_date(s)) return *date;
    return Err(iso_error("date", s));
}

Result<IsoTime> parse_time(std::string_view s) {
    IsoTime time;
    if (scan_time(s, time)) return time;
    return Err(iso_error("time", s));
}

std::optional<uint8_t> month_number(std::string_view token) {
    static constexpr std::string_view kNames[][3] = {
        {"jan", "january", {}}, {"feb", "february", {}}, {"mar", "march", {}},
        {"apr", "april", {}},   {"may", {}, {}},         {"jun", "june", {}},
        {"jul", "july", {}},    {"aug", "august", {}},   {"sep", "sept", "september"},
        {"oct", "october", {}}, {"nov", "november", {}}, {"dec", "december", {}},
    };
    token = strip_trailing_commas(token);
    char lower[9];
    if (token.size() < 3 || token.size() > sizeof lower) return std::nullopt;
    for (size_t i = 0; i < token.size(); ++i) {
        const char c = token[i];
        lower[i] = c >= 'A' && c <= 'Z' ? static_cast<char>(c + ('a' - 'A')) : c;
    }
    const std::string_view key(lower, token.size());
    for (size_t m = 0; m < 12; ++m) {
        for (std::string_view name : kNames[m]) {
            if (!name.empty() && name == key) return static_cast<uint8_t>(m + 1);
        }
    }
    return std::nullopt;
}

Result<IsoDateTime> parse_datetime_with_default_date(std::string_view s,
                                                     std::optional<IsoDate> default_date) {
    if (!is_ascii(s)) return Err(fmt::format("Unknown string format: {}", s));
    const std::string_view t = trim(s);
    if (t.empty()) return Err(fmt::format("String does not contain a date: {}", s));
    IsoDateTime result;
    if (scan_datetime(t, default_date, result)) return result;
    return Err(fmt::format("Unknown string format: {}", s));
}

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

// ISO 8601 calendar, ordinal and week dates, times of day with fractions, and zone designators.
#include <fmt/format.h>

#include <algorithm>
#include <array>

#include "base/panic.h"
#include "base/quote.h"
#include "quarn/utils/iso_text.h"
#include "quarn/utils/isodate.h"

namespace quarn::utils {

ZoneName::ZoneName(std::string_view text) {
    if (text.size() > kCapacity) panic("zone name " + debug_str(text) + " is too long");
    text.copy(bytes_, text.size());
    size_ = static_cast<uint8_t>(text.size());
}

namespace {

using u128 = unsigned __int128;
using iso::digits_at;
using iso::digits_value;
using iso::is_ascii;
using iso::is_digit;

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

}  // namespace

namespace iso {

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

}  // namespace iso

namespace {

using iso::scan_date;

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

}  // namespace

namespace iso {

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

}  // namespace iso

namespace {

std::string iso_error(std::string_view what, std::string_view input) {
    std::string message = fmt::format("Unrecognised ISO 8601 {} format: ", what);
    append_debug_str(message, input);
    return message;
}

}  // namespace

Result<IsoDate> parse_date(std::string_view s) {
    if (auto date = iso::scan_date(s)) return *date;
    return Err(iso_error("date", s));
}

Result<IsoTime> parse_time(std::string_view s) {
    IsoTime time;
    if (iso::scan_time(s, time)) return time;
    return Err(iso_error("time", s));
}

}  // namespace quarn::utils

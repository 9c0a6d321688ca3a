// Date-times in everyday forms: ISO 8601 joined by "T" or a space, an ISO date alone, English
// month names with an optional time and am/pm, or a time alone on a default date.
#include <fmt/format.h>

#include <array>
#include <limits>
#include <string>

#include "base/utf8.h"
#include "quarn/utils/iso_text.h"
#include "quarn/utils/isodate.h"

namespace quarn::utils {
namespace {

using iso::digits_at;
using iso::is_ascii;
using iso::is_digit;
using iso::scan_date;
using iso::scan_time;

constexpr bool is_space(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
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

}  // namespace

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
    const std::string_view t = trim_white_space(s);
    if (t.empty()) return Err(fmt::format("String does not contain a date: {}", s));
    IsoDateTime result;
    if (scan_datetime(t, default_date, result)) return result;
    return Err(fmt::format("Unknown string format: {}", s));
}

}  // namespace quarn::utils

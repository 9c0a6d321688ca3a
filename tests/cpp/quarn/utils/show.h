// Compact renderings of parse results, so each table row states its expectation as one text.
#pragma once

#include <fmt/format.h>

#include <string>

#include "quarn/utils/isodate.h"

namespace quarn::utils::testing {

inline std::string show(const IsoDate& d) {
    return fmt::format("{:04}-{:02}-{:02}", d.year, d.month, d.day);
}

// "12:30:45.500000", then " UTC" or " +05:30=19800" for a zone.
inline std::string show(const IsoTime& t) {
    std::string out =
        fmt::format("{:02}:{:02}:{:02}.{:06}", t.hour, t.minute, t.second, t.microsecond);
    if (t.tzinfo) {
        if (const auto* off = t.tzinfo->as_offset()) {
            out += fmt::format(" {}={}", off->name.view(), off->seconds);
        } else {
            out += " UTC";
        }
    }
    return out;
}

inline std::string show(const IsoDateTime& dt) {
    return show(dt.date) + " " + show(dt.time);
}

inline std::string to_string(i128 v) {
    if (v == 0) return "0";
    const bool negative = v < 0;
    unsigned __int128 u = negative ? -static_cast<unsigned __int128>(v) : v;
    std::string digits;
    while (u != 0) {
        digits.insert(digits.begin(), static_cast<char>('0' + static_cast<int>(u % 10)));
        u /= 10;
    }
    return negative ? "-" + digits : digits;
}

inline std::string show(const IsoDuration& d) {
    if (const auto* e = d.as_exact()) return to_string(e->microseconds);
    return "YearMonth";
}

inline std::string show(const TimeDelta& t) {
    return fmt::format("({}, {}, {})", t.days, t.seconds, t.microseconds);
}

// The value's rendering, or "error: " and the message.
template <typename T>
std::string show(const Result<T>& r) {
    return r.ok() ? show(r.value()) : "error: " + r.error();
}

}  // namespace quarn::utils::testing

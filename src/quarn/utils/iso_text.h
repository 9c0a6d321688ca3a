// What the ISO date and time readers share with the lenient date-time and duration readers: byte
// tests and the date and time scanners without their messages. Internal to quarn_utils.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

#include "quarn/utils/isodate.h"

namespace quarn::utils::iso {

constexpr bool is_digit(char c) {
    return c >= '0' && c <= '9';
}

inline bool is_ascii(std::string_view s) {
    for (char c : s) {
        if (static_cast<unsigned char>(c) >= 0x80) return false;
    }
    return true;
}

// True when s[pos .. pos + n) are all ASCII digits (and inside s).
inline bool digits_at(std::string_view s, size_t pos, size_t n) {
    if (pos + n > s.size()) return false;
    for (size_t i = pos; i < pos + n; ++i) {
        if (!is_digit(s[i])) return false;
    }
    return true;
}

// The value of s[pos .. pos + n), which digits_at has accepted; n is at most 9.
inline uint32_t digits_value(std::string_view s, size_t pos, size_t n) {
    uint32_t v = 0;
    for (size_t i = pos; i < pos + n; ++i)
        v = v * 10 + static_cast<uint32_t>(s[i] - '0');
    return v;
}

// parse_date without the message.
std::optional<IsoDate> scan_date(std::string_view s);

// parse_time without the message; `out` is meaningful only when it answers true.
bool scan_time(std::string_view s, IsoTime& out);

}  // namespace quarn::utils::iso

// ISO 8601 dates, times, zones and durations, and the lenient date-time reader built on them.
//
// Every parser returns either a plain value or one message text; none keeps state, so all of
// them may run on any number of threads at once. Calendar and clock ranges (month 13, hour 24)
// are not checked here: the caller that builds the platform's date and time values rejects them.
// Ordinal dates, week dates and zone offsets are checked.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

#include "base/result.h"

namespace quarn::utils {

using i128 = __int128;

// A proleptic Gregorian date; month and day are as written (0..99) for calendar forms.
struct IsoDate {
    int32_t year = 0;
    uint8_t month = 0;
    uint8_t day = 0;

    bool operator==(const IsoDate&) const = default;
};

// A zone designator's text as written ("+05", "-0800", "+05:30"), held inline: at most 6 bytes.
class ZoneName {
  public:
    static constexpr size_t kCapacity = 6;

    constexpr ZoneName() = default;
    // Panics when `text` is longer than kCapacity; the parser never builds such a name.
    explicit ZoneName(std::string_view text);

    constexpr operator std::string_view() const { return {bytes_, size_}; }
    constexpr std::string_view view() const { return {bytes_, size_}; }
    constexpr const char* data() const { return bytes_; }
    constexpr size_t size() const { return size_; }

    constexpr bool operator==(const ZoneName& other) const { return view() == other.view(); }

  private:
    char bytes_[kCapacity] = {};
    uint8_t size_ = 0;
};

// A zone designator: "Z"/"z", or a fixed offset such as "+05:30" or "-0800".
struct IsoZone {
    struct Utc {
        bool operator==(const Utc&) const = default;
    };
    struct Offset {
        // The designator exactly as written, sign and colon included.
        ZoneName name;
        // East of UTC: hours * 3600 + minutes * 60, negative for "-".
        int32_t seconds = 0;

        bool operator==(const Offset&) const = default;
    };

    std::variant<Utc, Offset> value;

    static IsoZone utc() { return IsoZone{Utc{}}; }
    static IsoZone offset(std::string_view name, int32_t seconds) {
        return IsoZone{Offset{ZoneName(name), seconds}};
    }
    // The offset variant, or null for UTC.
    const Offset* as_offset() const { return std::get_if<Offset>(&value); }

    bool operator==(const IsoZone&) const = default;
};

// A time of day; fields are as written or as derived from a fraction, unchecked. Trivially
// copyable: parsing one allocates nothing.
struct IsoTime {
    uint8_t hour = 0;
    uint8_t minute = 0;
    uint8_t second = 0;
    uint32_t microsecond = 0;
    // Absent when the text has no zone designator.
    std::optional<IsoZone> tzinfo;

    bool operator==(const IsoTime&) const = default;
};

struct IsoDateTime {
    IsoDate date;
    IsoTime time;  // 00:00:00.000000 without zone when the text has no time

    bool operator==(const IsoDateTime&) const = default;
};

// An ISO 8601 duration: an exact count of microseconds, or the mark that the text has a
// non-zero year or month component and so no fixed length.
struct IsoDuration {
    struct Exact {
        i128 microseconds = 0;

        bool operator==(const Exact&) const = default;
    };
    struct YearMonth {
        bool operator==(const YearMonth&) const = default;
    };

    std::variant<Exact, YearMonth> value;

    static IsoDuration exact(i128 microseconds) { return IsoDuration{Exact{microseconds}}; }
    static IsoDuration year_month() { return IsoDuration{YearMonth{}}; }
    // The exact variant, or null for a year/month duration.
    const Exact* as_exact() const { return std::get_if<Exact>(&value); }

    bool operator==(const IsoDuration&) const = default;
};

// The normalised parts of a time delta: seconds 0..86399, microseconds 0..999999.
struct TimeDelta {
    int32_t days = 0;
    int32_t seconds = 0;
    int32_t microseconds = 0;

    bool operator==(const TimeDelta&) const = default;
};

// Calendar, ordinal and week dates, with or without separators, and the century form "CC".
// Error: "Unrecognised ISO 8601 date format: {:?}" with the input.
Result<IsoDate> parse_date(std::string_view s);

// hh:mm:ss, hhmmss, hh:mm, hhmm or hh, an optional fraction of the last unit, an optional
// zone designator, and an optional leading "T".
// Error: "Unrecognised ISO 8601 time format: {:?}" with the whole input.
Result<IsoTime> parse_time(std::string_view s);

// An ISO date-time ("T" or space), an ISO date, an English month-name date with an optional time
// and am/pm, or a time alone placed on `default_date`.
// Errors: "Unknown string format: {}" and "String does not contain a date: {}" with the input
// exactly as passed.
Result<IsoDateTime> parse_datetime_with_default_date(std::string_view s,
                                                     std::optional<IsoDate> default_date);

// "jan"/"january" .. "dec"/"december" (also "sept"), any ASCII case, trailing commas ignored.
std::optional<uint8_t> month_number(std::string_view token);

// "P1DT2H", "-PT1.5S", "P2W", ...
// Errors: "Unable to parse duration string {:?}" with the input, and
// "Duration value is out of range" for a component too large for binary64.
Result<IsoDuration> parse_duration(std::string_view s);

// Floor division into days; error "Duration value is out of range" when the days do not fit
// 32 bits.
Result<TimeDelta> split_timedelta(i128 microseconds);

// "P2DT12H34M56.789S", "-PT1S", "P0D"; never fails.
std::string duration_isoformat(int32_t days, int32_t seconds, int32_t microseconds);

}  // namespace quarn::utils

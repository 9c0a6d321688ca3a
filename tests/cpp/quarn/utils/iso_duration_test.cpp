#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "quarn/utils/isodate.h"
#include "quarn/utils/show.h"

namespace {

using quarn::utils::duration_isoformat;
using quarn::utils::i128;
using quarn::utils::parse_duration;
using quarn::utils::split_timedelta;
using quarn::utils::TimeDelta;
using quarn::utils::testing::show;
using quarn::utils::testing::to_string;

struct Case {
    std::string input;
    std::string expected;
};

constexpr i128 kDay = i128{86400} * 1000000;
constexpr i128 kI128Max = static_cast<i128>(~static_cast<unsigned __int128>(0) >> 1);

TEST(ParseDuration, Components) {
    const Case cases[] = {
        {"P1D", "86400000000"},
        {"PT1H30M", "5400000000"},
        {"P1W", "604800000000"},
        {"PT0.5S", "500000"},
        {"PT0,5S", "500000"},
        {"-PT1S", "-1000000"},
        {"+P1D", "86400000000"},
        {"PT", "0"},
        {"P0D", "0"},
        {"P1DT", "86400000000"},
        {"PT1M", "60000000"},
        {"P1W2DT3H4M5.5S", "788645500000"},
        {"P0.5W", "302400000000"},
        {"PT1.25H", "4500000000"},
        {"P007D", "604800000000"},
        {"-P1W1D", "-691200000000"},
        // Year and month components mark the result unless they are zero.
        {"P1Y", "YearMonth"},
        {"P0.5M", "YearMonth"},
        {"P1Y1D", "YearMonth"},
        {"-P1Y2M3W4DT5H6M7.5S", "YearMonth"},
        {"P0Y1D", "86400000000"},
        {"P0Y", "0"},
        {"P0.0M", "0"},
        {"P00,0Y", "0"},
        {"P0Y0MT1S", "1000000"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(show(parse_duration(c.input)), c.expected) << c.input;
}

// The components are summed exactly; only a total that falls between two microseconds is
// rounded, a half to the even neighbour.
TEST(ParseDuration, RoundingBelowAMicrosecond) {
    const Case cases[] = {
        {"PT0.0000005S", "0"},  // 0.5 us, the even neighbour
        {"PT0.0000015S", "2"},
        {"PT0.0000025S", "2"},
        {"PT0.0000035S", "4"},
        {"PT0.0000004S", "0"},
        {"PT0.0000006S", "1"},
        {"-PT0.0000015S", "-2"},  // the sign comes after rounding
        {"PT0.9999999S", "1000000"},
        {"PT0.1M0.2S", "6200000"},
        // Just above a half, by far less than binary64 can tell apart from it.
        {"PT0.00000250000000000000000001S", "3"},
        {"PT0.00000249999999999999999999S", "2"},
        // Rests of several components add up before rounding: 0.6 + 0.4 us, 0.3 + 0.2 us.
        {"PT0.00000001M0.0000004S", "1"},
        {"PT0.000000005M0.0000002S", "0"},
        {"PT0.000000025M0.0000002S", "2"},
        // A tenth of a millionth of a week is 60480 us; a thousand times less, 60.48 us.
        {"P0.0000001W", "60480"},
        {"P0.0000000001W", "60"},
        {"P0.000000000005W", "3"},  // 3.024 us
        // Smaller than binary64 can hold, and still below half a microsecond.
        {"PT0." + std::string(400, '0') + "1S", "0"},
        {"PT0.0000005" + std::string(400, '0') + "1S", "1"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(show(parse_duration(c.input)), c.expected) << c.input;
}

// Far beyond 2^53 microseconds (some 285 years) every microsecond still counts.
TEST(ParseDuration, ExactForLongDurations) {
    const Case cases[] = {
        {"P999999999D", to_string(i128{999999999} * kDay)},
        {"-P999999999D", to_string(-i128{999999999} * kDay)},
        {"P104250DT0.000001S", to_string(i128{104250} * kDay + 1)},
        {"P999999999DT23H59M59.999999S", to_string(i128{1000000000} * kDay - 1)},
        {"P1099511627776DT0.4S", to_string(i128{1099511627776} * kDay + 400000)},
        // 0.00001 minutes and 0.0006 seconds are 600 us each.
        {"P134217728DT0.00001M0.0006S", to_string(i128{134217728} * kDay + 1200)},
        {"P142857142W5D", to_string(i128{999999999} * kDay)},
        {"PT86399999999999.999999S", to_string(i128{86399999999999} * 1000000 + 999999)},
        {"P1" + std::string(20, '0') + "DT0.5S",
         to_string(i128{100000000000} * 1000000000 * kDay + 500000)},
    };
    for (const auto& c : cases)
        EXPECT_EQ(show(parse_duration(c.input)), c.expected) << c.input;
}

TEST(ParseDuration, OutOfRange) {
    const Case cases[] = {
        {"P" + std::string(400, '9') + "D", "error: Duration value is out of range"},
        {"PT" + std::string(309, '9') + "S", "error: Duration value is out of range"},
        {"P" + std::string(300, '9') + ".5W", "error: Duration value is out of range"},
        {"P" + std::string(400, '9') + "Y", "YearMonth"},  // no length, so nothing to overflow
        // Totals beyond 128 bits are clamped; the split into days then fails.
        {"P1" + std::string(30, '0') + "D", to_string(kI128Max)},
        {"-P1" + std::string(30, '0') + "D", to_string(-kI128Max)},
    };
    for (const auto& c : cases)
        EXPECT_EQ(show(parse_duration(c.input)), c.expected) << c.input;
}

TEST(ParseDuration, SyntaxErrors) {
    const std::string inputs[] = {
        "",      "P",    "-",       "+",      "-P",   "--P1D",    "1D",     "p1d",
        "P1d",   "PD",   "P1.D",    "P.5D",   "P1,D", "P1D1W",    "P1H",    "PT1D",
        "P1D ",  " P1D", "P1DT1H2", "PT1H1H", "P1DD", "PTT",      "PT1S1M", "P1Y1Y",
        "P1e3D", "P-1D", "P1DT-1H", "PX",     "P1D2", "PT1.5.5S", "P1..5D", "PT1:30M",
    };
    for (const auto& input : inputs) {
        EXPECT_EQ(show(parse_duration(input)),
                  "error: Unable to parse duration string \"" + input + "\"")
            << input;
    }
    const Case quoted[] = {
        {"P1D\n", R"(error: Unable to parse duration string "P1D\n")"},
        {"P\"1D", R"(error: Unable to parse duration string "P\"1D")"},
        {"P１D", "error: Unable to parse duration string \"P１D\""},
        {"P1Dé", "error: Unable to parse duration string \"P1Dé\""},
    };
    for (const auto& c : quoted)
        EXPECT_EQ(show(parse_duration(c.input)), c.expected) << c.input;
}

TEST(SplitTimedelta, FloorsIntoDays) {
    const i128 two31 = i128{1} << 31;
    const std::pair<i128, std::string> cases[] = {
        {0, "(0, 0, 0)"},
        {-1, "(-1, 86399, 999999)"},
        {1, "(0, 0, 1)"},
        {kDay + 3661 * i128{1000000} + 1, "(1, 3661, 1)"},
        {-kDay, "(-1, 0, 0)"},
        {-kDay - 1, "(-2, 86399, 999999)"},
        {kDay * two31 - 1, "(2147483647, 86399, 999999)"},
        {kDay * two31, "error: Duration value is out of range"},
        {-kDay * two31, "(-2147483648, 0, 0)"},
        {-kDay * two31 - 1, "error: Duration value is out of range"},
        {kI128Max, "error: Duration value is out of range"},
        {-kI128Max - 1, "error: Duration value is out of range"},
    };
    for (const auto& [us, expected] : cases) {
        EXPECT_EQ(show(split_timedelta(us)), expected) << to_string(us);
    }
}

TEST(DurationIsoformat, Texts) {
    const std::pair<TimeDelta, std::string> cases[] = {
        {{0, 90, 0}, "PT1M30S"},
        {{1, 3600, 0}, "P1DT1H"},
        {{0, 0, 500000}, "PT0.5S"},
        {{-1, 86399, 0}, "-PT1S"},
        {{0, 0, 0}, "P0D"},
        {{1, 0, 0}, "P1D"},
        {{1, 1, 0}, "P1DT1S"},
        {{2, 45296, 789000}, "P2DT12H34M56.789S"},
        {{-1, 86399, 999999}, "-PT0.000001S"},
        {{0, 0, 1}, "PT0.000001S"},
        {{0, 0, 100}, "PT0.0001S"},
        {{0, 0, 999999}, "PT0.999999S"},
        {{0, 3600, 0}, "PT1H"},
        {{0, 60, 0}, "PT1M"},
        {{0, 3601, 0}, "PT1H1S"},
        {{-1, 0, 0}, "-P1D"},
        {{-2, 86399, 500000}, "-P1DT0.5S"},
        {{999999999, 86399, 999999}, "P999999999DT23H59M59.999999S"},
        {{-999999999, 0, 0}, "-P999999999D"},
        // Parts beyond their usual ranges are folded into the total.
        {{0, 172800, 0}, "P2D"},
        {{0, -1, 0}, "-PT1S"},
        {{INT32_MAX, INT32_MAX, INT32_MAX}, "P2147508502DT3H49M54.483647S"},
        {{INT32_MIN, INT32_MIN, INT32_MIN}, "-P2147508503DT3H49M55.483648S"},
    };
    for (const auto& [td, expected] : cases) {
        EXPECT_EQ(duration_isoformat(td.days, td.seconds, td.microseconds), expected) << show(td);
    }
}

// Every normalised delta survives formatting and parsing unchanged.
TEST(DurationIsoformat, RoundTripsThroughParse) {
    const TimeDelta deltas[] = {
        {0, 0, 0},
        {0, 0, 1},
        {0, 0, 999999},
        {0, 59, 500000},
        {0, 86399, 999999},
        {1, 0, 0},
        {-1, 86399, 999999},
        {-1, 0, 0},
        {-1, 0, 1},
        {-365, 43200, 250000},
        {36500, 86399, 999999},
        {-36500, 1, 1},
        {0, 45296, 789000},
        {12345, 6789, 101112},
        {-7, 3599, 10},
        {2, 60, 0},
        // Far beyond 2^53 microseconds, up to the largest time delta.
        {999999999, 86399, 999999},
        {-999999999, 0, 0},
        {-999999999, 1, 1},
        {500000000, 43210, 123457},
        {104250, 0, 1},
    };
    for (const auto& td : deltas) {
        const std::string text = duration_isoformat(td.days, td.seconds, td.microseconds);
        const auto parsed = parse_duration(text);
        ASSERT_TRUE(parsed.ok()) << text << ": " << parsed.error();
        ASSERT_NE(parsed->as_exact(), nullptr) << text;
        EXPECT_EQ(show(split_timedelta(parsed->as_exact()->microseconds)), show(td)) << text;
    }
}

}  // namespace

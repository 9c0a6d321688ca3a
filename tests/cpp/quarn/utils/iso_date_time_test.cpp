#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "quarn/utils/isodate.h"
#include "quarn/utils/show.h"

namespace {

using quarn::utils::parse_date;
using quarn::utils::parse_time;
using quarn::utils::testing::show;

struct Case {
    std::string input;
    std::string expected;
};

TEST(ParseDate, Layouts) {
    const Case cases[] = {
        {"20", "2001-01-01"},  // century
        {"00", "0001-01-01"},
        {"2024", "2024-01-01"},
        {"202403", "2024-03-01"},
        {"2024-03", "2024-03-01"},
        {"20240229", "2024-02-29"},
        {"2024-02-29", "2024-02-29"},
        {"0000-01-01", "0000-01-01"},
        // Calendar fields are returned as written for the caller to reject.
        {"2024-13-45", "2024-13-45"},
        {"2024-00-00", "2024-00-00"},
        {"20249999", "2024-99-99"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(show(parse_date(c.input)), c.expected) << c.input;
}

TEST(ParseDate, OrdinalDates) {
    const Case cases[] = {
        {"2024366", "2024-12-31"},
        {"2024-366", "2024-12-31"},
        {"2023-365", "2023-12-31"},
        {"2024-060", "2024-02-29"},
        {"2023-060", "2023-03-01"},
        {"2024-001", "2024-01-01"},
        {"1900-060", "1900-03-01"},  // not a leap year
        {"2000-366", "2000-12-31"},  // a leap year
        {"0000-366", "0000-12-31"},
        {"2023-366", R"(error: Unrecognised ISO 8601 date format: "2023-366")"},
        {"2023366", R"(error: Unrecognised ISO 8601 date format: "2023366")"},
        {"1900-366", R"(error: Unrecognised ISO 8601 date format: "1900-366")"},
        {"2024-000", R"(error: Unrecognised ISO 8601 date format: "2024-000")"},
        {"2024-367", R"(error: Unrecognised ISO 8601 date format: "2024-367")"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(show(parse_date(c.input)), c.expected) << c.input;
}

TEST(ParseDate, WeekDates) {
    const Case cases[] = {
        {"2024W01", "2024-01-01"},  // January 1 is a Monday
        {"2024-W01", "2024-01-01"},
        {"2024W017", "2024-01-07"},
        {"2024-W01-7", "2024-01-07"},
        {"2020-W53-7", "2021-01-03"},
        {"2009-W01-1", "2008-12-29"},  // week 1 starts in the previous year
        {"2004-W53-6", "2005-01-01"},
        {"2021-W53-1", "2022-01-03"},  // week 53 of a 52-week year runs into the next one
        {"2023-W01-1", "2023-01-02"},  // January 1 on a Sunday belongs to the last week
        {"0000-W01-1", "0000-01-03"},  // year 0 starts on a Saturday
        {"2024-W54", R"(error: Unrecognised ISO 8601 date format: "2024-W54")"},
        {"2024-W00", R"(error: Unrecognised ISO 8601 date format: "2024-W00")"},
        {"2024-W01-8", R"(error: Unrecognised ISO 8601 date format: "2024-W01-8")"},
        {"2024-W01-0", R"(error: Unrecognised ISO 8601 date format: "2024-W01-0")"},
        {"2024w01", R"(error: Unrecognised ISO 8601 date format: "2024w01")"},
        {"2024W1", R"(error: Unrecognised ISO 8601 date format: "2024W1")"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(show(parse_date(c.input)), c.expected) << c.input;
}

TEST(ParseDate, Rejections) {
    const Case cases[] = {
        {"", R"(error: Unrecognised ISO 8601 date format: "")"},
        {"2", R"(error: Unrecognised ISO 8601 date format: "2")"},
        {"2024-1-01", R"(error: Unrecognised ISO 8601 date format: "2024-1-01")"},
        {"2024/03/01", R"(error: Unrecognised ISO 8601 date format: "2024/03/01")"},
        {"+2024-01-01", R"(error: Unrecognised ISO 8601 date format: "+2024-01-01")"},
        {"-2024", R"(error: Unrecognised ISO 8601 date format: "-2024")"},
        {"2024-03-01 ", R"(error: Unrecognised ISO 8601 date format: "2024-03-01 ")"},
        {"2024-0301", R"(error: Unrecognised ISO 8601 date format: "2024-0301")"},
        {"202403-01", R"(error: Unrecognised ISO 8601 date format: "202403-01")"},
        {"2024-03-01T00:00", R"(error: Unrecognised ISO 8601 date format: "2024-03-01T00:00")"},
        {"２０２４", "error: Unrecognised ISO 8601 date format: \"２０２４\""},
        {"20\t4", R"(error: Unrecognised ISO 8601 date format: "20\t4")"},
        {"\"24\"", R"(error: Unrecognised ISO 8601 date format: "\"24\"")"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(show(parse_date(c.input)), c.expected) << c.input;
}

TEST(ParseTime, LayoutsAndZones) {
    const Case cases[] = {
        {"12:30:45", "12:30:45.000000"},
        {"T12:30:45.5+05:30", "12:30:45.500000 +05:30=19800"},
        {"123045,25Z", "12:30:45.250000 UTC"},
        {"123045", "12:30:45.000000"},
        {"12:30", "12:30:00.000000"},
        {"1230", "12:30:00.000000"},
        {"12", "12:00:00.000000"},
        {"T12", "12:00:00.000000"},
        {"12:30z", "12:30:00.000000 UTC"},
        {"1230-0800", "12:30:00.000000 -0800=-28800"},
        {"12+05", "12:00:00.000000 +05=18000"},
        {"12:00:00-00:00", "12:00:00.000000 -00:00=0"},
        {"12:00:00+23:59", "12:00:00.000000 +23:59=86340"},
        {"12:00:00-01:30", "12:00:00.000000 -01:30=-5400"},
        {"12:00+2359", "12:00:00.000000 +2359=86340"},
        {"12-00", "12:00:00.000000 -00=0"},
        // Clock fields pass through unchecked.
        {"24:00", "24:00:00.000000"},
        {"12:75", "12:75:00.000000"},
        {"99:99:99", "99:99:99.000000"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(show(parse_time(c.input)), c.expected) << c.input;
}

TEST(ParseTime, Fractions) {
    const std::string nines38(38, '9');
    const Case cases[] = {
        {"12:30:45.123456789", "12:30:45.123456"},
        // Second and minute fractions truncate, exactly even at 38 digits.
        {"12:00:00.9999999", "12:00:00.999999"},
        {"12:00:00." + nines38, "12:00:00.999999"},
        {"12:00." + nines38, "12:00:59.999999"},
        {"12:30.5", "12:30:30.000000"},
        {"1230,25", "12:30:15.000000"},
        {"12:00.0000001", "12:00:00.000006"},
        // Digits after the 38th take no part.
        {"12:00." + std::string(38, '0') + "9", "12:00:00.000000"},
        // Hour fractions round to the nearest microsecond, ties to even.
        {"12.5", "12:30:00.000000"},
        {"12,25", "12:15:00.000000"},
        {"12.00000000125", "12:00:00.000004"},                               // 4.5 us
        {"12.00000000375", "12:00:00.000014"},                               // 13.5 us
        {"12.00000000013" + std::string(26, '8') + "8", "12:00:00.000000"},  // just below 0.5 us
        {"12.00000000013" + std::string(26, '8') + "9", "12:00:00.000001"},  // just above
        // A 39th digit would lift the first case above the tie; it takes no part.
        {"12.00000000013" + std::string(27, '8') + "9", "12:00:00.000000"},
        // A rounding up to the next whole second carries instead of giving 1,000,000 us.
        {"12.001111111", "12:00:04.000000"},    // 3.9999996 s
        {"12.01666666666", "12:01:00.000000"},  // 59.999999976 s
        {"12.9999999999", "13:00:00.000000"},   // 3599.99999964 s
        {"23.9999999999Z", "24:00:00.000000 UTC"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(show(parse_time(c.input)), c.expected) << c.input;
}

TEST(ParseTime, Rejections) {
    const Case cases[] = {
        {"", R"(error: Unrecognised ISO 8601 time format: "")"},
        {"T", R"(error: Unrecognised ISO 8601 time format: "T")"},
        {"1", R"(error: Unrecognised ISO 8601 time format: "1")"},
        {"12:0", R"(error: Unrecognised ISO 8601 time format: "12:0")"},
        {"12:00:00.", R"(error: Unrecognised ISO 8601 time format: "12:00:00.")"},
        {"12.", R"(error: Unrecognised ISO 8601 time format: "12.")"},
        {"12:00:00+24:00", R"(error: Unrecognised ISO 8601 time format: "12:00:00+24:00")"},
        {"12:00+05:60", R"(error: Unrecognised ISO 8601 time format: "12:00+05:60")"},
        {"12:00+24", R"(error: Unrecognised ISO 8601 time format: "12:00+24")"},
        {"12:00-2400", R"(error: Unrecognised ISO 8601 time format: "12:00-2400")"},
        {"12:00+0560", R"(error: Unrecognised ISO 8601 time format: "12:00+0560")"},
        {"12:00+05:30:00", R"(error: Unrecognised ISO 8601 time format: "12:00+05:30:00")"},
        {"12:00+05-30", R"(error: Unrecognised ISO 8601 time format: "12:00+05-30")"},
        {"12:00Z+05", R"(error: Unrecognised ISO 8601 time format: "12:00Z+05")"},
        {"12:0005:30", R"(error: Unrecognised ISO 8601 time format: "12:0005:30")"},
        {"12:00+5", R"(error: Unrecognised ISO 8601 time format: "12:00+5")"},
        {"12:00+053", R"(error: Unrecognised ISO 8601 time format: "12:00+053")"},
        {"12:00+05:3", R"(error: Unrecognised ISO 8601 time format: "12:00+05:3")"},
        {"12:00 05:30", R"(error: Unrecognised ISO 8601 time format: "12:00 05:30")"},
        {"12:00:00ZZ", R"(error: Unrecognised ISO 8601 time format: "12:00:00ZZ")"},
        {"12:00 ", R"(error: Unrecognised ISO 8601 time format: "12:00 ")"},
        {"t12:00", R"(error: Unrecognised ISO 8601 time format: "t12:00")"},
        {"TT12:00", R"(error: Unrecognised ISO 8601 time format: "TT12:00")"},
        {"T25x", R"(error: Unrecognised ISO 8601 time format: "T25x")"},
        {"12:00é", "error: Unrecognised ISO 8601 time format: \"12:00é\""},
        {"12:00\n", R"(error: Unrecognised ISO 8601 time format: "12:00\n")"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(show(parse_time(c.input)), c.expected) << c.input;
}

// The parsers keep no state: many threads parsing at once see exactly the single-thread results.
TEST(ParseTime, ConcurrentCallsAgree) {
    std::vector<std::thread> threads;
    std::vector<int> mismatches(8, 0);
    for (size_t i = 0; i < mismatches.size(); ++i) {
        threads.emplace_back([&, i] {
            for (int n = 0; n < 2000; ++n) {
                if (show(parse_time("T12:30:45.5+05:30")) != "12:30:45.500000 +05:30=19800" ||
                    show(parse_date("2020-W53-7")) != "2021-01-03") {
                    ++mismatches[i];
                }
            }
        });
    }
    for (auto& t : threads)
        t.join();
    for (int m : mismatches)
        EXPECT_EQ(m, 0);
}

}  // namespace

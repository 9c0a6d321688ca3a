#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "quarn/utils/isodate.h"
#include "quarn/utils/show.h"

namespace {

using quarn::utils::IsoDate;
using quarn::utils::month_number;
using quarn::utils::parse_datetime_with_default_date;
using quarn::utils::testing::show;

struct Case {
    std::string input;
    std::string expected;
};

constexpr IsoDate kToday{2000, 2, 3};

template <size_t N>
void check_all(const Case (&cases)[N], std::optional<IsoDate> default_date) {
    for (const auto& c : cases) {
        EXPECT_EQ(show(parse_datetime_with_default_date(c.input, default_date)), c.expected)
            << c.input;
    }
}

TEST(MonthNumber, Table) {
    const std::pair<std::string, int> cases[] = {
        {"jan", 1},
        {"January", 1},
        {"FEB", 2},
        {"february", 2},
        {"Mar", 3},
        {"march", 3},
        {"apr", 4},
        {"april", 4},
        {"MAY", 5},
        {"jun", 6},
        {"june", 6},
        {"jul", 7},
        {"July", 7},
        {"aug", 8},
        {"august", 8},
        {"sep", 9},
        {"Sept", 9},
        {"september", 9},
        {"oct", 10},
        {"October", 10},
        {"nov", 11},
        {"november", 11},
        {"dec", 12},
        {"DECEMBER", 12},
        {"jan,", 1},
        {"May,,", 5},
        // No other spellings, prefixes or periods.
        {"ja", 0},
        {"janu", 0},
        {"jan.", 0},
        {"sept.", 0},
        {"septem", 0},
        {"mayo", 0},
        {"", 0},
        {",", 0},
        {"ｊan", 0},
    };
    for (const auto& [token, month] : cases) {
        EXPECT_EQ(month_number(token).value_or(0), month) << token;
    }
}

TEST(ParseDatetime, IsoForms) {
    const Case cases[] = {
        {"2024-01-05T10:30:00Z", "2024-01-05 10:30:00.000000 UTC"},
        {"20240105T103000+0530", "2024-01-05 10:30:00.000000 +0530=19800"},
        {"2024-W01-2T08", "2024-01-02 08:00:00.000000"},
        {"2024-01-05 10:30", "2024-01-05 10:30:00.000000"},
        {"2024-01-05 10:30:00.25-08:00", "2024-01-05 10:30:00.250000 -08:00=-28800"},
        {"  2024-01-05  ", "2024-01-05 00:00:00.000000"},
        {"\t2024-01-05\r\n", "2024-01-05 00:00:00.000000"},
        {"20240105", "2024-01-05 00:00:00.000000"},
        {"2024-366", "2024-12-31 00:00:00.000000"},
        {"2024-02-30", "2024-02-30 00:00:00.000000"},  // unchecked
        // A "T" commits to the ISO form.
        {"2024-01-05T", "error: Unknown string format: 2024-01-05T"},
        {"2024-01-05Tnoon", "error: Unknown string format: 2024-01-05Tnoon"},
        {"T10:30", "error: Unknown string format: T10:30"},
        {"OCT 5 2024", "error: Unknown string format: OCT 5 2024"},
        // A date and a time that do not both parse fall through to the other forms and fail.
        {"2024-01-05 noon", "error: Unknown string format: 2024-01-05 noon"},
        {"2024-01-05  10:30", "error: Unknown string format: 2024-01-05  10:30"},
        // Only a space joins an ISO date and time; other whitespace does not.
        {"2024-01-05\t10:30", "error: Unknown string format: 2024-01-05\t10:30"},
        // The part after the first "T" is a time text of its own, which may begin with "T".
        {"2024-01-05 T10:30", "error: Unknown string format: 2024-01-05 T10:30"},
        {"2024-01-05TT10:30", "2024-01-05 10:30:00.000000"},
    };
    check_all(cases, kToday);
}

TEST(ParseDatetime, MonthNameForms) {
    const Case cases[] = {
        {"Jan 5 2024", "2024-01-05 00:00:00.000000"},
        {"jan 5, 2024", "2024-01-05 00:00:00.000000"},
        {"JANUARY 5 2024", "2024-01-05 00:00:00.000000"},
        {"5 Jan 2024", "2024-01-05 00:00:00.000000"},
        {"5 January, 2024", "2024-01-05 00:00:00.000000"},
        {"Jan, 5, 2024,", "2024-01-05 00:00:00.000000"},
        {"Sept 9 2024", "2024-09-09 00:00:00.000000"},
        {"Oct 5 2024", "2024-10-05 00:00:00.000000"},
        {"May\t 05  \n0099", "0099-05-05 00:00:00.000000"},
        // A day token that is also a century date still reaches the month-name form.
        {"20 Jan 2024", "2024-01-20 00:00:00.000000"},
        // The assembled date is not checked; a day of only commas counts as 0.
        {"Feb 30 2024", "2024-02-30 00:00:00.000000"},
        {"Jan 0 2024", "2024-01-00 00:00:00.000000"},
        {"Jan , 2024", "2024-01-00 00:00:00.000000"},
        {"Jan 255 2147483647", "2147483647-01-255 00:00:00.000000"},
        // Numbers that do not fit the day and year fields make the form fail.
        {"Jan 256 2024", "error: Unknown string format: Jan 256 2024"},
        {"Jan 261 2024", "error: Unknown string format: Jan 261 2024"},
        {"Jan 5 2147483648", "error: Unknown string format: Jan 5 2147483648"},
        {"Jan 5 99999999999999999999", "error: Unknown string format: Jan 5 99999999999999999999"},
        {"Jan 5th 2024", "error: Unknown string format: Jan 5th 2024"},
        {"Jan 5 -2024", "error: Unknown string format: Jan 5 -2024"},
        {"Janu 5 2024", "error: Unknown string format: Janu 5 2024"},
        {"5 2024 Jan", "error: Unknown string format: 5 2024 Jan"},
        {"January 5", "error: Unknown string format: January 5"},
    };
    check_all(cases, kToday);
}

TEST(ParseDatetime, MonthNameFormsWithTime) {
    const Case cases[] = {
        {"Jan 5 2024 10:30", "2024-01-05 10:30:00.000000"},
        {"Jan 5 2024 10:30Z", "2024-01-05 10:30:00.000000 UTC"},
        {"Jan 5 2024 9:30 pm", "2024-01-05 21:30:00.000000"},
        {"Jan 5 2024 9:30:15.25 PM", "2024-01-05 21:30:15.250000"},
        {"Jan 5 2024 12:15 am", "2024-01-05 00:15:00.000000"},
        {"Jan 5 2024 12:15 PM", "2024-01-05 12:15:00.000000"},
        {"Jan 5 2024 01:00 Am", "2024-01-05 01:00:00.000000"},
        {"Jan 5 2024 10:30 pm", "2024-01-05 22:30:00.000000"},
        {"5 Jan 2024 9:30 am", "2024-01-05 09:30:00.000000"},
        {"5 January, 2024 12:00:30 pM", "2024-01-05 12:00:30.000000"},
        {"Jan 5 2024 11:59+01:00 pm", "2024-01-05 23:59:00.000000 +01:00=3600"},
        // Without a usable am/pm the two tokens are joined into one time.
        {"Jan 5 2024 10:30 +05:00", "2024-01-05 10:30:00.000000 +05:00=18000"},
        {"Jan 5 2024 10:30 Z", "2024-01-05 10:30:00.000000 UTC"},
        {"Jan 5 2024 13:15 pm", "error: Unknown string format: Jan 5 2024 13:15 pm"},
        {"Jan 5 2024 0:30 am", "error: Unknown string format: Jan 5 2024 0:30 am"},
        {"Jan 5 2024 10:30 a.m.", "error: Unknown string format: Jan 5 2024 10:30 a.m."},
        {"Jan 5 2024 930 pm", "error: Unknown string format: Jan 5 2024 930 pm"},
        {"Jan 5 2024 9:30", "error: Unknown string format: Jan 5 2024 9:30"},
        {"Jan 5 2024 noon", "error: Unknown string format: Jan 5 2024 noon"},
        {"Jan 5 2024 10:30 pm extra", "error: Unknown string format: Jan 5 2024 10:30 pm extra"},
    };
    check_all(cases, kToday);
}

TEST(ParseDatetime, TimeAlone) {
    const Case with_default[] = {
        {"10:30", "2000-02-03 10:30:00.000000"},
        {" 10:30:15.5Z ", "2000-02-03 10:30:15.500000 UTC"},
        {"24:00", "2000-02-03 24:00:00.000000"},  // unchecked
        {"9:30", "error: Unknown string format: 9:30"},
        {"1030", "1030-01-01 00:00:00.000000"},  // a year comes before a time alone
        {"103:0", "error: Unknown string format: 103:0"},
        {"10:3", "error: Unknown string format: 10:3"},
        // An am/pm marker belongs to the month-name forms only.
        {"10:30 pm", "error: Unknown string format: 10:30 pm"},
    };
    check_all(with_default, kToday);
    const Case without_default[] = {
        {"10:30", "error: Unknown string format: 10:30"},
        {"2024-01-05", "2024-01-05 00:00:00.000000"},
    };
    check_all(without_default, std::nullopt);
}

TEST(ParseDatetime, EmptyAndNonAscii) {
    const Case cases[] = {
        {"", "error: String does not contain a date: "},
        {"   ", "error: String does not contain a date:    "},
        {"\t\n\v\f\r ", "error: String does not contain a date: \t\n\v\f\r "},
        {"é", "error: Unknown string format: é"},
        {"2024-01-05\xc2\xa0", "error: Unknown string format: 2024-01-05\xc2\xa0"},
        {"\"quoted\"", "error: Unknown string format: \"quoted\""},
    };
    check_all(cases, kToday);
}

}  // namespace

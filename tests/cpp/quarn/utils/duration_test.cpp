#include "quarn/utils/duration.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <string>

namespace {

using quarn::utils::KNOWN_DURATIONS;
using quarn::utils::make_error;
using quarn::utils::parse_duration_ms;
using quarn::utils::parse_duration_s;
using quarn::utils::seconds_to_duration_string;

constexpr int64_t INT64_MAX_ = std::numeric_limits<int64_t>::max();

// The message is written out once, here; the failures below name their input and component
// through make_error.
TEST(MakeError, NamesInputAndComponentAndEndsWithTheDocumentationLink) {
    EXPECT_EQ(make_error("1h1h", "1h"),
              "The duration '1h1h' contained a component '1h' that could not be parsed. Please "
              "use a valid duration, like '10m', '1h', or '1h30m'. Read more at "
              "https://docs.quarn.dev/api-docs#Duration");
}

struct MsCase {
    const char* input;
    int64_t expected;
};

TEST(ParseDurationMs, AcceptedTexts) {
    const MsCase cases[] = {
        {"", 0},
        {"1h", 3'600'000},
        {" 1h", 3'600'000},
        {"1h ", 3'600'000},
        {"all", 3'153'600'000'000},
        {"infinity", 3'153'600'000'000},
        {"1h30m", 5'400'000},
        {"1h 30m", 5'400'000},
        {"30m1h", 5'400'000},
        {"1d2h3m4s5ms", 93'784'005},
        {"-1h30m", -5'400'000},
        {"- 5m", -300'000},
        {"-  1h   30m  ", -5'400'000},
        {"250ms", 250},
        {"1m1ms", 60'001},
        {"1ms1m", 60'001},
        {"2w", 1'209'600'000},
        {"1s1000ms", 2'000},
        {"007s", 7'000},
        {"0w0d0h0m0s0ms", 0},
        {"9223372036854775807ms", INT64_MAX_},
        {"-9223372036854775807ms", -INT64_MAX_},
        {"15250284452w", 9'223'372'036'569'600'000},
        // Leading zeros do not count against the 64-bit range.
        {"00000000000000000000001s", 1'000},
    };
    for (const MsCase& c : cases) {
        auto result = parse_duration_ms(c.input);
        ASSERT_TRUE(result.ok()) << "'" << c.input << "': " << result.error();
        EXPECT_EQ(*result, c.expected) << "'" << c.input << "'";
    }
}

// The fixed table must agree with what the grammar computes for the same text; a leading space
// keeps the lookup from answering.
TEST(ParseDurationMs, KnownDurationsAgreeWithTheGrammar) {
    for (const auto& known : KNOWN_DURATIONS) {
        std::string text(known.text);
        if (text.empty() || text == "all" || text == "infinity") continue;
        auto from_table = parse_duration_ms(text);
        auto from_grammar = parse_duration_ms(" " + text);
        ASSERT_TRUE(from_table.ok()) << text;
        ASSERT_TRUE(from_grammar.ok()) << text;
        EXPECT_EQ(*from_table, known.milliseconds) << text;
        EXPECT_EQ(*from_grammar, known.milliseconds) << text;
    }
}

struct ErrorCase {
    const char* input;
    const char* component;
};

TEST(ParseDurationMs, RejectedTextsNameTheOffendingComponent) {
    const ErrorCase cases[] = {
        // Table hits are exact and case-sensitive.
        {"1H", "1H"},
        {"ALL", "ALL"},
        {" all", "all"},
        {"infinity ", "infinity"},
        {"1h1H", "1H"},
        // A unit at most once; the second use is the rest.
        {"1h1h", "1h"},
        {"1m1m", "1m"},
        {"1ms1ms", "1ms"},
        {"1h30m1h", "1h"},
        // No fractions, no bare numbers, no signs on components.
        {"1.5h", "1.5h"},
        {"10", "10"},
        {"1h30", "30"},
        {"1 h", "1 h"},
        {"1h:30m", ":30m"},
        {"1h,", ","},
        {"+5m", "+5m"},
        {"--1h", "-1h"},
        {"5m -1s", "-1s"},
        // A letter right after the unit.
        {"1hx", "1hx"},
        {"1mss", "1mss"},
        {"5min", "5min"},
        {"1msx", "1msx"},
        {"1h 2x", "2x"},
        // Nothing to read: the whole input is the component.
        {"-", "-"},
        {"- ", "- "},
        {"   ", "   "},
        {"\t", "\t"},
        {"\u3000", "\u3000"},
        // Only spaces separate components; other white space is trimmed from the rest.
        {"1h\t", ""},
        {"1h\u00a0", ""},
        {"1h \t2m", "2m"},
        {"1h é", "é"},
        {"1h\tx y\u2028", "x y"},
        {"-\t5m", "5m"},
        {"-\t", ""},
        // White space is the Unicode White_Space set: NEL and the line separator are in it,
        // the information separators and the zero-width space are not.
        {"1h\u0085", ""},
        {"1h\u2028", ""},
        {"1h\x1c", "\x1c"},
        {"1h\u200b", "\u200b"},
        // A digit run beyond the signed 64-bit range.
        {"99999999999999999999s", "99999999999999999999"},
        {"1h9223372036854775808ms", "9223372036854775808"},
        {"-9223372036854775808ms", "9223372036854775808"},
        // A product or a running total beyond the signed 64-bit range is refused, not wrapped.
        {"15250284453w", "15250284453w"},
        {"-15250284453w", "15250284453w"},
        {"9223372036854775807ms1s", "1s"},
        {"1ms 9223372036854775807ms", "9223372036854775807ms"},
    };
    for (const ErrorCase& c : cases) {
        auto result = parse_duration_ms(c.input);
        ASSERT_FALSE(result.ok()) << "'" << c.input << "' gave " << *result;
        EXPECT_EQ(result.error(), make_error(c.input, c.component)) << "'" << c.input << "'";
    }
}

TEST(ParseDurationS, TruncatesTowardZeroAndPassesErrorsOn) {
    const MsCase cases[] = {
        {"1500ms", 1}, {"-1500ms", -1}, {"1999ms", 1}, {"59s", 59}, {"1h30m", 5'400}, {"", 0},
    };
    for (const MsCase& c : cases) {
        auto result = parse_duration_s(c.input);
        ASSERT_TRUE(result.ok()) << "'" << c.input << "': " << result.error();
        EXPECT_EQ(*result, c.expected) << "'" << c.input << "'";
    }
    auto failed = parse_duration_s("1h1h");
    ASSERT_FALSE(failed.ok());
    EXPECT_EQ(failed.error(), make_error("1h1h", "1h"));
}

struct SecondsCase {
    double seconds;
    const char* expected;
};

TEST(SecondsToDurationString, PrintsEachNonZeroUnit) {
    const SecondsCase cases[] = {
        {0.0, ""},
        {-0.0, ""},
        {90, "1m30s"},
        {3661.5, "1h1m1s500ms"},
        {-0.25, "-250ms"},
        {86400, "1d"},
        {1.9996, "1s1000ms"},
        {3'153'599'999, "36499d23h59m59s"},
        {3'153'600'000, "infinity"},
        {std::numeric_limits<double>::infinity(), "infinity"},
        {-3'153'600'000, "-36500d"},
        {-4'000'000'000, "-46296d7h6m40s"},
        {0.0004, ""},
        {0.0005, "1ms"},
        // Halves of a millisecond round away from zero.
        {0.0025, "3ms"},
        {59.9999, "59s1000ms"},
        // A negative value too small to print keeps its sign alone.
        {-0.0004, "-"},
        {std::nan(""), ""},
        // Clamped to the largest unsigned 64-bit value, whole seconds and milliseconds alike.
        {-std::numeric_limits<double>::infinity(), "-213503982334601d7h15s18446744073709551615ms"},
    };
    for (const SecondsCase& c : cases) {
        EXPECT_EQ(seconds_to_duration_string(c.seconds), c.expected) << c.seconds;
    }
}

TEST(SecondsToDurationString, OutputParsesBack) {
    for (double seconds : {90.0, 3661.5, -0.25, 1.9996, 3'153'599'999.0, -4'000'000'000.0}) {
        auto text = seconds_to_duration_string(seconds);
        auto ms = parse_duration_ms(text);
        ASSERT_TRUE(ms.ok()) << text;
        EXPECT_EQ(*ms, static_cast<int64_t>(std::llround(seconds * 1000))) << text;
    }
}

}  // namespace

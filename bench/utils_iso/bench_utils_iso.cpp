// Nanoseconds per call of the ISO 8601 and lenient date-time parsers on everyday inputs.
#include <benchmark/benchmark.h>

#include <string_view>

#include "quarn/utils/isodate.h"

namespace {

using namespace quarn::utils;

template <typename F>
void run(benchmark::State& state, std::string_view input, F parse) {
    for (auto _ : state) {
        auto result = parse(input);
        benchmark::DoNotOptimize(result);
    }
}

void BM_parse_date(benchmark::State& state, std::string_view input) {
    run(state, input, parse_date);
}
void BM_parse_time(benchmark::State& state, std::string_view input) {
    run(state, input, parse_time);
}
void BM_parse_duration(benchmark::State& state, std::string_view input) {
    run(state, input, parse_duration);
}
void BM_parse_datetime(benchmark::State& state, std::string_view input) {
    run(state, input, [](std::string_view s) {
        return parse_datetime_with_default_date(s, IsoDate{2024, 1, 5});
    });
}
void BM_duration_isoformat(benchmark::State& state) {
    for (auto _ : state) {
        auto text = duration_isoformat(2, 45296, 789000);
        benchmark::DoNotOptimize(text);
    }
}

BENCHMARK_CAPTURE(BM_parse_date, calendar, "2024-01-05");
BENCHMARK_CAPTURE(BM_parse_date, basic, "20240105");
BENCHMARK_CAPTURE(BM_parse_date, week, "2020-W53-7");
BENCHMARK_CAPTURE(BM_parse_time, hms, "12:30:45");
BENCHMARK_CAPTURE(BM_parse_time, fraction_zone, "T12:30:45.123456+05:30");
BENCHMARK_CAPTURE(BM_parse_time, utc, "10:30:00Z");
BENCHMARK_CAPTURE(BM_parse_datetime, iso, "2024-01-05T10:30:00Z");
BENCHMARK_CAPTURE(BM_parse_datetime, space, "2024-01-05 10:30");
BENCHMARK_CAPTURE(BM_parse_datetime, month_name, "Jan 5 2024");
BENCHMARK_CAPTURE(BM_parse_datetime, month_name_pm, "Jan 5 2024 9:30 pm");
BENCHMARK_CAPTURE(BM_parse_datetime, time_alone, "10:30");
BENCHMARK_CAPTURE(BM_parse_duration, days_hours, "P1DT2H");
BENCHMARK_CAPTURE(BM_parse_duration, full, "P1W2DT3H4M5.5S");
BENCHMARK_CAPTURE(BM_parse_duration, negative_fraction, "-PT1.5S");
BENCHMARK(BM_duration_isoformat);

}  // namespace

BENCHMARK_MAIN();

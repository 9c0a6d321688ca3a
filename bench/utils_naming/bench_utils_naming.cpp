// Nanoseconds per call of the compact-duration parser and the snake-case conversion on the kind
// of texts callers pass: short durations and class names.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "quarn/utils/duration.h"
#include "quarn/utils/namespace.h"

namespace {

const std::vector<std::string> DURATIONS = {"1h30m", "1d2h3m4s5ms", "250ms",
                                            "-5m",   "45s",         "1h 30m"};
const std::vector<std::string> KNOWN = {"1h", "30d", "infinity", "5m"};
const std::vector<std::string> NAMES = {"UserFeatures", "XMLParser",     "getXMLParserCode",
                                        "Transaction",  "already_snake", "Version2Name"};

void run_over(benchmark::State& state, const std::vector<std::string>& inputs, auto fn) {
    size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(fn(inputs[i]));
        if (++i == inputs.size()) i = 0;
    }
}

void BM_parse_duration_ms(benchmark::State& state) {
    run_over(state, DURATIONS,
             [](const std::string& s) { return quarn::utils::parse_duration_ms(s); });
}
void BM_parse_duration_ms_known(benchmark::State& state) {
    run_over(state, KNOWN, [](const std::string& s) { return quarn::utils::parse_duration_ms(s); });
}
void BM_to_snake_case(benchmark::State& state) {
    run_over(state, NAMES, [](const std::string& s) { return quarn::utils::to_snake_case(s); });
}
void BM_to_snake_case_non_ascii(benchmark::State& state) {
    static const std::vector<std::string> names = {"ÄpfelBaum", "ΟΔΟΣFeature"};
    run_over(state, names, [](const std::string& s) { return quarn::utils::to_snake_case(s); });
}

BENCHMARK(BM_parse_duration_ms);
BENCHMARK(BM_parse_duration_ms_known);
BENCHMARK(BM_to_snake_case);
BENCHMARK(BM_to_snake_case_non_ascii);

}  // namespace

// Parser throughput over the installed Python standard library next to the lexer alone. The heap
// figures come from bench_parser_memory, so nothing here counts allocations.
//
// The corpus is every `.py` file under QUARN_BENCH_CORPUS (default /usr/lib/python3.11) that is
// valid UTF-8, read into memory before timing. Reports MB/s (10^6 bytes per second).
#include <string>

#include <benchmark/benchmark.h>

#include "../corpus.h"

#include "rudo/python_parser/lexer.h"
#include "rudo/python_parser/parser/parse.h"

namespace {

using namespace rudo::python_parser;

using quarn_bench::Corpus;
using quarn_bench::corpus;

void report(benchmark::State& state, const Corpus& c) {
    double bytes = static_cast<double>(c.bytes) * static_cast<double>(state.iterations());
    state.counters["MB/s"] = benchmark::Counter(bytes / 1e6, benchmark::Counter::kIsRate);
    state.counters["files"] = static_cast<double>(c.files.size());
    state.SetBytesProcessed(static_cast<int64_t>(bytes));
}

// parse_module over every file: tree, tokens and errors, all dropped again.
void BM_ParseModule(benchmark::State& state) {
    const Corpus& c = corpus();
    size_t failed = 0;
    for (auto _ : state) {
        failed = 0;
        for (const auto& text : c.files) {
            auto parsed = parse_module(text);
            failed += !parsed.ok();
            benchmark::DoNotOptimize(parsed);
        }
    }
    report(state, c);
    state.counters["failed"] = static_cast<double>(failed);
}
BENCHMARK(BM_ParseModule)->Unit(benchmark::kMillisecond)->MinTime(2.0);

// The lexer alone on the same files, for the ratio.
void BM_Lexer(benchmark::State& state) {
    const Corpus& c = corpus();
    for (auto _ : state) {
        for (const auto& text : c.files) {
            Lexer lexer(text);
            while (lexer.next_token() != TokenKind::EndOfFile) {
            }
            benchmark::DoNotOptimize(lexer.error_count());
        }
    }
    report(state, c);
}
BENCHMARK(BM_Lexer)->Unit(benchmark::kMillisecond)->MinTime(2.0);

}  // namespace

BENCHMARK_MAIN();

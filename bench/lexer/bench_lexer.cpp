// Lexer throughput over the installed Python standard library, all files in one process.
//
// The corpus is every `.py` file under QUARN_BENCH_CORPUS (default /usr/lib/python3.11) that is
// valid UTF-8, read into memory before timing. Reports MB/s (10^6 bytes per second).
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "../corpus.h"

#include "rudo/python_parser/lexer.h"
#include "rudo/python_parser/token_source.h"

namespace {

using namespace rudo::python_parser;

using quarn_bench::Corpus;
using quarn_bench::corpus;

void report(benchmark::State& state, const Corpus& c, size_t tokens) {
    double bytes = static_cast<double>(c.bytes) * static_cast<double>(state.iterations());
    state.counters["MB/s"] = benchmark::Counter(bytes / 1e6, benchmark::Counter::kIsRate);
    state.counters["files"] = static_cast<double>(c.files.size());
    state.counters["tokens"] = static_cast<double>(tokens);
    state.SetBytesProcessed(static_cast<int64_t>(bytes));
}

// The lexer alone: next_token to the end of every file.
void BM_Lexer(benchmark::State& state) {
    const Corpus& c = corpus();
    size_t tokens = 0;
    for (auto _ : state) {
        tokens = 0;
        for (const auto& text : c.files) {
            Lexer lexer(text);
            while (lexer.next_token() != TokenKind::EndOfFile)
                ++tokens;
            benchmark::DoNotOptimize(lexer.error_count());
        }
    }
    report(state, c, tokens);
}
BENCHMARK(BM_Lexer)->Unit(benchmark::kMillisecond)->MinTime(1.0);

// The token source: every token recorded as a parse would, with a peek before each bump.
void BM_TokenSourceWithPeek(benchmark::State& state) {
    const Corpus& c = corpus();
    size_t tokens = 0;
    for (auto _ : state) {
        tokens = 0;
        for (const auto& text : c.files) {
            auto ts = TokenSource::from_source(text);
            for (;;) {
                TokenKind kind = ts->current_kind();
                benchmark::DoNotOptimize(ts->peek());
                ts->bump(kind);
                if (kind == TokenKind::EndOfFile) break;
            }
            tokens += std::move(ts).value().finish().tokens.size();
        }
    }
    report(state, c, tokens);
}
BENCHMARK(BM_TokenSourceWithPeek)->Unit(benchmark::kMillisecond)->MinTime(1.0);

}  // namespace

BENCHMARK_MAIN();

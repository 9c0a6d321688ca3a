// Parser throughput over the installed Python standard library next to the lexer alone. The heap
// figures come from bench_parser_memory, so nothing here counts allocations.
//
// The corpus is every `.py` file under QUARN_BENCH_CORPUS (default /usr/lib/python3.11) that is
// valid UTF-8, read into memory before timing. Reports MB/s (10^6 bytes per second).
//
// Dense arithmetic gets its own rows: every file of QUARN_BENCH_DENSE (default: SymPy's rubi
// integration tests, when installed), one row each, with the minor page faults of one parse.
#include <sys/resource.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

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

long minor_faults() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_minflt;
}

// One file parsed again and again, as a steady stream of parses in one process sees it.
void BM_ParseDense(benchmark::State& state, const std::string* text) {
    // A first parse outside the timing, as the stream has had one before.
    benchmark::DoNotOptimize(parse_module_unchecked(*text));
    const long faults_before = minor_faults();
    for (auto _ : state) {
        auto parsed = parse_module_unchecked(*text);
        benchmark::DoNotOptimize(parsed);
    }
    const long faults = minor_faults() - faults_before;
    const double bytes =
        static_cast<double>(text->size()) * static_cast<double>(state.iterations());
    state.counters["MB/s"] = benchmark::Counter(bytes / 1e6, benchmark::Counter::kIsRate);
    state.counters["faults/parse"] =
        static_cast<double>(faults) / static_cast<double>(state.iterations());
    state.SetBytesProcessed(static_cast<int64_t>(bytes));
}

const std::vector<std::pair<std::string, std::string>>& dense_files() {
    static const auto files = [] {
        std::vector<std::pair<std::string, std::string>> out;
        const char* env = std::getenv("QUARN_BENCH_DENSE");
        const std::filesystem::path root =
            env ? env : "/usr/lib/python3/dist-packages/sympy/integrals/rubi/rubi_tests/tests";
        std::error_code ec;
        for (auto it = std::filesystem::directory_iterator(root, ec);
             !ec && it != std::filesystem::directory_iterator(); it.increment(ec)) {
            if (!it->is_regular_file() || it->path().extension() != ".py" || it->file_size() == 0)
                continue;
            std::ifstream file(it->path(), std::ios::binary);
            out.emplace_back(it->path().filename().string(),
                             std::string((std::istreambuf_iterator<char>(file)),
                                         std::istreambuf_iterator<char>()));
        }
        std::sort(out.begin(), out.end());
        return out;
    }();
    return files;
}

const bool dense_registered = [] {
    for (const auto& [name, text] : dense_files())
        benchmark::RegisterBenchmark(("BM_ParseDense/" + name).c_str(), BM_ParseDense, &text)
            ->Unit(benchmark::kMillisecond)
            ->MinTime(0.5);
    return true;
}();

}  // namespace

BENCHMARK_MAIN();

// Parser throughput over the installed Python standard library next to the lexer alone, and the
// memory a parse of the largest file takes.
//
// The corpus is every `.py` file under QUARN_BENCH_CORPUS (default /usr/lib/python3.11) that is
// valid UTF-8, read into memory before timing. Reports MB/s (10^6 bytes per second).
#include <malloc.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <new>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "../corpus.h"

#include "rudo/python_parser/lexer.h"
#include "rudo/python_parser/parser/parse.h"

// Heap accounting for the memory figures: bytes live now and the most live since the last reset.
namespace {
std::atomic<size_t> live_bytes{0};
std::atomic<size_t> peak_bytes{0};

void note_allocation(void* p) {
    if (p == nullptr) return;
    const size_t now = live_bytes.fetch_add(malloc_usable_size(p)) + malloc_usable_size(p);
    size_t peak = peak_bytes.load();
    while (now > peak && !peak_bytes.compare_exchange_weak(peak, now)) {
    }
}
void note_release(void* p) {
    if (p != nullptr) live_bytes.fetch_sub(malloc_usable_size(p));
}
}  // namespace

void* operator new(size_t size) {
    void* p = std::malloc(size == 0 ? 1 : size);
    if (p == nullptr) throw std::bad_alloc();
    note_allocation(p);
    return p;
}
void* operator new[](size_t size) {
    return operator new(size);
}
void operator delete(void* p) noexcept {
    note_release(p);
    std::free(p);
}
void operator delete[](void* p) noexcept {
    operator delete(p);
}
void operator delete(void* p, size_t) noexcept {
    operator delete(p);
}
void operator delete[](void* p, size_t) noexcept {
    operator delete(p);
}

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

// The largest file once: the heap its tree keeps, and the peak while parsing, per source byte.
void BM_LargestFileMemory(benchmark::State& state) {
    const Corpus& c = corpus();
    const std::string& text = *std::max_element(
        c.files.begin(), c.files.end(),
        [](const std::string& a, const std::string& b) { return a.size() < b.size(); });
    size_t tree = 0;
    size_t peak = 0;
    for (auto _ : state) {
        const size_t before = live_bytes.load();
        peak_bytes.store(before);
        Parsed parsed = parse_module_unchecked(text);
        peak = peak_bytes.load() - before;
        {
            Parsed without_tree;
            without_tree.syntax = std::move(parsed.syntax);
            parsed = Parsed{};  // tokens and errors released
            tree = live_bytes.load() - before;
            benchmark::DoNotOptimize(without_tree);
        }
    }
    state.counters["source_bytes"] = static_cast<double>(text.size());
    state.counters["tree_bytes_per_source_byte"] =
        static_cast<double>(tree) / static_cast<double>(text.size());
    state.counters["peak_bytes_per_source_byte"] =
        static_cast<double>(peak) / static_cast<double>(text.size());
}
BENCHMARK(BM_LargestFileMemory)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace

BENCHMARK_MAIN();

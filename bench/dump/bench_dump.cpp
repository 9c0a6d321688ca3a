// The JSON dump of syntax trees (what `pydump ast` streams), in MB/s of JSON: over the trees of
// the installed standard library, and over one long chain `x = a+a+...` of 10^6 terms, whose tree
// is a million levels deep. Trees are parsed before timing; the dump goes to a sink that only
// counts its bytes.
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "../corpus.h"

#include "rudo/python_ast/dump.h"
#include "rudo/python_parser/parser/parse.h"

namespace {

using rudo::python_parser::parse_module_unchecked;
using rudo::python_parser::Parsed;

class CountingSink final : public rudo::python_ast::DumpSink {
  public:
    void write(std::string_view text) override {
        bytes += text.size();
        benchmark::DoNotOptimize(text.data());
    }
    size_t bytes = 0;
};

void report(benchmark::State& state, size_t json_bytes) {
    state.counters["MB/s"] = benchmark::Counter(
        static_cast<double>(json_bytes) * static_cast<double>(state.iterations()) / 1e6,
        benchmark::Counter::kIsRate);
    state.counters["json_MB"] = static_cast<double>(json_bytes) / 1e6;
}

void BM_DumpJsonCorpus(benchmark::State& state) {
    const auto& corpus = quarn_bench::corpus();
    std::vector<Parsed> trees;
    trees.reserve(corpus.files.size());
    for (const auto& text : corpus.files)
        trees.push_back(parse_module_unchecked(text));
    size_t json_bytes = 0;
    for (auto _ : state) {
        CountingSink sink;
        for (const auto& parsed : trees)
            rudo::python_ast::dump_json(parsed.syntax, sink);
        json_bytes = sink.bytes;
    }
    report(state, json_bytes);
}
BENCHMARK(BM_DumpJsonCorpus)->Unit(benchmark::kMillisecond)->MinTime(2.0);

void BM_DumpJsonChain(benchmark::State& state) {
    std::string source = "x = a";
    for (int i = 1; i < 1'000'000; ++i)
        source += "+a";
    source += '\n';
    const Parsed parsed = parse_module_unchecked(source);
    size_t json_bytes = 0;
    for (auto _ : state) {
        CountingSink sink;
        rudo::python_ast::dump_json(parsed.syntax, sink);
        json_bytes = sink.bytes;
    }
    report(state, json_bytes);
}
BENCHMARK(BM_DumpJsonChain)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace

BENCHMARK_MAIN();

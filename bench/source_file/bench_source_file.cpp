// Line-index construction throughput over a real corpus: every .py file of the installed
// standard library, read once up front, then indexed again and again.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "rudo/source_file/line_index.h"

namespace {

constexpr const char* CORPUS = "/usr/lib/python3.11";

std::vector<std::string> load_corpus() {
    std::vector<std::string> texts;
    std::error_code ec;
    namespace fs = std::filesystem;
    for (auto it = fs::recursive_directory_iterator(
             CORPUS, fs::directory_options::skip_permission_denied, ec);
         it != fs::recursive_directory_iterator(); it.increment(ec)) {
        if (ec) break;
        if (!it->is_regular_file(ec) || it->path().extension() != ".py") continue;
        std::ifstream in(it->path(), std::ios::binary);
        std::ostringstream buffer;
        buffer << in.rdbuf();
        texts.push_back(std::move(buffer).str());
    }
    return texts;
}

const std::vector<std::string>& corpus() {
    static const std::vector<std::string> texts = load_corpus();
    return texts;
}

void BM_line_index_from_source_text(benchmark::State& state) {
    const auto& texts = corpus();
    size_t bytes = 0;
    for (const auto& text : texts)
        bytes += text.size();
    if (texts.empty()) {
        state.SkipWithError("no .py files found");
        return;
    }
    for (auto _ : state) {
        for (const auto& text : texts) {
            auto index = rudo::source_file::LineIndex::from_source_text(text);
            benchmark::DoNotOptimize(index);
        }
    }
    state.SetBytesProcessed(int64_t(state.iterations() * bytes));
    state.counters["files"] = double(texts.size());
    state.counters["MB"] = double(bytes) / 1e6;
}

BENCHMARK(BM_line_index_from_source_text)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();

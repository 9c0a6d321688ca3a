// The project index's file-system side over a real corpus, the installed standard library:
// building the file list and the module names, reading every file, and forming locations.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <string>
#include <vector>

#include "quarn/ast/ast_filesystem.h"
#include "quarn/ast/location.h"
#include "quarn/ast/parser_cache.h"

namespace {

constexpr const char* CORPUS = "/usr/lib/python3.11";

const std::vector<std::string>& corpus_paths() {
    static const std::vector<std::string> paths = [] {
        std::vector<std::string> out;
        std::error_code ec;
        namespace fs = std::filesystem;
        for (auto it = fs::recursive_directory_iterator(
                 CORPUS, fs::directory_options::skip_permission_denied, ec);
             it != fs::recursive_directory_iterator(); it.increment(ec)) {
            if (ec) break;
            if (it->is_regular_file(ec)) out.push_back(it->path().string());
        }
        return out;
    }();
    return paths;
}

void BM_parser_cache_construction(benchmark::State& state) {
    const auto& paths = corpus_paths();
    size_t files = 0;
    for (auto _ : state) {
        const quarn::ast::AstFileParserCache cache(CORPUS, paths);
        files = cache.inner()->module_names.size();
        benchmark::DoNotOptimize(files);
    }
    state.counters["py_files"] = static_cast<double>(files);
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * paths.size()));
}
BENCHMARK(BM_parser_cache_construction)->Unit(benchmark::kMillisecond);

void BM_read_to_string(benchmark::State& state) {
    const quarn::ast::StdAstFileSystem fs(corpus_paths());
    size_t bytes = 0;
    for (auto _ : state) {
        bytes = 0;
        for (const auto& path : fs.files()) {
            auto text = fs.read_to_string(path);
            if (text.ok()) bytes += text->size();
        }
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes));
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * fs.files().size()));
}
BENCHMARK(BM_read_to_string)->Unit(benchmark::kMillisecond);

// One location per call, as the extraction forms them.
void BM_file_location_for_range(benchmark::State& state) {
    const bool relative = state.range(0) != 0;
    std::filesystem::current_path(CORPUS);
    const std::string path =
        relative ? "json/decoder.py" : std::string(CORPUS) + "/json/decoder.py";
    const quarn::ast::Range range{{10, 4}, {10, 9}};
    for (auto _ : state) {
        auto location = quarn::ast::file_location_for_range(path, range);
        benchmark::DoNotOptimize(location);
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_file_location_for_range)->Arg(0)->Arg(1)->ArgNames({"relative"});

}  // namespace

BENCHMARK_MAIN();

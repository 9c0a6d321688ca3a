// The benchmarks' corpus: every `.py` file under QUARN_BENCH_CORPUS (default
// /usr/lib/python3.11) that is valid UTF-8, in path order, read into memory once.
#pragma once

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <vector>

#include "base/utf8.h"

namespace quarn_bench {

struct Corpus {
    std::vector<std::string> files;
    size_t bytes = 0;
};

inline const Corpus& corpus() {
    static const Corpus loaded = [] {
        Corpus c;
        const char* env = std::getenv("QUARN_BENCH_CORPUS");
        std::filesystem::path root = env ? env : "/usr/lib/python3.11";
        std::vector<std::filesystem::path> paths;
        std::error_code ec;
        for (auto it = std::filesystem::recursive_directory_iterator(root, ec);
             !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
            if (it->is_regular_file() && it->path().extension() == ".py")
                paths.push_back(it->path());
        }
        std::sort(paths.begin(), paths.end());
        for (const auto& path : paths) {
            std::ifstream file(path, std::ios::binary);
            std::string text((std::istreambuf_iterator<char>(file)),
                             std::istreambuf_iterator<char>());
            if (!quarn::is_valid_utf8(text)) continue;
            c.bytes += text.size();
            c.files.push_back(std::move(text));
        }
        return c;
    }();
    return loaded;
}

}  // namespace quarn_bench

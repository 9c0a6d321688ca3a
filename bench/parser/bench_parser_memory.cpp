// What a parse of the corpus asks of the heap, counted apart from the timed benchmarks (a counting
// operator new slows what it measures): allocations per corpus parse and per token, and the bytes
// the largest file's tree keeps per source byte.
//
// Built a second time as `parse_slice` without the counting operator new: it parses a fixed slice
// of the corpus (every tenth file) once, for instruction counts under callgrind.
#include <malloc.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <string>
#include <vector>

#include "../corpus.h"

#include "base/chunk_resource.h"

#include "rudo/python_parser/parser/parse.h"

#ifdef QUARN_COUNT_ALLOCATIONS
namespace {
std::atomic<size_t> allocations{0};
std::atomic<size_t> live_bytes{0};
std::atomic<size_t> peak_bytes{0};

// Heap bytes live now plus the arenas' chunks, which bypass operator new (released chunks the
// chunk cache keeps are not counted: no tree holds them).
size_t held_bytes() {
    return live_bytes.load() + quarn::ChunkResource::bytes_in_use();
}

void* counted(size_t size, size_t align) {
    void* p = align > alignof(std::max_align_t)
                  ? std::aligned_alloc(align, (size + align - 1) / align * align)
                  : std::malloc(size == 0 ? 1 : size);
    if (p == nullptr) throw std::bad_alloc();
    allocations.fetch_add(1, std::memory_order_relaxed);
    const size_t now = live_bytes.fetch_add(malloc_usable_size(p)) + malloc_usable_size(p);
    size_t peak = peak_bytes.load();
    while (now > peak && !peak_bytes.compare_exchange_weak(peak, now)) {
    }
    return p;
}
void release(void* p) noexcept {
    if (p == nullptr) return;
    live_bytes.fetch_sub(malloc_usable_size(p));
    std::free(p);
}
}  // namespace

void* operator new(size_t size) {
    return counted(size, 0);
}
void* operator new[](size_t size) {
    return counted(size, 0);
}
void* operator new(size_t size, std::align_val_t align) {
    return counted(size, static_cast<size_t>(align));
}
void* operator new[](size_t size, std::align_val_t align) {
    return counted(size, static_cast<size_t>(align));
}
void operator delete(void* p) noexcept {
    release(p);
}
void operator delete[](void* p) noexcept {
    release(p);
}
void operator delete(void* p, size_t) noexcept {
    release(p);
}
void operator delete[](void* p, size_t) noexcept {
    release(p);
}
void operator delete(void* p, std::align_val_t) noexcept {
    release(p);
}
void operator delete[](void* p, std::align_val_t) noexcept {
    release(p);
}
void operator delete(void* p, size_t, std::align_val_t) noexcept {
    release(p);
}
void operator delete[](void* p, size_t, std::align_val_t) noexcept {
    release(p);
}
#endif

namespace {

using rudo::python_parser::parse_module_unchecked;
using rudo::python_parser::Parsed;

#ifdef QUARN_COUNT_ALLOCATIONS
// Lines of /proc/self/maps: the process's mappings.
size_t process_mappings() {
    std::FILE* maps = std::fopen("/proc/self/maps", "r");
    if (maps == nullptr) return 0;
    size_t lines = 0;
    for (int c = std::fgetc(maps); c != EOF; c = std::fgetc(maps))
        lines += c == '\n';
    std::fclose(maps);
    return lines;
}

int count_allocations() {
    const quarn_bench::Corpus& c = quarn_bench::corpus();
    size_t tokens = 0;
    for (const auto& text : c.files)
        tokens += parse_module_unchecked(text).tokens.size();
    const size_t before = allocations.load();
    for (const auto& text : c.files) {
        Parsed parsed = parse_module_unchecked(text);
        (void)parsed;
    }
    const size_t count = allocations.load() - before;

    const std::string& largest = *std::max_element(
        c.files.begin(), c.files.end(),
        [](const std::string& a, const std::string& b) { return a.size() < b.size(); });
    const size_t base = held_bytes();
    peak_bytes.store(live_bytes.load());
    Parsed parsed = parse_module_unchecked(largest);
    // The arena's chunks stay until the tree goes, so their peak is what is held now.
    const size_t peak = peak_bytes.load() - live_bytes.load() + held_bytes() - base;
    size_t tree = 0;
    {
        Parsed kept;
        kept.syntax = std::move(parsed.syntax);
        parsed = Parsed{};  // tokens and errors released
        tree = held_bytes() - base;
    }
    // Every file's tree kept at once (tokens and errors dropped), as a cache keeps them, and the
    // mappings of the process meanwhile (the kernel allows a limited number).
    size_t corpus_tree = 0;
    const size_t mappings_before = process_mappings();
    size_t mappings_kept = 0;
    {
        const size_t start = held_bytes();
        std::vector<rudo::python_ast::ModModule> trees;
        trees.reserve(c.files.size());
        const size_t reserved = held_bytes() - start;
        for (const auto& text : c.files)
            trees.push_back(std::move(parse_module_unchecked(text).syntax));
        corpus_tree = held_bytes() - start - reserved;
        mappings_kept = process_mappings();
    }
    std::printf("files=%zu\nsource_bytes=%zu\ntokens=%zu\nallocations=%zu\n", c.files.size(),
                c.bytes, tokens, count);
    std::printf("allocations_per_token=%.4f\n",
                static_cast<double>(count) / static_cast<double>(tokens));
    std::printf("largest_file_bytes=%zu\ntree_bytes_per_source_byte=%.2f\n", largest.size(),
                static_cast<double>(tree) / static_cast<double>(largest.size()));
    std::printf("corpus_tree_bytes_per_source_byte=%.2f\n",
                static_cast<double>(corpus_tree) / static_cast<double>(c.bytes));
    std::printf("peak_bytes_per_source_byte=%.2f\n",
                static_cast<double>(peak) / static_cast<double>(largest.size()));
    std::printf("corpus_tree_mappings=%zu (%zu before)\n", mappings_kept, mappings_before);
    std::printf("chunk_cache_bytes=%zu\n", quarn::ChunkResource::bytes_cached());
    return 0;
}
#else
// Out of line: callgrind collects inside this function by its name, and the corpus is loaded
// before it starts.
[[gnu::noinline]] int parse_slice(const quarn_bench::Corpus& c) {
    size_t bytes = 0;
    size_t statements = 0;
    for (size_t i = 0; i < c.files.size(); i += 10) {
        Parsed parsed = parse_module_unchecked(c.files[i]);
        statements += parsed.syntax.body.size();
        bytes += c.files[i].size();
    }
    std::printf("slice_bytes=%zu\nstatements=%zu\n", bytes, statements);
    return 0;
}
#endif

}  // namespace

int main() {
#ifdef QUARN_COUNT_ALLOCATIONS
    return count_allocations();
#else
    return parse_slice(quarn_bench::corpus());
#endif
}

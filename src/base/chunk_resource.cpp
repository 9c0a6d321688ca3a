#include "base/chunk_resource.h"

#include <sys/mman.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <new>

#include "base/sanitizer.h"

namespace quarn {

namespace {

using R = ChunkResource;

// A slot holds a cached chunk's page-aligned start with its page count in the low bits, or 0.
static_assert(R::CACHE_BYTES / R::PAGE < R::PAGE, "a cached chunk's page count fits below PAGE");
static_assert(R::MAPPED % R::PAGE == 0 && R::HUGE % R::PAGE == 0);

constinit std::atomic<size_t> in_use{0};
constinit std::atomic<size_t> cached{0};
constinit std::atomic<size_t> mapped{0};
constinit std::atomic<size_t> live_mappings{0};
constinit std::atomic<uint64_t> slots[R::CACHE_SLOTS] = {};
// Set once static destruction has emptied the cache: what comes back later is unmapped.
constinit std::atomic<bool> closed{false};

size_t pages_of(uint64_t slot) {
    return static_cast<size_t>(slot & (R::PAGE - 1));
}
void* start_of(uint64_t slot) {
    return reinterpret_cast<void*>(static_cast<uintptr_t>(slot & ~uint64_t{R::PAGE - 1}));
}

size_t round_up(size_t bytes, size_t unit) {
    return (bytes + unit - 1) / unit * unit;
}

void poison(void* p, size_t size) {
#if QUARN_ASAN
    ASAN_POISON_MEMORY_REGION(p, size);
#else
    (void)p;
    (void)size;
#endif
}
void unpoison(void* p, size_t size) {
#if QUARN_ASAN
    ASAN_UNPOISON_MEMORY_REGION(p, size);
#else
    (void)p;
    (void)size;
#endif
}

// A new mapping of `size` bytes, or null.
void* map(size_t size) {
    if (size < R::HUGE) {
        void* p = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        return p == MAP_FAILED ? nullptr : p;
    }
    // Map one huge page more than asked and cut both ends, so the start is HUGE-aligned.
    const size_t span = size + R::HUGE;
    void* raw = mmap(nullptr, span, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (raw == MAP_FAILED) return nullptr;
    const auto start = reinterpret_cast<uintptr_t>(raw);
    const uintptr_t aligned = (start + R::HUGE - 1) & ~(uintptr_t{R::HUGE} - 1);
    if (aligned > start) munmap(raw, aligned - start);
    const uintptr_t end = start + span;
    if (end > aligned + size) munmap(reinterpret_cast<void*>(aligned + size), end - aligned - size);
    void* chunk = reinterpret_cast<void*>(aligned);
#ifdef MADV_HUGEPAGE
    madvise(chunk, size, MADV_HUGEPAGE);  // a hint: without huge pages the chunk still works
#endif
    return chunk;
}

void unmap(void* p, size_t size) noexcept {
    // The addresses may be mapped again by anyone: their shadow must be clean.
    unpoison(p, size);
    munmap(p, size);
    live_mappings.fetch_sub(1, std::memory_order_relaxed);
}

Chunk take_malloced(size_t bytes) {
    const size_t size = bytes == 0 ? 1 : bytes;
    void* p = std::malloc(size);
    if (p == nullptr) throw std::bad_alloc();
    in_use.fetch_add(size, std::memory_order_relaxed);
    return Chunk{p, size, false};
}

// Keeps a mapped chunk (page-aligned, whole pages, at least MAPPED bytes) for a later request,
// or unmaps it when the cache is full.
void release_mapped(void* p, size_t size) noexcept {
    if (size <= R::CACHE_BYTES && !closed.load()) {
        if (cached.fetch_add(size) + size <= R::CACHE_BYTES) {
            poison(p, size);
            const uint64_t entry = reinterpret_cast<uintptr_t>(p) | (size / R::PAGE);
            for (auto& slot : slots) {
                uint64_t empty = 0;
                if (slot.load(std::memory_order_relaxed) == 0 &&
                    slot.compare_exchange_strong(empty, entry))
                    return;
            }
            unpoison(p, size);
        }
        cached.fetch_sub(size);
    }
    unmap(p, size);
}

// The smallest cached chunk of at least `size` bytes, else the largest of at least `least`,
// taken out of the cache; none if there is neither.
Chunk take_cached(size_t size, size_t least) {
    const size_t pages = size / R::PAGE;
    const size_t least_pages = least / R::PAGE;
    // A slot can change between the look and the take; a few tries, then a fresh mapping.
    for (int attempt = 0; attempt < 4 && cached.load(std::memory_order_relaxed) >= least;
         ++attempt) {
        std::atomic<uint64_t>* best = nullptr;
        uint64_t best_entry = 0;
        for (auto& slot : slots) {
            const uint64_t entry = slot.load(std::memory_order_relaxed);
            if (entry == 0 || pages_of(entry) < least_pages) continue;
            const size_t have = pages_of(entry);
            const size_t best_have = pages_of(best_entry);
            const bool better =
                best == nullptr || (have >= pages ? best_have < pages || have < best_have
                                                  : best_have < pages && have > best_have);
            if (!better) continue;
            best = &slot;
            best_entry = entry;
            if (have == pages) break;
        }
        if (best == nullptr) break;
        if (!best->compare_exchange_strong(best_entry, 0)) continue;
        const size_t found = pages_of(best_entry) * R::PAGE;
        cached.fetch_sub(found);
        void* p = start_of(best_entry);
        unpoison(p, found);
        return Chunk{p, found, true};
    }
    return Chunk{};
}

// Empties the cache at exit, after everything that could still parse has stopped.
struct CacheCloser {
    ~CacheCloser() {
        closed.store(true);
        ChunkResource::release_cache();
    }
} closer;

}  // namespace

Chunk ChunkResource::take(size_t bytes, size_t at_least) {
    if (bytes < MAPPED) return take_malloced(bytes);
    const size_t size = round_up(bytes, PAGE);
    const size_t least = at_least < MAPPED ? size
                         : at_least > size ? size
                                           : round_up(at_least, PAGE);
    Chunk chunk = take_cached(size, least);
    if (chunk.data != nullptr) {
        // What is left of a larger chunk goes back, if it is worth keeping.
        if (chunk.size >= size + MAPPED) {
            live_mappings.fetch_add(1, std::memory_order_relaxed);
            release_mapped(static_cast<char*>(chunk.data) + size, chunk.size - size);
            chunk.size = size;
        }
    } else {
        void* p = nullptr;
        if (live_mappings.fetch_add(1, std::memory_order_relaxed) < MAX_MAPPED) p = map(size);
        if (p == nullptr) {
            live_mappings.fetch_sub(1, std::memory_order_relaxed);
            return take_malloced(size);
        }
        chunk = Chunk{p, size, true};
        mapped.fetch_add(size, std::memory_order_relaxed);
    }
    in_use.fetch_add(chunk.size, std::memory_order_relaxed);
    return chunk;
}

void ChunkResource::give_back(Chunk chunk) noexcept {
    if (chunk.data == nullptr) return;
    in_use.fetch_sub(chunk.size, std::memory_order_relaxed);
    if (!chunk.mapped) {
        std::free(chunk.data);
        return;
    }
    release_mapped(chunk.data, chunk.size);
}

size_t ChunkResource::shrink(Chunk chunk, size_t used) noexcept {
    if (!chunk.mapped) return chunk.size;
    const size_t keep = used < MAPPED ? MAPPED : round_up(used, PAGE);
    // Less than a few pages is not worth a system call.
    if (keep >= chunk.size || chunk.size - keep < 4 * PAGE) return chunk.size;
    void* tail = static_cast<char*>(chunk.data) + keep;
    const size_t tail_size = chunk.size - keep;
    in_use.fetch_sub(tail_size, std::memory_order_relaxed);
    live_mappings.fetch_add(1, std::memory_order_relaxed);
    if (tail_size >= MAPPED) {
        release_mapped(tail, tail_size);
    } else {
        unmap(tail, tail_size);
    }
    return keep;
}

size_t ChunkResource::bytes_in_use() noexcept {
    return in_use.load(std::memory_order_relaxed);
}

size_t ChunkResource::bytes_cached() noexcept {
    return cached.load(std::memory_order_relaxed);
}

size_t ChunkResource::bytes_mapped() noexcept {
    return mapped.load(std::memory_order_relaxed);
}

size_t ChunkResource::mapped_chunks() noexcept {
    return live_mappings.load(std::memory_order_relaxed);
}

void ChunkResource::release_cache() noexcept {
    for (auto& slot : slots) {
        const uint64_t entry = slot.exchange(0);
        if (entry == 0) continue;
        const size_t size = pages_of(entry) * PAGE;
        cached.fetch_sub(size);
        unmap(start_of(entry), size);
    }
}

}  // namespace quarn

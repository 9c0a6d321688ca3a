#include "base/chunk_resource.h"

#include <sys/mman.h>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <new>

namespace quarn {

namespace {

std::atomic<size_t> in_use{0};

// Released chunks of exactly CHUNK bytes, reused before the kernel is asked again.
struct ChunkCache {
    static constexpr size_t KEEP = 8;
    std::mutex mutex;
    void* chunks[KEEP] = {};
    size_t count = 0;
};

ChunkCache& cache() {
    static ChunkCache* instance = new ChunkCache();  // never destroyed: used until exit
    return *instance;
}

size_t chunk_bytes(size_t bytes) {
    return (bytes + ChunkResource::CHUNK - 1) / ChunkResource::CHUNK * ChunkResource::CHUNK;
}

void* map_chunk(size_t size) {
    // Map one chunk more than asked and trim, so the start is CHUNK-aligned.
    const size_t span = size + ChunkResource::CHUNK;
    void* raw = mmap(nullptr, span, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (raw == MAP_FAILED) throw std::bad_alloc();
    const auto start = reinterpret_cast<uintptr_t>(raw);
    const uintptr_t aligned = (start + ChunkResource::CHUNK - 1) & ~(ChunkResource::CHUNK - 1);
    if (aligned > start) munmap(raw, aligned - start);
    const uintptr_t end = start + span;
    if (end > aligned + size) munmap(reinterpret_cast<void*>(aligned + size), end - aligned - size);
    void* chunk = reinterpret_cast<void*>(aligned);
#ifdef MADV_HUGEPAGE
    madvise(chunk, size, MADV_HUGEPAGE);  // a hint: without huge pages the chunk still works
#endif
    return chunk;
}

}  // namespace

ChunkResource& ChunkResource::instance() noexcept {
    static ChunkResource* resource = new ChunkResource();  // never destroyed: used until exit
    return *resource;
}

size_t ChunkResource::bytes_in_use() noexcept {
    return in_use.load(std::memory_order_relaxed);
}

void* ChunkResource::do_allocate(size_t bytes, size_t alignment) {
    if (bytes < LARGE || alignment > CHUNK) {
        return ::operator new(bytes, std::align_val_t(alignment));
    }
    const size_t size = chunk_bytes(bytes);
    in_use.fetch_add(size, std::memory_order_relaxed);
    if (size == CHUNK) {
        ChunkCache& c = cache();
        std::lock_guard lock(c.mutex);
        if (c.count > 0) return c.chunks[--c.count];
    }
    try {
        return map_chunk(size);
    } catch (...) {
        in_use.fetch_sub(size, std::memory_order_relaxed);
        throw;
    }
}

void ChunkResource::do_deallocate(void* p, size_t bytes, size_t alignment) {
    if (bytes < LARGE || alignment > CHUNK) {
        ::operator delete(p, bytes, std::align_val_t(alignment));
        return;
    }
    const size_t size = chunk_bytes(bytes);
    in_use.fetch_sub(size, std::memory_order_relaxed);
    if (size == CHUNK) {
        ChunkCache& c = cache();
        std::lock_guard lock(c.mutex);
        if (c.count < ChunkCache::KEEP) {
            c.chunks[c.count++] = p;
            return;
        }
    }
    munmap(p, size);
}

}  // namespace quarn

// The upstream of the per-parse arenas: chunks of memory, and a bounded cache of released ones
// that the next parse reuses with its pages already faulted in.
#pragma once

#include <cstddef>

namespace quarn {

// A chunk as taken: what is needed to give it back.
struct Chunk {
    void* data = nullptr;
    size_t size = 0;
    bool mapped = false;  // whole pages of a mapping, else malloc'd
};

// Chunks of less than MAPPED bytes come from malloc: a small file's tree must not take a
// mapping of its own. Larger ones are mapped whole pages, so that the unused end of a finished
// tree can go back; those of HUGE bytes and more start on a HUGE boundary and are advised for
// transparent huge pages, so a big tree costs one fault per 2 MiB instead of one per 4 KiB.
// Past MAX_MAPPED live mapped chunks (a quarter of Linux's default limit of mappings per
// process), or when the kernel refuses a mapping, chunks come from malloc too.
//
// Released mapped chunks are kept, up to CACHE_BYTES and CACHE_SLOTS of them in the process,
// for later requests of their size or less: glibc trims a freed heap top and unmaps freed large
// blocks, so without the cache a steady stream of parses faults in every page of every tree
// again. The cache is a fixed array of atomic slots: no lock, so a child of fork() never meets
// a lock held by a thread it does not have, and any thread may give back what another took.
// Cached chunks are poisoned in AddressSanitizer builds.
class ChunkResource {
  public:
    static constexpr size_t PAGE = 4096;
    static constexpr size_t MAPPED = size_t{16} << 10;
    static constexpr size_t MAX_MAPPED = 16384;
    static constexpr size_t HUGE = size_t{2} << 20;
    static constexpr size_t CACHE_BYTES = size_t{8} << 20;
    static constexpr size_t CACHE_SLOTS = 64;

    ChunkResource() = delete;

    // At least `bytes` bytes, 16-aligned (page-aligned when mapped). The chunk may be larger
    // than asked. A caller content with less names its least (`at_least` ≥ MAPPED): a cached
    // chunk of that much is taken before new memory is mapped.
    static Chunk take(size_t bytes, size_t at_least = 0);
    // Gives back a chunk from `take` (or what `shrink` left of it).
    static void give_back(Chunk chunk) noexcept;
    // Gives back the end of a mapped chunk past its first `used` bytes, when that frees pages
    // worth the trouble; returns the chunk's size after. Malloc'd chunks keep their size.
    static size_t shrink(Chunk chunk, size_t used) noexcept;

    // Bytes of chunks taken and not given back.
    static size_t bytes_in_use() noexcept;
    // Bytes of released chunks the cache keeps.
    static size_t bytes_cached() noexcept;
    // Bytes mapped from the kernel so far, in all.
    static size_t bytes_mapped() noexcept;
    // Mapped chunks in use or cached.
    static size_t mapped_chunks() noexcept;
    // Unmaps every cached chunk (the cache keeps working after).
    static void release_cache() noexcept;
};

}  // namespace quarn

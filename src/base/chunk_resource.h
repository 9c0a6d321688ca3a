// The upstream of the per-parse arenas: large chunks for big trees, the heap for small ones.
#pragma once

#include <cstddef>
#include <memory_resource>

namespace quarn {

// Requests of at least LARGE bytes get whole chunks: multiples of CHUNK bytes, CHUNK-aligned and
// marked for transparent huge pages, so a big tree costs one page fault per 2 MiB instead of one
// per 4 KiB. A few released chunks are kept for the next request, already faulted in. Smaller
// requests, the first buffers of a small file's arena, come from operator new: a file of a few
// kilobytes must not pin a 2 MiB page. Thread-safe; one process-wide instance.
class ChunkResource final : public std::pmr::memory_resource {
  public:
    static constexpr size_t CHUNK = size_t{2} << 20;
    static constexpr size_t LARGE = size_t{1} << 20;

    static ChunkResource& instance() noexcept;

    // Bytes of large chunks handed out and not yet given back (for benchmarks: the rest is
    // operator new's).
    static size_t bytes_in_use() noexcept;

  private:
    void* do_allocate(size_t bytes, size_t alignment) override;
    void do_deallocate(void* p, size_t bytes, size_t alignment) override;
    bool do_is_equal(const std::pmr::memory_resource& other) const noexcept override {
        return this == &other;
    }
};

}  // namespace quarn

// The memory of an index's records: texts and arrays bump-allocated from large chunks, freed all
// at once with the arena. Records are written once and never freed one by one, so nothing is
// kept per allocation.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <memory_resource>
#include <mutex>
#include <new>
#include <string_view>
#include <type_traits>
#include <vector>

#include "base/chunk_resource.h"

namespace quarn::ast {

class RecordArena {
  public:
    // The arena of a project index: chunks of the chunk resource's size (huge pages where the
    // kernel gives them), carved into slabs that each writing thread fills without a lock.
    static std::shared_ptr<RecordArena> for_index();
    // The arena of one file's records outside an index: small blocks from the heap.
    static std::shared_ptr<RecordArena> for_file();

    // Requests of more than half a slab are carved from the current chunk under the arena's lock;
    // one of more than half a chunk takes a block of its own, and the chunk goes on being carved.
    RecordArena(size_t chunk_bytes, size_t slab_bytes);
    RecordArena(const RecordArena&) = delete;
    RecordArena& operator=(const RecordArena&) = delete;
    ~RecordArena();

    // Thread-safe. Never fails but by throwing std::bad_alloc.
    void* allocate(size_t bytes, size_t alignment);

    // Room for `n` objects of `T`, not constructed: records hold only trivially destructible
    // parts, so nothing is ever destroyed.
    template <typename T>
    T* array(size_t n) {
        static_assert(std::is_trivially_destructible_v<T>);
        if (n == 0) return nullptr;
        return static_cast<T*>(allocate(n * sizeof(T), alignof(T)));
    }
    // A copy of `text` owned by the arena.
    std::string_view text(std::string_view text);

    // The arena as the memory of standard containers (thread-safe; giving memory back does
    // nothing): for what a cache keeps as long as the arena lives.
    std::pmr::memory_resource* resource() noexcept { return &resource_; }

    // Bytes taken from the chunk resource or the heap so far, and the part of them handed to
    // writers (a thread's slab counts whole), for benchmarks.
    size_t bytes_reserved() const;
    size_t bytes_carved() const;

  private:
    class Resource final : public std::pmr::memory_resource {
      public:
        explicit Resource(RecordArena& arena) : arena_(arena) {}

      private:
        void* do_allocate(size_t bytes, size_t alignment) override {
            return arena_.allocate(bytes, alignment);
        }
        void do_deallocate(void*, size_t, size_t) override {}
        bool do_is_equal(const std::pmr::memory_resource& other) const noexcept override {
            return this == &other;
        }
        RecordArena& arena_;
    };

    void* allocate_slow(size_t bytes, size_t alignment);

    const uint64_t id_;
    const size_t chunk_bytes_;
    const size_t slab_bytes_;
    mutable std::mutex mutex_;
    std::vector<quarn::Chunk> blocks_;
    char* cur_ = nullptr;
    char* end_ = nullptr;
    size_t reserved_ = 0;
    Resource resource_{*this};
};

}  // namespace quarn::ast

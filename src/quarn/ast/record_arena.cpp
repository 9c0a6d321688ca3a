#include "quarn/ast/record_arena.h"

#include <algorithm>
#include <atomic>
#include <cstring>

#include "base/chunk_resource.h"

namespace quarn::ast {
namespace {

// Ids are never reused, so a slab left by an arena that is gone is never taken for another's.
std::atomic<uint64_t> next_arena_id{1};

// The slab this thread writes into, of the arena it was last given by.
struct Slab {
    uint64_t arena = 0;
    char* cur = nullptr;
    char* end = nullptr;
};
thread_local Slab slab;

char* align_up(char* p, size_t alignment) {
    const auto at = reinterpret_cast<uintptr_t>(p);
    return reinterpret_cast<char*>((at + alignment - 1) & ~(uintptr_t{alignment} - 1));
}

}  // namespace

std::shared_ptr<RecordArena> RecordArena::for_index() {
    return std::make_shared<RecordArena>(quarn::ChunkResource::HUGE, size_t{16} << 10);
}

std::shared_ptr<RecordArena> RecordArena::for_file() {
    return std::make_shared<RecordArena>(size_t{4} << 10, size_t{1} << 10);
}

RecordArena::RecordArena(size_t chunk_bytes, size_t slab_bytes)
    : id_(next_arena_id.fetch_add(1, std::memory_order_relaxed)),
      chunk_bytes_(chunk_bytes),
      slab_bytes_(slab_bytes) {}

RecordArena::~RecordArena() {
    for (const quarn::Chunk& block : blocks_)
        quarn::ChunkResource::give_back(block);
}

void* RecordArena::allocate(size_t bytes, size_t alignment) {
    if (slab.arena == id_) {
        char* const at = align_up(slab.cur, alignment);
        if (at <= slab.end && bytes <= static_cast<size_t>(slab.end - at)) {
            slab.cur = at + bytes;
            return at;
        }
    }
    return allocate_slow(bytes, alignment);
}

void* RecordArena::allocate_slow(size_t bytes, size_t alignment) {
    const std::lock_guard lock(mutex_);
    auto carve = [this](size_t size, size_t align) -> char* {
        char* at = cur_ ? align_up(cur_, align) : nullptr;
        if (!at || at > end_ || size > static_cast<size_t>(end_ - at)) {
            // Room for the block first, so that a chunk taken is never lost.
            if (blocks_.size() == blocks_.capacity()) blocks_.reserve(2 * blocks_.size() + 4);
            if (size + align > chunk_bytes_ / 2) {
                // A large request (a big file's source) gets a block of its own, and the
                // current chunk goes on being carved: its end is not left unused for it.
                const quarn::Chunk block = quarn::ChunkResource::take(size + align);
                blocks_.push_back(block);
                reserved_ += block.size;
                return align_up(static_cast<char*>(block.data), align);
            }
            const quarn::Chunk block =
                quarn::ChunkResource::take(std::max(chunk_bytes_, size + align));
            blocks_.push_back(block);
            reserved_ += block.size;
            cur_ = static_cast<char*>(block.data);
            end_ = cur_ + block.size;
            at = align_up(cur_, align);
        }
        cur_ = at + size;
        return at;
    };
    // Large requests are carved directly; the rest go to a new slab for this thread.
    if (bytes + alignment > slab_bytes_ / 2) return carve(bytes, alignment);
    char* const start = carve(slab_bytes_, alignof(max_align_t));
    slab = Slab{id_, start, start + slab_bytes_};
    char* const at = align_up(slab.cur, alignment);
    slab.cur = at + bytes;
    return at;
}

std::string_view RecordArena::text(std::string_view text) {
    if (text.empty()) return {};
    char* const copy = array<char>(text.size());
    std::memcpy(copy, text.data(), text.size());
    return {copy, text.size()};
}

size_t RecordArena::bytes_reserved() const {
    const std::lock_guard lock(mutex_);
    return reserved_;
}

size_t RecordArena::bytes_carved() const {
    const std::lock_guard lock(mutex_);
    return reserved_ - static_cast<size_t>(end_ - cur_);
}

}  // namespace quarn::ast

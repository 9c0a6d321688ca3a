#include "rudo/python_ast/arena.h"

#include <unordered_set>

#include "base/chunk_resource.h"

namespace rudo::python_ast {

#ifdef RUDO_AST_ARENA_PER_NODE
// Every allocation on its own, freed when given back or when the arena goes.
struct Arena::PerNode {
    std::unordered_set<void*> live;
    ~PerNode() {
        for (void* p : live)
            ::operator delete(p);
    }
    // Node alignments never pass the default new alignment.
    void* allocate(size_t bytes) {
        void* p = ::operator new(bytes);
        live.insert(p);
        return p;
    }
    void deallocate(void* p) noexcept {
        live.erase(p);
        ::operator delete(p);
    }
};

Arena::Arena(size_t) : per_node_(std::make_unique<PerNode>()) {}

Arena::~Arena() = default;

void* Arena::allocate_per_node(size_t bytes) {
    return per_node_->allocate(bytes);
}

void Arena::deallocate_per_node(void* p) noexcept {
    per_node_->deallocate(p);
}

void Arena::trim() noexcept {}

size_t Arena::bytes_held() const noexcept {
    return 0;
}
#else
namespace {
size_t clamp_block(size_t bytes) {
    return bytes < Arena::MIN_BLOCK   ? Arena::MIN_BLOCK
           : bytes > Arena::MAX_BLOCK ? Arena::MAX_BLOCK
                                      : bytes;
}
}  // namespace

Arena::Arena(size_t expected_bytes) : next_block_(clamp_block(expected_bytes)) {}

Arena::~Arena() {
    for (BlockHeader* block = blocks_; block != nullptr;) {
        BlockHeader* previous = block->previous;
        quarn::ChunkResource::give_back(quarn::Chunk{block, block->size, block->mapped});
        block = previous;
    }
}

void* Arena::allocate_slow(size_t bytes, size_t alignment) {
    const size_t header = (sizeof(BlockHeader) + alignment - 1) & ~(alignment - 1);
    const size_t left = end_ - next_;
    if (bytes > next_block_ / 4 || (end_ != 0 && left > blocks_->size / 32)) {
        // A block of its own, linked behind the current one so that bumping goes on there: a
        // large request, or one that would leave much of the current block unused.
        const quarn::Chunk chunk = quarn::ChunkResource::take(header + bytes);
        auto* block = static_cast<BlockHeader*>(chunk.data);
        block->size = chunk.size;
        block->mapped = chunk.mapped;
        held_ += chunk.size;
        if (blocks_ == nullptr) {
            block->previous = nullptr;
            blocks_ = block;
        } else {
            block->previous = blocks_->previous;
            blocks_->previous = block;
        }
        return reinterpret_cast<char*>(block) + header;
    }
    // A cached chunk smaller than the block planned will do: memory already faulted in beats
    // the planned size.
    const size_t least = header + bytes > quarn::ChunkResource::MAPPED
                             ? header + bytes
                             : quarn::ChunkResource::MAPPED;
    const quarn::Chunk chunk = quarn::ChunkResource::take(next_block_, least);
    auto* block = static_cast<BlockHeader*>(chunk.data);
    block->previous = blocks_;
    block->size = chunk.size;
    block->mapped = chunk.mapped;
    blocks_ = block;
    held_ += chunk.size;
    // The next block doubles what the arena holds, within bounds.
    next_block_ = clamp_block(held_ > next_block_ ? held_ : next_block_);
    const auto start = reinterpret_cast<uintptr_t>(block) + header;
    next_ = start + bytes;
    end_ = reinterpret_cast<uintptr_t>(block) + chunk.size;
    return reinterpret_cast<void*>(start);
}

void Arena::trim() noexcept {
    if (end_ == 0) return;
    const auto base = reinterpret_cast<uintptr_t>(blocks_);
    const size_t size = quarn::ChunkResource::shrink(
        quarn::Chunk{blocks_, blocks_->size, blocks_->mapped}, next_ - base);
    held_ -= blocks_->size - size;
    blocks_->size = size;
    end_ = base + size;
}

size_t Arena::bytes_held() const noexcept {
    return held_;
}
#endif

const std::string* Arena::keep(std::unique_ptr<std::string> text) {
    std::lock_guard lock(kept_mutex_);
    kept_.push_back(std::move(text));
    return kept_.back().get();
}

}  // namespace rudo::python_ast

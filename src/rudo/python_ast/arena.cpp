#include "rudo/python_ast/arena.h"

#include <unordered_set>

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
#else
Arena::Arena(size_t) {}

Arena::~Arena() {
    for (BlockHeader* block = blocks_; block != nullptr;) {
        BlockHeader* previous = block->previous;
        ::operator delete(block);
        block = previous;
    }
}

void* Arena::allocate_slow(size_t bytes, size_t alignment) {
    const size_t header = (sizeof(BlockHeader) + alignment - 1) & ~(alignment - 1);
    if (bytes > BLOCK / 4) {
        // A block of its own, linked behind the current one so that bumping goes on there.
        auto* block = static_cast<BlockHeader*>(::operator new(header + bytes));
        if (blocks_ == nullptr) {
            block->previous = nullptr;
            blocks_ = block;
        } else {
            block->previous = blocks_->previous;
            blocks_->previous = block;
        }
        return reinterpret_cast<char*>(block) + header;
    }
    auto* block = static_cast<BlockHeader*>(::operator new(BLOCK));
    block->previous = blocks_;
    blocks_ = block;
    const auto start = reinterpret_cast<uintptr_t>(block) + header;
    next_ = start + bytes;
    end_ = reinterpret_cast<uintptr_t>(block) + BLOCK;
    return reinterpret_cast<void*>(start);
}
#endif

const std::string* Arena::keep(std::unique_ptr<std::string> text) {
    std::lock_guard lock(kept_mutex_);
    kept_.push_back(std::move(text));
    return kept_.back().get();
}

}  // namespace rudo::python_ast

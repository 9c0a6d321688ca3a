#include "rudo/python_ast/arena.h"

#include <unordered_set>

namespace rudo::python_ast {

#ifdef RUDO_AST_ARENA_PER_NODE
// Every allocation on its own, freed when given back or when the arena goes.
struct Arena::PerNode final : std::pmr::memory_resource {
    std::unordered_set<void*> live;
    ~PerNode() override {
        for (void* p : live)
            ::operator delete(p);
    }
    void* do_allocate(size_t bytes, size_t alignment) override {
        (void)alignment;  // node alignments never pass the default new alignment
        void* p = ::operator new(bytes);
        live.insert(p);
        return p;
    }
    void do_deallocate(void* p, size_t, size_t) override {
        live.erase(p);
        ::operator delete(p);
    }
    bool do_is_equal(const std::pmr::memory_resource& other) const noexcept override {
        return this == &other;
    }
};

Arena::Arena(size_t) : per_node_(std::make_unique<PerNode>()) {
    resource_ = per_node_.get();
}
#else
Arena::Arena(size_t expected_bytes)
    : buffers_(expected_bytes < 4096 ? 4096 : expected_bytes, &quarn::ChunkResource::instance()) {
    resource_ = &buffers_;
}
#endif

Arena::~Arena() = default;

const std::string* Arena::keep(std::unique_ptr<std::string> text) {
    std::lock_guard lock(kept_mutex_);
    kept_.push_back(std::move(text));
    return kept_.back().get();
}

}  // namespace rudo::python_ast

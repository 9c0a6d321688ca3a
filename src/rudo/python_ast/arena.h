// The memory of syntax trees: one arena per parse, and the allocator every node container uses.
//
// A parse builds its tree inside an ArenaScope: boxes, lists, sequences, long names and literal
// texts all come from that arena, and the tree's owner (a Suite) frees the whole tree by releasing
// the arena's chunks, without visiting a node. Outside any scope the same containers use the
// heap, node by node, as hand-built trees in tests do. Sanitizer builds give every allocation of
// an arena to operator new on its own and free it on its own, so misuse stays visible.
#pragma once

#include <cstddef>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <vector>

#include <cstdint>

#include "base/sanitizer.h"

#if QUARN_SANITIZED
#define RUDO_AST_ARENA_PER_NODE 1
#endif

namespace rudo::python_ast {

// A bump allocator over chunks of the chunk resource. The first block is sized from what the
// caller expects the tree to take; each later one is as large as all before it together, up to
// MAX_BLOCK, so a big tree takes few blocks and a small one wastes little. A request of more
// than a quarter of the next block, or one that does not fit where more than a 32nd of the
// current block is left, gets a block of its own at its exact size, so neither a large list nor
// the tail of a block is wasted on the other. Nothing is given back before the arena goes,
// except the last allocation, whose bytes the next one reuses, and the unused end of the current
// block once the tree is finished (`trim`).
class Arena {
  public:
    static constexpr size_t MIN_BLOCK = size_t{4} << 10;
    static constexpr size_t MAX_BLOCK = size_t{2} << 20;

    // `expected_bytes`: about what the tree will take; the first block is that large.
    explicit Arena(size_t expected_bytes);
    Arena(const Arena&) = delete;
    Arena& operator=(const Arena&) = delete;
    ~Arena();

    void* allocate(size_t bytes, size_t alignment) {
#ifdef RUDO_AST_ARENA_PER_NODE
        (void)alignment;
        return allocate_per_node(bytes);
#else
        const uintptr_t p = (next_ + alignment - 1) & ~(uintptr_t{alignment} - 1);
        if (p + bytes <= end_) [[likely]] {
            next_ = p + bytes;
            return reinterpret_cast<void*>(p);
        }
        return allocate_slow(bytes, alignment);
#endif
    }
    void deallocate(void* p, size_t bytes) noexcept {
#ifdef RUDO_AST_ARENA_PER_NODE
        (void)bytes;
        deallocate_per_node(p);
#else
        if (reinterpret_cast<uintptr_t>(p) + bytes == next_) next_ = reinterpret_cast<uintptr_t>(p);
#endif
    }

    // Gives back the unused end of the current block: the tree is complete. Later allocations
    // still work.
    void trim() noexcept;

    // Bytes of the blocks the arena holds (the heap in sanitizer builds: none).
    size_t bytes_held() const noexcept;

    // Keeps a text computed after the parse, possibly by several threads at once, until the
    // arena goes.
    const std::string* keep(std::unique_ptr<std::string> text);

  private:
#ifdef RUDO_AST_ARENA_PER_NODE
    struct PerNode;
    void* allocate_per_node(size_t bytes);
    void deallocate_per_node(void* p) noexcept;
    std::unique_ptr<PerNode> per_node_;
#else
    // Each block starts with the link to the block allocated before it and what giving it back
    // takes.
    struct BlockHeader {
        BlockHeader* previous;
        size_t size;
        bool mapped;
    };
    void* allocate_slow(size_t bytes, size_t alignment);
    BlockHeader* blocks_ = nullptr;  // the block bumped into, when `end_` is set
    uintptr_t next_ = 0;
    uintptr_t end_ = 0;
    size_t next_block_;
    size_t held_ = 0;
#endif
    std::mutex kept_mutex_;
    std::vector<std::unique_ptr<std::string>> kept_;
};

namespace detail {
// The arena node allocations of this thread go to; null means the heap.
inline constinit thread_local Arena* node_arena = nullptr;
}  // namespace detail

// The arena node allocations of this thread go to, or null for the heap.
inline Arena* current_arena() noexcept {
    return detail::node_arena;
}

// Routes this thread's node allocations to `arena` (null: the heap) while it lives.
class ArenaScope {
  public:
    explicit ArenaScope(Arena* arena) noexcept : saved_arena_(detail::node_arena) {
        detail::node_arena = arena;
    }
    ArenaScope(const ArenaScope&) = delete;
    ArenaScope& operator=(const ArenaScope&) = delete;
    ~ArenaScope() { detail::node_arena = saved_arena_; }

  private:
    Arena* saved_arena_;
};

inline void* node_allocate(size_t bytes, size_t alignment) {
    if (Arena* arena = detail::node_arena) return arena->allocate(bytes, alignment);
    if (alignment > __STDCPP_DEFAULT_NEW_ALIGNMENT__)
        return ::operator new(bytes, std::align_val_t(alignment));
    return ::operator new(bytes);
}

inline void node_deallocate(void* p, size_t bytes, size_t alignment) noexcept {
    if (Arena* arena = detail::node_arena) {
        arena->deallocate(p, bytes);
    } else if (alignment > __STDCPP_DEFAULT_NEW_ALIGNMENT__) {
        ::operator delete(p, bytes, std::align_val_t(alignment));
    } else {
        ::operator delete(p, bytes);
    }
}

// The allocator of every node container: the current arena, or the heap outside any scope.
template <typename T>
struct NodeAllocator {
    using value_type = T;
    using is_always_equal = std::true_type;
    using propagate_on_container_move_assignment = std::true_type;

    NodeAllocator() noexcept = default;
    template <typename U>
    NodeAllocator(const NodeAllocator<U>&) noexcept {}

    T* allocate(size_t n) { return static_cast<T*>(node_allocate(n * sizeof(T), alignof(T))); }
    void deallocate(T* p, size_t n) noexcept { node_deallocate(p, n * sizeof(T), alignof(T)); }

    template <typename U>
    friend bool operator==(const NodeAllocator&, const NodeAllocator<U>&) noexcept {
        return true;
    }
};

// A growable list of nodes.
template <typename T>
using List = std::vector<T, NodeAllocator<T>>;

// Decoded literal text and other texts owned by the tree.
using NodeString = std::basic_string<char, std::char_traits<char>, NodeAllocator<char>>;

inline bool operator==(const NodeString& a, const std::string& b) noexcept {
    return std::string_view(a) == std::string_view(b);
}

}  // namespace rudo::python_ast

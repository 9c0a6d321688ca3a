// The per-node index cell. Nothing in this system assigns indexes, so every node keeps NONE;
// the cell is atomic because a finished tree is read from several threads at once.
#pragma once

#include <atomic>
#include <cstdint>

namespace rudo::python_ast {

class AtomicNodeIndex {
  public:
    // The value of an unassigned index.
    static constexpr uint32_t NONE = 0xFFFFFFFE;

    AtomicNodeIndex() noexcept = default;
    explicit AtomicNodeIndex(uint32_t value) noexcept : value_(value) {}
    AtomicNodeIndex(const AtomicNodeIndex& other) noexcept : value_(other.load()) {}
    AtomicNodeIndex& operator=(const AtomicNodeIndex& other) noexcept {
        set(other.load());
        return *this;
    }

    uint32_t load() const noexcept { return value_.load(std::memory_order_relaxed); }
    void set(uint32_t value) noexcept { value_.store(value, std::memory_order_relaxed); }

  private:
    std::atomic<uint32_t> value_{NONE};
};

}  // namespace rudo::python_ast

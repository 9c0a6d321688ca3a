// Text owned by a syntax tree: the decoded value of a string or bytes literal, the literal part of
// an f-string, the source around a self-documenting interpolation.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <utility>

#include "rudo/python_ast/arena.h"

namespace rudo::python_ast {

// One block of the current arena (the heap outside any) with the text's bytes: a pointer, the
// length and the block's size, 16 bytes, where a std::string takes 32. Copying takes a block of
// exactly the text's length; moving hands the block over and leaves the source empty, so a
// moved-from text has nothing to free. An empty text holds no block.
class NodeText {
  public:
    NodeText() noexcept = default;
    NodeText(std::string_view text) { assign(text); }
    NodeText(const char* text) : NodeText(std::string_view(text)) {}
    NodeText(const char* data, size_t size) : NodeText(std::string_view(data, size)) {}
    NodeText(const NodeText& other) : NodeText(other.view()) {}
    NodeText(NodeText&& other) noexcept
        : data_(std::exchange(other.data_, nullptr)),
          size_(std::exchange(other.size_, 0)),
          capacity_(std::exchange(other.capacity_, 0)) {}
    NodeText& operator=(const NodeText& other) {
        if (this != &other) *this = NodeText(other);
        return *this;
    }
    NodeText& operator=(NodeText&& other) noexcept {
        if (this != &other) {
            release();
            data_ = std::exchange(other.data_, nullptr);
            size_ = std::exchange(other.size_, 0);
            capacity_ = std::exchange(other.capacity_, 0);
        }
        return *this;
    }
    ~NodeText() { release(); }

    // Room for up to `capacity` bytes, written through `buffer()`; `resize` then sets how many
    // were written. The block keeps its size.
    static NodeText with_capacity(size_t capacity) {
        NodeText text;
        if (capacity != 0) {
            text.data_ = static_cast<char*>(node_allocate(capacity, 1));
            text.capacity_ = static_cast<uint32_t>(capacity);
        }
        return text;
    }
    char* buffer() noexcept { return data_; }
    void resize(size_t size) noexcept { size_ = static_cast<uint32_t>(size); }

    size_t size() const noexcept { return size_; }
    bool empty() const noexcept { return size_ == 0; }
    const char* data() const noexcept { return data_ ? data_ : ""; }
    const char* begin() const noexcept { return data(); }
    const char* end() const noexcept { return data() + size_; }
    std::string_view view() const noexcept { return {data(), size_}; }
    operator std::string_view() const noexcept { return view(); }
    explicit operator std::string() const { return std::string(view()); }

    friend bool operator==(const NodeText& a, const NodeText& b) noexcept {
        return a.view() == b.view();
    }
    friend bool operator==(const NodeText& a, std::string_view b) noexcept { return a.view() == b; }
    friend bool operator==(const NodeText& a, const char* b) noexcept {
        return a.view() == std::string_view(b);
    }
    friend bool operator==(const NodeText& a, const std::string& b) noexcept {
        return a.view() == std::string_view(b);
    }

  private:
    void assign(std::string_view text) {
        if (text.empty()) return;
        data_ = static_cast<char*>(node_allocate(text.size(), 1));
        std::memcpy(data_, text.data(), text.size());
        size_ = capacity_ = static_cast<uint32_t>(text.size());
    }
    void release() noexcept {
        if (capacity_ != 0) node_deallocate(data_, capacity_, 1);
    }

    char* data_ = nullptr;
    uint32_t size_ = 0;
    uint32_t capacity_ = 0;
};

}  // namespace rudo::python_ast

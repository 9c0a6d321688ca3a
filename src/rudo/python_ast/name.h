// Identifier text: a compact string that keeps up to 24 bytes inline, longer texts in the current
// arena (see arena.h).
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include <fmt/format.h>

#include "rudo/python_ast/arena.h"

namespace rudo::python_ast {

class Name {
  public:
    static constexpr size_t INLINE_CAPACITY = 24;

    Name() noexcept : size_(0), storage_{} {}
    explicit Name(std::string_view text) { assign(text); }
    // The same text when `readable` bytes from its start may be read (a slice of a longer
    // buffer): a short text is then copied as one fixed-size block.
    Name(std::string_view text, size_t readable) {
        if (text.size() <= INLINE_CAPACITY && readable >= INLINE_CAPACITY) {
            size_ = static_cast<uint32_t>(text.size());
            std::memcpy(storage_.inline_bytes, text.data(), INLINE_CAPACITY);
        } else {
            assign(text);
        }
    }
    Name(const char* text) : Name(std::string_view(text)) {}

    Name(const Name& other) { assign(other.as_str()); }
// GCC 12 takes a move out of an empty std::optional<Identifier> inside a variant for a read
// of uninitialised bytes; the optional never moves a name it does not hold.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
    Name(Name&& other) noexcept : size_(other.size_) {
        std::memcpy(&storage_, &other.storage_, sizeof(storage_));
        other.size_ = 0;
    }
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif
    Name& operator=(const Name& other) {
        if (this != &other) {
            release();
            assign(other.as_str());
        }
        return *this;
    }
    Name& operator=(Name&& other) noexcept {
        if (this != &other) {
            release();
            size_ = other.size_;
            std::memcpy(&storage_, &other.storage_, sizeof(storage_));
            other.size_ = 0;
        }
        return *this;
    }
    ~Name() {
        release();
    }

    std::string_view as_str() const noexcept {
        return {is_inline() ? storage_.inline_bytes : storage_.heap, size_};
    }
    operator std::string_view() const noexcept {
        return as_str();
    }
    size_t size() const noexcept {
        return size_;
    }
    bool empty() const noexcept {
        return size_ == 0;
    }
    bool is_inline() const noexcept {
        return size_ <= INLINE_CAPACITY;
    }

    friend bool operator==(const Name& a, const Name& b) noexcept {
        return a.as_str() == b.as_str();
    }
    friend bool operator==(const Name& a, std::string_view b) noexcept {
        return a.as_str() == b;
    }
    friend auto operator<=>(const Name& a, const Name& b) noexcept {
        return a.as_str() <=> b.as_str();
    }

  private:
    void assign(std::string_view text) {
        size_ = static_cast<uint32_t>(text.size());
        if (text.size() <= INLINE_CAPACITY) {
            if (!text.empty()) std::memcpy(storage_.inline_bytes, text.data(), text.size());
        } else {
            storage_.heap = static_cast<char*>(node_allocate(text.size(), 1));
            std::memcpy(storage_.heap, text.data(), text.size());
        }
    }
    void release() noexcept {
        if (!is_inline()) node_deallocate(storage_.heap, size_, 1);
        size_ = 0;
    }

    uint32_t size_;
    union Storage {
        char inline_bytes[INLINE_CAPACITY];
        char* heap;
    } storage_;
};

}  // namespace rudo::python_ast

template <>
struct std::hash<rudo::python_ast::Name> {
    size_t operator()(const rudo::python_ast::Name& name) const noexcept {
        return std::hash<std::string_view>{}(name.as_str());
    }
};

template <>
struct fmt::formatter<rudo::python_ast::Name> : fmt::formatter<std::string_view> {
    template <typename FormatContext>
    auto format(const rudo::python_ast::Name& name, FormatContext& ctx) const {
        return fmt::formatter<std::string_view>::format(name.as_str(), ctx);
    }
};

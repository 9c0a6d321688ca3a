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

// 24 bytes, aligned to 1 so that it packs next to 32-bit fields. The last byte tells the form:
// below 0xC0 it is the last of 24 inline bytes (an identifier's text is UTF-8, whose last byte is
// never a lead byte), 0xC0 + n marks n < 24 inline bytes, and HEAP a text elsewhere whose pointer
// and length fill the first 16 bytes. A 24-byte text ending in a lead byte goes elsewhere too.
class Name {
  public:
    static constexpr size_t INLINE_CAPACITY = 24;

    Name() noexcept { bytes_[LAST] = static_cast<char>(SHORT); }
    explicit Name(std::string_view text) { assign(text); }
    // The same text when `readable` bytes from its start may be read (a slice of a longer
    // buffer): a short text is then copied as one fixed-size block.
    Name(std::string_view text, size_t readable) {
        const size_t n = text.size();
        if (n < INLINE_CAPACITY && readable >= INLINE_CAPACITY) {
            std::memcpy(bytes_, text.data(), INLINE_CAPACITY);
            bytes_[LAST] = static_cast<char>(SHORT + n);
        } else {
            assign(text);
        }
    }
    Name(const char* text) : Name(std::string_view(text)) {}

    Name(const Name& other) { assign(other.as_str()); }
    Name(Name&& other) noexcept {
        std::memcpy(bytes_, other.bytes_, sizeof(bytes_));
        other.bytes_[LAST] = static_cast<char>(SHORT);
    }
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
            std::memcpy(bytes_, other.bytes_, sizeof(bytes_));
            other.bytes_[LAST] = static_cast<char>(SHORT);
        }
        return *this;
    }
    ~Name() { release(); }

    std::string_view as_str() const noexcept {
        const auto tag = static_cast<unsigned char>(bytes_[LAST]);
        if (tag < SHORT) return {bytes_, INLINE_CAPACITY};
        if (tag != HEAP) return {bytes_, static_cast<size_t>(tag - SHORT)};
        return {heap_pointer(), heap_size()};
    }
    operator std::string_view() const noexcept { return as_str(); }
    size_t size() const noexcept { return as_str().size(); }
    bool empty() const noexcept { return static_cast<unsigned char>(bytes_[LAST]) == SHORT; }
    bool is_inline() const noexcept { return static_cast<unsigned char>(bytes_[LAST]) != HEAP; }

    friend bool operator==(const Name& a, const Name& b) noexcept {
        return a.as_str() == b.as_str();
    }
    friend bool operator==(const Name& a, std::string_view b) noexcept { return a.as_str() == b; }
    friend auto operator<=>(const Name& a, const Name& b) noexcept {
        return a.as_str() <=> b.as_str();
    }

  private:
    static constexpr size_t LAST = INLINE_CAPACITY - 1;
    static constexpr unsigned SHORT = 0xC0;
    static constexpr unsigned HEAP = 0xFF;

    char* heap_pointer() const noexcept {
        char* p;
        std::memcpy(&p, bytes_, sizeof(p));
        return p;
    }
    size_t heap_size() const noexcept {
        size_t n;
        std::memcpy(&n, bytes_ + sizeof(char*), sizeof(n));
        return n;
    }
    void assign(std::string_view text) {
        const size_t n = text.size();
        if (n < INLINE_CAPACITY ||
            (n == INLINE_CAPACITY && static_cast<unsigned char>(text[LAST]) < SHORT)) {
            if (n != 0) std::memcpy(bytes_, text.data(), n);
            if (n < INLINE_CAPACITY) bytes_[LAST] = static_cast<char>(SHORT + n);
            return;
        }
        // Outside any parse the heap, inside one the parse's arena.
        char* p = static_cast<char*>(node_allocate(n, 1));
        std::memcpy(p, text.data(), n);
        std::memcpy(bytes_, &p, sizeof(p));
        std::memcpy(bytes_ + sizeof(char*), &n, sizeof(n));
        bytes_[LAST] = static_cast<char>(HEAP);
    }
    void release() noexcept {
        if (!is_inline()) node_deallocate(heap_pointer(), heap_size(), 1);
        bytes_[LAST] = static_cast<char>(SHORT);
    }

    char bytes_[INLINE_CAPACITY];
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

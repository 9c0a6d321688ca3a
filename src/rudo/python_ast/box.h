// Owning holders of syntax-tree children: a box for one child, a fixed-length sequence.
#pragma once

#include <cstddef>
#include <cstring>
#include <initializer_list>
#include <memory>
#include <span>
#include <type_traits>
#include <utility>
#include <vector>

#include "rudo/python_ast/arena.h"

namespace rudo::python_ast {

// One child held apart from its parent, in the current arena (see arena.h). Copying copies the
// child deeply, moving hands over the pointer.
// An empty box is an absent optional child (and the state of a moved-from box); required
// children are never empty in a finished tree.
template <typename T>
class Box {
  public:
    Box() noexcept = default;
    template <typename U>
    requires(!std::is_same_v<std::remove_cvref_t<U>, Box> && std::is_constructible_v<T, U&&>)
        Box(U&& value)
        : ptr_(make(std::forward<U>(value))) {}

    Box(const Box& other) : ptr_(other.ptr_ ? make(*other.ptr_) : nullptr) {}
// GCC 12 reports moves out of an inactive variant alternative holding a box as reads of an
// uninitialised pointer; the variant never moves an inactive alternative.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
    Box(Box&& other) noexcept : ptr_(other.ptr_) {
        other.ptr_ = nullptr;
    }
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif
    Box& operator=(const Box& other) {
        if (this != &other) *this = Box(other);
        return *this;
    }
    Box& operator=(Box&& other) noexcept {
        if (this != &other) {
            T* old = std::exchange(ptr_, std::exchange(other.ptr_, nullptr));
            // Most assignments fill an empty box: no call for nothing to free.
            if (old != nullptr) destroy(old);
        }
        return *this;
    }
    ~Box() {
        destroy(ptr_);
    }

    bool has_value() const noexcept {
        return ptr_ != nullptr;
    }
    explicit operator bool() const noexcept {
        return ptr_ != nullptr;
    }
    T* get() noexcept {
        return ptr_;
    }
    const T* get() const noexcept {
        return ptr_;
    }
    T& operator*() noexcept {
        return *ptr_;
    }
    const T& operator*() const noexcept {
        return *ptr_;
    }
    T* operator->() noexcept {
        return ptr_;
    }
    const T* operator->() const noexcept {
        return ptr_;
    }
    void reset() noexcept {
        destroy(std::exchange(ptr_, nullptr));
    }

  private:
    template <typename U>
    static T* make(U&& value) {
        void* p = node_allocate(sizeof(T), alignof(T));
        try {
            return ::new (p) T(std::forward<U>(value));
        } catch (...) {
            node_deallocate(p, sizeof(T), alignof(T));
            throw;
        }
    }
    static void destroy(T* p) noexcept {
        if (p == nullptr) return;
        p->~T();
        node_deallocate(p, sizeof(T), alignof(T));
    }

    T* ptr_ = nullptr;
};

// Marks a child that may be absent; the same holder as a required one.
template <typename T>
using OptionalBox = Box<T>;

// A fixed-length owned array, built once: one pointer, with the length stored just before the
// elements (8 bytes where a std::vector takes 24).
template <typename T>
class Seq {
  public:
    Seq() noexcept = default;
    template <typename A>
    Seq(std::vector<T, A>&& items) {
        adopt(std::make_move_iterator(items.begin()), items.size());
    }
    Seq(std::initializer_list<T> items) { adopt(items.begin(), items.size()); }
    // `n` elements, the i-th constructed from `element(i)`.
    template <typename F>
    requires std::is_invocable_v<F&, size_t> Seq(size_t n, F&& element) {
        if (n == 0) return;
        char* block = static_cast<char*>(node_allocate(bytes_for(n), ALIGN));
        T* data = reinterpret_cast<T*>(block + HEADER);
        size_t built = 0;
        try {
            for (; built < n; ++built)
                ::new (data + built) T(element(built));
        } catch (...) {
            std::destroy_n(data, built);
            node_deallocate(block, bytes_for(n), ALIGN);
            throw;
        }
        std::memcpy(block + HEADER - sizeof(size_t), &n, sizeof(n));
        data_ = data;
    }
    Seq(const Seq& other) { adopt(other.begin(), other.size()); }
    Seq(Seq&& other) noexcept : data_(std::exchange(other.data_, nullptr)) {}
    Seq& operator=(const Seq& other) {
        if (this != &other) *this = Seq(other);
        return *this;
    }
    Seq& operator=(Seq&& other) noexcept {
        if (this != &other) {
            release();
            data_ = std::exchange(other.data_, nullptr);
        }
        return *this;
    }
    ~Seq() { release(); }

    size_t size() const noexcept { return data_ ? length_of(data_) : 0; }
    bool empty() const noexcept { return data_ == nullptr; }
    T* begin() noexcept { return data_; }
    T* end() noexcept { return data_ + size(); }
    const T* begin() const noexcept { return data_; }
    const T* end() const noexcept { return data_ + size(); }
    T& operator[](size_t i) noexcept { return data_[i]; }
    const T& operator[](size_t i) const noexcept { return data_[i]; }
    std::span<T> as_span() noexcept { return {data_, size()}; }
    std::span<const T> as_span() const noexcept { return {data_, size()}; }
    // Destroys every element; the sequence becomes empty.
    void clear() noexcept { release(); }

  private:
    static constexpr size_t HEADER = alignof(T) > sizeof(size_t) ? alignof(T) : sizeof(size_t);
    static constexpr size_t ALIGN = alignof(T) > alignof(size_t) ? alignof(T) : alignof(size_t);

    static size_t length_of(const T* data) noexcept {
        size_t n;
        std::memcpy(&n, reinterpret_cast<const char*>(data) - sizeof(size_t), sizeof(n));
        return n;
    }
    static size_t bytes_for(size_t n) noexcept { return HEADER + n * sizeof(T); }

    template <typename It>
    void adopt(It first, size_t n) {
        if (n == 0) return;
        char* block = static_cast<char*>(node_allocate(bytes_for(n), ALIGN));
        T* data = reinterpret_cast<T*>(block + HEADER);
        try {
            std::uninitialized_copy_n(first, n, data);
        } catch (...) {
            node_deallocate(block, bytes_for(n), ALIGN);
            throw;
        }
        std::memcpy(block + HEADER - sizeof(size_t), &n, sizeof(n));
        data_ = data;
    }
    void release() noexcept {
        if (!data_) return;
        T* data = std::exchange(data_, nullptr);
        const size_t n = length_of(data);
        std::destroy_n(data, n);
        node_deallocate(reinterpret_cast<char*>(data) - HEADER, bytes_for(n), ALIGN);
    }

    T* data_ = nullptr;
};

}  // namespace rudo::python_ast

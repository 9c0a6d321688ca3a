// A stack whose copies share their lower entries, so that a lexer checkpoint costs the same for
// one open level as for a million.
#pragma once

#include <cstddef>
#include <optional>
#include <utility>

namespace rudo::python_parser {

// The top entry lives inline and can be changed in place; the entries below it form an immutable
// list whose nodes are shared between copies. A node that a pop leaves unreferenced is kept for the
// next push of the same stack, so a block structure that goes in and out does not allocate once
// per level. Single-threaded by design: one parse owns it.
template <typename T>
class PersistentStack {
  public:
    PersistentStack() = default;
    PersistentStack(const PersistentStack& other)
        : top_(other.top_), below_(other.below_), size_(other.size_) {
        retain(below_);
    }
    PersistentStack(PersistentStack&& other) noexcept
        : top_(std::move(other.top_)), below_(other.below_), size_(other.size_) {
        other.top_.reset();
        other.below_ = nullptr;
        other.size_ = 0;
    }
    PersistentStack& operator=(const PersistentStack& other) {
        if (this != &other) {
            retain(other.below_);
            release(below_);
            top_ = other.top_;
            below_ = other.below_;
            size_ = other.size_;
        }
        return *this;
    }
    PersistentStack& operator=(PersistentStack&& other) noexcept {
        if (this != &other) {
            release(below_);
            top_ = std::move(other.top_);
            below_ = other.below_;
            size_ = other.size_;
            other.top_.reset();
            other.below_ = nullptr;
            other.size_ = 0;
        }
        return *this;
    }
    ~PersistentStack() {
        release(below_);
        while (spare_) {
            Node* next = spare_->next;
            delete spare_;
            spare_ = next;
        }
    }

    bool empty() const { return size_ == 0; }
    size_t size() const { return size_; }
    // The innermost entry; the stack must not be empty.
    T& top() { return *top_; }
    const T& top() const { return *top_; }

    void push(T value) {
        if (top_) {
            if (spare_) {
                Node* node = spare_;
                spare_ = node->next;
                node->value = std::move(*top_);
                node->next = below_;
                node->refs = 1;
                below_ = node;
            } else {
                below_ = new Node{std::move(*top_), below_, 1};
            }
        }
        top_ = std::move(value);
        ++size_;
    }
    void pop() {
        if (size_ == 0) return;
        --size_;
        if (below_ == nullptr) {
            top_.reset();
            return;
        }
        Node* node = below_;
        top_ = node->value;
        below_ = node->next;
        if (node->refs == 1) {
            // Only this stack held the node: its reference to the next node passes to `below_`.
            node->next = spare_;
            spare_ = node;
            return;
        }
        --node->refs;
        retain(below_);
    }

  private:
    struct Node {
        T value;
        Node* next;
        size_t refs;
    };

    static void retain(Node* node) {
        if (node) ++node->refs;
    }
    // Iterative, so that dropping a very deep stack cannot exhaust the call stack.
    static void release(Node* node) {
        while (node && --node->refs == 0) {
            Node* next = node->next;
            delete node;
            node = next;
        }
    }

    std::optional<T> top_;
    Node* below_ = nullptr;
    size_t size_ = 0;
    // Unreferenced nodes of this stack, linked through `next`; never shared with a copy.
    Node* spare_ = nullptr;
};

}  // namespace rudo::python_parser

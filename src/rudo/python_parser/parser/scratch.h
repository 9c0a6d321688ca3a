// Lists under construction: gathered on a stack the parser reuses, then copied into the tree's
// arena once, at their final length, so a list that grows leaves no outgrown buffers behind.
#pragma once

#include <cstddef>
#include <memory>
#include <new>
#include <tuple>
#include <utility>
#include <vector>

#include "base/panic.h"
#include "base/pause_point.h"
#include "base/sanitizer.h"
#include "rudo/python_ast/nodes.h"

namespace rudo::python_parser {

// A stack of elements in fixed chunks of the heap: pushing never moves an element, so a
// reference to one stays valid while lists nested inside it are gathered above it. The chunks
// are kept for the next list. Slots above the top are poisoned in sanitizer builds, so a
// reference kept past its list's end is caught.
template <typename T>
class ScratchStack {
  public:
    static constexpr size_t CHUNK_SHIFT = sizeof(T) <= 64 ? 6 : 5;
    static constexpr size_t CHUNK = size_t{1} << CHUNK_SHIFT;

    ScratchStack() = default;
    ScratchStack(const ScratchStack&) = delete;
    ScratchStack& operator=(const ScratchStack&) = delete;
    ~ScratchStack() {
        truncate(0);
        for (T* chunk : chunks_) {
#if QUARN_ASAN
            ASAN_UNPOISON_MEMORY_REGION(chunk, CHUNK * sizeof(T));
#endif
            ::operator delete(chunk, CHUNK * sizeof(T), std::align_val_t(alignof(T)));
        }
    }

    size_t size() const noexcept {
        return size_;
    }
    T& at(size_t i) noexcept {
        return chunks_[i >> CHUNK_SHIFT][i & (CHUNK - 1)];
    }

    template <typename... A>
    T& emplace(A&&... args) {
        if (size_ == chunks_.size() * CHUNK) add_chunk();
        T* slot = &chunks_[size_ >> CHUNK_SHIFT][size_ & (CHUNK - 1)];
#if QUARN_ASAN
        ASAN_UNPOISON_MEMORY_REGION(slot, sizeof(T));
#endif
        T* element = ::new (slot) T(std::forward<A>(args)...);
        ++size_;
        return *element;
    }

    // Gives back the slots from index `n` up, whose elements were moved from and hold nothing
    // (python_ast::empty_after_move), without running their destructors.
    void forget_moved_from(size_t n) noexcept {
        static_assert(python_ast::empty_after_move<T>);
#ifdef RUDO_SCRATCH_POISON
        truncate(n);
#else
        if (n < size_) size_ = n;
#endif
    }

    // Destroys every element from index `n` up.
    void truncate(size_t n) noexcept {
        while (size_ > n) {
            T* slot = &at(--size_);
            slot->~T();
#if QUARN_ASAN
            ASAN_POISON_MEMORY_REGION(slot, sizeof(T));
#endif
        }
    }

  private:
    [[gnu::noinline]] void add_chunk() {
        // Room for the pointer first, so that a chunk is never allocated and then lost; the
        // pointer list grows geometrically as any vector would.
        if (chunks_.size() == chunks_.capacity()) chunks_.reserve(2 * chunks_.size() + 8);
        auto* chunk =
            static_cast<T*>(::operator new(CHUNK * sizeof(T), std::align_val_t(alignof(T))));
#if QUARN_ASAN
        ASAN_POISON_MEMORY_REGION(chunk, CHUNK * sizeof(T));
#endif
        chunks_.push_back(chunk);
    }

    std::vector<T*> chunks_;
    size_t size_ = 0;
};

// The parser's stacks, one per element type of the lists it builds.
template <typename... Ts>
class ScratchStacks {
  public:
    template <typename T>
    ScratchStack<T>& of() noexcept {
        return std::get<ScratchStack<T>>(stacks_);
    }

  private:
    std::tuple<ScratchStack<Ts>...> stacks_;
};

using ParserScratch =
    ScratchStacks<python_ast::Stmt, python_ast::Expr, python_ast::Keyword, python_ast::DictItem,
                  python_ast::Comprehension, python_ast::Alias, python_ast::WithItem,
                  python_ast::Identifier, python_ast::Decorator, python_ast::ElifElseClause,
                  python_ast::ExceptHandler, python_ast::MatchCase, python_ast::Pattern,
                  python_ast::TypeParam, python_ast::CmpOp, python_ast::StringLiteral,
                  python_ast::BytesLiteral, python_ast::TString, python_ast::FStringPart,
                  python_ast::InterpolatedStringElement, python_ast::ParameterWithDefault,
                  python_ast::PatternKeyword>;

// One list being gathered on top of its stack. Builders of one element type nest strictly:
// while a list nested in an element is gathered, the outer builder does not push.
template <typename T>
class ListBuilder {
  public:
    explicit ListBuilder(ScratchStack<T>& stack) noexcept : stack_(&stack), start_(stack.size()) {}
    ListBuilder(const ListBuilder&) = delete;
    ListBuilder& operator=(const ListBuilder&) = delete;
    ~ListBuilder() { stack_->truncate(start_); }

    size_t size() const noexcept { return stack_->size() - start_; }
    bool empty() const noexcept { return stack_->size() == start_; }
    T& operator[](size_t i) noexcept { return stack_->at(start_ + i); }
    T& back() noexcept { return stack_->at(stack_->size() - 1); }

    void push_back(T&& value) { emplace_back(std::move(value)); }
    void push_back(const T& value) { emplace_back(value); }
    template <typename... A>
    T& emplace_back(A&&... args) {
        if (stack_->size() != start_ + count_) [[unlikely]]
            misnested();
        T& element = stack_->emplace(std::forward<A>(args)...);
        ++count_;
        return element;
    }
    void pop_back() noexcept {
        stack_->truncate(stack_->size() - 1);
        --count_;
    }

    // The gathered elements as a list of exactly their number; the builder is empty after.
    python_ast::List<T> take() {
        python_ast::List<T> list;
        list.reserve(count_);
        for (size_t i = 0; i < count_; ++i) {
            // A module's statements may be hundreds of thousands: the move may be held still.
            if (i % 1024 == 0) quarn::pause_point();
            list.push_back(std::move((*this)[i]));
        }
        clear_moved_from();
        return list;
    }
    python_ast::Seq<T> take_seq() {
        python_ast::Seq<T> seq(count_, [&](size_t i) -> T&& { return std::move((*this)[i]); });
        clear_moved_from();
        return seq;
    }
    void clear() noexcept {
        stack_->truncate(start_);
        count_ = 0;
    }

  private:
    // After every element was moved out.
    void clear_moved_from() noexcept {
        if constexpr (python_ast::empty_after_move<T>) {
            stack_->forget_moved_from(start_);
            count_ = 0;
        } else {
            clear();
        }
    }
    [[noreturn, gnu::cold]] static void misnested() {
        quarn::assertion_failed("a list builder pushed while a nested one was open");
    }

    ScratchStack<T>* stack_;
    size_t start_;
    size_t count_ = 0;
};

}  // namespace rudo::python_parser

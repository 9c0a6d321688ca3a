// A list of errors in recording order, kept as runs: consecutive errors that differ only by a
// constant step of their ranges (the same error at each of a million `$`) share one entry.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "rudo/text_size/text_size.h"

namespace rudo::python_parser {

// `T` has `error` (with ==) and `location` (a TextRange).
template <typename T>
class ErrorRuns {
  private:
    struct Run {
        T first;
        uint32_t count;
        // Offset from one error's start to the next one's; 0 while the run has one error.
        text_size::TextSize step;

        T at(uint32_t i) const {
            T error = first;
            const text_size::TextSize shift = i * step;
            error.location = text_size::TextRange(first.location.start() + shift,
                                                  first.location.end() + shift);
            return error;
        }
        bool extend(const T& next) {
            if (count == UINT32_MAX) return false;
            if (next.location.len() != first.location.len()) return false;
            const text_size::TextSize last = first.location.start() + (count - 1) * step;
            if (next.location.start() <= last) return false;
            const text_size::TextSize gap = next.location.start() - last;
            if (count > 1 && gap != step) return false;
            if (!(next.error == first.error)) return false;
            step = gap;
            ++count;
            return true;
        }
    };

  public:
    bool empty() const { return size_ == 0; }
    size_t size() const { return size_; }

    void push_back(T&& error) {
        ++size_;
        if (!runs_.empty() && runs_.back().extend(error)) return;
        runs_.push_back(Run{std::move(error), 1, 0});
    }
    void push_back(const T& error) { push_back(T(error)); }
    // The last error; the list must not be empty.
    T back() const { return runs_.back().at(runs_.back().count - 1); }
    // Where the last error starts, without copying it.
    text_size::TextSize back_start() const {
        const Run& run = runs_.back();
        return run.first.location.start() + (run.count - 1) * run.step;
    }
    void pop_back() { truncate(size_ - 1); }
    // Drops the errors from the `n`-th on.
    void truncate(size_t n) {
        while (size_ > n) {
            Run& run = runs_.back();
            const size_t drop = size_ - n < run.count ? size_ - n : run.count;
            run.count -= static_cast<uint32_t>(drop);
            size_ -= drop;
            if (run.count == 0) runs_.pop_back();
            if (!runs_.empty() && runs_.back().count == 1) runs_.back().step = 0;
        }
    }

    // Visits the errors in order.
    class Reader {
      public:
        explicit Reader(const ErrorRuns& list) : runs_(list.runs_) {}
        bool done() const { return run_ == runs_.size(); }
        T current() const { return runs_[run_].at(index_); }
        text_size::TextSize current_start() const {
            const Run& run = runs_[run_];
            return run.first.location.start() + index_ * run.step;
        }
        void advance() {
            if (++index_ == runs_[run_].count) {
                ++run_;
                index_ = 0;
            }
        }

      private:
        const std::vector<Run>& runs_;
        size_t run_ = 0;
        uint32_t index_ = 0;
    };

    std::vector<T> to_vector() const {
        std::vector<T> out;
        out.reserve(size_);
        for (Reader reader(*this); !reader.done(); reader.advance())
            out.push_back(reader.current());
        return out;
    }

    std::vector<Run> runs_;
    size_t size_ = 0;
};

}  // namespace rudo::python_parser

// Locks that remember a holder that failed.
//
// A guard dropped while a Panic unwinds marks its lock poisoned, for good: the value it guards
// may be half-updated, so later holders are told instead of trusting it. Shared holders only read
// and never poison.
#pragma once

#include <atomic>
#include <exception>
#include <mutex>
#include <shared_mutex>
#include <utility>

namespace quarn::ast {

namespace detail {

// Sets `flag` when destroyed by an exception that was thrown after construction.
class PoisonOnUnwind {
  public:
    explicit PoisonOnUnwind(std::atomic<bool>& flag)
        : flag_(&flag), exceptions_(std::uncaught_exceptions()) {}
    PoisonOnUnwind(PoisonOnUnwind&& other) noexcept
        : flag_(std::exchange(other.flag_, nullptr)), exceptions_(other.exceptions_) {}
    PoisonOnUnwind& operator=(PoisonOnUnwind&&) = delete;
    ~PoisonOnUnwind() {
        if (flag_ && std::uncaught_exceptions() > exceptions_) {
            flag_->store(true, std::memory_order_release);
        }
    }

  private:
    std::atomic<bool>* flag_;
    int exceptions_;
};

}  // namespace detail

// A value behind a mutex.
template <typename T>
class Mutex {
  public:
    class Guard {
      public:
        T& operator*() const { return *value_; }
        T* operator->() const { return value_; }
        // An earlier holder failed while holding the lock.
        bool poisoned() const { return poisoned_; }

      private:
        friend class Mutex;
        Guard(Mutex& mutex)
            : lock_(mutex.mutex_),
              poison_(mutex.poisoned_),
              value_(&mutex.value_),
              poisoned_(mutex.poisoned_.load(std::memory_order_acquire)) {}
        // Declared before `poison_`, so the flag is set before the lock is released.
        std::unique_lock<std::mutex> lock_;
        detail::PoisonOnUnwind poison_;
        T* value_;
        bool poisoned_;
    };

    Mutex() = default;
    explicit Mutex(T value) : value_(std::move(value)) {}
    Mutex(const Mutex&) = delete;
    Mutex& operator=(const Mutex&) = delete;

    // Waits for the lock; check `poisoned()` before using the value.
    Guard lock() { return Guard(*this); }
    bool is_poisoned() const { return poisoned_.load(std::memory_order_acquire); }

  private:
    std::mutex mutex_;
    std::atomic<bool> poisoned_{false};
    T value_{};
};

// A value behind a reader/writer lock.
template <typename T>
class RwLock {
  public:
    class ReadGuard {
      public:
        const T& operator*() const { return *value_; }
        const T* operator->() const { return value_; }
        bool poisoned() const { return poisoned_; }

      private:
        friend class RwLock;
        ReadGuard(RwLock& lock)
            : lock_(lock.mutex_),
              value_(&lock.value_),
              poisoned_(lock.poisoned_.load(std::memory_order_acquire)) {}
        std::shared_lock<std::shared_mutex> lock_;
        const T* value_;
        bool poisoned_;
    };

    class WriteGuard {
      public:
        T& operator*() const { return *value_; }
        T* operator->() const { return value_; }
        bool poisoned() const { return poisoned_; }

      private:
        friend class RwLock;
        WriteGuard(RwLock& lock)
            : lock_(lock.mutex_),
              poison_(lock.poisoned_),
              value_(&lock.value_),
              poisoned_(lock.poisoned_.load(std::memory_order_acquire)) {}
        std::unique_lock<std::shared_mutex> lock_;
        detail::PoisonOnUnwind poison_;
        T* value_;
        bool poisoned_;
    };

    RwLock() = default;
    explicit RwLock(T value) : value_(std::move(value)) {}
    RwLock(const RwLock&) = delete;
    RwLock& operator=(const RwLock&) = delete;

    ReadGuard read() { return ReadGuard(*this); }
    WriteGuard write() { return WriteGuard(*this); }
    bool is_poisoned() const { return poisoned_.load(std::memory_order_acquire); }

  private:
    std::shared_mutex mutex_;
    std::atomic<bool> poisoned_{false};
    T value_{};
};

}  // namespace quarn::ast

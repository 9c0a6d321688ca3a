// Places where a long computation may be held still from outside.
//
// A host that must sometimes stop its computing threads for a moment (to copy the process, say)
// raises `pause_wanted` and installs a pause; long loops call pause_point() where they hold no
// lock and no half-made shared state. The check is one relaxed load while nobody asks.
#pragma once

#include <atomic>

namespace quarn {

// How a computation that moves to a helper thread for a while hands its place in the pause over:
// `lend` in the waiting thread before the helper starts (true when it had a place to lend),
// `take_back` once the helper has ended, `begin` and `end` in the helper around the work.
struct PauseHandOffHooks {
    bool (*lend)();
    void (*take_back)();
    void (*begin)();
    void (*end)();
};

namespace detail {
inline constinit std::atomic<bool> pause_wanted{false};
inline constinit std::atomic<void (*)()> pause{nullptr};
inline constinit std::atomic<const PauseHandOffHooks*> hand_off{nullptr};
void run_pause();
}  // namespace detail

inline void pause_point() {
    if (detail::pause_wanted.load(std::memory_order_relaxed)) [[unlikely]] {
        detail::run_pause();
    }
}

// The pause that pause_point() runs while a pause is wanted; set once, before anyone asks.
inline void set_pause(void (*pause)()) {
    detail::pause.store(pause, std::memory_order_release);
}
inline void set_pause_hand_off(const PauseHandOffHooks* hooks) {
    detail::hand_off.store(hooks, std::memory_order_release);
}
inline void want_pause(bool wanted) {
    detail::pause_wanted.store(wanted, std::memory_order_seq_cst);
}

// Made by a thread that hands its computation to a helper thread and waits for it: while the
// helper runs, the waiting thread is out of the pause's way (it holds nothing) and the helper,
// between `HelperScope`'s ends, takes its place.
class PauseHandOff {
  public:
    PauseHandOff() noexcept : hooks_(detail::hand_off.load(std::memory_order_acquire)) {
        lent_ = hooks_ != nullptr && hooks_->lend();
    }
    ~PauseHandOff() {
        if (lent_) hooks_->take_back();
    }
    PauseHandOff(const PauseHandOff&) = delete;
    PauseHandOff& operator=(const PauseHandOff&) = delete;

    class HelperScope {
      public:
        explicit HelperScope(const PauseHandOff& from) noexcept : from_(from) {
            if (from_.lent_) from_.hooks_->begin();
        }
        ~HelperScope() {
            if (from_.lent_) from_.hooks_->end();
        }
        HelperScope(const HelperScope&) = delete;
        HelperScope& operator=(const HelperScope&) = delete;

      private:
        const PauseHandOff& from_;
    };

  private:
    const PauseHandOffHooks* hooks_;
    bool lent_ = false;
};

}  // namespace quarn

// Places where a long computation may be held still from outside.
//
// A host that must sometimes stop its computing threads for a moment (to copy the process, say)
// raises `pause_wanted` and installs a pause; long loops call pause_point() where they hold no
// lock and no half-made shared state. The check is one relaxed load while nobody asks.
#pragma once

#include <atomic>

namespace quarn {

namespace detail {
inline constinit std::atomic<bool> pause_wanted{false};
inline constinit std::atomic<void (*)()> pause{nullptr};
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
inline void want_pause(bool wanted) {
    detail::pause_wanted.store(wanted, std::memory_order_seq_cst);
}

}  // namespace quarn

#include "quarn/ast/fork_gate.h"

#include <pthread.h>

#include <atomic>
#include <mutex>

#include "base/panic.h"
#include "base/pause_point.h"

namespace quarn::ast::fork_gate {
namespace {

// Plain atomics waited on through the kernel: a child inherits values, never a held lock.
// Forks being prepared, enlisted threads not parked, and the fork generation.
constinit std::atomic<uint32_t> forking{0};
constinit std::atomic<uint32_t> active{0};
constinit std::atomic<uint32_t> fork_generation{0};

constinit thread_local uint32_t depth = 0;
constinit thread_local bool parked = false;

void (*before_hook)() = nullptr;
void (*child_hook)() = nullptr;

void wait_until_open() {
    for (uint32_t now = forking.load(); now != 0; now = forking.load())
        forking.wait(now);
}

void leave() {
    // The fork being prepared waits for the last one out.
    if (active.fetch_sub(1) == 1 && forking.load() != 0) active.notify_all();
}

void enter() {
    for (;;) {
        active.fetch_add(1);
        // Sequentially consistent with the preparing thread's two steps: either it sees this
        // thread counted, or this thread sees the gate closing.
        if (forking.load() == 0) return;
        leave();
        wait_until_open();
    }
}

// The calling thread's own share of `active`, should it fork from inside the core.
uint32_t own_share() {
    return depth > 0 && !parked ? 1 : 0;
}

void prepare() {
    forking.fetch_add(1);
    want_pause(true);
    const uint32_t own = own_share();
    for (uint32_t now = active.load(); now != own; now = active.load())
        active.wait(now);
    if (before_hook) before_hook();
}

void in_parent() {
    if (forking.fetch_sub(1) == 1) want_pause(false);
    forking.notify_all();
}

void in_child() {
    // Only the forking thread exists here.
    active.store(own_share());
    forking.store(0);
    want_pause(false);
    fork_generation.fetch_add(1);
    if (child_hook) child_hook();
}

// A thread that waits for a helper doing its work lends its place to the helper.
bool lend() {
    if (depth == 0 || parked) return false;
    parked = true;
    leave();
    return true;
}

void take_back() {
    enter();
    parked = false;
}

void helper_begin() {
    ++depth;
    enter();
}

void helper_end() {
    --depth;
    leave();
}

constexpr PauseHandOffHooks kHandOff{&lend, &take_back, &helper_begin, &helper_end};

}  // namespace

void install(void (*before_fork)(), void (*in_child_hook)()) {
    static std::once_flag once;
    std::call_once(once, [before_fork, in_child_hook] {
        before_hook = before_fork;
        child_hook = in_child_hook;
        set_pause(&checkpoint);
        set_pause_hand_off(&kHandOff);
        if (pthread_atfork(&prepare, &in_parent, &in_child) != 0)
            panic("failed to register the fork handlers");
    });
}

uint32_t generation() {
    return fork_generation.load(std::memory_order_acquire);
}

Enlisted::Enlisted() {
    if (depth++ == 0) enter();
}

Enlisted::~Enlisted() {
    if (--depth == 0) leave();
}

void checkpoint() {
    if (forking.load() == 0 || depth == 0 || parked) return;
    leave();
    wait_until_open();
    enter();
}

Parked::Parked() : leaving_(depth > 0 && !parked) {
    if (!leaving_) return;
    parked = true;
    leave();
}

Parked::~Parked() {
    if (!leaving_) return;
    enter();
    parked = false;
}

}  // namespace quarn::ast::fork_gate

#include "quarn/ast/fork_gate.h"

#include <pthread.h>

#include <atomic>
#include <condition_variable>
#include <mutex>

#include "base/panic.h"

namespace quarn::ast::fork_gate {

struct Gate {
    std::mutex mutex;
    std::condition_variable changed;
    size_t inside = 0;
    bool forking = false;
};

namespace {

// Never destroyed. A child replaces its copy instead: the copy is locked by the forking thread
// and may be waited on by threads that exist only in the parent.
std::atomic<Gate*>& slot() {
    static std::atomic<Gate*> gate{new Gate};
    return gate;
}

Gate* current() {
    return slot().load(std::memory_order_acquire);
}

void (*child_hook)() = nullptr;

void prepare() {
    Gate& gate = *current();
    std::unique_lock lock(gate.mutex);
    gate.forking = true;
    gate.changed.wait(lock, [&] { return gate.inside == 0; });
    // Held across the fork, so that no pass is taken while the process is copied.
    lock.release();
}

void in_parent() {
    Gate& gate = *current();
    gate.forking = false;
    gate.mutex.unlock();
    gate.changed.notify_all();
}

void in_child() {
    slot().store(new Gate, std::memory_order_release);
    if (child_hook) child_hook();
}

}  // namespace

void install(void (*hook)()) {
    static std::once_flag once;
    std::call_once(once, [hook] {
        (void)current();
        child_hook = hook;
        if (pthread_atfork(&prepare, &in_parent, &in_child) != 0)
            panic("failed to register the fork handlers");
    });
}

Pass::Pass() : gate_(current()) {
    std::unique_lock lock(gate_->mutex);
    gate_->changed.wait(lock, [&] { return !gate_->forking; });
    ++gate_->inside;
}

Pass::~Pass() {
    const std::lock_guard lock(gate_->mutex);
    if (--gate_->inside == 0) gate_->changed.notify_all();
}

}  // namespace quarn::ast::fork_gate

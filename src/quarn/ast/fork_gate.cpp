#include "quarn/ast/fork_gate.h"

#include <pthread.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <utility>

#include "base/panic.h"

namespace quarn::ast::fork_gate {

struct Gate {
    std::mutex mutex;
    std::condition_variable changed;
    // Workers enlisted and not yet ended, and those of them waiting at a checkpoint.
    size_t workers = 0;
    size_t parked = 0;
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

void (*before_hook)() = nullptr;
void (*child_hook)() = nullptr;

void prepare() {
    Gate& gate = *current();
    std::unique_lock lock(gate.mutex);
    gate.forking = true;
    gate.changed.wait(lock, [&] { return gate.parked == gate.workers; });
    if (before_hook) before_hook();
    // Held across the fork, so that no worker moves while the process is copied.
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

void install(void (*before_fork)(), void (*in_child_hook)()) {
    static std::once_flag once;
    std::call_once(once, [before_fork, in_child_hook] {
        (void)current();
        before_hook = before_fork;
        child_hook = in_child_hook;
        if (pthread_atfork(&prepare, &in_parent, &in_child) != 0)
            panic("failed to register the fork handlers");
    });
}

Worker::Worker() : gate_(current()) {
    const std::lock_guard lock(gate_->mutex);
    ++gate_->workers;
}

Worker::Worker(Worker&& other) noexcept : gate_(std::exchange(other.gate_, nullptr)) {}

Worker::~Worker() {
    if (!gate_) return;
    const std::lock_guard lock(gate_->mutex);
    --gate_->workers;
    gate_->changed.notify_all();
}

void Worker::checkpoint() {
    std::unique_lock lock(gate_->mutex);
    if (!gate_->forking) return;
    ++gate_->parked;
    gate_->changed.notify_all();
    gate_->changed.wait(lock, [&] { return !gate_->forking; });
    --gate_->parked;
}

}  // namespace quarn::ast::fork_gate

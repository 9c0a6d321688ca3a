// Holds the background workers still while the process forks. A fork copies every lock as it
// stands and none of the other threads: a lock a worker held (an entry's, or the allocator's)
// would stay held for good in the child, and the parent's workers would be counted and joined
// there though they do not exist.
#pragma once

#include <cstddef>

namespace quarn::ast::fork_gate {

// Registers the fork handlers, once per process. Before a fork the gate closes and waits until
// every enlisted worker waits at a checkpoint, then runs `before_fork` (which may join threads
// that have left the gate); after it the parent reopens the gate, and the child gets an open gate
// of its own and runs `in_child` to drop the bookkeeping of the workers it does not have.
void install(void (*before_fork)(), void (*in_child)());

struct Gate;

// One worker's place in the gate: enlisted by the thread that starts the worker, before the
// thread exists, and held by the worker until the end of its own code.
class Worker {
  public:
    Worker();
    ~Worker();
    Worker(Worker&& other) noexcept;
    Worker& operator=(Worker&&) = delete;

    // Between two units of work: waits here while a fork is being prepared.
    void checkpoint();

  private:
    Gate* gate_;
};

}  // namespace quarn::ast::fork_gate

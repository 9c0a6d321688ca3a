// Holds the threads that work inside the core still while the process forks. A fork copies every
// lock as it stands and none of the other threads: a lock a worker held (an entry's, a pattern's,
// the allocator's) would stay held for good in the child.
//
// A thread takes part while it is enlisted. Before a fork the gate closes and waits until every
// enlisted thread is parked, at a checkpoint or in a wait; the workers inside a parse reach one
// within a few tokens. Nothing here takes a lock, so the child starts with an open gate and no
// enlisted thread, and the computations the missing threads had begun are known by their fork
// generation.
#pragma once

#include <cstdint>

namespace quarn::ast::fork_gate {

// Registers the fork handlers and the parser's pause, once per process. `before_fork` runs once
// every enlisted thread is parked (it may join threads that have left the gate); `in_child` runs
// in the child to drop the bookkeeping of the threads it does not have.
void install(void (*before_fork)(), void (*in_child)());

// Changes in every child of a fork: work begun under an older generation has no thread here.
uint32_t generation();

// The calling thread takes part while this lives. Nested uses count once.
class Enlisted {
  public:
    Enlisted();
    ~Enlisted();
    Enlisted(const Enlisted&) = delete;
    Enlisted& operator=(const Enlisted&) = delete;
};

// Between two units of work, holding nothing: waits here while a fork is being prepared. Does
// nothing on a thread that is not enlisted.
void checkpoint();

// While this lives the thread holds nothing (it waits for another thread), so a fork may go
// ahead; leaving waits until the gate is open again.
class Parked {
  public:
    Parked();
    ~Parked();
    Parked(const Parked&) = delete;
    Parked& operator=(const Parked&) = delete;

  private:
    bool leaving_;
};

}  // namespace quarn::ast::fork_gate

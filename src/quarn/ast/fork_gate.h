// Keeps the background workers out of their work while the process forks. A fork copies every
// lock as it stands and none of the other threads: a lock a worker held would stay held for good
// in the child, and the parent's workers would be counted and joined there though they do not
// exist.
#pragma once

#include <cstddef>

namespace quarn::ast::fork_gate {

// Registers the fork handlers, once per process. Before a fork the gate closes and waits until
// no worker holds a pass; after it the parent reopens the gate, and the child gets an open gate
// of its own and runs `in_child` to drop the bookkeeping of the workers it does not have.
void install(void (*in_child)());

struct Gate;

// A worker's pass for one unit of work (one file): waits while a fork is being prepared.
class Pass {
  public:
    Pass();
    ~Pass();
    Pass(const Pass&) = delete;
    Pass& operator=(const Pass&) = delete;

  private:
    Gate* gate_;
};

}  // namespace quarn::ast::fork_gate

// The warm-up threads of the project index: workers that fill an index's caches ahead of the
// lookups, stopped before the process tears down its statics and held still across a fork.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

namespace quarn::ast {

struct AstProjectIndexInner;

// Builds what the core makes once per process on first use (compiled patterns, Unicode data)
// and registers the fork handlers: run before any thread of the caller can fork, so that no
// child ever inherits a one-time initialisation in progress. Later calls do nothing.
void prepare_process();

// Stops the warm-up threads before the process tears down its statics: no new file is started,
// and the call returns once the files being processed are done. Registered with the C runtime's
// exit handlers when the first warm-up starts.
void stop_warm_up_threads();

namespace warm_up {
// Starts `workers` threads (at least one) over `files`: worker i builds the records of every
// position k with k % workers == i, and discards them. A worker stops early once `users` has
// expired or `inner` is gone, or when the process exits. A thread that cannot be made is an
// internal failure ("failed to spawn thread: ..."); the ones started before keep running.
void start(const std::shared_ptr<const std::vector<std::string>>& files,
           const std::weak_ptr<AstProjectIndexInner>& inner, const std::weak_ptr<const void>& users,
           size_t workers);
}  // namespace warm_up

namespace detail {
// The processors this process may run on, at least 1.
size_t available_parallelism();
// Waits until every warm-up thread of the process has ended; for tests and benchmarks.
void wait_for_warm_up_threads();
}  // namespace detail

}  // namespace quarn::ast

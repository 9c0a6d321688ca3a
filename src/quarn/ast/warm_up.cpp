#include "quarn/ast/warm_up.h"

#include <sched.h>

#ifdef __GLIBC__
#include <malloc.h>
#endif

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <mutex>
#include <system_error>
#include <thread>

#include <fmt/format.h>

#include "base/panic.h"
#include "base/sanitizer.h"
#include "quarn/ast/fork_gate.h"
#include "quarn/ast/project_index.h"
#include "quarn/utils/namespace.h"
#include "rudo/python_parser/parser/parse.h"

// glibc's heap is given back after a warm-up. Not in sanitizer builds, whose allocator is not
// glibc's: there the first trim, in a worker, is what sets glibc's heap up, and glibc's count of
// the threads on its main heap comes out wrong (it aborts on a malloc assertion as threads end).
#if defined(__GLIBC__) && !QUARN_SANITIZED
#define QUARN_TRIM_HEAP 1
#else
#define QUARN_TRIM_HEAP 0
#endif

namespace quarn::ast {
namespace {

// The workers of the process. Nobody waits for a worker, yet each is joined once it has ended
// (when the next warm-up starts, before a fork, or at exit): a thread's own storage is then
// released after it, never beside it. Never destroyed: workers may still read it while the
// process tears down.
struct WarmUpRegistry {
    std::mutex mutex;
    // Told when the last worker has ended.
    std::condition_variable idle;
    // Workers not yet ended: the one count exit and the tests wait on.
    size_t live = 0;
    // Set at exit: a worker starts no further file. Read between every two files without the
    // lock, which the workers would otherwise all take once per file.
    std::atomic<bool> stopping{false};
    uint64_t next_id = 0;
    std::map<uint64_t, std::thread> running;
    std::vector<std::thread> ended;
};

// Replaced only in the child of a fork, where no other thread runs; atomic all the same, since
// the parent's workers read it up to the fork.
std::atomic<WarmUpRegistry*>& registry_slot() {
    static std::atomic<WarmUpRegistry*> instance{new WarmUpRegistry};
    return instance;
}

WarmUpRegistry& registry() {
    return *registry_slot().load(std::memory_order_acquire);
}

// In the child of a fork: the parent's workers do not exist here, so they are neither waited for
// nor joined. Their registry is left as it is (its threads must not be touched) for a new one.
void forget_workers_after_fork() {
    registry_slot().store(new WarmUpRegistry, std::memory_order_release);
}

bool stopping() {
    return registry().stopping.load(std::memory_order_acquire);
}

void end_worker(uint64_t id) {
    WarmUpRegistry& r = registry();
    const std::lock_guard lock(r.mutex);
    if (auto found = r.running.find(id); found != r.running.end()) {
        r.ended.push_back(std::move(found->second));
        r.running.erase(found);
    }
    if (--r.live == 0) r.idle.notify_all();
}

// Joins the threads that have ended; they finish at once.
void join_ended() {
    std::vector<std::thread> ended;
    {
        WarmUpRegistry& r = registry();
        const std::lock_guard lock(r.mutex);
        ended.swap(r.ended);
    }
    for (std::thread& thread : ended) {
        if (thread.joinable() && thread.get_id() != std::this_thread::get_id()) thread.join();
    }
}

void wait_until_idle() {
    {
        WarmUpRegistry& r = registry();
        std::unique_lock lock(r.mutex);
        r.idle.wait(lock, [&] { return r.live == 0; });
    }
    join_ended();
}

void warm_up_files(const std::vector<std::string>& files,
                   const std::weak_ptr<AstProjectIndexInner>& weak_inner,
                   const std::weak_ptr<const void>& users, size_t workers, size_t worker) {
    for (size_t k = worker; k < files.size(); k += workers) {
        // Files in progress pause inside their parse instead.
        fork_gate::checkpoint();
        // Once every handle on the index is gone, the worker stops instead of parsing the rest
        // of the project; the other workers' own handles do not count.
        if (users.expired() || stopping()) return;
        // A handle only while a file is processed.
        const std::shared_ptr<AstProjectIndexInner> inner = weak_inner.lock();
        if (!inner) return;
        try {
            // The records, or the file's failure text, stay in its entry for the lookups.
            (void)inner->records(files[k]);
        } catch (...) {
            // Only the lookups answer for a file: a panic stays with it (its entry is poisoned),
            // a failure of the moment leaves it to a later lookup, and the next file is
            // unaffected.
        }
    }
}

// The workers of one warm-up that have not finished their files yet.
using Remaining = std::shared_ptr<std::atomic<size_t>>;

void run_worker(uint64_t id, std::shared_ptr<const std::vector<std::string>> files,
                std::weak_ptr<AstProjectIndexInner> weak_inner, std::weak_ptr<const void> users,
                Remaining remaining, size_t workers, size_t worker) {
    // Left after the worker has recorded its end.
    const fork_gate::Enlisted enlisted;
    try {
        warm_up_files(*files, weak_inner, users, workers, worker);
        files.reset();
        weak_inner.reset();
    } catch (...) {
        // Nobody waits for a worker's outcome, and nothing may reach std::terminate from it.
    }
    // The last worker of the warm-up gives the heap back, once: a trim walks every thread's
    // heap, and one made while other workers still parse would hand back pages they fault in
    // again at once.
    const bool last = remaining->fetch_sub(1, std::memory_order_acq_rel) == 1;
#if QUARN_TRIM_HEAP
    // The trees and texts the parses dropped lie free in the workers' heaps, between what the
    // index keeps: given back, a warm-up keeps about what the same lookups on one thread do.
    if (last && !stopping()) malloc_trim(0);
#else
    (void)last;
#endif
    end_worker(id);
}

// The statics a worker touches are built before the exit handler is registered, so the handler
// runs before any of them is destroyed.
void register_exit_handler() {
    static std::once_flag once;
    std::call_once(once, [] {
        prepare_process();
        std::atexit(stop_warm_up_threads);
    });
}

}  // namespace

void prepare_process() {
    static std::once_flag once;
    std::call_once(once, [] {
        // Called only to build it before the exit handler is registered, so that it outlives it.
        (void)registry();
        quarn::utils::prepare_patterns();
        rudo::python_parser::prepare_unicode_data();
        // Before a fork, workers that have ended are joined: a thread's teardown may hold the
        // allocator's locks.
        fork_gate::install(&join_ended, &forget_workers_after_fork);
    });
}

void stop_warm_up_threads() {
    {
        WarmUpRegistry& r = registry();
        const std::lock_guard lock(r.mutex);
        r.stopping.store(true, std::memory_order_release);
    }
    // Workers between two files see the flag and end at once; the others finish their file.
    wait_until_idle();
}

void warm_up::start(const std::shared_ptr<const std::vector<std::string>>& files,
                    const std::weak_ptr<AstProjectIndexInner>& inner,
                    const std::weak_ptr<const void>& users, size_t workers) {
    register_exit_handler();
    join_ended();
    WarmUpRegistry& r = registry();
    const Remaining remaining = std::make_shared<std::atomic<size_t>>(workers);
    for (size_t i = 0; i < workers; ++i) {
        // The registry lock is held until the thread is recorded, so that it cannot end first.
        const std::lock_guard lock(r.mutex);
        const uint64_t id = r.next_id++;
        try {
            r.running.emplace(
                id, std::thread(run_worker, id, files, inner, users, remaining, workers, i));
        } catch (const std::system_error& error) {
            // The workers never started do not count; the heap then stays as the others leave it.
            remaining->fetch_sub(workers - i, std::memory_order_acq_rel);
            panic(fmt::format("failed to spawn thread: {}", error.what()));
        }
        ++r.live;
    }
}

namespace detail {
void wait_for_warm_up_threads() {
    wait_until_idle();
}

size_t available_parallelism() {
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof set, &set) == 0) {
        const int count = CPU_COUNT(&set);
        if (count > 0) return static_cast<size_t>(count);
    }
    const unsigned hardware = std::thread::hardware_concurrency();
    return hardware > 0 ? hardware : 1;
}
}  // namespace detail

}  // namespace quarn::ast

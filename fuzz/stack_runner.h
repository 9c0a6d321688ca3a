// Runs each fuzz input on one long-lived thread with a big stack. Sanitized parser frames need
// more stack than the main thread has, and a fresh big-stack thread per input costs several
// times the parse of a small input (thread start, a stack mapping too big for the thread cache).
#pragma once

#include <pthread.h>
#include <signal.h>

#include <cstdio>
#include <cstdlib>
#include <semaphore>

namespace quarn_fuzz {

class StackRunner {
  public:
    // Reserved address space; only what the parse touches is ever backed by memory.
    static constexpr size_t STACK_SIZE = size_t{256} << 20;

    // The one runner of the process.
    static StackRunner& instance() {
        static StackRunner* const runner = new StackRunner;
        return *runner;
    }

    // Calls `body()` on the big-stack thread and returns once it has returned.
    template <typename F>
    void run(F& body) {
        job_ = &body;
        call_ = [](void* job) { (*static_cast<F*>(job))(); };
        start_.release();
        done_.acquire();
    }

  private:
    StackRunner() {
        pthread_attr_t attr;
        // The fuzzer's timer and stop signals stay with the fuzzing thread, which reports them;
        // faults still reach the thread that makes them.
        sigset_t async;
        sigset_t previous;
        sigemptyset(&async);
        for (const int signal : {SIGALRM, SIGINT, SIGTERM, SIGHUP, SIGUSR1, SIGUSR2, SIGXFSZ})
            sigaddset(&async, signal);
        pthread_sigmask(SIG_BLOCK, &async, &previous);
        const bool started = pthread_attr_init(&attr) == 0 &&
                             pthread_attr_setstacksize(&attr, STACK_SIZE) == 0 &&
                             pthread_create(&thread_, &attr, &StackRunner::loop, this) == 0;
        pthread_sigmask(SIG_SETMASK, &previous, nullptr);
        pthread_attr_destroy(&attr);
        if (!started) {
            std::fprintf(stderr, "cannot start the big-stack fuzz thread\n");
            std::abort();
        }
    }

    static void* loop(void* self) {
        auto* runner = static_cast<StackRunner*>(self);
        for (;;) {
            runner->start_.acquire();
            runner->call_(runner->job_);
            runner->done_.release();
        }
    }

    pthread_t thread_{};
    void* job_ = nullptr;
    void (*call_)(void*) = nullptr;
    std::binary_semaphore start_{0};
    std::binary_semaphore done_{0};
};

}  // namespace quarn_fuzz

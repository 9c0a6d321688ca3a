// The smallest pieces of the binding layer: owned references, the interpreter-lock release
// and the raising helpers every binding shares. Only src/quarn_rs/ includes Python.h.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <optional>
#include <string_view>
#include <type_traits>
#include <utility>

namespace quarn_rs {

// Test builds check that no reference is dropped while the interpreter lock is released.
#ifdef QUARN_TEST_HOOKS
inline void check_gil_held() {
    if (!PyGILState_Check()) {
        std::fputs("quarn_rs: Python reference released without the interpreter lock\n", stderr);
        std::abort();
    }
}
#else
inline void check_gil_held() {}
#endif

// One owned reference; released when the owner goes. Null means "no object" (usually: an
// exception is set).
class Ref {
  public:
    Ref() = default;
    explicit Ref(PyObject* owned) : p_(owned) {}
    static Ref borrow(PyObject* borrowed) {
        Py_XINCREF(borrowed);
        return Ref(borrowed);
    }
    Ref(const Ref&) = delete;
    Ref& operator=(const Ref&) = delete;
    Ref(Ref&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
    Ref& operator=(Ref&& other) noexcept {
        if (this != &other) {
            reset();
            p_ = std::exchange(other.p_, nullptr);
        }
        return *this;
    }
    ~Ref() { reset(); }

    PyObject* get() const { return p_; }
    // Hands the reference to the caller (a result returned to the interpreter).
    PyObject* release() { return std::exchange(p_, nullptr); }
    explicit operator bool() const { return p_ != nullptr; }
    void reset() {
        if (p_ != nullptr) {
            check_gil_held();
            Py_DECREF(std::exchange(p_, nullptr));
        }
    }

  private:
    PyObject* p_ = nullptr;
};

// Runs `work` with the interpreter lock released and returns its value; the lock is taken back
// also when a C++ exception leaves `work`. Inside it no Python object may be created, read or
// released. The lock is taken back in this frame, outside any handler or noexcept frame: a daemon
// thread that asks for it while the interpreter finalizes is ended right there by a forced
// unwind, which must pass up to the thread's start. That unwind is a foreign exception with no
// C++ object (std::current_exception() is empty for it): naming its type in a handler would bind a
// reference to null, which the undefined-behaviour sanitizer rightly reports.
template <typename F>
decltype(auto) without_gil(F&& work) {
    using R = decltype(std::forward<F>(work)());
    PyThreadState* const state = PyEval_SaveThread();
    std::exception_ptr failure;
    if constexpr (std::is_void_v<R>) {
        try {
            std::forward<F>(work)();
        } catch (...) {
            failure = std::current_exception();
            if (!failure) throw;  // the forced unwind: it is no C++ exception, let it pass
        }
        PyEval_RestoreThread(state);
        if (failure) std::rethrow_exception(failure);
    } else {
        std::optional<R> result;
        try {
            result.emplace(std::forward<F>(work)());
        } catch (...) {
            failure = std::current_exception();
            if (!failure) throw;  // the forced unwind: it is no C++ exception, let it pass
        }
        PyEval_RestoreThread(state);
        if (failure) std::rethrow_exception(failure);
        return R(std::move(*result));
    }
}

// A process-wide object made on first use with the lock held and kept for the life of the
// process. Two threads may race to make it (making one can run Python code that lets another
// thread in); the loser drops its copy. Returns a borrowed reference, or null with an error set.
template <typename Make>
PyObject* process_object(std::atomic<PyObject*>& slot, Make&& make) {
    if (PyObject* existing = slot.load(std::memory_order_acquire)) return existing;
    PyObject* made = make();
    if (made == nullptr) return nullptr;
    PyObject* expected = nullptr;
    if (!slot.compare_exchange_strong(expected, made, std::memory_order_acq_rel)) {
        Py_DECREF(made);
        return expected;
    }
    return made;
}

// An interned str kept for the process (attribute and method names).
PyObject* interned(std::atomic<PyObject*>& slot, const char* text);

// A new str from UTF-8 that the core produced; never fails on malformed bytes.
Ref new_str(std::string_view utf8);

// Sets `type` with the message `text`; always returns null so callers can `return raise(...)`.
std::nullptr_t raise(PyObject* type, std::string_view text);

// The TypeError "'{}' object is not an instance of '{}'" for `obj` and the expected type name.
std::nullptr_t raise_not_instance(PyObject* obj, std::string_view expected);

}  // namespace quarn_rs

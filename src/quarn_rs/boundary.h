// The module boundary: no C++ exception may reach the interpreter. Internal-invariant failures
// (quarn::Panic, and any other C++ exception that is not an allocation failure) become
// PanicException with their report on standard error; std::bad_alloc becomes MemoryError.
#pragma once

#include <exception>
#include <new>
#include <string_view>
#include <type_traits>

#include "base/panic.h"
#include "quarn_rs/py.h"

namespace quarn_rs {

// "pyo3_runtime.PanicException", a direct subclass of BaseException, made once per process.
// Borrowed; null with an error set if it cannot be made.
PyObject* panic_exception_type();

// Writes the report to standard error and sets PanicException(message).
void raise_panic(std::string_view message);

// Turns the exception in flight into the Python error it stands for. Call only from a catch block.
void raise_current_exception() noexcept;

namespace detail {
// Calls `call(context)`; false, with the Python error set, when it ended by a C++ exception. The
// forced unwind that ends a daemon thread at interpreter exit is no error and passes on.
bool run_guarded(void (*call)(void*), void* context);
}  // namespace detail

// Runs `body` (returning a pointer, or an int status) and maps any C++ exception to a Python
// error: null, or -1, is returned then. Not noexcept: a forced unwind passes through.
template <typename F>
auto guarded(F&& body) -> decltype(body()) {
    using R = decltype(body());
    struct Call {
        F& body;
        R result;
    } call{body, R{}};
    if (detail::run_guarded(
            [](void* c) { static_cast<Call*>(c)->result = static_cast<Call*>(c)->body(); }, &call))
        return call.result;
    if constexpr (std::is_pointer_v<R>) {
        return nullptr;
    } else {
        return -1;
    }
}

}  // namespace quarn_rs

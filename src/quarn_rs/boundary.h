// The module boundary: no C++ exception may reach the interpreter. Internal-invariant failures
// (quarn::Panic, and any other C++ exception that is not an allocation failure) become
// PanicException with their report on standard error; std::bad_alloc becomes MemoryError.
#pragma once

#include <exception>
#include <new>
#include <string_view>

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

// Runs `body` (returning a pointer, or an int status) and maps any C++ exception to a Python
// error: null, or -1, is returned then. The forced unwind that ends a daemon thread at
// interpreter exit is no error: it passes on (so this frame is not noexcept).
template <typename F>
auto guarded(F&& body) -> decltype(body()) {
    try {
        return body();
    } catch (...) {
        if (!std::current_exception()) throw;  // the forced unwind, which has no C++ object
        raise_current_exception();
    }
    if constexpr (std::is_pointer_v<decltype(body())>) {
        return nullptr;
    } else {
        return -1;
    }
}

}  // namespace quarn_rs

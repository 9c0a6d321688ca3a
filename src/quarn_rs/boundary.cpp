#include "quarn_rs/boundary.h"

#include <cxxabi.h>

#include <cstdio>

namespace quarn_rs {

PyObject* panic_exception_type() {
    static std::atomic<PyObject*> type{nullptr};
    return process_object(type, [] {
        return PyErr_NewExceptionWithDoc(
            "pyo3_runtime.PanicException",
            "An internal invariant of quarn_rs failed. It derives from BaseException so that\n"
            "ordinary `except Exception` handlers do not swallow it.",
            PyExc_BaseException, nullptr);
    });
}

void raise_panic(std::string_view message) {
    // Written in pieces, so that reporting needs no allocation.
    std::fputs("quarn_rs panicked: ", stderr);
    std::fwrite(message.data(), 1, message.size(), stderr);
    std::fputc('\n', stderr);
    std::fflush(stderr);

    PyObject* type = panic_exception_type();
    if (type == nullptr) return;  // the error of making the type stays set
    raise(type, message);
}

void raise_current_exception() noexcept {
    try {
        throw;
    } catch (const quarn::Panic& failure) {
        raise_panic(failure.what());
    } catch (const std::bad_alloc&) {
        PyErr_NoMemory();
    } catch (const std::exception& failure) {
        raise_panic(failure.what());
    } catch (...) {
        raise_panic("unknown C++ exception");
    }
}

// Built without the sanitizer's check of reference bindings: the forced unwind carries no
// exception object for its handler's reference to bind to.
bool detail::run_guarded(void (*call)(void*), void* context) {
    try {
        call(context);
        return true;
    } catch (abi::__forced_unwind&) {
        throw;
    } catch (...) {
        raise_current_exception();
        return false;
    }
}

}  // namespace quarn_rs

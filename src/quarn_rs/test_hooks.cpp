#include "quarn_rs/test_hooks.h"

#ifdef QUARN_TEST_HOOKS
#include <new>
#include <stdexcept>
#include <string>

#include "quarn/panic.h"
#include "quarn_rs/functions.h"
#endif

namespace quarn_rs {

#ifndef QUARN_TEST_HOOKS

bool add_test_hooks(PyObject*) {
    return true;
}

#else

namespace {

constexpr Param kKindMessage[] = {{"kind"}, {"message"}};
constexpr Signature kRaiseForTests = function_signature("_raise_for_tests", kKindMessage);

// Throws the C++ failure named by `kind` from inside a core call, with the lock released.
PyObject* raise_for_tests(const Args& args) {
    std::string_view kind, message;
    if (!args.text(0, kind) || !args.text(1, message)) return nullptr;
    const std::string text(message);
    without_gil([&] {
        if (kind == "panic") quarn::panic(text);
        if (kind == "unreachable") quarn::unreachable(text);
        if (kind == "bad_alloc") throw std::bad_alloc();
        if (kind == "runtime_error") throw std::runtime_error(text);
        if (kind == "int") throw 7;
    });
    Py_RETURN_NONE;
}

const FunctionDef raise_for_tests_def{&kRaiseForTests,
                                      &fastcall_entry<kRaiseForTests, raise_for_tests>};

}  // namespace

bool add_test_hooks(PyObject* module) {
    static constexpr const FunctionDef* kHooks[] = {&raise_for_tests_def};
    static MethodTable table(kHooks);
    Ref module_name(PyModule_GetNameObject(module));
    if (!module_name) return false;
    for (PyMethodDef& def : table.methods()) {
        Ref function(PyCMethod_New(&def, module, module_name.get(), nullptr));
        if (!function || PyModule_AddObjectRef(module, def.ml_name, function.get()) < 0) {
            return false;
        }
    }
    return true;
}

#endif

}  // namespace quarn_rs

#include "quarn_rs/test_hooks.h"

#ifdef QUARN_TEST_HOOKS
#include <new>
#include <stdexcept>
#include <string>

#include "base/panic.h"
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

// Reports what the intake matched, for the shapes no module function has (several required
// parameters, optional ones after them, none at all). Omitted parameters come back as None.
constexpr Param kFourParams[] = {{"a"}, {"b"}, {"c"}, {"d", false}};
constexpr Signature kArgsForTests = function_signature("_args_for_tests", kFourParams);
PyObject* args_for_tests(const Args& args) {
    PyObject* items[4];
    for (size_t i = 0; i < 4; ++i)
        items[i] = args.get(i) != nullptr ? args.get(i) : Py_None;
    return PyTuple_Pack(4, items[0], items[1], items[2], items[3]);
}
const FunctionDef args_for_tests_def{&kArgsForTests,
                                     &fastcall_entry<kArgsForTests, args_for_tests>};

// The constructor intake (an argument tuple and a keyword dict) and its "{class}.__new__()" name.
constexpr Signature kNewForTests(CallKind::Constructor, "Hooks", "__new__", kFourParams);
PyObject* new_for_tests(PyObject*, PyObject* args, PyObject* kwargs) {
    return guarded([&]() -> PyObject* {
        Args matched(kNewForTests);
        if (!matched.take(args, kwargs)) return nullptr;
        return args_for_tests(matched);
    });
}
// Registered under its own name, not the constructor's.
constexpr Signature kNewForTestsName(CallKind::Function, {}, "_new_for_tests");
const FunctionDef new_for_tests_def{&kNewForTestsName, &new_for_tests};

constexpr Signature kNoArgsForTests(CallKind::Function, {}, "_no_args_for_tests");
PyObject* no_args_for_tests(const Args&) {
    Py_RETURN_NONE;
}
const FunctionDef no_args_for_tests_def{&kNoArgsForTests,
                                        &fastcall_entry<kNoArgsForTests, no_args_for_tests>};

}  // namespace

bool add_test_hooks(PyObject* module) {
    static constexpr const FunctionDef* kHooks[] = {
        &raise_for_tests_def,   &args_for_tests_def,    &new_for_tests_def,
        &no_args_for_tests_def, &records_for_tests_def,
    };
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

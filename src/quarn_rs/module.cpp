// The module definition and its registration: seven classes, then eleven functions, each name
// appended to __all__ before the attribute is set, stopping at the first failure.
#include "base/panic.h"
#include "quarn/ast/project_index.h"
#include "quarn_rs/boundary.h"
#include "quarn_rs/classes.h"
#include "quarn_rs/functions.h"
#include "quarn_rs/test_hooks.h"

namespace quarn_rs {
namespace {

std::atomic<PyObject*> all_name;

// Appends `name` to the module's __all__ (made when missing), then sets the attribute.
bool add_name(PyObject* module, PyObject* name, PyObject* value) {
    PyObject* key = interned(all_name, "__all__");
    if (key == nullptr) return false;
    Ref all(PyObject_GetAttr(module, key));
    if (!all) {
        if (!PyErr_ExceptionMatches(PyExc_AttributeError)) return false;
        PyErr_Clear();  // no __all__ yet: this registration makes it
        all = Ref(PyList_New(0));
        if (!all || PyObject_SetAttr(module, key, all.get()) < 0) return false;
    } else if (!PyList_Check(all.get())) {
        raise_not_instance(all.get(), "list");
        return false;
    }
    if (PyList_Append(all.get(), name) < 0) quarn::panic("could not append __name__ to __all__");
    return PyObject_SetAttr(module, name, value) == 0;
}

// A built-in function bound to the module: its self is the module (reported as None because of
// METH_STATIC) and its __module__ the module's name.
bool add_function(PyObject* module, PyMethodDef* def) {
    Ref module_name(PyModule_GetNameObject(module));
    if (!module_name) return false;
    Ref function(PyCMethod_New(def, module, module_name.get(), nullptr));
    if (!function) return false;
    Ref name(PyObject_GetAttrString(function.get(), "__name__"));
    if (!name) return false;
    return add_name(module, name.get(), function.get());
}

// A class goes under the name it shows, the part of its full name after "builtins.".
bool add_classes(PyObject* module) {
    for (TypeGetter get_type : module_classes()) {
        PyTypeObject* type = get_type();
        if (type == nullptr) return false;
        Ref name(PyType_GetName(type));
        if (!name || !add_name(module, name.get(), reinterpret_cast<PyObject*>(type))) return false;
    }
    return true;
}

bool add_module_functions(PyObject* module) {
    for (PyMethodDef& def : module_methods()) {
        if (!add_function(module, &def)) return false;
    }
    return true;
}

using Registrar = bool (*)(PyObject* module);

// In the order of __all__: the classes first, then the functions.
constexpr Registrar kRegistrars[] = {
    add_classes,
    add_module_functions,
};

// The module keeps interpreter objects once per process (types, the datetime API, interned
// names): an interpreter other than the one that made them must never see them, so only the
// main interpreter may load it. The slot says so where the interpreter reads it; legacy
// sub-interpreters ignore the slot, and are refused here.
bool in_main_interpreter() {
    if (PyInterpreterState_Get() == PyInterpreterState_Main()) return true;
    PyErr_SetString(PyExc_ImportError,
                    "module quarn_rs does not support loading in subinterpreters");
    return false;
}

int exec_module(PyObject* module) {
    if (!in_main_interpreter()) return -1;
    return guarded([module]() -> int {
        // Before Python code can fork: a child must never inherit a first use in progress.
        quarn::ast::prepare_process();
        for (Registrar add : kRegistrars) {
            if (!add(module)) return -1;
        }
        return add_test_hooks(module) ? 0 : -1;
    });
}

PyModuleDef_Slot slots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(exec_module)},
#ifdef Py_mod_multiple_interpreters
    {Py_mod_multiple_interpreters, Py_MOD_MULTIPLE_INTERPRETERS_NOT_SUPPORTED},
#endif
    {0, nullptr},
};

PyModuleDef definition = {
    PyModuleDef_HEAD_INIT,
    "quarn_rs",  // m_name
    "",          // m_doc
    0,           // m_size
    nullptr,     // m_methods
    slots,       // m_slots
    nullptr,     // m_traverse
    nullptr,     // m_clear
    nullptr,     // m_free
};

}  // namespace
}  // namespace quarn_rs

PyMODINIT_FUNC PyInit_quarn_rs() {
    return PyModuleDef_Init(&quarn_rs::definition);
}

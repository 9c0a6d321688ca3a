#include "quarn_rs/classes.h"

namespace quarn_rs {

PyTypeObject* process_type(std::atomic<PyObject*>& slot, const TypeDescription& d) {
    PyObject* type = process_object(slot, [&d]() -> PyObject* {
        PyType_Slot slots[7];
        size_t n = 0;
        slots[n++] = {Py_tp_dealloc, reinterpret_cast<void*>(d.dealloc)};
        if (d.doc != nullptr) slots[n++] = {Py_tp_doc, const_cast<char*>(d.doc)};
        if (d.tp_new != nullptr) slots[n++] = {Py_tp_new, reinterpret_cast<void*>(d.tp_new)};
        if (d.methods != nullptr) slots[n++] = {Py_tp_methods, d.methods};
        if (d.getset != nullptr) slots[n++] = {Py_tp_getset, d.getset};
        slots[n++] = {0, nullptr};
        unsigned flags = Py_TPFLAGS_DEFAULT;
        if (d.tp_new == nullptr) flags |= Py_TPFLAGS_DISALLOW_INSTANTIATION;
        PyType_Spec spec{d.full_name, d.basicsize, 0, flags, slots};
        return PyType_FromSpec(&spec);
    });
    return reinterpret_cast<PyTypeObject*>(type);
}

}  // namespace quarn_rs

// The module's seven classes: three services over the project index and four read-only records
// of what it found. Each is a heap type made once per process on first use.
#pragma once

#include <memory>
#include <new>
#include <span>
#include <utility>

#include "quarn/ast/ast_types.h"
#include "quarn_rs/boundary.h"
#include "quarn_rs/py.h"

namespace quarn_rs {

// The layout of every instance: the object header, then the one core value it holds.
template <typename T>
struct Holder {
    PyObject_HEAD T value;
};

template <typename T>
T& held(PyObject* self) {
    return reinterpret_cast<Holder<T>*>(self)->value;
}

// A new instance of `type` owning `value`; null with a Python error set if it cannot be made
// (the value is dropped then).
template <typename T>
PyObject* new_holder(PyTypeObject* type, T&& value) {
    PyObject* self = type->tp_alloc(type, 0);
    if (self == nullptr) return nullptr;
    new (&held<T>(self)) T(std::forward<T>(value));
    return self;
}

// Drops the held value, then frees the object and its reference to the heap type.
template <typename T>
void dealloc_holder(PyObject* self) {
    PyTypeObject* type = Py_TYPE(self);
    held<T>(self).~T();
    type->tp_free(self);
    Py_DECREF(type);
}

// What differs between the seven heap types; the rest (base object, no subclassing, no instance
// dict or weak references, no cyclic GC) is the same for all.
struct TypeDescription {
    const char* full_name;  // "builtins.<Name>": static, the type keeps pointing at it
    int basicsize;
    destructor dealloc;
    const char* doc = nullptr;  // the constructor's text signature; records have none
    newfunc tp_new = nullptr;   // records have none and cannot be instantiated from Python
    PyMethodDef* methods = nullptr;
    PyGetSetDef* getset = nullptr;
};

// The type object of `description`, made once per process and kept in `slot`. Borrowed.
PyTypeObject* process_type(std::atomic<PyObject*>& slot, const TypeDescription& description);

// Borrowed type objects, made on first use; null with an error set when making one fails.
#define QUARN_RS_CLASS(type_getter) PyTypeObject* type_getter();
#include "quarn_rs/surface.def"

using TypeGetter = PyTypeObject* (*)();

// The classes in registration order.
std::span<const TypeGetter> module_classes();

// The strs of the names that the record objects of one tree share (records.cpp).
class TextPool;

// Record objects sharing the given immutable (non-null) records; new references, or null with an
// error set. A nested record belongs to the records that the record object `root` shares, and
// holds `root` to keep them alive; it is read through the lines of the file of that record, its
// locations searched from `line`, the one the root's tree read last, which it keeps for the
// tree (a field of `root`, which outlives it), and takes a share of the root's pool of names.
PyObject* wrap_record(std::shared_ptr<const quarn::ast::ResolverAST> record);
PyObject* wrap_record(std::shared_ptr<const quarn::ast::FeatureClassAST> record);
PyObject* wrap_record(const quarn::ast::FunctionArgAST& record, PyObject* root,
                      quarn::ast::FileLines file, size_t& line, TextPool* pool);
PyObject* wrap_record(const quarn::ast::FeatureFieldAST& record, PyObject* root,
                      quarn::ast::FileLines file, size_t& line, TextPool* pool);

}  // namespace quarn_rs

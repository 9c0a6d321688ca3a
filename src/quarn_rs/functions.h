// How a callable reaches the interpreter: its Signature and entry point (FunctionDef), the entry
// templates that match arguments and keep C++ exceptions inside, and the one builder of static
// method tables, used for the module's functions, the classes' methods and the test hooks.
#pragma once

#include <span>
#include <string>
#include <type_traits>
#include <vector>

#include "quarn_rs/args.h"
#include "quarn_rs/boundary.h"

namespace quarn_rs {

using FastCall = PyObject* (*)(PyObject*, PyObject* const*, Py_ssize_t, PyObject*);
using NoArgs = PyObject* (*)(PyObject*, PyObject*);
using VarArgs = PyObject* (*)(PyObject*, PyObject*, PyObject*);

// One callable: its signature (name, parameters, text signature) and its entry point, whose
// calling convention gives the method flags. Exactly one entry is set.
struct FunctionDef {
    const Signature* signature;
    FastCall fastcall = nullptr;
    NoArgs noargs = nullptr;
    VarArgs varargs = nullptr;

    constexpr FunctionDef(const Signature* signature, FastCall entry)
        : signature(signature), fastcall(entry) {}
    constexpr FunctionDef(const Signature* signature, NoArgs entry)
        : signature(signature), noargs(entry) {}
    constexpr FunctionDef(const Signature* signature, VarArgs entry)
        : signature(signature), varargs(entry) {}
};

// The vectorcall entry of a function or method: matches the arguments to `S`, runs `Body` on them
// (with the object as first argument for a method's body) and keeps every C++ exception inside.
template <const Signature& S, auto Body>
PyObject* fastcall_entry(PyObject* self, PyObject* const* args, Py_ssize_t nargsf,
                         PyObject* kwnames) {
    return guarded([&]() -> PyObject* {
        Args matched(S);
        if (!matched.take(args, nargsf, kwnames)) return nullptr;
        if constexpr (std::is_invocable_v<decltype(Body), PyObject*, const Args&>) {
            return Body(self, matched);
        } else {
            return Body(matched);
        }
    });
}

// A method without parameters (METH_NOARGS: the interpreter refuses any argument).
template <PyObject* (*Body)(PyObject* self)>
PyObject* noargs_entry(PyObject* self, PyObject* /*unused*/) {
    return guarded([&]() -> PyObject* { return Body(self); });
}

// A constructor (tp_new): an argument tuple and an optional keyword dictionary matched to `S`.
template <const Signature& S, PyObject* (*Body)(PyTypeObject* type, const Args&)>
PyObject* new_entry(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    return guarded([&]() -> PyObject* {
        Args matched(S);
        if (!matched.take(args, kwargs)) return nullptr;
        return Body(type, matched);
    });
}

// Static method definitions built from FunctionDefs, with the text signature as doc, ended by
// the empty entry that tp_methods wants. Kept for the life of the process: function objects and
// types point into it.
class MethodTable {
  public:
    explicit MethodTable(std::span<const FunctionDef* const> defs);
    explicit MethodTable(std::span<const FunctionDef> defs);
    MethodTable(const MethodTable&) = delete;
    MethodTable& operator=(const MethodTable&) = delete;

    // The definitions without the closing empty entry.
    std::span<PyMethodDef> methods() { return {methods_.data(), methods_.size() - 1}; }
    // The definitions with it, for tp_methods.
    PyMethodDef* terminated() { return methods_.data(); }

  private:
    void reserve(size_t size);
    void add(const FunctionDef& def);
    void finish() { methods_.push_back(PyMethodDef{}); }

    std::vector<std::string> names_;
    std::vector<std::string> docs_;
    std::vector<PyMethodDef> methods_;
};

#define QUARN_RS_FUNCTION(name) extern const FunctionDef name##_def;
#include "quarn_rs/surface.def"

// The module functions, in registration order.
std::span<PyMethodDef> module_methods();

}  // namespace quarn_rs

// The module's functions: each one's Signature next to its body, and the table that registers
// them in the module's order.
#pragma once

#include <span>
#include <string>
#include <vector>

#include "quarn_rs/args.h"
#include "quarn_rs/boundary.h"

namespace quarn_rs {

using FastCall = PyObject* (*)(PyObject*, PyObject* const*, Py_ssize_t, PyObject*);

struct FunctionDef {
    const Signature* signature;
    FastCall entry;
};

// The vectorcall entry of a function: matches the arguments to `S`, runs `Body` on them and keeps
// every C++ exception inside.
template <const Signature& S, PyObject* (*Body)(const Args&)>
PyObject* fastcall_entry(PyObject* /*self*/, PyObject* const* args, Py_ssize_t nargsf,
                         PyObject* kwnames) {
    return guarded([&]() -> PyObject* {
        Args matched(S);
        if (!matched.take(args, nargsf, kwnames)) return nullptr;
        return Body(matched);
    });
}

// Defined next to their bodies (text_functions.cpp, date_functions.cpp).
extern const FunctionDef parse_duration_ms_def;
extern const FunctionDef parse_duration_s_def;
extern const FunctionDef seconds_to_duration_string_def;
extern const FunctionDef parse_iso_date_def;
extern const FunctionDef parse_iso_time_def;
extern const FunctionDef parse_datetime_def;
extern const FunctionDef parse_iso_duration_def;
extern const FunctionDef duration_isoformat_def;
extern const FunctionDef timezone_from_name_def;
extern const FunctionDef to_snake_case_def;
extern const FunctionDef build_namespaced_name_def;

// Static method definitions built from FunctionDefs: METH_FASTCALL | METH_KEYWORDS (and
// METH_STATIC for module functions), the text signature as doc. Kept for the life of the process
// (function objects point at them).
class MethodTable {
  public:
    explicit MethodTable(std::span<const FunctionDef* const> defs);
    MethodTable(const MethodTable&) = delete;
    MethodTable& operator=(const MethodTable&) = delete;
    std::span<PyMethodDef> methods() { return methods_; }

  private:
    std::vector<std::string> names_;
    std::vector<std::string> docs_;
    std::vector<PyMethodDef> methods_;
};

// The module functions, in registration order.
std::span<PyMethodDef> module_methods();

}  // namespace quarn_rs

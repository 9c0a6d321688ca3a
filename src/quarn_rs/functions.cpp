#include "quarn_rs/functions.h"

#include "quarn_rs/classes.h"

namespace quarn_rs {

namespace {

template <typename F>
PyCFunction as_cfunction(F* function) {
    return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(function));
}

}  // namespace

MethodTable::MethodTable(std::span<const FunctionDef* const> defs) {
    reserve(defs.size());
    for (const FunctionDef* def : defs) add(*def);
    finish();
}

MethodTable::MethodTable(std::span<const FunctionDef> defs) {
    reserve(defs.size());
    for (const FunctionDef& def : defs) add(def);
    finish();
}

// Reserved up front: the definitions point into the names and doc strings.
void MethodTable::reserve(size_t size) {
    names_.reserve(size);
    docs_.reserve(size);
    methods_.reserve(size + 1);
}

void MethodTable::add(const FunctionDef& def) {
    const Signature& signature = *def.signature;
    const std::string& name = names_.emplace_back(signature.name);
    const std::string& doc = docs_.emplace_back(signature.doc());
    PyCFunction entry = nullptr;
    int flags = 0;
    if (def.fastcall != nullptr) {
        entry = as_cfunction(def.fastcall);
        flags = METH_FASTCALL | METH_KEYWORDS;
        // Module functions: no self is passed and __self__ reads None.
        if (signature.kind == CallKind::Function) flags |= METH_STATIC;
    } else if (def.noargs != nullptr) {
        entry = def.noargs;
        flags = METH_NOARGS;
    } else {
        entry = as_cfunction(def.varargs);
        flags = METH_VARARGS | METH_KEYWORDS;
    }
    methods_.push_back(PyMethodDef{name.c_str(), entry, flags, doc.c_str()});
}

std::span<const TypeGetter> module_classes() {
#define QUARN_RS_CLASS(type_getter) type_getter,
    static constexpr TypeGetter kClasses[] = {
#include "quarn_rs/surface.def"
    };
    return kClasses;
}

std::span<PyMethodDef> module_methods() {
#define QUARN_RS_FUNCTION(name) &name##_def,
    static constexpr const FunctionDef* kFunctions[] = {
#include "quarn_rs/surface.def"
    };
    static MethodTable table(kFunctions);
    return table.methods();
}

}  // namespace quarn_rs

#include "quarn_rs/functions.h"

namespace quarn_rs {

namespace {

// Module functions carry METH_STATIC: no self is passed and __self__ reads None.
int method_flags(const Signature& signature) {
    const int flags = METH_FASTCALL | METH_KEYWORDS;
    return signature.kind == CallKind::Function ? flags | METH_STATIC : flags;
}

}  // namespace

MethodTable::MethodTable(std::span<const FunctionDef* const> defs) {
    // Reserved up front: the definitions point into these strings.
    names_.reserve(defs.size());
    docs_.reserve(defs.size());
    methods_.reserve(defs.size());
    for (const FunctionDef* def : defs) {
        const std::string& name = names_.emplace_back(def->signature->name);
        const std::string& doc = docs_.emplace_back(def->signature->doc());
        methods_.push_back(PyMethodDef{
            name.c_str(), reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(def->entry)),
            method_flags(*def->signature), doc.c_str()});
    }
}

std::span<PyMethodDef> module_methods() {
    static constexpr const FunctionDef* kFunctions[] = {
        &parse_duration_ms_def,  &parse_duration_s_def,      &seconds_to_duration_string_def,
        &parse_iso_date_def,     &parse_iso_time_def,        &parse_datetime_def,
        &parse_iso_duration_def, &duration_isoformat_def,    &timezone_from_name_def,
        &to_snake_case_def,      &build_namespaced_name_def,
    };
    static MethodTable table(kFunctions);
    return table.methods();
}

}  // namespace quarn_rs

// The four record classes. Each object shares one immutable record (with the rest of its file's
// records, which the index keeps anyway) and never changes it; every property read builds new
// Python values from it, so nothing a caller does to a result reaches the record.
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "quarn_rs/classes.h"

namespace quarn_rs {

namespace ast = quarn::ast;

namespace {

// Python forms of the record fields. `owner` keeps alive the records that a field belongs to, so
// that a nested record object shares it instead of a copy. The two nested record kinds come first
// so that the container templates below find them.
using Owner = std::shared_ptr<const void>;

Ref to_py(const ast::FunctionArgAST& record, const Owner& owner) {
    return Ref(wrap_record(std::shared_ptr<const ast::FunctionArgAST>(owner, &record)));
}
Ref to_py(const ast::FeatureFieldAST& record, const Owner& owner) {
    return Ref(wrap_record(std::shared_ptr<const ast::FeatureFieldAST>(owner, &record)));
}

Ref to_py(const std::string& text, const Owner&) {
    return new_str(text);
}

Ref to_py(const ast::Location& location, const Owner&) {
    const ast::Range& r = location.range;
    return Ref(Py_BuildValue("(kkkk)", static_cast<unsigned long>(r.start.line),
                             static_cast<unsigned long>(r.start.character),
                             static_cast<unsigned long>(r.end.line),
                             static_cast<unsigned long>(r.end.character)));
}

template <typename T>
Ref to_py(const std::optional<T>& value, const Owner& owner) {
    return value ? to_py(*value, owner) : Ref::borrow(Py_None);
}

template <typename List>
Ref list_to_py(const List& items, const Owner& owner) {
    Ref list(PyList_New(static_cast<Py_ssize_t>(items.size())));
    if (!list) return list;
    Py_ssize_t i = 0;
    for (const auto& element : items) {
        Ref item = to_py(element, owner);
        if (!item) return item;  // the list drops what was made so far
        PyList_SET_ITEM(list.get(), i++, item.release());
    }
    return list;
}

template <typename T>
Ref to_py(const std::vector<T>& items, const Owner& owner) {
    return list_to_py(items, owner);
}

template <typename T>
Ref to_py(const ast::RecordRefs<T>& items, const Owner& owner) {
    return list_to_py(items, owner);
}

Ref to_py(const ast::FieldList& items, const Owner& owner) {
    return list_to_py(items, owner);
}

// Entries in the map's order, which is the source's.
template <typename V>
Ref to_py(const ast::OrderedMap<V>& map, const Owner& owner) {
    Ref dict(PyDict_New());
    if (!dict) return dict;
    for (const auto& [key, value] : map) {
        Ref py_key = new_str(key);
        if (!py_key) return py_key;
        Ref py_value = to_py(value, owner);
        if (!py_value || PyDict_SetItem(dict.get(), py_key.get(), py_value.get()) < 0) return Ref();
    }
    return dict;
}

template <typename Record>
using Shared = std::shared_ptr<const Record>;

// One read-only property per field: `Member` of the record shared by a `Record` object.
template <typename Record, auto Member>
PyObject* get_field(PyObject* self, void*) {
    return guarded([self]() -> PyObject* {
        const Shared<Record>& record = held<Shared<Record>>(self);
        return to_py((*record).*Member, record).release();
    });
}

template <typename Record, auto Member>
constexpr PyGetSetDef property(const char* name) {
    return PyGetSetDef{name, &get_field<Record, Member>, nullptr, "", nullptr};
}

using ast::FeatureClassAST;
using ast::FeatureFieldAST;
using ast::FunctionArgAST;
using ast::ResolverAST;

PyGetSetDef resolver_properties[] = {
    property<ResolverAST, &ResolverAST::module>("module"),
    property<ResolverAST, &ResolverAST::resolver_name>("resolver_name"),
    property<ResolverAST, &ResolverAST::resolver_name_location>("resolver_name_location"),
    property<ResolverAST, &ResolverAST::decorator_location>("decorator_location"),
    property<ResolverAST, &ResolverAST::kwarg_names>("kwarg_names"),
    property<ResolverAST, &ResolverAST::kwargs>("kwargs"),
    property<ResolverAST, &ResolverAST::kwarg_dict_key_names>("kwarg_dict_key_names"),
    property<ResolverAST, &ResolverAST::kwarg_dict_values>("kwarg_dict_values"),
    property<ResolverAST, &ResolverAST::args_in_order>("args_in_order"),
    property<ResolverAST, &ResolverAST::args>("args"),
    property<ResolverAST, &ResolverAST::return_annotation>("return_annotation"),
    property<ResolverAST, &ResolverAST::missing_return_annotation>("missing_return_annotation"),
    property<ResolverAST, &ResolverAST::return_statements>("return_statements"),
    property<ResolverAST, &ResolverAST::body>("body"),
    property<ResolverAST, &ResolverAST::return_arg>("return_arg"),
    {},
};

PyGetSetDef function_arg_properties[] = {
    property<FunctionArgAST, &FunctionArgAST::arg_name>("arg_name"),
    property<FunctionArgAST, &FunctionArgAST::arg_location>("arg_location"),
    property<FunctionArgAST, &FunctionArgAST::annotation>("annotation"),
    {},
};

PyGetSetDef feature_class_properties[] = {
    property<FeatureClassAST, &FeatureClassAST::module>("module"),
    property<FeatureClassAST, &FeatureClassAST::namespace_>("namespace"),
    property<FeatureClassAST, &FeatureClassAST::class_name>("class_name"),
    property<FeatureClassAST, &FeatureClassAST::source>("source"),
    property<FeatureClassAST, &FeatureClassAST::class_name_location>("class_name_location"),
    property<FeatureClassAST, &FeatureClassAST::class_definition_location>(
        "class_definition_location"),
    property<FeatureClassAST, &FeatureClassAST::decorator_location>("decorator_location"),
    property<FeatureClassAST, &FeatureClassAST::kwarg_names>("kwarg_names"),
    property<FeatureClassAST, &FeatureClassAST::kwargs>("kwargs"),
    property<FeatureClassAST, &FeatureClassAST::fields>("fields"),
    property<FeatureClassAST, &FeatureClassAST::annotations>("annotations"),
    {},
};

PyGetSetDef feature_field_properties[] = {
    property<FeatureFieldAST, &FeatureFieldAST::field_name>("field_name"),
    property<FeatureFieldAST, &FeatureFieldAST::field_name_location>("field_name_location"),
    property<FeatureFieldAST, &FeatureFieldAST::comment>("comment"),
    property<FeatureFieldAST, &FeatureFieldAST::description>("description"),
    property<FeatureFieldAST, &FeatureFieldAST::owner>("owner"),
    property<FeatureFieldAST, &FeatureFieldAST::tags>("tags"),
    property<FeatureFieldAST, &FeatureFieldAST::annotation>("annotation"),
    property<FeatureFieldAST, &FeatureFieldAST::feature_call>("feature_call"),
    property<FeatureFieldAST, &FeatureFieldAST::kwarg_names>("kwarg_names"),
    property<FeatureFieldAST, &FeatureFieldAST::kwargs>("kwargs"),
    {},
};

template <typename Record>
TypeDescription record_type(const char* full_name, PyGetSetDef* properties) {
    return TypeDescription{full_name,
                           static_cast<int>(sizeof(Holder<Shared<Record>>)),
                           &dealloc_holder<Shared<Record>>,
                           nullptr,
                           nullptr,
                           nullptr,
                           properties};
}

template <typename Record>
PyObject* wrap(PyTypeObject* type, Shared<Record> record) {
    if (type == nullptr) return nullptr;
    return new_holder(type, std::move(record));
}

}  // namespace

PyTypeObject* feature_field_ast_type() {
    static std::atomic<PyObject*> slot;
    return process_type(
        slot, record_type<FeatureFieldAST>("builtins.FeatureFieldAST", feature_field_properties));
}

PyTypeObject* feature_class_ast_type() {
    static std::atomic<PyObject*> slot;
    return process_type(
        slot, record_type<FeatureClassAST>("builtins.FeatureClassAST", feature_class_properties));
}

PyTypeObject* function_arg_ast_type() {
    static std::atomic<PyObject*> slot;
    return process_type(
        slot, record_type<FunctionArgAST>("builtins.FunctionArgAST", function_arg_properties));
}

PyTypeObject* resolver_ast_type() {
    static std::atomic<PyObject*> slot;
    return process_type(slot,
                        record_type<ResolverAST>("builtins.ResolverAST", resolver_properties));
}

PyObject* wrap_record(std::shared_ptr<const ResolverAST> record) {
    return wrap(resolver_ast_type(), std::move(record));
}
PyObject* wrap_record(std::shared_ptr<const FeatureClassAST> record) {
    return wrap(feature_class_ast_type(), std::move(record));
}
PyObject* wrap_record(std::shared_ptr<const FunctionArgAST> record) {
    return wrap(function_arg_ast_type(), std::move(record));
}
PyObject* wrap_record(std::shared_ptr<const FeatureFieldAST> record) {
    return wrap(feature_field_ast_type(), std::move(record));
}

}  // namespace quarn_rs

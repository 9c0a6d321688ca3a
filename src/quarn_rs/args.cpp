#include "quarn_rs/args.h"

#include <fmt/format.h>

#include <vector>

namespace quarn_rs {

size_t Signature::required_count() const {
    size_t count = 0;
    for (const Param& p : params)
        count += p.required ? 1 : 0;
    return count;
}

std::string Signature::full_name() const {
    switch (kind) {
        case CallKind::Function:
            return fmt::format("{}()", name);
        case CallKind::Method:
        case CallKind::Constructor:
            return fmt::format("{}.{}()", owner, name);
    }
    return {};
}

std::string Signature::text_signature() const {
    std::string out(kind == CallKind::Constructor ? owner : name);
    out.push_back('(');
    bool first = true;
    auto separate = [&] {
        if (!first) out.append(", ");
        first = false;
    };
    if (kind == CallKind::Method) {
        separate();
        out.append("$self");
    }
    for (const Param& p : params) {
        separate();
        out.append(p.name);
        if (!p.required) out.append("=None");
    }
    out.push_back(')');
    return out;
}

bool to_text(PyObject* obj, std::string_view& out) {
    if (!PyUnicode_Check(obj)) {
        raise_not_instance(obj, "str");
        return false;
    }
    Py_ssize_t size = 0;
    const char* data = PyUnicode_AsUTF8AndSize(obj, &size);
    if (data == nullptr) return false;  // a lone surrogate: the interpreter's encoding error
    out = std::string_view(data, static_cast<size_t>(size));
    return true;
}

bool to_number(PyObject* obj, double& out) {
    if (PyFloat_CheckExact(obj)) {
        out = PyFloat_AS_DOUBLE(obj);
        return true;
    }
    out = PyFloat_AsDouble(obj);
    return !(out == -1.0 && PyErr_Occurred());
}

bool Args::optional_text(size_t i, std::optional<std::string_view>& out) const {
    PyObject* obj = slots_[i];
    if (obj == nullptr || obj == Py_None) {
        out.reset();
        return true;
    }
    std::string_view text;
    if (!to_text(obj, text)) return conversion_failed(i);
    out = text;
    return true;
}

bool Args::conversion_failed(size_t i) const {
    PyObject *type, *value, *traceback;
    PyErr_Fetch(&type, &value, &traceback);
    PyErr_NormalizeException(&type, &value, &traceback);
    if (value == nullptr || Py_TYPE(value) != reinterpret_cast<PyTypeObject*>(PyExc_TypeError)) {
        PyErr_Restore(type, value, traceback);  // not exactly a TypeError: passed on unchanged
        return false;
    }
    Ref original_type(type), original(value), original_traceback(traceback);

    Ref text(PyObject_Str(original.get()));
    if (!text) return false;
    Ref prefix = new_str(fmt::format("argument '{}': ", sig_.params[i].name));
    if (!prefix) return false;
    Ref message(PyUnicode_Concat(prefix.get(), text.get()));
    if (!message) return false;
    Ref replacement(PyObject_CallOneArg(PyExc_TypeError, message.get()));
    if (!replacement) return false;
    if (PyObject* cause = PyException_GetCause(original.get())) {
        PyException_SetCause(replacement.get(), cause);  // steals the cause
    }
    PyErr_SetObject(PyExc_TypeError, replacement.get());
    return false;
}

bool Args::too_many_positional(size_t given) const {
    const size_t total = sig_.params.size();
    const size_t required = sig_.required_count();
    const char* verb = given == 1 ? "was" : "were";
    std::string message =
        required == total
            ? fmt::format("{} takes {} positional arguments but {} {} given", sig_.full_name(),
                          total, given, verb)
            : fmt::format("{} takes from {} to {} positional arguments but {} {} given",
                          sig_.full_name(), required, total, given, verb);
    raise(PyExc_TypeError, message);
    return false;
}

bool Args::assign_keyword(PyObject* keyword, PyObject* value, size_t positional) {
    Py_ssize_t size = 0;
    const char* data = PyUnicode_Check(keyword) ? PyUnicode_AsUTF8AndSize(keyword, &size) : nullptr;
    if (data != nullptr) {
        const std::string_view name(data, static_cast<size_t>(size));
        for (size_t i = 0; i < sig_.params.size(); ++i) {
            if (sig_.params[i].name != name) continue;
            if (i < positional || slots_[i] != nullptr) {
                raise(PyExc_TypeError, fmt::format("{} got multiple values for argument '{}'",
                                                   sig_.full_name(), name));
                return false;
            }
            slots_[i] = value;
            return true;
        }
    } else {
        PyErr_Clear();  // a name that is no valid UTF-8 names no parameter either
    }
    Ref message(PyUnicode_FromFormat("%s got an unexpected keyword argument '%S'",
                                     sig_.full_name().c_str(), keyword));
    if (message) PyErr_SetObject(PyExc_TypeError, message.get());
    return false;
}

bool Args::check_missing() const {
    std::vector<std::string_view> missing;
    for (size_t i = 0; i < sig_.params.size(); ++i) {
        if (sig_.params[i].required && slots_[i] == nullptr) missing.push_back(sig_.params[i].name);
    }
    if (missing.empty()) return true;

    std::string names;
    for (size_t i = 0; i < missing.size(); ++i) {
        if (i > 0) {
            if (missing.size() == 2) {
                names += " and ";
            } else {
                names += i + 1 == missing.size() ? ", and " : ", ";
            }
        }
        names += fmt::format("'{}'", missing[i]);
    }
    raise(PyExc_TypeError,
          fmt::format("{} missing {} required positional {}: {}", sig_.full_name(), missing.size(),
                      missing.size() == 1 ? "argument" : "arguments", names));
    return false;
}

bool Args::take(PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames) {
    const size_t positional = static_cast<size_t>(PyVectorcall_NARGS(nargsf));
    if (positional > sig_.params.size()) return too_many_positional(positional);
    for (size_t i = 0; i < positional; ++i)
        slots_[i] = args[i];
    if (kwnames != nullptr) {
        const Py_ssize_t count = PyTuple_GET_SIZE(kwnames);
        for (Py_ssize_t k = 0; k < count; ++k) {
            if (!assign_keyword(PyTuple_GET_ITEM(kwnames, k), args[positional + k], positional)) {
                return false;
            }
        }
    }
    return check_missing();
}

bool Args::take(PyObject* args, PyObject* kwargs) {
    const size_t positional = static_cast<size_t>(PyTuple_GET_SIZE(args));
    if (positional > sig_.params.size()) return too_many_positional(positional);
    for (size_t i = 0; i < positional; ++i)
        slots_[i] = PyTuple_GET_ITEM(args, i);
    if (kwargs != nullptr) {
        Py_ssize_t pos = 0;
        PyObject *keyword, *value;
        while (PyDict_Next(kwargs, &pos, &keyword, &value)) {
            if (!assign_keyword(keyword, value, positional)) return false;
        }
    }
    return check_missing();
}

}  // namespace quarn_rs

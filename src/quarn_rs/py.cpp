#include "quarn_rs/py.h"

#include <fmt/format.h>

namespace quarn_rs {

PyObject* interned(std::atomic<PyObject*>& slot, const char* text) {
    return process_object(slot, [text] { return PyUnicode_InternFromString(text); });
}

Ref new_str(std::string_view utf8) {
    return Ref(PyUnicode_DecodeUTF8(utf8.data(), static_cast<Py_ssize_t>(utf8.size()), "replace"));
}

std::nullptr_t raise(PyObject* type, std::string_view text) {
    Ref message = new_str(text);
    if (message) PyErr_SetObject(type, message.get());
    return nullptr;
}

std::nullptr_t raise_not_instance(PyObject* obj, std::string_view expected) {
    if (obj == Py_None)
        return raise(PyExc_TypeError, fmt::format("'None' is not an instance of '{}'", expected));
    Ref qualname(PyType_GetQualName(Py_TYPE(obj)));
    if (!qualname) return nullptr;
    Py_ssize_t size = 0;
    const char* name = PyUnicode_AsUTF8AndSize(qualname.get(), &size);
    if (name == nullptr) return nullptr;
    return raise(PyExc_TypeError,
                 fmt::format("'{}' object is not an instance of '{}'",
                             std::string_view(name, static_cast<size_t>(size)), expected));
}

}  // namespace quarn_rs

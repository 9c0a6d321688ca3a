#include "quarn_rs/py.h"

#include <cstdint>
#include <cstring>

#include <fmt/format.h>

namespace quarn_rs {

namespace {

// Eight bytes at a time: the texts of records are ASCII nearly always.
bool is_ascii(std::string_view text) {
    const char* at = text.data();
    const char* const end = at + text.size();
    uint64_t seen = 0;
    for (; end - at >= 8; at += 8) {
        uint64_t word;
        std::memcpy(&word, at, 8);
        seen |= word;
    }
    for (; at < end; ++at)
        seen |= static_cast<unsigned char>(*at);
    return (seen & 0x8080808080808080ULL) == 0;
}

}  // namespace

PyObject* interned(std::atomic<PyObject*>& slot, const char* text) {
    return process_object(slot, [text] { return PyUnicode_InternFromString(text); });
}

Ref new_str(std::string_view utf8) {
    // A short ASCII text is copied straight into a new str, without the decoder's checks; the
    // decoder keeps the texts of one character, for which it hands out the interpreter's own,
    // and the long ones, which it reads in one pass.
    if (utf8.size() > 1 && utf8.size() <= 256 && is_ascii(utf8)) {
        PyObject* str = PyUnicode_New(static_cast<Py_ssize_t>(utf8.size()), 127);
        if (str != nullptr) std::memcpy(PyUnicode_1BYTE_DATA(str), utf8.data(), utf8.size());
        return Ref(str);
    }
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

// Argument intake. Each callable is described once by a Signature; the matching of positional
// and keyword arguments, the argument-error messages and the text signature in the doc string
// are all derived from it.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "quarn_rs/py.h"

namespace quarn_rs {

inline constexpr size_t kMaxParams = 4;

struct Param {
    std::string_view name;
    bool required = true;  // an optional parameter defaults to None
};

enum class CallKind : uint8_t { Function, Method, Constructor };

struct Signature {
    CallKind kind;
    std::string_view owner;  // the class of a method or constructor; empty for a module function
    std::string_view name;   // the function or method name ("__new__" for a constructor)
    std::span<const Param> params;

    template <size_t N>
    constexpr Signature(CallKind kind, std::string_view owner, std::string_view name,
                        const Param (&params)[N])
        : kind(kind), owner(owner), name(name), params(params) {
        static_assert(N <= kMaxParams, "raise kMaxParams");
    }
    constexpr Signature(CallKind kind, std::string_view owner, std::string_view name)
        : kind(kind), owner(owner), name(name) {}

    size_t required_count() const;
    // The name used in argument errors: "parse_iso_date()", "AstProjectIndex.__new__()".
    std::string full_name() const;
    // "parse_iso_date(s)", "read_to_string($self, path)", "AstProjectIndex(files, root=None)".
    std::string text_signature() const;
    // The doc string: the text signature and the marker after which the doc proper would follow.
    std::string doc() const { return text_signature() + "\n--\n\n"; }
};

// Module functions: "name(params)", no class.
template <size_t N>
constexpr Signature function_signature(std::string_view name, const Param (&params)[N]) {
    return Signature(CallKind::Function, {}, name, params);
}

// Conversions of single objects; each returns false with a Python error set.
// A str (or subclass) read in place as UTF-8: valid as long as the object lives.
bool to_text(PyObject* obj, std::string_view& out);
// An exact float directly, anything else through the interpreter's float conversion.
bool to_number(PyObject* obj, double& out);

// The arguments of one call matched to the parameters of its signature. Holds borrowed
// references: the caller keeps the argument objects alive for the duration of the call.
class Args {
  public:
    explicit Args(const Signature& signature) : sig_(signature) {}

    // Vectorcall intake (METH_FASTCALL | METH_KEYWORDS).
    bool take(PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames);
    // Constructor intake: an argument tuple and an optional keyword dictionary.
    bool take(PyObject* args, PyObject* kwargs);

    // The object given for parameter i, or null when it was omitted.
    PyObject* get(size_t i) const { return slots_[i]; }

    bool text(size_t i, std::string_view& out) const {
        return to_text(slots_[i], out) || conversion_failed(i);
    }
    // None or omitted is absent.
    bool optional_text(size_t i, std::optional<std::string_view>& out) const;
    bool number(size_t i, double& out) const {
        return to_number(slots_[i], out) || conversion_failed(i);
    }

    // Call after a conversion of parameter i failed: a TypeError becomes
    // "argument '{name}': {message}" with the original's cause kept; other errors pass unchanged.
    // Always returns false.
    bool conversion_failed(size_t i) const;

  private:
    bool too_many_positional(size_t given) const;
    bool assign_keyword(PyObject* keyword, PyObject* value, size_t positional);
    bool check_missing() const;

    const Signature& sig_;
    std::array<PyObject*, kMaxParams> slots_{};
};

}  // namespace quarn_rs

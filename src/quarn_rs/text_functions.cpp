// Compact durations and names: the core works on borrowed UTF-8 with the interpreter lock
// released; the results become int or str once the lock is back.
#include <optional>
#include <string>

#include "quarn/utils/duration.h"
#include "quarn/utils/namespace.h"
#include "quarn_rs/functions.h"

namespace quarn_rs {
namespace {

namespace utils = quarn::utils;

constexpr Param kS[] = {{"s"}};
constexpr Param kTotalSeconds[] = {{"total_seconds"}};
constexpr Param kName[] = {{"name"}};
constexpr Param kNamespacedName[] = {{"namespace", false}, {"name", false}};

PyObject* milliseconds_or_error(const quarn::Result<int64_t>& result) {
    if (!result.ok()) return raise(PyExc_ValueError, result.error());
    return PyLong_FromLongLong(*result);
}

constexpr Signature kParseDurationMs = function_signature("parse_duration_ms", kS);
PyObject* parse_duration_ms(const Args& args) {
    std::string_view s;
    if (!args.text(0, s)) return nullptr;
    return milliseconds_or_error(without_gil([&] { return utils::parse_duration_ms(s); }));
}

constexpr Signature kParseDurationS = function_signature("parse_duration_s", kS);
PyObject* parse_duration_s(const Args& args) {
    std::string_view s;
    if (!args.text(0, s)) return nullptr;
    return milliseconds_or_error(without_gil([&] { return utils::parse_duration_s(s); }));
}

constexpr Signature kSecondsToDurationString =
    function_signature("seconds_to_duration_string", kTotalSeconds);
PyObject* seconds_to_duration_string(const Args& args) {
    double total_seconds = 0;
    if (!args.number(0, total_seconds)) return nullptr;
    std::string text =
        without_gil([&] { return utils::seconds_to_duration_string(total_seconds); });
    return new_str(text).release();
}

constexpr Signature kToSnakeCase = function_signature("to_snake_case", kName);
PyObject* to_snake_case(const Args& args) {
    std::string_view name;
    if (!args.text(0, name)) return nullptr;
    std::string text = without_gil([&] { return utils::to_snake_case(name); });
    return new_str(text).release();
}

constexpr Signature kBuildNamespacedName =
    function_signature("build_namespaced_name", kNamespacedName);
PyObject* build_namespaced_name(const Args& args) {
    std::optional<std::string_view> namespace_, name;
    if (!args.optional_text(0, namespace_) || !args.optional_text(1, name)) return nullptr;
    std::string text = without_gil([&] { return utils::build_namespaced_name(namespace_, name); });
    return new_str(text).release();
}

}  // namespace

const FunctionDef parse_duration_ms_def{&kParseDurationMs,
                                        &fastcall_entry<kParseDurationMs, parse_duration_ms>};
const FunctionDef parse_duration_s_def{&kParseDurationS,
                                       &fastcall_entry<kParseDurationS, parse_duration_s>};
const FunctionDef seconds_to_duration_string_def{
    &kSecondsToDurationString,
    &fastcall_entry<kSecondsToDurationString, seconds_to_duration_string>};
const FunctionDef to_snake_case_def{&kToSnakeCase, &fastcall_entry<kToSnakeCase, to_snake_case>};
const FunctionDef build_namespaced_name_def{
    &kBuildNamespacedName, &fastcall_entry<kBuildNamespacedName, build_namespaced_name>};

}  // namespace quarn_rs

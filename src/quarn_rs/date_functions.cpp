// ISO 8601 dates, times, date-times and durations, and zones by name. The core parses with the
// interpreter lock released; the values are built through the datetime C API afterwards, whose
// constructors reject the calendar and clock ranges that the parsers leave unchecked.
// Python.h must come before datetime.h.
#include "quarn_rs/py.h"

#include <datetime.h>

#include <optional>
#include <string>

#include "quarn/utils/isodate.h"
#include "quarn_rs/functions.h"

namespace quarn_rs {
namespace {

namespace utils = quarn::utils;

// This file is the only user of the datetime C API: PyDateTimeAPI is its own static. Taken on
// first need; a failure raises and the next call tries again. Read and written with the lock held.
bool datetime_api() {
    if (PyDateTimeAPI != nullptr) return true;
    PyDateTimeAPI = static_cast<PyDateTime_CAPI*>(PyCapsule_Import(PyDateTime_CAPSULE_NAME, 0));
    return PyDateTimeAPI != nullptr;
}

std::atomic<PyObject*> datetime_name, zoneinfo_name, date_name, today_name, timezone_name,
    zone_info_name;

// The interpreter's import. A module another thread is still initialising is waited for, never
// handed out half-built: PyImport_GetModule waits on the module's import lock, as a real import
// does.
Ref import_module(std::atomic<PyObject*>& slot, const char* name) {
    PyObject* py_name = interned(slot, name);
    if (py_name == nullptr) return {};
    Ref loaded(PyImport_GetModule(py_name));
    if (loaded && loaded.get() != Py_None) return loaded;
    if (PyErr_Occurred()) return {};
    return Ref(PyImport_Import(py_name));
}

Ref module_attribute(std::atomic<PyObject*>& module_slot, const char* module,
                     std::atomic<PyObject*>& attribute_slot, const char* attribute) {
    Ref loaded = import_module(module_slot, module);
    if (!loaded) return {};
    PyObject* name = interned(attribute_slot, attribute);
    if (name == nullptr) return {};
    return Ref(PyObject_GetAttr(loaded.get(), name));
}

Ref offset_delta(int32_t seconds) {
    return Ref(PyDateTimeAPI->Delta_FromDelta(0, seconds, 0, 1, PyDateTimeAPI->DeltaType));
}

// parse_iso_time keeps the designator as written: timezone(offset, name), zero offsets included.
Ref named_zone(const utils::IsoZone& zone) {
    const utils::IsoZone::Offset* offset = zone.as_offset();
    if (offset == nullptr) return Ref::borrow(PyDateTimeAPI->TimeZone_UTC);
    Ref delta = offset_delta(offset->seconds);
    if (!delta) return {};
    Ref name = new_str(offset->name);
    if (!name) return {};
    Ref timezone = module_attribute(datetime_name, "datetime", timezone_name, "timezone");
    if (!timezone) return {};
    // The interpreter's own timezone class is immutable: calling it with (offset, name) is its
    // constructor. Anything else in its place is called as Python code.
    if (timezone.get() == reinterpret_cast<PyObject*>(Py_TYPE(PyDateTimeAPI->TimeZone_UTC))) {
        return Ref(PyDateTimeAPI->TimeZone_FromTimeZone(delta.get(), name.get()));
    }
    Ref result(PyObject_CallFunctionObjArgs(timezone.get(), delta.get(), name.get(), nullptr));
    if (result && !PyTZInfo_Check(result.get())) {
        raise_not_instance(result.get(), "tzinfo");
        return {};
    }
    return result;
}

// parse_datetime drops the written name: UTC for any zero offset, timezone(offset) otherwise.
Ref unnamed_zone(const utils::IsoZone& zone) {
    const utils::IsoZone::Offset* offset = zone.as_offset();
    if (offset == nullptr || offset->seconds == 0) {
        return Ref::borrow(PyDateTimeAPI->TimeZone_UTC);
    }
    Ref delta = offset_delta(offset->seconds);
    if (!delta) return {};
    return Ref(PyDateTimeAPI->TimeZone_FromTimeZone(delta.get(), nullptr));
}

template <typename Zone>
bool make_zone(const std::optional<utils::IsoZone>& zone, Zone&& convert, Ref& out) {
    if (!zone) {
        out = Ref::borrow(Py_None);
        return true;
    }
    out = convert(*zone);
    return static_cast<bool>(out);
}

// datetime.date.today(), asked with the lock held on every call.
bool today(utils::IsoDate& out) {
    Ref date = module_attribute(datetime_name, "datetime", date_name, "date");
    if (!date) return false;
    PyObject* method = interned(today_name, "today");
    if (method == nullptr) return false;
    Ref value(PyObject_CallMethodNoArgs(date.get(), method));
    if (!value) return false;
    if (!PyDate_Check(value.get())) {
        raise_not_instance(value.get(), "date");
        return false;
    }
    out.year = PyDateTime_GET_YEAR(value.get());
    out.month = static_cast<uint8_t>(PyDateTime_GET_MONTH(value.get()));
    out.day = static_cast<uint8_t>(PyDateTime_GET_DAY(value.get()));
    return true;
}

constexpr Param kS[] = {{"s"}};
constexpr Param kTduration[] = {{"tduration"}};
constexpr Param kName[] = {{"name"}};

constexpr Signature kParseIsoDate = function_signature("parse_iso_date", kS);
PyObject* parse_iso_date(const Args& args) {
    std::string_view s;
    if (!args.text(0, s)) return nullptr;
    auto parsed = without_gil([&] { return utils::parse_date(s); });
    if (!parsed.ok()) return raise(PyExc_ValueError, parsed.error());
    if (!datetime_api()) return nullptr;
    return PyDateTimeAPI->Date_FromDate(parsed->year, parsed->month, parsed->day,
                                        PyDateTimeAPI->DateType);
}

constexpr Signature kParseIsoTime = function_signature("parse_iso_time", kS);
PyObject* parse_iso_time(const Args& args) {
    std::string_view s;
    if (!args.text(0, s)) return nullptr;
    auto parsed = without_gil([&] { return utils::parse_time(s); });
    if (!parsed.ok()) return raise(PyExc_ValueError, parsed.error());
    if (!datetime_api()) return nullptr;
    const utils::IsoTime& time = *parsed;
    Ref zone;
    if (!make_zone(time.tzinfo, named_zone, zone)) return nullptr;
    return PyDateTimeAPI->Time_FromTime(time.hour, time.minute, time.second,
                                        static_cast<int>(time.microsecond), zone.get(),
                                        PyDateTimeAPI->TimeType);
}

constexpr Signature kParseDatetime = function_signature("parse_datetime", kS);
PyObject* parse_datetime(const Args& args) {
    std::string_view s;
    if (!args.text(0, s)) return nullptr;
    if (!datetime_api()) return nullptr;
    utils::IsoDate default_date;
    if (!today(default_date)) return nullptr;
    auto parsed =
        without_gil([&] { return utils::parse_datetime_with_default_date(s, default_date); });
    if (!parsed.ok()) return raise(PyExc_ValueError, parsed.error());
    const utils::IsoDate& date = parsed->date;
    const utils::IsoTime& time = parsed->time;
    Ref zone;
    if (!make_zone(time.tzinfo, unnamed_zone, zone)) return nullptr;
    return PyDateTimeAPI->DateTime_FromDateAndTime(
        date.year, date.month, date.day, time.hour, time.minute, time.second,
        static_cast<int>(time.microsecond), zone.get(), PyDateTimeAPI->DateTimeType);
}

constexpr Signature kParseIsoDuration = function_signature("parse_iso_duration", kS);
PyObject* parse_iso_duration(const Args& args) {
    std::string_view s;
    if (!args.text(0, s)) return nullptr;
    auto parsed = without_gil([&] { return utils::parse_duration(s); });
    if (!parsed.ok()) return raise(PyExc_ValueError, parsed.error());
    const utils::IsoDuration::Exact* exact = parsed->as_exact();
    if (exact == nullptr) {
        return raise(PyExc_TypeError, "ISO 8601 duration '" + std::string(s) +
                                          "' contains year/month components that cannot be "
                                          "represented as a fixed timedelta");
    }
    auto delta = utils::split_timedelta(exact->microseconds);
    if (!delta.ok()) return raise(PyExc_OverflowError, delta.error());
    if (!datetime_api()) return nullptr;
    // Already normalised; the constructor still checks the day range.
    return PyDateTimeAPI->Delta_FromDelta(delta->days, delta->seconds, delta->microseconds, 0,
                                          PyDateTimeAPI->DeltaType);
}

constexpr Signature kDurationIsoformat = function_signature("duration_isoformat", kTduration);
PyObject* duration_isoformat(const Args& args) {
    PyObject* tduration = args.get(0);
    if (!datetime_api()) return nullptr;
    if (!PyDelta_Check(tduration)) {
        return raise(PyExc_TypeError, "duration_isoformat expects a datetime.timedelta");
    }
    const int32_t days = PyDateTime_DELTA_GET_DAYS(tduration);
    const int32_t seconds = PyDateTime_DELTA_GET_SECONDS(tduration);
    const int32_t microseconds = PyDateTime_DELTA_GET_MICROSECONDS(tduration);
    std::string text =
        without_gil([&] { return utils::duration_isoformat(days, seconds, microseconds); });
    return new_str(text).release();
}

// Entirely with the lock held: it calls Python code.
constexpr Signature kTimezoneFromName = function_signature("timezone_from_name", kName);
PyObject* timezone_from_name(const Args& args) {
    std::string_view name;
    if (!args.text(0, name)) return nullptr;
    if (name.empty()) Py_RETURN_NONE;
    Ref zone_info = module_attribute(zoneinfo_name, "zoneinfo", zone_info_name, "ZoneInfo");
    if (!zone_info) return nullptr;
    // An exact str, also when the argument is a str subclass.
    Ref key = PyUnicode_CheckExact(args.get(0)) ? Ref::borrow(args.get(0)) : new_str(name);
    if (!key) return nullptr;
    Ref zone(PyObject_CallOneArg(zone_info.get(), key.get()));
    if (!zone) {
        // An unknown or invalid key means no zone. Interrupts and exits are not lookup
        // failures and go on.
        if (!PyErr_ExceptionMatches(PyExc_Exception)) return nullptr;
        PyErr_Clear();
        Py_RETURN_NONE;
    }
    if (!datetime_api()) return nullptr;
    if (!PyTZInfo_Check(zone.get())) return raise_not_instance(zone.get(), "tzinfo");
    return zone.release();
}

}  // namespace

const FunctionDef parse_iso_date_def{&kParseIsoDate,
                                     &fastcall_entry<kParseIsoDate, parse_iso_date>};
const FunctionDef parse_iso_time_def{&kParseIsoTime,
                                     &fastcall_entry<kParseIsoTime, parse_iso_time>};
const FunctionDef parse_datetime_def{&kParseDatetime,
                                     &fastcall_entry<kParseDatetime, parse_datetime>};
const FunctionDef parse_iso_duration_def{&kParseIsoDuration,
                                         &fastcall_entry<kParseIsoDuration, parse_iso_duration>};
const FunctionDef duration_isoformat_def{&kDurationIsoformat,
                                         &fastcall_entry<kDurationIsoformat, duration_isoformat>};
const FunctionDef timezone_from_name_def{&kTimezoneFromName,
                                         &fastcall_entry<kTimezoneFromName, timezone_from_name>};

}  // namespace quarn_rs

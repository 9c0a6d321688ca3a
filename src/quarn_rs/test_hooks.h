// Test-only entry points, compiled in when QUARN_TEST_HOOKS is on: they let the Python tests
// reach the failure paths of the module boundary that no input can reach, and the record classes
// without going through the project index.
#pragma once

#include "quarn_rs/py.h"

namespace quarn_rs {

// Sets every hook as an attribute of the module (outside __all__). Does nothing in other builds.
bool add_test_hooks(PyObject* module);

#ifdef QUARN_TEST_HOOKS
struct FunctionDef;
// Records with known values (record_hooks.cpp).
extern const FunctionDef records_for_tests_def;
#endif

}  // namespace quarn_rs

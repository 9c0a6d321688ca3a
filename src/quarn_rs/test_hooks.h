// Test-only entry points, compiled in when QUARN_TEST_HOOKS is on: they let the Python tests
// reach the failure paths of the module boundary that no input can reach.
#pragma once

#include "quarn_rs/py.h"

namespace quarn_rs {

// Sets the hooks as attributes of the module (outside __all__). Does nothing in other builds.
bool add_test_hooks(PyObject* module);

}  // namespace quarn_rs

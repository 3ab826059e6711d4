// checks.h: the exact argument type test of annotated built-in types.
#pragma once

#include <nanobind/nanobind.h>

namespace pyglue {

namespace nb = nanobind;

/// Refuses anything but exactly `type` (a subclass or None too) with
/// TypeError "Argument 'size' has incorrect type (expected tuple, got list)".
void require_exact_type(nb::handle value, PyTypeObject* type, const char* argument);

}  // namespace pyglue

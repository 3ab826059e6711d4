// checks.h: the argument checks both extensions make: exact types and file-name endings.
#pragma once

#include <nanobind/nanobind.h>

namespace pyglue {

namespace nb = nanobind;

/// Refuses anything but exactly `type` (a subclass or None too) with
/// TypeError "Argument 'size' has incorrect type (expected tuple, got list)".
void require_exact_type(nb::handle value, PyTypeObject* type, const char* argument);

/// What a failing `assert` raises: AssertionError without a message.
[[noreturn]] void fail_assertion();

/// `assert text.lower().endswith(suffix)`.
void assert_lower_endswith(nb::handle text, nb::handle suffix);

}  // namespace pyglue

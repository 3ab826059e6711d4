// errors.h: the one place where C++ exceptions become Python errors.
#pragma once

#include <nanobind/nanobind.h>

namespace pyglue {

namespace nb = nanobind;

/// Sets a Python error with a printf-style message and throws it as
/// nb::python_error, so a method body can stop like `raise` would.
[[noreturn]] void raise(PyObject* exception_type, const char* format, ...);

/// Throws the Python error that is currently set. For C API calls that
/// returned failure.
[[noreturn]] inline void raise_current() {
    throw nb::python_error();
}

/// Converts the C++ exception being handled into a Python error. Call only
/// from a catch block at a boundary where the interpreter calls C++.
void set_error_from_current_exception() noexcept;

}  // namespace pyglue

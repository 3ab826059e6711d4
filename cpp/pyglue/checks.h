// checks.h: the checks both extensions make: exact types, what a hook returns, file-name
// endings.
#pragma once

#include "calls.h"

namespace pyglue {

namespace nb = nanobind;

namespace detail {
inline const Name lower{"lower"};
inline const Name endswith{"endswith"};
}  // namespace detail

/// Refuses anything but exactly `type` (a subclass or None too) with
/// TypeError "Argument 'size' has incorrect type (expected tuple, got list)".
inline void require_exact_type(nb::handle value, PyTypeObject* type, const char* argument) {
    if (Py_TYPE(value.ptr()) != type)
        raise(PyExc_TypeError, "Argument '%.200s' has incorrect type (expected %.200s, got %.200s)",
              argument, type->tp_name, Py_TYPE(value.ptr())->tp_name);
}

/// Refuses a `value` that is not an instance of `type` with TypeError
/// "_getActor() must return a vtkProp, not str" (`source` "_getActor()", `expected` "vtkProp").
inline void require_instance(nb::handle value, nb::handle type, const char* source,
                             const char* expected) {
    int is_instance = PyObject_IsInstance(value.ptr(), type.ptr());
    if (is_instance < 0)
        raise_current();
    if (!is_instance)
        raise(PyExc_TypeError, "%.200s must return a %.200s, not %.200s", source, expected,
              Py_TYPE(value.ptr())->tp_name);
}

/// What a failing `assert` raises: AssertionError without a message.
[[noreturn]] inline void fail_assertion() {
    PyErr_SetNone(PyExc_AssertionError);
    raise_current();
}

/// `assert text.lower().endswith(suffix)`.
inline void assert_lower_endswith(nb::handle text, nb::handle suffix) {
    nb::object lowered = call_method(text, detail::lower);
    if (!truthy(call_method(lowered, detail::endswith, suffix)))
        fail_assertion();
}

}  // namespace pyglue

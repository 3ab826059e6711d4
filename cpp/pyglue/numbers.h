// numbers.h: Python numbers read into C++ ones, errors propagating.
#pragma once

#include "errors.h"

namespace pyglue {

/// `float(value)`: anything with `__float__` or `__index__`; TypeError otherwise.
inline double to_double(nb::handle value) {
    double number = PyFloat_AsDouble(value.ptr());
    if (number == -1.0 && PyErr_Occurred())
        raise_current();
    return number;
}

/// `value` as a C long: an int or anything with `__index__`; OverflowError beyond.
inline long to_long(nb::handle value) {
    long number = PyLong_AsLong(value.ptr());
    if (number == -1 && PyErr_Occurred())
        raise_current();
    return number;
}

}  // namespace pyglue

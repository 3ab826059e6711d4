// call.h: what a C++ method body receives: its bound arguments and its module.
#pragma once

#include <nanobind/nanobind.h>

#include "errors.h"
#include "names.h"

namespace pyglue {

namespace nb = nanobind;

/// The arguments of one call, already bound: `self` first, then every declared
/// parameter in order with defaults filled in. Handles are borrowed from the caller.
class Call {
public:
    Call(PyObject* globals, PyObject* const* args) : globals_(globals), args_(args) {}

    nb::handle self() const { return args_[0]; }
    /// The i-th declared parameter after `self`, counting from 1.
    nb::handle arg(size_t i) const { return args_[i]; }

    /// A module-level name, looked up in the module namespace on every call so
    /// that rebinding it (for example with monkeypatch) takes effect.
    nb::object global(const Name& name) const {
        PyObject* value = PyDict_GetItemWithError(globals_, name.ptr());
        if (!value) {
            if (!PyErr_Occurred())
                PyErr_Format(PyExc_NameError, "name '%U' is not defined", name.ptr());
            raise_current();
        }
        return nb::borrow(value);
    }

private:
    PyObject* globals_;
    PyObject* const* args_;
};

/// The C++ body of a method. Returns the result (nb::none() for None) or throws
/// nb::python_error with the Python error that ended it.
using Impl = nb::object (*)(const Call&);

}  // namespace pyglue

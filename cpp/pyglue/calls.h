// calls.h: direct calls from C++ into Python by interned name, without temporary tuples or dicts.
#pragma once

#include <nanobind/nanobind.h>

#include "errors.h"
#include "names.h"

namespace pyglue {

namespace nb = nanobind;

inline nb::object checked(PyObject* result) {
    if (!result)
        raise_current();
    return nb::steal(result);
}

/// `bool(value)`, as an `if` or `assert` tests it.
inline bool truthy(nb::handle value) {
    int result = PyObject_IsTrue(value.ptr());
    if (result < 0)
        raise_current();
    return result != 0;
}

/// A built-in such as `open` or `print`, looked up in the caller's builtins.
inline nb::object builtin(const Name& name) {
    PyObject* value = PyDict_GetItemWithError(PyEval_GetBuiltins(), name.ptr());
    if (!value) {
        if (!PyErr_Occurred())
            PyErr_Format(PyExc_NameError, "name '%U' is not defined", name.ptr());
        raise_current();
    }
    return nb::borrow(value);
}

/// `obj.name` (attribute lookup, so instance state and overrides are honoured).
inline nb::object getattr(nb::handle obj, const Name& name) {
    return checked(PyObject_GetAttr(obj.ptr(), name.ptr()));
}

/// `getattr(obj, name, fallback)`: only a missing attribute gives `fallback`; any other error
/// propagates. Misses cost no exception object.
inline nb::object getattr_or(nb::handle obj, const Name& name, nb::handle fallback) {
    PyObject* value = nullptr;
#if PY_VERSION_HEX >= 0x030D0000
    int found = PyObject_GetOptionalAttr(obj.ptr(), name.ptr(), &value);
#else
    int found = _PyObject_LookupAttr(obj.ptr(), name.ptr(), &value);
#endif
    if (found < 0)
        raise_current();
    return found ? nb::steal(value) : nb::borrow(fallback);
}

/// `obj.name = value`.
inline void setattr(nb::handle obj, const Name& name, nb::handle value) {
    if (PyObject_SetAttr(obj.ptr(), name.ptr(), value.ptr()) != 0)
        raise_current();
}

/// `fn(args...)`.
template <typename... Args>
nb::object call(nb::handle fn, Args... args) {
    // Slot 0 is spare so that bound methods may prepend `self` in place.
    PyObject* argv[] = {nullptr, nb::handle(args).ptr()...};
    return checked(PyObject_Vectorcall(fn.ptr(), argv + 1,
                                       sizeof...(Args) | PY_VECTORCALL_ARGUMENTS_OFFSET, nullptr));
}

/// `fn(k0=values[0], k1=values[1], ...)` with the keyword names of `kw`. Values
/// beyond the names come first and go by position: `fn(p0, k0=v0)`.
template <typename... Args>
nb::object call_kw(nb::handle fn, const KwNames& kw, Args... values) {
    PyObject* argv[] = {nullptr, nb::handle(values).ptr()...};
    size_t positional = sizeof...(Args) - static_cast<size_t>(kw.size());
    return checked(PyObject_Vectorcall(fn.ptr(), argv + 1,
                                       positional | PY_VECTORCALL_ARGUMENTS_OFFSET, kw.ptr()));
}

/// `obj.name(args...)`: looked up on every call, so a subclass override runs.
template <typename... Args>
nb::object call_method(nb::handle obj, const Name& name, Args... args) {
    PyObject* argv[] = {obj.ptr(), nb::handle(args).ptr()...};
    return checked(PyObject_VectorcallMethod(
        name.ptr(), argv, (1 + sizeof...(Args)) | PY_VECTORCALL_ARGUMENTS_OFFSET, nullptr));
}

/// `obj.name(k0=values[0], ...)` with the keyword names of `kw`. Values beyond
/// the names come first and go by position: `obj.name(p0, k0=v0)`.
template <typename... Args>
nb::object call_method_kw(nb::handle obj, const Name& name, const KwNames& kw, Args... values) {
    PyObject* argv[] = {obj.ptr(), nb::handle(values).ptr()...};
    size_t positional = 1 + sizeof...(Args) - static_cast<size_t>(kw.size());
    return checked(PyObject_VectorcallMethod(
        name.ptr(), argv, positional | PY_VECTORCALL_ARGUMENTS_OFFSET, kw.ptr()));
}

}  // namespace pyglue

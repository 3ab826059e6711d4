// method_cache.cpp: the lookup that PyObject_VectorcallMethod makes, remembered per call site.
#include "method_cache.h"

namespace pyglue {

nb::object MethodCache::call_vector(PyObject* const* argv, Py_ssize_t n_args, PyObject* kwnames) {
    if (!state_.matches(argv[0]) || n_args != n_args_ || kwnames != kwnames_)
        return look_up_and_call(argv, n_args, kwnames);
    // The lookup this replaces would hold the method for the length of the call.
    nb::object method = nb::borrow(method_);
    if (!body_.impl)
        return checked(PyObject_Vectorcall(method_, argv, static_cast<size_t>(n_args), kwnames));
    Body body = body_;
    return run_body(body, argv);
}

/// PyObject_VectorcallMethod step by step, recording the method found (a function defined in
/// the class, or one of our own bodies) when nothing changed the state during the lookup.
nb::object MethodCache::look_up_and_call(PyObject* const* argv, Py_ssize_t n_args,
                                         PyObject* kwnames) {
#if PY_VERSION_HEX >= 0x030C0000
    // No lookup state is ever recorded there (see LookupState).
    return checked(PyObject_VectorcallMethod(
        name_.ptr(), argv, static_cast<size_t>(n_args) | PY_VECTORCALL_ARGUMENTS_OFFSET, kwnames));
#else
    state_ = LookupState();
    PyObject* self = argv[0];
    LookupState before;
    bool cacheable = before.record(self);
    PyObject* found = nullptr;
    int unbound = _PyObject_GetMethod(self, name_.ptr(), &found);
    nb::object method = checked(found);
    if (!unbound) {
        // An instance attribute, or what a descriptor gave: called without `self`, which
        // leaves argv[0] free for the callee to prepend its own.
        return checked(PyObject_Vectorcall(
            found, argv + 1, static_cast<size_t>(n_args - 1) | PY_VECTORCALL_ARGUMENTS_OFFSET,
            kwnames));
    }
    Body body{};
    bool own = body_of(found, n_args, kwnames, body);
    LookupState after;
    if (cacheable && after.record(self) && after == before) {
        state_ = after;
        method_ = found;
        body_ = body;
        n_args_ = n_args;
        kwnames_ = kwnames;
    }
    if (!own)
        return checked(PyObject_Vectorcall(found, argv, static_cast<size_t>(n_args), kwnames));
    return run_body(body, argv);
#endif
}

}  // namespace pyglue

// method_cache.h: `self.name(...)` that runs a class's own C++ body without the lookup, while
// nothing has overridden it.
#pragma once

#include "calls.h"
#include "lookup_state.h"
#include "method.h"

namespace pyglue {

/// One call site of `self.name(...)`: behaves exactly as call_method, but remembers the method
/// that the lookup found in the class (with nothing of that name in the instance dict). While
/// `self` is in the same LookupState, that is still what the lookup would find, so it is called
/// without one: one of our own bodies directly, any other function (a Python override in a
/// subclass) through vectorcall. An override, an instance attribute or a class attribute
/// assigned later changes the state, and the next call looks the name up again.
class MethodCache {
public:
    explicit MethodCache(const Name& name) : name_(name) {}
    MethodCache(const MethodCache&) = delete;
    MethodCache& operator=(const MethodCache&) = delete;

    /// `self.name(args...)`.
    template <typename... Args>
    nb::object call(nb::handle self, Args... args) {
        PyObject* argv[] = {self.ptr(), nb::handle(args).ptr()...};
        return call_vector(argv, 1 + sizeof...(Args), nullptr);
    }

    /// `self.name(k0=values[0], ...)` with the keyword names of `kw`. Values beyond the names
    /// come first and go by position.
    template <typename... Args>
    nb::object call_kw(nb::handle self, const KwNames& kw, Args... values) {
        PyObject* argv[] = {self.ptr(), nb::handle(values).ptr()...};
        auto positional = static_cast<Py_ssize_t>(1 + sizeof...(Args)) - kw.size();
        return call_vector(argv, positional, kw.ptr());
    }

private:
    /// `argv[0]` is `self`; `n_args` counts it.
    nb::object call_vector(PyObject* const* argv, Py_ssize_t n_args, PyObject* kwnames);
    nb::object look_up_and_call(PyObject* const* argv, Py_ssize_t n_args, PyObject* kwnames);

    const Name& name_;
    LookupState state_;
    PyObject* method_ = nullptr;  ///< borrowed: the class holds it while `state_` matches
    Body body_{};                 ///< impl nullptr: `method_` is not one of our own bodies
    Py_ssize_t n_args_ = 0;
    PyObject* kwnames_ = nullptr;
};

}  // namespace pyglue

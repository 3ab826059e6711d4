// method.h: the function object that carries C++ method bodies into Python classes.
#pragma once

#include <vector>

#include "call.h"

namespace pyglue {

/// One parameter after `self`.
struct Param {
    const char* name;
    const char* annotation = nullptr;  ///< recorded as a string; nullptr: none
    nb::object default_value = {};     ///< empty: the argument is required
};

/// Everything a method object is made from.
struct MethodDef {
    const char* name;
    Impl impl;
    std::vector<Param> params;      ///< excluding `self`
    const char* returns = nullptr;  ///< return annotation; nullptr: none
    const char* doc = nullptr;
};

/// Makes a method object that behaves like a Python function defined in a class
/// body: it binds to instances, takes arguments by position or keyword and
/// carries the usual introspection attributes.
nb::object make_method(const MethodDef& def, const char* class_qualname, nb::handle module_name,
                       nb::handle globals);

/// Readies the method type; called once when a module is executed.
bool ready_method_type();

/// A method's C++ body together with the module namespace it looks names up in.
struct Body {
    Impl impl;
    PyObject* globals;
};

/// The body of `callable` if it is a method object made by make_method and the arguments of a
/// vectorcall (`n_args` positional ones, `self` first, then the values of the keywords
/// `kwnames`) are its parameters in order, so that the body can take them as they are.
bool body_of(PyObject* callable, Py_ssize_t n_args, PyObject* kwnames, Body& body);

/// Runs `body` on arguments for which body_of said yes. Any C++ exception but a Python error
/// becomes one here, as it would at the method object's own boundary.
nb::object run_body(const Body& body, PyObject* const* args);

}  // namespace pyglue

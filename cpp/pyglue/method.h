// method.h: the function object that carries C++ method bodies into Python classes.
#pragma once

#include <vector>

#include "call.h"
#include "names.h"

namespace pyglue {

/// One parameter after `self`.
struct Param {
    const char* name;
    const char* annotation = nullptr;  ///< recorded as a string; nullptr: none
    nb::object default_value = {};     ///< empty: the argument is required
};

/// Everything a method object is made from.
struct MethodDef {
    const Name& name;  ///< the interned name, shared with the calls made through `self`
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

}  // namespace pyglue

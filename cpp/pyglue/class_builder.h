// class_builder.h: defines a Python class from C++ method bodies, as a class statement would.
#pragma once

#include "method.h"

namespace pyglue {

/// Collects a class namespace in definition order, then creates the class with
/// `type(name, (object,), namespace)` and binds it in the module namespace.
/// The class is an ordinary Python class: subclassable, instances with a
/// `__dict__` that holds all of their state.
class ClassBuilder {
public:
    ClassBuilder(nb::handle module, const char* name, const char* doc);

    ClassBuilder& def(const MethodDef& method);

    /// Creates the class and binds it in the module namespace under its name.
    nb::object finish();

private:
    const char* name_;
    nb::object module_name_;
    nb::handle globals_;
    nb::dict namespace_;
};

}  // namespace pyglue

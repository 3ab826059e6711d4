// class_builder.cpp: class creation through the `type` metaclass.
#include "class_builder.h"

#include "errors.h"

namespace pyglue {

ClassBuilder::ClassBuilder(nb::handle module, const char* name, const char* doc)
    : name_(name), module_name_(module.attr("__name__")), globals_(PyModule_GetDict(module.ptr())) {
    namespace_["__module__"] = module_name_;
    namespace_["__qualname__"] = nb::str(name);
    namespace_["__doc__"] = nb::str(doc);
}

ClassBuilder& ClassBuilder::def(const MethodDef& method) {
    namespace_[nb::handle(method.name.ptr())] = make_method(method, name_, module_name_, globals_);
    return *this;
}

nb::object ClassBuilder::finish() {
    nb::object bases = nb::make_tuple(nb::handle(reinterpret_cast<PyObject*>(&PyBaseObject_Type)));
    nb::object cls =
        nb::handle(reinterpret_cast<PyObject*>(&PyType_Type))(nb::str(name_), bases, namespace_);
    if (PyDict_SetItemString(globals_.ptr(), name_, cls.ptr()) != 0)
        raise_current();
    return cls;
}

}  // namespace pyglue

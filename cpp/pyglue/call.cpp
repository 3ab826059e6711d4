// call.cpp: module-level name lookup for method bodies.
#include "call.h"

#include "errors.h"

namespace pyglue {

nb::object Call::global(const Name& name) const {
    PyObject* value = PyDict_GetItemWithError(globals_, name.ptr());
    if (!value) {
        if (!PyErr_Occurred())
            PyErr_Format(PyExc_NameError, "name '%U' is not defined", name.ptr());
        raise_current();
    }
    return nb::borrow(value);
}

}  // namespace pyglue

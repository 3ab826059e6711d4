// checks.cpp: exact argument type tests.
#include "checks.h"

#include "errors.h"

namespace pyglue {

void require_exact_type(nb::handle value, PyTypeObject* type, const char* argument) {
    if (Py_TYPE(value.ptr()) != type)
        raise(PyExc_TypeError, "Argument '%.200s' has incorrect type (expected %.200s, got %.200s)",
              argument, type->tp_name, Py_TYPE(value.ptr())->tp_name);
}

}  // namespace pyglue

// checks.cpp: exact argument type tests and the file-name ending assertion.
#include "checks.h"

#include "calls.h"
#include "errors.h"

namespace pyglue {
namespace {

const Name lower{"lower"};
const Name endswith{"endswith"};

}  // namespace

void require_exact_type(nb::handle value, PyTypeObject* type, const char* argument) {
    if (Py_TYPE(value.ptr()) != type)
        raise(PyExc_TypeError, "Argument '%.200s' has incorrect type (expected %.200s, got %.200s)",
              argument, type->tp_name, Py_TYPE(value.ptr())->tp_name);
}

void fail_assertion() {
    PyErr_SetNone(PyExc_AssertionError);
    raise_current();
}

void assert_lower_endswith(nb::handle text, nb::handle suffix) {
    nb::object lowered = call_method(text, lower);
    if (!truthy(call_method(lowered, endswith, suffix)))
        fail_assertion();
}

}  // namespace pyglue

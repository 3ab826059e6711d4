// window_size.cpp: the sizes a viewer's window may be given.
#include "window_checks.h"

namespace marnox::viewer {
namespace {

/// Whether `side` is an int from 1 to kMaxWindowSide; an int too large for a C long is not.
bool is_allowed_side(PyObject* side) {
    int overflow = 0;
    long value = PyLong_AsLongAndOverflow(side, &overflow);
    if (value == -1 && PyErr_Occurred())
        pyglue::raise_current();
    return overflow == 0 && value >= 1 && value <= kMaxWindowSide;
}

}  // namespace

void require_window_size(nb::handle size) {
    if (!PyTuple_Check(size.ptr()) || PyTuple_GET_SIZE(size.ptr()) != 2)
        return;
    PyObject* width = PyTuple_GET_ITEM(size.ptr(), 0);
    PyObject* height = PyTuple_GET_ITEM(size.ptr(), 1);
    if (!PyLong_Check(width) || !PyLong_Check(height))
        return;
    if (!is_allowed_side(width) || !is_allowed_side(height))
        pyglue::raise(PyExc_ValueError, "window size must be two integers from 1 to %ld, got %R",
                      kMaxWindowSide, size.ptr());
}

}  // namespace marnox::viewer

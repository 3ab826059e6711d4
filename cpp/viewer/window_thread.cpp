// window_thread.cpp: a viewer's window belongs to the thread that called init.
#include "window_checks.h"

namespace marnox::viewer {
namespace {

/// The calling thread's identity, as `threading.get_ident()` gives it.
nb::object current_thread() {
    return pyglue::checked(PyLong_FromUnsignedLong(PyThread_get_thread_ident()));
}

}  // namespace

void record_window_thread(nb::handle self) {
    pyglue::setattr(self, field::thread, current_thread());
}

void require_window_thread(nb::handle self, const char* operation) {
    nb::object owner = pyglue::getattr_or(self, field::thread, Py_None);
    if (owner.is_none())
        return;
    int same = PyObject_RichCompareBool(owner.ptr(), current_thread().ptr(), Py_EQ);
    if (same < 0)
        pyglue::raise_current();
    // OpenGL contexts are current on one thread; drawing or releasing from another one
    // crashes the driver instead of failing.
    if (!same)
        pyglue::raise(PyExc_RuntimeError,
                      "%s() called from another thread: the window belongs to the thread that "
                      "called init() (_thread %S)",
                      operation, owner.ptr());
}

bool is_initialised(nb::handle self) {
    return !pyglue::getattr_or(self, field::thread, Py_None).is_none();
}

}  // namespace marnox::viewer

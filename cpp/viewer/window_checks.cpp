// window_checks.cpp: what a viewer checks before it touches its window: the size it is given,
// the thread it belongs to, whether it can show at all, its renderer, and how far its life has got.
#include "host.h"

namespace marnox::viewer {
namespace {

const char* const kOffScreenOnlyWindows[] = {"vtkEGLRenderWindow", "vtkOSOpenGLRenderWindow"};

/// Whether `side` is an int from 1 to kMaxWindowSide; an int too large for a C long is not.
bool is_allowed_side(PyObject* side) {
    int overflow = 0;
    long value = PyLong_AsLongAndOverflow(side, &overflow);
    if (value == -1 && PyErr_Occurred())
        pyglue::raise_current();
    return overflow == 0 && value >= 1 && value <= kMaxWindowSide;
}

/// The calling thread's identity, as `threading.get_ident()` gives it.
nb::object current_thread() {
    return pyglue::checked(PyLong_FromUnsignedLong(PyThread_get_thread_ident()));
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

/// Asked through VTK's own `IsA`, so subclasses count too.
bool renders_off_screen_only(nb::handle window) {
    for (const char* name : kOffScreenOnlyWindows)
        if (pyglue::truthy(pyglue::call_method(window, vtk::IsA, nb::str(name))))
            return true;
    return false;
}

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

nb::object checked_renderer(const Call& call) {
    nb::object renderer = pyglue::call_method(call.self(), method::get_renderer);
    int is_renderer = PyObject_IsInstance(renderer.ptr(), call.global(global::vtk_renderer).ptr());
    if (is_renderer < 0)
        pyglue::raise_current();
    if (!is_renderer)
        pyglue::raise(PyExc_TypeError, "_getRenderer() must return a vtkRenderer, not %.200s",
                      Py_TYPE(renderer.ptr())->tp_name);
    return renderer;
}

bool is_initialised(nb::handle self) {
    return !pyglue::getattr_or(self, field::thread, Py_None).is_none();
}

/// Reads `_stopped` like `getattr(self, "_stopped", False)`, so a viewer never stopped needs
/// no such field.
bool is_stopped(nb::handle self) {
    return pyglue::truthy(pyglue::getattr_or(self, field::stopped, Py_False));
}

}  // namespace marnox::viewer

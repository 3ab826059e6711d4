// host.cpp: a viewer's render window: opening, looping, drawing and closing it, and the checks
// made before it is touched (the size it is given, the thread it belongs to, whether it can show
// at all, its renderer, how far its life has got).
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
    return overflow == 0 && is_allowed_window(value, value);
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
    pyglue::require_instance(renderer, call.global(global::vtk_renderer), "_getRenderer()",
                             "vtkRenderer");
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

namespace host {
namespace {

using pyglue::call_method;
using pyglue::getattr;

/// Calls each of `steps` on `self` in order, looked up on `self` so that overrides run; an
/// error ends the sequence there.
void call_each(nb::handle self, std::span<const Name* const> steps) {
    for (const Name* step : steps) call_method(self, *step);
}

}  // namespace

nb::object init(const Call& call, const Kind& kind) {
    nb::handle self = call.self();
    // VTK reopens a finalised window, and a new interactor on it can crash the process.
    if (is_stopped(self))
        pyglue::raise(PyExc_RuntimeError, "Window stopped, cannot open it again");
    require_window_thread(self, "init");
    record_window_thread(self);
    nb::object window = getattr(self, field::window);
    hold_window_release(self, window);
    if (pyglue::truthy(call.arg(1))) {
        call_method(window, vtk::OffScreenRenderingOn);
    } else {
        if (renders_off_screen_only(window))
            pyglue::raise(PyExc_RuntimeError,
                          "No display to open the window on, use init(offscreen=True)");
        pyglue::setattr(self, field::interactor,
                        pyglue::call(call.global(global::vtk_render_window_interactor)));
        nb::object interactor = getattr(self, field::interactor);
        if (kind.interactor_style)
            call_method(interactor, vtk::SetInteractorStyle,
                        pyglue::call(call.global(*kind.interactor_style)));
        call_method(interactor, vtk::SetRenderWindow, window);
        call_method(interactor, vtk::Initialize);
    }
    if (kind.prepare_window)
        kind.prepare_window(call, window);
    release_shared_props(window);
    call_method(window, vtk::Render);
    call_method(window, vtk::SetWindowName, nb::str(kind.title));
    call_method(self, method::render);
    call_each(self, kind.after_first_frame);
    return nb::none();
}

nb::object render(const Call& call, const Kind& kind) {
    nb::handle self = call.self();
    require_window_thread(self, "render");
    call_each(self, kind.refresh);
    // A stopped window stays closed: drawing would bring it back.
    if (is_stopped(self))
        return nb::none();
    nb::object interactor = getattr(self, field::interactor);
    if (interactor.is_none())
        return nb::none();
    call_method(interactor, vtk::ProcessEvents);
    call_method(interactor, vtk::Render);
    return nb::none();
}

/// `spin()`: hands the thread to the interactor's event loop until it ends.
nb::object spin(const Call& call) {
    nb::handle self = call.self();
    require_window_thread(self, "spin");
    if (is_stopped(self))
        return nb::none();
    nb::object interactor = getattr(self, field::interactor);
    if (!interactor.is_none())
        call_method(interactor, vtk::Start);
    return nb::none();
}

MethodDef spin_method() {
    const char* doc =
        "Run the window's event loop until the window is closed or stop() ends it.\n"
        "\n"
        "Returns at once when there is no interactor (before init(), or off screen) and\n"
        "after stop(). Nothing is refreshed while the loop runs: for live content, call\n"
        "render() from your own loop instead. Returns None.\n";
    return {.name = method::spin, .impl = spin, .params = {}, .doc = doc};
}

/// `stop()`: the window is finalised before the loop is told to end; `_interactor` stays.
nb::object stop(const Call& call) {
    nb::handle self = call.self();
    require_window_thread(self, "stop");
    pyglue::setattr(self, field::stopped, Py_True);
    nb::object window = getattr(self, field::window);
    release_props_before_finalize(window);
    call_method(window, vtk::Finalize);
    nb::object interactor = getattr(self, field::interactor);
    if (!interactor.is_none())
        call_method(interactor, vtk::TerminateApp);
    return nb::none();
}

MethodDef stop_method() {
    const char* doc =
        "Close the window (finalise it), then end a running event loop.\n"
        "\n"
        "_interactor stays set. A stopped viewer stays closed: render() still runs the\n"
        "per-frame updates but draws nothing, spin() returns at once, and init() and\n"
        "screenshot() raise RuntimeError, because drawing would reopen the window.\n"
        "setProject() and the viewer's other operations keep working on its content.\n"
        "Calling stop() again does no harm. Returns None.\n";
    return {.name = method::stop, .impl = stop, .params = {}, .doc = doc};
}

}  // namespace host
}  // namespace marnox::viewer

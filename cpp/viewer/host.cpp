// host.cpp: opening, looping, drawing and closing a viewer's render window.
#include "host.h"

namespace marnox::viewer::host {

using pyglue::call_method;
using pyglue::getattr;

namespace {

/// The window classes VTK falls back to when it finds no display. They never show a window,
/// and an interactor initialised on one crashes the process.
const char* const kOffScreenOnlyWindows[] = {"vtkEGLRenderWindow", "vtkOSOpenGLRenderWindow"};

/// Whether `window` is one of those classes, asked through VTK's own `IsA`.
bool renders_off_screen_only(nb::handle window) {
    for (const char* name : kOffScreenOnlyWindows)
        if (pyglue::truthy(call_method(window, vtk::is_a, nb::str(name))))
            return true;
    return false;
}

}  // namespace

/// Reads `_stopped` like `getattr(self, "_stopped", False)`, so a viewer never stopped needs
/// no such field.
bool is_stopped(nb::handle self) {
    return pyglue::truthy(pyglue::getattr_or(self, field::stopped, Py_False));
}

/// `init(offscreen)`: window, interactor and first frames, in the order both viewers share.
nb::object init(const Call& call, const Kind& kind) {
    nb::handle self = call.self();
    // VTK reopens a finalised window, and a new interactor on it can crash the process.
    if (is_stopped(self))
        pyglue::raise(PyExc_RuntimeError, "Window stopped, cannot open it again");
    nb::object window = getattr(self, field::window);
    if (pyglue::truthy(call.arg(1))) {
        call_method(window, vtk::off_screen_rendering_on);
    } else {
        if (renders_off_screen_only(window))
            pyglue::raise(PyExc_RuntimeError,
                          "No display to open the window on, use init(offscreen=True)");
        pyglue::setattr(self, field::interactor,
                        pyglue::call(call.global(global::vtk_render_window_interactor)));
        nb::object interactor = getattr(self, field::interactor);
        if (kind.is_workspace) {
            nb::object style =
                pyglue::call(call.global(global::vtk_interactor_style_trackball_camera));
            call_method(interactor, vtk::set_interactor_style, style);
        }
        call_method(interactor, vtk::set_render_window, window);
        call_method(interactor, vtk::initialize);
    }
    if (kind.is_workspace) {
        call_method(window, vtk::set_size, getattr(self, field::size));
        call_method(window, vtk::add_renderer, call_method(self, method::get_renderer));
    }
    call_method(window, vtk::render);
    call_method(window, vtk::set_window_name, nb::str(kind.title));
    call_method(self, method::render);
    if (kind.is_workspace) {
        call_method(self, method::reset_camera);
        call_method(self, method::render);
    }
    return nb::none();
}

/// `spin()`: hands the thread to the interactor's event loop until it ends.
nb::object spin(const Call& call) {
    nb::handle self = call.self();
    if (is_stopped(self))
        return nb::none();
    nb::object interactor = getattr(self, field::interactor);
    if (!interactor.is_none())
        call_method(interactor, vtk::start);
    return nb::none();
}

/// `render()`: the viewer's refresh step, then one event pump and one frame on screen.
nb::object render(const Call& call, const Kind& kind) {
    nb::handle self = call.self();
    kind.refresh(self);
    // A stopped window stays closed: drawing would bring it back.
    if (is_stopped(self))
        return nb::none();
    nb::object interactor = getattr(self, field::interactor);
    if (interactor.is_none())
        return nb::none();
    call_method(interactor, vtk::process_events);
    call_method(interactor, vtk::render);
    return nb::none();
}

/// `stop()`: the window is finalised before the loop is told to end; `_interactor` stays.
nb::object stop(const Call& call) {
    nb::handle self = call.self();
    pyglue::setattr(self, field::stopped, Py_True);
    call_method(getattr(self, field::window), vtk::finalize);
    nb::object interactor = getattr(self, field::interactor);
    if (!interactor.is_none())
        call_method(interactor, vtk::terminate_app);
    return nb::none();
}

}  // namespace marnox::viewer::host

// host.cpp: opening, looping, drawing and closing a viewer's render window.
#include "host.h"

namespace marnox::viewer::host {
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
    call_method(getattr(self, field::window), vtk::Finalize);
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

}  // namespace marnox::viewer::host

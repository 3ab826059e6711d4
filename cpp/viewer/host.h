// host.h: the window lifecycle both viewers share: init, spin, render, stop and screenshot.
#pragma once

#include "viewer_names.h"

namespace marnox::viewer::host {

/// The steps of the window lifecycle in which one kind of viewer differs from the other,
/// each called by the host at its place.
struct Kind {
    const char* title;
    /// Sets up a new on-screen interactor before it gets the window.
    void (*style_interactor)(const Call& call, nb::handle interactor);
    /// Readies the window for its first frame, after the off-screen switch or the interactor.
    void (*prepare_window)(const Call& call, nb::handle window);
    /// Follows init's first `self.render()`.
    void (*after_first_frame)(nb::handle self);
    /// Brings the viewer's content up to date from its project, first thing in every render.
    void (*refresh)(nb::handle self);
};

/// Whether `stop` has been called: `_stopped` is set by `stop` and absent before it.
bool is_stopped(nb::handle self);

/// `init(offscreen)`: window, interactor and first frames, with the steps of `kind`.
nb::object init(const Call& call, const Kind& kind);
/// `render()`: the refresh step of `kind`, then one event pump and one frame.
nb::object render(const Call& call, const Kind& kind);

/// `init(offscreen=False)` run by `impl`, which calls host::init with its kind.
MethodDef init_method(pyglue::Impl impl, const char* doc);
/// `render()` run by `impl`, which calls host::render with its kind.
MethodDef render_method(pyglue::Impl impl, const char* doc);
/// spin, stop and screenshot, the same for both viewers.
MethodDef spin_method();
MethodDef stop_method();
MethodDef screenshot_method();

}  // namespace marnox::viewer::host

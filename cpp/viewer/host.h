// host.h: the window lifecycle both viewers share: init, spin, render, stop and screenshot.
#pragma once

#include "viewer_names.h"

namespace marnox::viewer::host {

/// How one kind of viewer differs in its window lifecycle.
struct Kind {
    const char* title;
    /// WorkspaceViewer: trackball interaction, the window sized and given
    /// `_getRenderer()` in init, and the camera fitted between two renders.
    /// ImageViewer: VTK's default interaction; its layout sizes the window
    /// and adds the renderers.
    bool is_workspace;
    /// Brings the viewer's content up to date from its project, first thing
    /// in every render.
    void (*refresh)(nb::handle self);
};

/// Whether `stop` has been called: `_stopped` is set by `stop` and absent before it.
bool is_stopped(nb::handle self);

/// The docstrings of spin, stop and screenshot, the same for both viewers.
extern const char* const kSpinDoc;
extern const char* const kStopDoc;
extern const char* const kScreenshotDoc;

nb::object init(const Call& call, const Kind& kind);
nb::object spin(const Call& call);
nb::object render(const Call& call, const Kind& kind);
nb::object stop(const Call& call);
nb::object screenshot(const Call& call);

}  // namespace marnox::viewer::host

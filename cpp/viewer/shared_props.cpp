// shared_props.cpp: props shown by several windows, made safe to draw in each of them.
//
// A mapper keeps its buffers in one OpenGL context. When another window draws it, VTK releases
// them in the middle of that frame, making the old context current first. VTK's EGL and OSMesa
// windows never make the drawing window's context current again afterwards (their PopContext
// does nothing), so the rest of the frame draws with the wrong context and Mesa crashes.
// Releasing beforehand, outside the frame, leaves nothing for the frame to release; the frame
// starts by making its own context current. X windows restore the context themselves.
//
// Finalising a window releases its props the same way, and then the rest of what the window
// holds (framebuffers, shaders) in the context the props' release left current: another
// window's, whose objects of the same names it deletes, so that window draws nothing from then
// on. Its props are released first, and its own context made current again, before it goes.
#include "host.h"

namespace marnox::viewer {
namespace {

/// Whether `prop` is in more than one viewport: each renderer showing it is a consumer.
bool is_shared(nb::handle prop) {
    return pyglue::to_long(pyglue::call_method(prop, vtk::GetNumberOfConsumers)) > 1;
}

}  // namespace

void release_shared_props(nb::handle window) {
    if (!renders_off_screen_only(window))
        return;
    for (nb::handle renderer : pyglue::call_method(window, vtk::GetRenderers))
        for (nb::handle prop : pyglue::call_method(renderer, vtk::GetViewProps))
            if (is_shared(prop))
                pyglue::call_method(prop, vtk::ReleaseGraphicsResources, window);
}

void release_props_before_finalize(nb::handle window) {
    if (!renders_off_screen_only(window) ||
        !pyglue::truthy(pyglue::call_method(window, vtk::GetInitialized)))
        return;
    for (nb::handle renderer : pyglue::call_method(window, vtk::GetRenderers))
        for (nb::handle prop : pyglue::call_method(renderer, vtk::GetViewProps))
            pyglue::call_method(prop, vtk::ReleaseGraphicsResources, window);
    pyglue::call_method(window, vtk::MakeCurrent);
}

void release_props_as_owner_goes(nb::handle window, std::optional<unsigned long> thread,
                                 const char* owner) noexcept {
    // The window's context is current on the thread that draws in it; another thread that lets
    // the owner go must not draw in it.
    if (thread && *thread != PyThread_get_thread_ident())
        return;
    // Called as the owner goes, maybe while an error is being raised: that error is kept, and
    // one of this release cannot propagate from a destructor.
    nb::error_scope raised;
    try {
        release_props_before_finalize(window);
    } catch (nb::python_error& error) {
        error.discard_as_unraisable(owner);
    }
}

namespace {

const char* const kWindowReleaseName = "marnox.viewer window release";

/// Held by a viewer from init() on: a viewer collected without stop() lets its props go before
/// its window, as stop() does.
struct WindowRelease {
    ~WindowRelease() { release_props_as_owner_goes(window, thread, "releasing a viewer's props"); }

    /// The window, held so that it goes no sooner than this does.
    nb::object window;
    unsigned long thread;
};

}  // namespace

void hold_window_release(nb::handle self, nb::handle window) {
    if (!pyglue::getattr_or(self, field::window_release, Py_None).is_none())
        return;
    auto* release = new WindowRelease{nb::borrow(window), PyThread_get_thread_ident()};
    pyglue::setattr(self, field::window_release,
                    nb::capsule(release, kWindowReleaseName, [](void* owned) noexcept {
                        delete static_cast<WindowRelease*>(owned);
                    }));
}

void define_release_shared_props(nb::handle module) {
    const char* doc =
        "Call before drawing a viewer's window yourself (reading it into an image, say),\n"
        "outside the viewer's own render() and screenshot(), which do it already: on an\n"
        "EGL or OSMesa window, releases the graphics resources of the props that another\n"
        "renderer shows too, since a frame that finds their buffers in another window's\n"
        "context crashes. On other windows it does nothing.\n"
        "\n"
        "    grab = vtkWindowToImageFilter()\n"
        "    grab.SetInput(viewer._window)\n"
        "    releaseSharedProps(viewer._window)\n"
        "    grab.Update()\n";
    nb::setattr(module, "releaseSharedProps",
                nb::cpp_function(release_shared_props, nb::scope(module),
                                 nb::name("releaseSharedProps"), nb::arg("window"), doc));
}

}  // namespace marnox::viewer

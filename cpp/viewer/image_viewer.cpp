// image_viewer.cpp: the ImageViewer class and the steps of its window lifecycle.
#include "image_viewer.h"

#include "host.h"
#include "viewer_classes.h"

namespace marnox::viewer {
namespace {

/// The interactor keeps VTK's default style.
void keep_default_style(const Call&, nb::handle) {}

/// The layout, run by setProject, sizes the window and adds one renderer per viewport.
void window_prepared_by_layout(const Call&, nb::handle) {}

/// The first frame needs no follow-up: there is no camera to fit.
void nothing_after_first_frame(nb::handle) {}

/// The refresh step of render: `self._updateImages()`.
void refresh_images(nb::handle self) {
    pyglue::call_method(self, image::method::update_images);
}

const host::Kind kImageHost = {
    .title = "Marnox Image Viewer",
    .style_interactor = keep_default_style,
    .prepare_window = window_prepared_by_layout,
    .after_first_frame = nothing_after_first_frame,
    .refresh = refresh_images,
};

/// `init(offscreen)`: the host's, without sizing or renderers (the layout does both).
nb::object init(const Call& call) {
    return host::init(call, kImageHost);
}

MethodDef init_method() {
    const char* doc =
        "Open the window on screen or prepare it off screen, then draw the first frame.\n"
        "\n"
        "Records the calling thread in ``_thread``: only it may use the window afterwards.\n"
        "Raises RuntimeError after stop() and from a thread other than the first init()'s.";
    return host::init_method(init, doc);
}

/// `render()`: the host's, with `_updateImages` as its refresh step.
nb::object render(const Call& call) {
    return host::render(call, kImageHost);
}

MethodDef render_method() {
    const char* doc =
        "Copy the system's current images into the viewports, then pump pending\n"
        "window events and draw one frame if the window is open on screen.";
    return host::render_method(render, doc);
}

/// Kept so that both viewers answer the same calls; an image viewer has no
/// single renderer, so this fails with AttributeError unless `_ren` is set.
nb::object get_renderer(const Call& call) {
    return pyglue::getattr(call.self(), field::ren);
}

MethodDef get_renderer_method() {
    const char* doc =
        "Return ``_ren``. An image viewer has no single renderer and never sets\n"
        "it; its renderers are ``_renderers``.";
    return {
        .name = "_getRenderer",
        .impl = get_renderer,
        .params = {},
        .returns = "vtkRenderer",
        .doc = doc,
    };
}

const char* const kDoc =
    "The current images of a project's system, in a grid of viewports.\n"
    "\n"
    "Every camera of the project's workspace gets two viewports (its colour and\n"
    "its depth image); each render copies ``project.system().images()`` into them,\n"
    "paired by position. The state lives in the instance attributes ``_size``,\n"
    "``_project``, ``_renderers``, ``_image_data``, ``_actors``, ``_window`` and\n"
    "``_interactor``; init() adds ``_thread`` and stop() adds ``_stopped``.\n"
    "\n"
    "The window belongs to the thread that calls init() (its identity, as\n"
    "threading.get_ident() gives it, is ``_thread``): from then on init, spin, render,\n"
    "stop, screenshot and setProject raise RuntimeError on any other thread.\n"
    "``size`` is two integers from 1 to MAX_WINDOW_SIZE (16384); others raise ValueError\n"
    "from the constructor and from setProject(), which applies ``_size``.\n"
    "\n"
    "Example::\n"
    "\n"
    "    viewer = ImageViewer(size=(1280, 960))\n"
    "    viewer.setProject(project)\n"
    "    viewer.init(offscreen=True)\n"
    "    viewer.render()\n"
    "    viewer.screenshot(\"images\" + MX_IMAGE_FILE_EXT)\n";

}  // namespace

void define_image_viewer(nb::handle module) {
    pyglue::ClassBuilder(module, "ImageViewer", kDoc)
        .def(image::construct_method())
        .def(image::set_project_method())
        .def(image::refresh_project_method())
        .def(init_method())
        .def(host::spin_method())
        .def(render_method())
        .def(host::stop_method())
        .def(get_renderer_method())
        .def(host::screenshot_method())
        .def(image::update_images_method())
        .finish();
}

}  // namespace marnox::viewer

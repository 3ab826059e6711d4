// image_viewer.cpp: the ImageViewer class: its method table and its window lifecycle.
#include "image_viewer.h"

#include "host.h"
#include "viewer_classes.h"

namespace marnox::viewer {
namespace {

/// The image viewer's refresh step of render: `self._updateImages()`.
void refresh_images(nb::handle self) {
    pyglue::call_method(self, method::update_images);
}

const host::Kind kImageHost = {
    .title = "Marnox Image Viewer",
    .is_workspace = false,
    .refresh = refresh_images,
};

/// `init(offscreen)`: the host's, without sizing or renderers (the layout does both).
nb::object init(const Call& call) {
    return host::init(call, kImageHost);
}
/// `render()`: the host's, with `_updateImages` as its refresh step.
nb::object render(const Call& call) {
    return host::render(call, kImageHost);
}
/// Kept so that both viewers answer the same calls; an image viewer has no
/// single renderer, so this fails with AttributeError unless `_ren` is set.
nb::object get_renderer(const Call& call) {
    return pyglue::getattr(call.self(), field::ren);
}

const char* const kDoc =
    "The current images of a project's system, in a grid of viewports.\n"
    "\n"
    "Every camera of the project's workspace gets two viewports (its colour and\n"
    "its depth image); each render copies ``project.system().images()`` into them,\n"
    "paired by position. The state lives in the instance attributes ``_size``,\n"
    "``_project``, ``_renderers``, ``_image_data``, ``_actors``, ``_window`` and\n"
    "``_interactor``.\n"
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
    using pyglue::MethodDef;
    pyglue::ClassBuilder(module, "ImageViewer", kDoc)
        .def(MethodDef{
            .name = "__init__",
            .impl = image::construct,
            .params = {{.name = "size",
                        .annotation = "tuple",
                        .default_value = nb::make_tuple(800, 600)}},
            .doc = "Create a viewer with an empty project and a window of ``size`` (width,\n"
                   "height) pixels, applied when a project is set. Nothing is shown yet.\n"
                   "\n"
                   "Raises TypeError unless ``size`` is exactly a tuple.",
        })
        .def(MethodDef{
            .name = "setProject",
            .impl = image::set_project,
            .params = {{.name = "project", .annotation = "Project"}},
            .returns = "None",
            .doc = "Show ``project``: keep it and lay the window out anew, two viewports per\n"
                   "camera of its workspace.",
        })
        .def(MethodDef{
            .name = "_refreshProject",
            .impl = image::refresh_project,
            .params = {},
            .returns = "None",
            .doc = "Replace the viewport grid with one for the cameras of ``_project``: a\n"
                   "renderer per cell, row-major from the top, and an image with its mapper\n"
                   "and actor per viewport; then size the window. A project without cameras\n"
                   "gets one empty cell.",
        })
        .def(MethodDef{
            .name = "init",
            .impl = init,
            .params = {{.name = "offscreen",
                        .annotation = "bool",
                        .default_value = nb::bool_(false)}},
            .doc = "Open the window on screen or prepare it off screen, then draw the first frame.",
        })
        .def(MethodDef{
            .name = "spin",
            .impl = host::spin,
            .params = {},
            .doc = host::kSpinDoc,
        })
        .def(MethodDef{
            .name = "render",
            .impl = render,
            .params = {},
            .doc = "Copy the system's current images into the viewports, then pump pending\n"
                   "window events and draw one frame if the window is open on screen.",
        })
        .def(MethodDef{
            .name = "stop",
            .impl = host::stop,
            .params = {},
            .doc = host::kStopDoc,
        })
        .def(MethodDef{
            .name = "_getRenderer",
            .impl = get_renderer,
            .params = {},
            .returns = "vtkRenderer",
            .doc = "Return ``_ren``. An image viewer has no single renderer and never sets\n"
                   "it; its renderers are ``_renderers``.",
        })
        .def(MethodDef{
            .name = "screenshot",
            .impl = host::screenshot,
            .params = {{.name = "filename", .annotation = "str"}},
            .doc = host::kScreenshotDoc,
        })
        .def(MethodDef{
            .name = "_updateImages",
            .impl = image::update_images,
            .params = {},
            .returns = "None",
            .doc = "Copy each image of ``_project.system().images()`` upside down into a new\n"
                   "VTK array of its ``NUMPY_TO_VTK_TYPE`` type and make it the scalars of\n"
                   "the viewport's image, pairing images and viewports by position.\n"
                   "\n"
                   "Raises KeyError for an element type missing from the table and\n"
                   "IndexError for an array of fewer than three dimensions, before that\n"
                   "viewport is touched. Arrays in either byte order show their values.",
        })
        .finish();
}

}  // namespace marnox::viewer

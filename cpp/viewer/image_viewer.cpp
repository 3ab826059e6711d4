// image_viewer.cpp: the ImageViewer class: its method table and its window lifecycle.
#include "host.h"
#include "viewer_classes.h"

namespace marnox::viewer {
namespace {

void refresh_images(nb::handle self) {
    pyglue::call_method(self, method::update_images);
}

const host::Kind kImageHost = {
    .title = "Marnox Image Viewer",
    .is_workspace = false,
    .refresh = refresh_images,
};

nb::object init(const Call& call) {
    return host::init(call, kImageHost);
}
nb::object render(const Call& call) {
    return host::render(call, kImageHost);
}

const char* const kDoc = "The current images of a project's system, in a grid of viewports.";

}  // namespace

void define_image_viewer(nb::handle module) {
    using pyglue::MethodDef;
    pyglue::ClassBuilder(module, "ImageViewer", kDoc)
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
            .doc = "Run the window's event loop until the window is closed or stop() is called.\n"
                   "Returns at once when there is no interactor (before init, or off screen).",
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
            .doc = "Finalise the window, then end a running event loop.",
        })
        .def(MethodDef{
            .name = "screenshot",
            .impl = host::screenshot,
            .params = {{.name = "filename", .annotation = "str"}},
            .doc = "Write the window to the PNG file ``filename``.",
        })
        .finish();
}

}  // namespace marnox::viewer

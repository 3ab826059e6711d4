// workspace_construction.cpp: building a WorkspaceViewer and binding a project to it.
#include "workspace_viewer.h"

namespace marnox::viewer::workspace {
namespace {

const Name get_active_camera{"GetActiveCamera"};
const Name add_actor{"AddActor"};

/// `field = Overlay()` when `wanted` is true, its actor added to `ren` once for the viewer's life.
void add_overlay(const Call& call, nb::handle ren, const Name& field, const Name& overlay_class,
                 nb::handle wanted) {
    nb::handle self = call.self();
    pyglue::setattr(self, field, nb::none());
    if (!pyglue::truthy(wanted))
        return;
    nb::object overlay = pyglue::call(call.global(overlay_class));
    pyglue::setattr(self, field, overlay);
    pyglue::call_method(ren, add_actor, pyglue::call_method(overlay, model::get_actor));
}

}  // namespace

/// `__init__(size, trajectory, pointcloud)`: fields in their documented order, then the
/// lights, background and camera, then the requested overlays.
nb::object construct(const Call& call) {
    nb::handle self = call.self();
    nb::handle size = call.arg(1);
    pyglue::require_exact_type(size, &PyTuple_Type, "size");

    pyglue::setattr(self, field::size, size);
    nb::object ren = pyglue::call(call.global(global::vtk_renderer));
    pyglue::setattr(self, field::ren, ren);
    pyglue::setattr(self, field::cam, pyglue::call_method(ren, get_active_camera));
    pyglue::setattr(self, field::window, pyglue::call(call.global(global::vtk_render_window)));
    pyglue::setattr(self, field::interactor, nb::none());
    pyglue::setattr(self, field::project, pyglue::call(call.global(global::project_class)));
    pyglue::setattr(self, field::actors, nb::list());

    pyglue::call_method(self, method::create_lights);
    pyglue::call_method(self, method::create_background);
    pyglue::call_method(self, method::update_camera_view);

    add_overlay(call, ren, field::trajectory, global::visual_trajectory, call.arg(2));
    add_overlay(call, ren, field::pointcloud, global::visual_pointcloud, call.arg(3));
    return nb::none();
}

/// `setProject(project)`: binds the caller's object itself, then rebuilds the scene.
nb::object set_project(const Call& call) {
    nb::handle self = call.self();
    pyglue::setattr(self, field::project, call.arg(1));
    pyglue::call_method(self, method::refresh_workspace);
    return nb::none();
}

/// `_getRenderer()`: the renderer `init` attaches to the window.
nb::object get_renderer(const Call& call) {
    return pyglue::getattr(call.self(), field::ren);
}

}  // namespace marnox::viewer::workspace

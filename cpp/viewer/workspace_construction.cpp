// workspace_construction.cpp: building a WorkspaceViewer and binding a project to it.
#include "interfaces/scene_model.h"
#include "window_checks.h"
#include "workspace_viewer.h"

namespace marnox::viewer::workspace {
namespace {

const Name get_active_camera{"GetActiveCamera"};

/// `field = Overlay()` when `wanted` is true, its actor added to `ren` once for the viewer's life.
void add_overlay(const Call& call, nb::handle ren, const Name& field, const Name& overlay_class,
                 nb::handle wanted) {
    nb::handle self = call.self();
    pyglue::setattr(self, field, nb::none());
    if (!pyglue::truthy(wanted))
        return;
    nb::object overlay = pyglue::call(call.global(overlay_class));
    pyglue::setattr(self, field, overlay);
    pyglue::call_method(ren, vtk::add_actor, model::VisualElement{overlay}.actor());
}

}  // namespace

/// `__init__(size, trajectory, pointcloud)`: fields in their documented order, then the
/// lights, background and camera, then the requested overlays.
nb::object construct(const Call& call) {
    nb::handle self = call.self();
    nb::handle size = call.arg(1);
    pyglue::require_exact_type(size, &PyTuple_Type, "size");
    require_window_size(size);

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

MethodDef construct_method() {
    const char* doc =
        "Create the renderer, camera, window, lights, background and requested overlays.\n"
        "\n"
        "Parameters:\n"
        "    size: window size (width, height) in pixels; exactly a tuple.\n"
        "    trajectory: if true, show the system's tool trajectory.\n"
        "    pointcloud: if true, show the system's point cloud.\n"
        "\n"
        "The project is an empty Project until setProject(); nothing is opened or drawn\n"
        "until init(). Raises TypeError if size is not a tuple, ValueError if it holds\n"
        "integers outside 1 to MAX_WINDOW_SIZE (16384).\n"
        "\n"
        "Example::\n"
        "\n"
        "    viewer = WorkspaceViewer((1024, 768), trajectory=True)\n";
    return {
        .name = "__init__",
        .impl = construct,
        .params = {{.name = "size",
                    .annotation = "tuple",
                    .default_value = nb::make_tuple(800, 600)},
                   {.name = "trajectory", .annotation = "bool", .default_value = nb::bool_(false)},
                   {.name = "pointcloud", .annotation = "bool", .default_value = nb::bool_(false)}},
        .doc = doc,
    };
}

/// `setProject(project)`: binds the caller's object itself, then rebuilds the scene.
nb::object set_project(const Call& call) {
    nb::handle self = call.self();
    require_window_thread(self, "setProject");
    pyglue::setattr(self, field::project, call.arg(1));
    pyglue::call_method(self, method::refresh_workspace);
    return nb::none();
}

MethodDef set_project_method() {
    const char* doc =
        "Bind project (the object itself, not a copy) and rebuild the scene from it.\n"
        "\n"
        "Removes the actors of the previous scene (never the overlays), then adds those of\n"
        "every robot, item, camera, fiducial and task region of project.workspace(), each\n"
        "node before its children, and an origin frame last. Neither draws nor moves the\n"
        "camera: the new scene shows at the next render(). An error of the model propagates\n"
        "and leaves the scene as far as the build had got.\n"
        "\n"
        "Parameters:\n"
        "    project: a Project (anything with workspace() and system()).\n"
        "\n"
        "Returns None.\n"
        "\n"
        "Example::\n"
        "\n"
        "    viewer.setProject(project)\n"
        "    viewer.render()\n";
    return {
        .name = "setProject",
        .impl = set_project,
        .params = {{.name = "project", .annotation = "Project"}},
        .doc = doc,
    };
}

/// `_getRenderer()`: the renderer `init` attaches to the window.
nb::object get_renderer(const Call& call) {
    return pyglue::getattr(call.self(), field::ren);
}

MethodDef get_renderer_method() {
    return {
        .name = "_getRenderer",
        .impl = get_renderer,
        .params = {},
        .returns = "vtkRenderer",
        .doc = "Return the viewer's renderer, _ren.",
    };
}

}  // namespace marnox::viewer::workspace

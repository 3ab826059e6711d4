// workspace_scene.cpp: building a WorkspaceViewer, binding a project to it, and the scene
// rebuilt from that project's workspace.
#include "host.h"
#include "interfaces/model.h"
#include "scene_look.h"
#include "workspace_viewer.h"

namespace marnox::viewer::workspace {
namespace {

/// `field = Overlay()` when `wanted` is true, its actor added to `ren` once for the viewer's life.
void add_overlay(const Call& call, nb::handle ren, const Name& field,
                 nb::object (*new_overlay)(const Call&), nb::handle wanted) {
    nb::handle self = call.self();
    pyglue::setattr(self, field, nb::none());
    if (!pyglue::truthy(wanted))
        return;
    nb::object overlay = new_overlay(call);
    pyglue::setattr(self, field, overlay);
    pyglue::call_method(ren, vtk::AddActor, model::VisualElement{overlay}.actor());
}

const Name append{"append"};

/// Refuses with TypeError an `actor` that is neither a vtkProp nor None.
void require_prop(const Call& call, nb::handle actor) {
    if (!actor.is_none())
        pyglue::require_instance(actor, call.global(global::vtk_prop), "_getActor()", "vtkProp");
}

}  // namespace

/// `__init__(size, trajectory, pointcloud)`: fields in their documented order, then the
/// lights, background and camera, then the requested overlays.
nb::object construct(const Call& call) {
    nb::handle self = call.self();
    nb::handle size = call.arg(1);
    require_size_argument(size);

    pyglue::setattr(self, field::size, size);
    nb::object ren = pyglue::call(call.global(global::vtk_renderer));
    pyglue::setattr(self, field::ren, ren);
    pyglue::setattr(self, field::cam, pyglue::call_method(ren, vtk::GetActiveCamera));
    pyglue::setattr(self, field::window, pyglue::call(call.global(global::vtk_render_window)));
    pyglue::setattr(self, field::interactor, nb::none());
    pyglue::setattr(self, field::project, model::new_project(call));
    pyglue::setattr(self, field::actors, nb::list());

    pyglue::call_method(self, look::create_lights);
    pyglue::call_method(self, method::create_background);
    pyglue::call_method(self, method::update_camera_view);

    add_overlay(call, ren, field::trajectory, model::new_trajectory_overlay, call.arg(2));
    add_overlay(call, ren, field::pointcloud, model::new_pointcloud_overlay, call.arg(3));
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
        "integers outside 1 to MAX_WINDOW_SIZE (" MARNOX_TEXT(MARNOX_MAX_WINDOW_SIDE) ").\n"
        "\n"
        "Example::\n"
        "\n"
        "    viewer = WorkspaceViewer((1024, 768), trajectory=True)\n";
    return {
        .name = pyglue::special::init,
        .impl = construct,
        .params = {size_param(),
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
        .name = viewer::method::set_project,
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
        .name = viewer::method::get_renderer,
        .impl = get_renderer,
        .params = {},
        .returns = "vtkRenderer",
        .doc = "Return the viewer's renderer, _ren.",
    };
}

/// `_refreshWorkspace()`: removes the tracked actors (never the overlays, which are not
/// tracked), then adds every node of the workspace and an origin frame last.
nb::object refresh_workspace(const Call& call) {
    nb::handle self = call.self();
    nb::object ren = pyglue::getattr(self, field::ren);
    // VTK rebuilds this collection from the renderer's props on every GetActors(), so emptying
    // it takes nothing out of the scene: the overlays stay, the tracked actors go below.
    pyglue::call_method(pyglue::call_method(ren, vtk::GetActors), vtk::RemoveAllItems);
    for (nb::handle actor : pyglue::getattr(self, field::actors))
        pyglue::call_method(ren, vtk::RemoveActor, actor);
    pyglue::setattr(self, field::actors, nb::list());

    for (const Name* collection : model::kNodeCollections) {
        model::Project project{pyglue::getattr(self, field::project)};
        model::Workspace workspace{project.workspace()};
        for (nb::handle node : workspace.nodes(*collection))
            pyglue::call_method_kw(self, method::add_items, kw::item, node);
    }

    nb::object origin_frame = model::new_visual_coordinate(call, 0.2);
    pyglue::call_method_kw(self, method::add_element, kw::element, origin_frame);
    return nb::none();
}

MethodDef refresh_workspace_method() {
    const char* doc =
        "Remove the actors in _actors from the renderer and rebuild the scene\n"
        "from _project: robots, items, cameras, fiducials, task regions, then an\n"
        "origin frame.";
    return {.name = method::refresh_workspace, .impl = refresh_workspace, .params = {}, .doc = doc};
}

/// `_addItems(item)`: the node's own group, then each child's subtree, depth first.
nb::object add_items(const Call& call) {
    // A cyclic node tree must end in RecursionError, as it would in Python, not in a
    // C stack overflow.
    pyglue::RecursionGuard guard(" while adding workspace items");
    nb::handle self = call.self();
    model::Node item{call.arg(1)};
    pyglue::call_method_kw(self, method::add_group, kw::group, item.visual_group());
    for (nb::handle child : item.children())
        pyglue::call_method_kw(self, method::add_items, kw::item, child);
    return nb::none();
}

MethodDef add_items_method() {
    const char* doc = "Add the node's visual group, then each child node's subtree, depth first.";
    return {
        .name = method::add_items,
        .impl = add_items,
        .params = {{.name = "item", .annotation = "Item"}},
        .doc = doc,
    };
}

/// `addGroup(group)`: every element of the group, in order.
nb::object add_group(const Call& call) {
    nb::handle self = call.self();
    for (nb::handle element : model::VisualGroup{call.arg(1)}.elements())
        pyglue::call_method_kw(self, method::add_element, kw::element, element);
    return nb::none();
}

MethodDef add_group_method() {
    const char* doc =
        "Add every element of group to the scene, in the order of group.elements().\n"
        "\n"
        "Parameters:\n"
        "    group: a VisualGroup (anything with elements()).\n"
        "\n"
        "Each element goes through self.addElement(element=...), so an override sees it.\n"
        "The actors stay in the scene until the next setProject(). Returns None.\n";
    return {
        .name = method::add_group,
        .impl = add_group,
        .params = {{.name = "group", .annotation = "VisualGroup"}},
        .doc = doc,
    };
}

/// `addElement(element)`: tracks the element's actor before adding it, so a failing
/// AddActor still leaves it for the next rebuild to remove. Only what AddActor and
/// RemoveActor take (a vtkProp or None) is tracked: anything else would make every
/// later rebuild fail.
nb::object add_element(const Call& call) {
    nb::handle self = call.self();
    nb::object actor = model::VisualElement{call.arg(1)}.actor();
    require_prop(call, actor);
    nb::object actors = pyglue::getattr(self, field::actors);
    if (PyList_CheckExact(actors.ptr())) {
        if (PyList_Append(actors.ptr(), actor.ptr()) != 0)
            pyglue::raise_current();
    } else {
        pyglue::call_method(actors, append, actor);
    }
    pyglue::call_method(pyglue::getattr(self, field::ren), vtk::AddActor, actor);
    return nb::none();
}

MethodDef add_element_method() {
    const char* doc =
        "Add the actor of element to the scene until the next setProject().\n"
        "\n"
        "Parameters:\n"
        "    element: a VisualElement (anything with _getActor()).\n"
        "\n"
        "The actor is appended to _actors, then added to the renderer; an element added\n"
        "twice has its actor added twice. Raises TypeError, tracking nothing, if the actor\n"
        "is neither a vtkProp nor None. Returns None.\n"
        "\n"
        "Example::\n"
        "\n"
        "    viewer.addElement(VisualCoordinate(scale=0.5))\n";
    return {
        .name = method::add_element,
        .impl = add_element,
        .params = {{.name = "element", .annotation = "VisualElement"}},
        .doc = doc,
    };
}

}  // namespace marnox::viewer::workspace

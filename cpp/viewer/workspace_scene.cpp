// workspace_scene.cpp: rebuilding the scene from the bound project's workspace.
#include "interfaces/scene_model.h"
#include "workspace_viewer.h"

namespace marnox::viewer::workspace {
namespace {

const Name append{"append"};
const KwNames scale{"scale"};

/// Refuses with TypeError an `actor` that is neither a vtkProp nor None.
void require_prop(const Call& call, nb::handle actor) {
    if (actor.is_none())
        return;
    int is_prop = PyObject_IsInstance(actor.ptr(), call.global(global::vtk_prop).ptr());
    if (is_prop < 0)
        pyglue::raise_current();
    if (!is_prop)
        pyglue::raise(PyExc_TypeError, "_getActor() must return a vtkProp, not %.200s",
                      Py_TYPE(actor.ptr())->tp_name);
}

}  // namespace

/// `_refreshWorkspace()`: removes the tracked actors (never the overlays, which are not
/// tracked), then adds every node of the workspace and an origin frame last.
nb::object refresh_workspace(const Call& call) {
    nb::handle self = call.self();
    nb::object ren = pyglue::getattr(self, field::ren);
    // VTK rebuilds this collection from the renderer's props on every GetActors(), so emptying
    // it takes nothing out of the scene: the overlays stay, the tracked actors go below.
    pyglue::call_method(pyglue::call_method(ren, vtk::get_actors), vtk::remove_all_items);
    for (nb::handle actor : pyglue::getattr(self, field::actors))
        pyglue::call_method(ren, vtk::remove_actor, actor);
    pyglue::setattr(self, field::actors, nb::list());

    for (const Name* collection : model::kNodeCollections) {
        model::SceneProject project{pyglue::getattr(self, field::project)};
        model::SceneWorkspace workspace{project.workspace()};
        for (nb::handle node : workspace.nodes(*collection))
            pyglue::call_method_kw(self, method::add_items, kw::item, node);
    }

    nb::object origin_frame =
        pyglue::call_kw(call.global(global::visual_coordinate), scale, nb::float_(0.2));
    pyglue::call_method_kw(self, method::add_element, kw::element, origin_frame);
    return nb::none();
}

MethodDef refresh_workspace_method() {
    const char* doc =
        "Remove the actors in _actors from the renderer and rebuild the scene\n"
        "from _project: robots, items, cameras, fiducials, task regions, then an\n"
        "origin frame.";
    return {.name = "_refreshWorkspace", .impl = refresh_workspace, .params = {}, .doc = doc};
}

/// `_addItems(item)`: the node's own group, then each child's subtree, depth first.
nb::object add_items(const Call& call) {
    // A cyclic node tree must end in RecursionError, as it would in Python, not in a
    // C stack overflow.
    pyglue::RecursionGuard guard(" while adding workspace items");
    nb::handle self = call.self();
    model::SceneNode item{call.arg(1)};
    pyglue::call_method_kw(self, method::add_group, kw::group, item.visual_group());
    for (nb::handle child : item.children())
        pyglue::call_method_kw(self, method::add_items, kw::item, child);
    return nb::none();
}

MethodDef add_items_method() {
    const char* doc = "Add the node's visual group, then each child node's subtree, depth first.";
    return {
        .name = "_addItems",
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
        .name = "addGroup",
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
    pyglue::call_method(pyglue::getattr(self, field::ren), vtk::add_actor, actor);
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
        .name = "addElement",
        .impl = add_element,
        .params = {{.name = "element", .annotation = "VisualElement"}},
        .doc = doc,
    };
}

}  // namespace marnox::viewer::workspace

// workspace_scene.cpp: rebuilding the scene from the bound project's workspace.
#include "workspace_viewer.h"

namespace marnox::viewer::workspace {
namespace {

const Name get_actors{"GetActors"};
const Name remove_all_items{"RemoveAllItems"};
const Name remove_actor{"RemoveActor"};
const Name add_actor{"AddActor"};
const Name append{"append"};

/// The five node collections of a workspace, in the order their actors enter the scene.
const Name* const kCollections[] = {&model::get_robots, &model::get_items, &model::get_cameras,
                                    &model::get_fiducials, &model::get_task_regions};

}  // namespace

/// `_refreshWorkspace()`: removes the tracked actors (never the overlays, which are not
/// tracked), then adds every node of the workspace and an origin frame last.
nb::object refresh_workspace(const Call& call) {
    nb::handle self = call.self();
    nb::object ren = pyglue::getattr(self, field::ren);
    // VTK rebuilds this collection from the renderer's props on every GetActors(), so emptying
    // it takes nothing out of the scene: the overlays stay, the tracked actors go below.
    pyglue::call_method(pyglue::call_method(ren, get_actors), remove_all_items);
    for (nb::handle actor : pyglue::getattr(self, field::actors))
        pyglue::call_method(ren, remove_actor, actor);
    pyglue::setattr(self, field::actors, nb::list());

    for (const Name* collection : kCollections) {
        nb::object workspace =
            pyglue::call_method(pyglue::getattr(self, field::project), model::workspace);
        nb::object nodes = pyglue::call_method(workspace, *collection);
        for (nb::handle node : pyglue::call_method(nodes, model::values))
            pyglue::call_method_kw(self, method::add_items, kw::item, node);
    }

    nb::object origin_frame =
        pyglue::call_kw(call.global(global::visual_coordinate), kw::scale, nb::float_(0.2));
    pyglue::call_method_kw(self, method::add_element, kw::element, origin_frame);
    return nb::none();
}

/// `_addItems(item)`: the node's own group, then each child's subtree, depth first.
nb::object add_items(const Call& call) {
    // A cyclic node tree must end in RecursionError, as it would in Python, not in a
    // C stack overflow.
    pyglue::RecursionGuard guard(" while adding workspace items");
    nb::handle self = call.self();
    nb::handle item = call.arg(1);
    nb::object group = pyglue::call_method(item, model::get_visual_group);
    pyglue::call_method_kw(self, method::add_group, kw::group, group);
    for (nb::handle child : pyglue::call_method(item, model::get_children))
        pyglue::call_method_kw(self, method::add_items, kw::item, child);
    return nb::none();
}

/// `addGroup(group)`: every element of the group, in order.
nb::object add_group(const Call& call) {
    nb::handle self = call.self();
    for (nb::handle element : pyglue::call_method(call.arg(1), model::elements))
        pyglue::call_method_kw(self, method::add_element, kw::element, element);
    return nb::none();
}

/// `addElement(element)`: tracks the element's actor before adding it, so a failing
/// AddActor still leaves it for the next rebuild to remove.
nb::object add_element(const Call& call) {
    nb::handle self = call.self();
    nb::object actor = pyglue::call_method(call.arg(1), model::get_actor);
    nb::object actors = pyglue::getattr(self, field::actors);
    if (PyList_CheckExact(actors.ptr())) {
        if (PyList_Append(actors.ptr(), actor.ptr()) != 0)
            pyglue::raise_current();
    } else {
        pyglue::call_method(actors, append, actor);
    }
    pyglue::call_method(pyglue::getattr(self, field::ren), add_actor, actor);
    return nb::none();
}

}  // namespace marnox::viewer::workspace

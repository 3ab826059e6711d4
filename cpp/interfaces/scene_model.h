// scene_model.h: the calls the workspace viewer makes on its project, the workspace's nodes and
// visuals, the link tree and the overlays.
#pragma once

#include "model_names.h"

namespace marnox::model {

namespace nb = nanobind;

/// The five node collections of a workspace, in the order their actors enter the scene.
inline const pyglue::Name* const kNodeCollections[] = {&names::get_robots, &names::get_items,
                                                       &names::get_cameras, &names::get_fiducials,
                                                       &names::get_task_regions};

/// A project as the workspace viewer reads it.
struct SceneProject {
    nb::handle self;

    nb::object workspace() const { return pyglue::call_method(self, names::workspace); }
    nb::object system() const { return pyglue::call_method(self, names::system); }
};

/// A workspace: its node collections and the root of its link tree.
struct SceneWorkspace {
    nb::handle self;

    /// `workspace.<collection>().values()`, `collection` one of kNodeCollections.
    nb::object nodes(const pyglue::Name& collection) const {
        nb::object nodes = pyglue::call_method(self, collection);
        return pyglue::call_method(nodes, names::values);
    }
    nb::object origin_link() const { return pyglue::call_method(self, names::get_origin_link); }
};

/// A node of a workspace collection: a visual group and child nodes.
struct SceneNode {
    nb::handle self;

    nb::object visual_group() const { return pyglue::call_method(self, names::get_visual_group); }
    nb::object children() const { return pyglue::call_method(self, names::get_children); }
};

/// A visual group: the elements it shows.
struct VisualGroup {
    nb::handle self;

    nb::object elements() const { return pyglue::call_method(self, names::elements); }
};

/// A visual element, or an overlay: anything with a VTK actor.
struct VisualElement {
    nb::handle self;

    nb::object actor() const { return pyglue::call_method(self, names::get_actor); }
};

/// The link-tree class (`_Chain`): places the link tree's visual elements.
struct LinkChain {
    nb::handle cls;

    void update_visual_elements(nb::handle link, nb::handle base_pose) const {
        pyglue::call_method_kw(cls, names::update_visual_elements_recursive, names::link_base_pose,
                               link, base_pose);
    }
};

/// A system as the overlays read it.
struct SceneSystem {
    nb::handle self;

    nb::object pointcloud() const { return pyglue::call_method(self, names::pointcloud); }
    nb::object trajectory() const { return pyglue::call_method(self, names::trajectory); }
};

/// The point-cloud overlay.
struct PointcloudOverlay {
    nb::handle self;

    void set_points(nb::handle cloud) const {
        pyglue::call_method_kw(self, names::set_points, names::pointcloud_kw, cloud);
    }
};

/// The tool-trajectory overlay.
struct TrajectoryOverlay {
    nb::handle self;

    void set_positions(nb::handle positions) const {
        pyglue::call_method_kw(self, names::set_positions, names::positions_kw, positions);
    }
};

}  // namespace marnox::model

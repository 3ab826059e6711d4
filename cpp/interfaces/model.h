// model.h: the model as the extensions use it: the classes they make and the calls they make on
// model objects, each behind a typed facade.
#pragma once

#include "pyglue/pyglue.h"

namespace marnox::model {

namespace nb = nanobind;
using pyglue::Call;
using pyglue::KwNames;
using pyglue::Name;

namespace names {

// The model classes, looked up in the calling module's namespace at call time.
inline const Name project_class{"Project"};
inline const Name workspace_class{"Workspace"};
inline const Name system_class{"System"};
inline const Name behavior_class{"Behavior"};
inline const Name pose_class{"Pose"};
inline const Name visual_coordinate_class{"VisualCoordinate"};
inline const Name visual_trajectory_class{"VisualTrajectory"};
inline const Name visual_pointcloud_class{"VisualPointcloud"};
inline const Name chain_class{"_Chain"};
inline const KwNames scale{"scale"};

// A project.
inline const Name workspace{"workspace"};
inline const Name system{"system"};

// A workspace.
inline const Name get_snapshot{"_getSnapshot"};
inline const Name set_snapshot{"_setSnapshot"};
inline const Name get_robots{"getRobots"};
inline const Name get_items{"getItems"};
inline const Name get_cameras{"getCameras"};
inline const Name get_fiducials{"getFiducials"};
inline const Name get_task_regions{"getTaskRegions"};
inline const Name get_origin_link{"_getOriginLink"};
inline const Name values{"values"};

// A workspace node, its visual group and their elements.
inline const Name get_visual_group{"_getVisualGroup"};
inline const Name get_children{"_getChildren"};
inline const Name elements{"elements"};
inline const Name get_actor{"_getActor"};

// The link tree.
inline const Name update_visual_elements_recursive{"_updateVisualElementsRecursive"};
inline const KwNames link_base_pose{"link", "base_pose"};

// A system and the overlays that show it.
inline const Name pointcloud{"pointcloud"};
inline const Name trajectory{"trajectory"};
inline const Name images{"images"};
inline const Name set_points{"setPoints"};
inline const KwNames pointcloud_kw{"pointcloud"};
inline const Name set_positions{"setPositions"};
inline const KwNames positions_kw{"positions"};

// A camera, the pose it is drawn from, and a robot's links with their shapes.
inline const Name intrinsics{"intrinsics"};
inline const Name distortion{"distortion"};
inline const Name world_pose{"worldPose"};
inline const Name matrix{"matrix"};
inline const Name links{"links"};
inline const Name shapes{"shapes"};

// A behavior and the Behavior class.
inline const Name name{"name"};
inline const Name str{"_str"};
inline const Name to_model{"_ToModel"};
inline const Name from_model{"_FromModel"};

}  // namespace names

/// A model object, held for as long as its facade lives: a call into the model may drop the
/// caller's own reference (rebinding a field, say) while the object is still in use.
struct Held {
    explicit Held(nb::handle object) : self(nb::borrow(object)) {}
    nb::object self;
};

// The model classes the extensions make.

/// `Project()`: what a viewer shows until setProject().
inline nb::object new_project(const Call& call) {
    return pyglue::call(call.global(names::project_class));
}
inline nb::object new_workspace(const Call& call) {
    return pyglue::call(call.global(names::workspace_class));
}
inline nb::object new_system(const Call& call) {
    return pyglue::call(call.global(names::system_class));
}
/// `Pose()`: the identity.
inline nb::object new_pose(const Call& call) {
    return pyglue::call(call.global(names::pose_class));
}
/// `VisualCoordinate(scale=scale)`: a coordinate frame's three axes.
inline nb::object new_visual_coordinate(const Call& call, double scale) {
    return pyglue::call_kw(call.global(names::visual_coordinate_class), names::scale,
                           nb::float_(scale));
}
/// `VisualTrajectory()`: the tool-trajectory overlay.
inline nb::object new_trajectory_overlay(const Call& call) {
    return pyglue::call(call.global(names::visual_trajectory_class));
}
/// `VisualPointcloud()`: the point-cloud overlay.
inline nb::object new_pointcloud_overlay(const Call& call) {
    return pyglue::call(call.global(names::visual_pointcloud_class));
}

/// A project: one workspace and one system.
struct Project : Held {
    using Held::Held;
    nb::object workspace() const { return pyglue::call_method(self, names::workspace); }
    nb::object system() const { return pyglue::call_method(self, names::system); }
};

/// The five node collections of a workspace, in the order their actors enter the scene.
inline const Name* const kNodeCollections[] = {&names::get_robots, &names::get_items,
                                               &names::get_cameras, &names::get_fiducials,
                                               &names::get_task_regions};

/// A workspace: its node collections, the root of its link tree, and its model message.
struct Workspace : Held {
    using Held::Held;
    /// `workspace.<collection>().values()`, `collection` one of kNodeCollections.
    nb::object nodes(const Name& collection) const {
        nb::object nodes = pyglue::call_method(self, collection);
        return pyglue::call_method(nodes, names::values);
    }
    /// `len(workspace.getCameras())`: the image layout needs nothing else of the cameras.
    Py_ssize_t camera_count() const {
        nb::object cameras = pyglue::call_method(self, names::get_cameras);
        Py_ssize_t count = PyObject_Size(cameras.ptr());
        if (count < 0)
            pyglue::raise_current();
        return count;
    }
    nb::object origin_link() const { return pyglue::call_method(self, names::get_origin_link); }
    nb::object snapshot() const { return pyglue::call_method(self, names::get_snapshot); }
    void restore(nb::handle message) const {
        pyglue::call_method(self, names::set_snapshot, message);
    }
};

/// A node of a workspace collection: a visual group and child nodes.
struct Node : Held {
    using Held::Held;
    nb::object visual_group() const { return pyglue::call_method(self, names::get_visual_group); }
    nb::object children() const { return pyglue::call_method(self, names::get_children); }
};

/// A camera node: what it is drawn with.
struct Camera : Held {
    using Held::Held;
    nb::object intrinsics() const { return pyglue::call_method(self, names::intrinsics); }
    nb::object distortion() const { return pyglue::call_method(self, names::distortion); }
    nb::object world_pose() const { return pyglue::call_method(self, names::world_pose); }
};

/// A pose: `matrix()`, its 4x4 homogeneous matrix as a NumPy array.
inline nb::object pose_matrix(nb::handle pose) {
    return pyglue::call_method(pose, names::matrix);
}

/// A visual group: the elements it shows.
struct VisualGroup : Held {
    using Held::Held;
    nb::object elements() const { return pyglue::call_method(self, names::elements); }
};

/// A visual element, or an overlay: anything with a VTK actor.
struct VisualElement : Held {
    using Held::Held;
    nb::object actor() const { return pyglue::call_method(self, names::get_actor); }
};

/// `_Chain._updateVisualElementsRecursive(link=link, base_pose=base_pose)`: places the visual
/// elements of the link tree below `link`.
inline void place_link_tree(const Call& call, nb::handle link, nb::handle base_pose) {
    pyglue::call_method_kw(call.global(names::chain_class), names::update_visual_elements_recursive,
                           names::link_base_pose, link, base_pose);
}

/// A system: what it senses and does now.
struct System : Held {
    using Held::Held;
    nb::object pointcloud() const { return pyglue::call_method(self, names::pointcloud); }
    nb::object trajectory() const { return pyglue::call_method(self, names::trajectory); }
    /// The current images, in viewport order.
    nb::object images() const { return pyglue::call_method(self, names::images); }
};

/// The point-cloud overlay.
struct PointcloudOverlay : Held {
    using Held::Held;
    void set_points(nb::handle cloud) const {
        pyglue::call_method_kw(self, names::set_points, names::pointcloud_kw, cloud);
    }
};

/// The tool-trajectory overlay.
struct TrajectoryOverlay : Held {
    using Held::Held;
    void set_positions(nb::handle positions) const {
        pyglue::call_method_kw(self, names::set_positions, names::positions_kw, positions);
    }
};

/// A behavior instance.
struct Behavior : Held {
    using Held::Held;
    nb::object name() const { return pyglue::call_method(self, names::name); }
    nb::object text(nb::handle indent) const {
        return pyglue::call_method(self, names::str, indent);
    }
};

/// The Behavior class: converts behaviors to and from their model messages.
struct BehaviorClass : Held {
    explicit BehaviorClass(const Call& call) : Held(call.global(names::behavior_class)) {}
    nb::object to_model(nb::handle behavior) const {
        return pyglue::call_method(self, names::to_model, behavior);
    }
    nb::object from_model(nb::handle message) const {
        return pyglue::call_method(self, names::from_model, message);
    }
};

}  // namespace marnox::model

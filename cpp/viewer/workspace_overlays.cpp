// workspace_overlays.cpp: the seven per-frame updates that run first in every render.
#include "interfaces/scene_model.h"
#include "workspace_viewer.h"

namespace marnox::viewer::workspace {
namespace {

/// The seven hooks in frame order.
const Name* const kHooks[] = {
    &method::update_visual_frames,   &method::update_point_cloud,
    &method::update_graspable_items, &method::update_placement_regions,
    &method::update_goal_candidates, &method::update_tool_trajectories,
    &method::update_tool_forces,
};

/// The system of the viewer's project.
model::SceneSystem system_of(nb::handle self) {
    model::SceneProject project{pyglue::getattr(self, field::project)};
    return {project.system()};
}

/// The graspable-item, placement-region, goal-candidate and tool-force hooks: places kept in
/// the frame order for subclasses to fill.
nb::object reserved_hook(const Call&) {
    return nb::none();
}

/// A hook that does nothing until a subclass fills it.
MethodDef reserved_hook_method(const char* name, const char* doc) {
    return {.name = name, .impl = reserved_hook, .params = {}, .doc = doc};
}

}  // namespace

/// `_updateVisualFrames()`: places the link tree's visual elements from the origin link down,
/// from a fresh default base pose every frame.
nb::object update_visual_frames(const Call& call) {
    model::SceneProject project{pyglue::getattr(call.self(), field::project)};
    nb::object origin_link = model::SceneWorkspace{project.workspace()}.origin_link();
    model::LinkChain chain{call.global(global::chain)};
    nb::object base_pose = pyglue::call(call.global(global::pose));
    chain.update_visual_elements(origin_link, base_pose);
    return nb::none();
}

MethodDef update_visual_frames_method() {
    const char* doc =
        "Place the link tree's visual elements from the workspace's origin link,\n"
        "starting from a new default Pose.";
    return {.name = "_updateVisualFrames", .impl = update_visual_frames, .params = {}, .doc = doc};
}

/// `_updatePointCloud()`: hands the system's current point cloud to the overlay, if any.
nb::object update_point_cloud(const Call& call) {
    nb::handle self = call.self();
    nb::object overlay = pyglue::getattr(self, field::pointcloud);
    if (!pyglue::truthy(overlay))
        return nb::none();
    nb::object cloud = system_of(self).pointcloud();
    model::PointcloudOverlay{overlay}.set_points(cloud);
    return nb::none();
}

MethodDef update_point_cloud_method() {
    const char* doc = "Pass the system's current point cloud to the point-cloud overlay, if any.";
    return {.name = "_updatePointCloud", .impl = update_point_cloud, .params = {}, .doc = doc};
}

MethodDef update_graspable_items_method() {
    return reserved_hook_method("_updateGraspableItems",
                                "Per-frame hook for graspable items; does nothing.");
}

MethodDef update_placement_regions_method() {
    return reserved_hook_method("_updatePlacementRegions",
                                "Per-frame hook for placement regions; does nothing.");
}

MethodDef update_goal_candidates_method() {
    return reserved_hook_method("_updateGoalCandidates",
                                "Per-frame hook for goal candidates; does nothing.");
}

/// `_updateToolTrajectories()`: hands the system's current tool trajectory to the overlay, if
/// any.
nb::object update_tool_trajectories(const Call& call) {
    nb::handle self = call.self();
    nb::object overlay = pyglue::getattr(self, field::trajectory);
    if (!pyglue::truthy(overlay))
        return nb::none();
    nb::object positions = system_of(self).trajectory();
    model::TrajectoryOverlay{overlay}.set_positions(positions);
    return nb::none();
}

MethodDef update_tool_trajectories_method() {
    const char* doc =
        "Pass the system's current tool trajectory to the trajectory overlay, if any.";
    return {
        .name = "_updateToolTrajectories",
        .impl = update_tool_trajectories,
        .params = {},
        .doc = doc,
    };
}

MethodDef update_tool_forces_method() {
    return reserved_hook_method("_updateToolForces",
                                "Per-frame hook for tool forces; does nothing.");
}

/// Each hook is looked up on `self` so that overrides run; an error ends the frame there.
void refresh_overlays(nb::handle self) {
    for (const Name* hook : kHooks) pyglue::call_method(self, *hook);
}

}  // namespace marnox::viewer::workspace

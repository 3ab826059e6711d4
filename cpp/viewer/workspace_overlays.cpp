// workspace_overlays.cpp: the seven per-frame updates that run first in every render.
#include "workspace_viewer.h"

namespace marnox::viewer::workspace {

/// `_updateVisualFrames()`: places the link tree's visual elements from the origin link down,
/// from a fresh default base pose every frame.
nb::object update_visual_frames(const Call& call) {
    nb::object workspace =
        pyglue::call_method(pyglue::getattr(call.self(), field::project), model::workspace);
    nb::object origin_link = pyglue::call_method(workspace, model::get_origin_link);
    nb::object chain = call.global(global::chain);
    nb::object base_pose = pyglue::call(call.global(global::pose));
    pyglue::call_method_kw(chain, model::update_visual_elements_recursive, kw::link_base_pose,
                           origin_link, base_pose);
    return nb::none();
}

/// `_updatePointCloud()`: hands the system's current point cloud to the overlay, if any.
nb::object update_point_cloud(const Call& call) {
    nb::handle self = call.self();
    nb::object overlay = pyglue::getattr(self, field::pointcloud);
    if (!pyglue::truthy(overlay))
        return nb::none();
    nb::object system = pyglue::call_method(pyglue::getattr(self, field::project), model::system);
    nb::object cloud = pyglue::call_method(system, model::pointcloud);
    pyglue::call_method_kw(overlay, model::set_points, kw::pointcloud, cloud);
    return nb::none();
}

/// `_updateToolTrajectories()`: hands the system's current tool trajectory to the overlay, if
/// any.
nb::object update_tool_trajectories(const Call& call) {
    nb::handle self = call.self();
    nb::object overlay = pyglue::getattr(self, field::trajectory);
    if (!pyglue::truthy(overlay))
        return nb::none();
    nb::object system = pyglue::call_method(pyglue::getattr(self, field::project), model::system);
    nb::object positions = pyglue::call_method(system, model::trajectory);
    pyglue::call_method_kw(overlay, model::set_positions, kw::positions, positions);
    return nb::none();
}

/// The graspable-item, placement-region, goal-candidate and tool-force hooks: places kept in
/// the frame order for subclasses to fill.
nb::object reserved_hook(const Call&) {
    return nb::none();
}

/// The seven hooks in frame order, each looked up on `self` so that overrides run; an error
/// ends the frame there.
void refresh_overlays(nb::handle self) {
    static const Name* const hooks[] = {
        &method::update_visual_frames,   &method::update_point_cloud,
        &method::update_graspable_items, &method::update_placement_regions,
        &method::update_goal_candidates, &method::update_tool_trajectories,
        &method::update_tool_forces,
    };
    for (const Name* hook : hooks) pyglue::call_method(self, *hook);
}

}  // namespace marnox::viewer::workspace

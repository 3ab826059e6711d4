// workspace_viewer.h: the names WorkspaceViewer calls by and the C++ bodies of its methods.
#pragma once

#include "viewer_names.h"

namespace marnox::viewer::workspace {

/// WorkspaceViewer's own operations, called through `self` so that overrides take effect.
namespace method {
inline const Name create_lights{"_createLights"};
inline const Name create_background{"_createBackground"};
inline const Name update_camera_view{"_updateCameraView"};
inline const Name refresh_workspace{"_refreshWorkspace"};
inline const Name add_items{"_addItems"};
inline const Name add_group{"addGroup"};
inline const Name add_element{"addElement"};
inline const Name update_visual_frames{"_updateVisualFrames"};
inline const Name update_point_cloud{"_updatePointCloud"};
inline const Name update_graspable_items{"_updateGraspableItems"};
inline const Name update_placement_regions{"_updatePlacementRegions"};
inline const Name update_goal_candidates{"_updateGoalCandidates"};
inline const Name update_tool_trajectories{"_updateToolTrajectories"};
inline const Name update_tool_forces{"_updateToolForces"};
}  // namespace method

/// Calls into the project, the workspace model and the visual classes.
namespace model {
inline const Name workspace{"workspace"};
inline const Name system{"system"};
inline const Name get_robots{"getRobots"};
inline const Name get_items{"getItems"};
inline const Name get_cameras{"getCameras"};
inline const Name get_fiducials{"getFiducials"};
inline const Name get_task_regions{"getTaskRegions"};
inline const Name values{"values"};
inline const Name get_visual_group{"_getVisualGroup"};
inline const Name get_children{"_getChildren"};
inline const Name elements{"elements"};
inline const Name get_actor{"_getActor"};
inline const Name get_origin_link{"_getOriginLink"};
inline const Name update_visual_elements_recursive{"_updateVisualElementsRecursive"};
inline const Name pointcloud{"pointcloud"};
inline const Name trajectory{"trajectory"};
inline const Name set_points{"setPoints"};
inline const Name set_positions{"setPositions"};
}  // namespace model

/// Keyword names of the calls that pass their argument by keyword.
namespace kw {
inline const KwNames item{"item"};
inline const KwNames group{"group"};
inline const KwNames element{"element"};
inline const KwNames scale{"scale"};
inline const KwNames link_base_pose{"link", "base_pose"};
inline const KwNames pointcloud{"pointcloud"};
inline const KwNames positions{"positions"};
}  // namespace kw

// workspace_construction.cpp
nb::object construct(const Call& call);
nb::object set_project(const Call& call);
nb::object get_renderer(const Call& call);

// workspace_camera.cpp
nb::object update_camera_view(const Call& call);
nb::object reset_camera(const Call& call);
nb::object zoom(const Call& call);
nb::object set_focal_point(const Call& call);

// workspace_lights.cpp
nb::object create_lights(const Call& call);
nb::object create_background(const Call& call);

// workspace_scene.cpp
nb::object refresh_workspace(const Call& call);
nb::object add_items(const Call& call);
nb::object add_group(const Call& call);
nb::object add_element(const Call& call);

// workspace_overlays.cpp
nb::object update_visual_frames(const Call& call);
nb::object update_point_cloud(const Call& call);
nb::object update_tool_trajectories(const Call& call);
nb::object reserved_hook(const Call& call);
void refresh_overlays(nb::handle self);

}  // namespace marnox::viewer::workspace

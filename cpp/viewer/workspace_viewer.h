// workspace_viewer.h: the names WorkspaceViewer calls itself by and the definitions of its
// methods, each made beside its body.
#pragma once

#include "viewer_names.h"

namespace marnox::viewer::workspace {

/// WorkspaceViewer's own operations, called through `self` so that overrides take effect.
namespace method {
inline const Name reset_camera{"resetCamera"};
inline const Name get_renderer{"_getRenderer"};
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

/// Keyword names of the calls on `self` that pass their argument by keyword.
namespace kw {
inline const KwNames item{"item"};
inline const KwNames group{"group"};
inline const KwNames element{"element"};
}  // namespace kw

// workspace_construction.cpp
MethodDef construct_method();
MethodDef set_project_method();
MethodDef get_renderer_method();

// workspace_camera.cpp
MethodDef reset_camera_method();
MethodDef zoom_method();
MethodDef set_focal_point_method();
MethodDef update_camera_view_method();

// workspace_lights.cpp
MethodDef create_lights_method();
MethodDef create_background_method();

// workspace_scene.cpp
MethodDef refresh_workspace_method();
MethodDef add_items_method();
MethodDef add_group_method();
MethodDef add_element_method();

// workspace_overlays.cpp
MethodDef update_visual_frames_method();
MethodDef update_point_cloud_method();
MethodDef update_graspable_items_method();
MethodDef update_placement_regions_method();
MethodDef update_goal_candidates_method();
MethodDef update_tool_trajectories_method();
MethodDef update_tool_forces_method();
/// The seven per-frame hooks, in frame order: the refresh step of render().
void refresh_overlays(nb::handle self);

}  // namespace marnox::viewer::workspace

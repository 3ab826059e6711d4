// workspace_viewer.h: the names of WorkspaceViewer's own methods and where each is defined.
#pragma once

#include "viewer.h"

namespace marnox::viewer::workspace {

/// WorkspaceViewer's own methods, beside those both viewers define (viewer.h) and the per-frame
/// updates (workspace_viewer.cpp). Called through `self`, so that overrides take effect.
namespace method {
inline const Name reset_camera{"resetCamera"};
inline const Name zoom{"zoom"};
inline const Name set_focal_point{"setFocalPoint"};
inline const Name update_camera_view{"_updateCameraView"};
inline const Name create_background{"_createBackground"};
inline const Name refresh_workspace{"_refreshWorkspace"};
inline const Name add_items{"_addItems"};
inline const Name add_group{"addGroup"};
inline const Name add_element{"addElement"};
}  // namespace method

/// Keyword names of the calls on `self` that pass their argument by keyword.
namespace kw {
inline const KwNames item{"item"};
inline const KwNames group{"group"};
inline const KwNames element{"element"};
}  // namespace kw

// workspace_scene.cpp
MethodDef construct_method();
MethodDef set_project_method();
MethodDef get_renderer_method();
MethodDef refresh_workspace_method();
MethodDef add_items_method();
MethodDef add_group_method();
MethodDef add_element_method();

// workspace_view.cpp
MethodDef reset_camera_method();
MethodDef zoom_method();
MethodDef set_focal_point_method();
MethodDef update_camera_view_method();
MethodDef create_background_method();

}  // namespace marnox::viewer::workspace

// camera_renderer.h: the names CameraRenderer uses and the definitions of its methods.
#pragma once

#include "viewer_names.h"

namespace marnox::viewer::cameras {

/// CameraRenderer's own fields, beside the viewers' `_project`, `_ren`, `_window`, `_actors`.
namespace field {
inline const Name near{"_near"};
inline const Name far{"_far"};
inline const Name labels{"_labels"};
inline const Name selector{"_selector"};
inline const Name label_names{"_labelNames"};
inline const Name label_of{"_labelOf"};
inline const Name own_actors{"_ownActors"};
inline const Name distortion_maps{"_distortionMaps"};
}  // namespace field

/// Module-level names bound when the class is defined.
namespace global {
inline const Name camera_frame{"CameraFrame"};
inline const Name vtk_hardware_selector{"vtkHardwareSelector"};
inline const Name vtk_matrix{"vtkMatrix4x4"};
inline const Name vtk_unsigned_char_array{"vtkUnsignedCharArray"};
inline const Name vtk_float_array{"vtkFloatArray"};
}  // namespace global

/// Operations called through `self`, so that overrides take effect.
namespace method {
inline const Name create_lights{"_createLights"};
inline const Name update_visual_frames{"_updateVisualFrames"};
inline const Name set_project{"setProject"};
}  // namespace method

/// The plain background, as RGB in 0..1: the bottom colour of the workspace view.
inline constexpr double kBackground[3] = {0.45, 0.5, 0.55};

// camera_renderer.cpp
MethodDef construct_method();
MethodDef set_project_method();
MethodDef label_names_method();

// camera_render.cpp
MethodDef render_method();

}  // namespace marnox::viewer::cameras

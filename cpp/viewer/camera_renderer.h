// camera_renderer.h: where CameraRenderer's methods are defined, and its background colour.
#pragma once

#include <string>

#include "viewer.h"

namespace marnox::viewer::cameras {

/// The plain background, as RGB in 0..1: the bottom colour of the workspace view.
inline constexpr double kBackground[3] = {0.45, 0.5, 0.55};

// camera_renderer.cpp
/// `str(value)` as UTF-8.
std::string text_of(nb::handle value);
MethodDef construct_method();
MethodDef set_project_method();
MethodDef label_names_method();

// camera_render.cpp
MethodDef render_method();

}  // namespace marnox::viewer::cameras

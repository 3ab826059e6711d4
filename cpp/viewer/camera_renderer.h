// camera_renderer.h: where CameraRenderer's methods are defined.
#pragma once

#include <string>

#include "viewer.h"

namespace marnox::viewer::cameras {

// camera_renderer.cpp
/// `str(value)` as UTF-8.
std::string text_of(nb::handle value);
MethodDef construct_method();
MethodDef set_project_method();
MethodDef label_names_method();

// camera_render.cpp
MethodDef render_method();

}  // namespace marnox::viewer::cameras

// scene_look.h: how a project's scene looks wherever it is drawn: the lights and the background
// that the workspace view and the cameras share.
#pragma once

#include "viewer.h"

namespace marnox::viewer::look {

/// The background, RGB in 0..1: the workspace view's gradient runs from the bottom colour up to
/// the top one; the cameras' images show the bottom colour alone.
inline constexpr double kBackgroundBottom[3] = {0.45, 0.5, 0.55};
inline constexpr double kBackgroundTop[3] = {0.9, 0.95, 1.0};

/// `_createLights()`, the same method in every class that draws the scene.
inline const Name create_lights{"_createLights"};
MethodDef create_lights_method();

}  // namespace marnox::viewer::look

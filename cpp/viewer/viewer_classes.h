// viewer_classes.h: the two classes the viewer module defines, in definition order.
#pragma once

#include "viewer_names.h"

namespace marnox::viewer {

void define_workspace_viewer(nb::handle module);
void define_image_viewer(nb::handle module);
void define_camera_renderer(nb::handle module);

}  // namespace marnox::viewer

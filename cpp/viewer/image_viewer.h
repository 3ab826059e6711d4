// image_viewer.h: the bodies of the ImageViewer methods that live outside its class table.
#pragma once

#include "viewer_names.h"

namespace marnox::viewer::image {

/// `__init__(size)`: the fields, in order; no window content yet (image_layout.cpp).
nb::object construct(const Call& call);
/// `setProject(project)`: keeps the project, then rebuilds through `self._refreshProject`.
nb::object set_project(const Call& call);
/// `_refreshProject()`: the old grid out, the new one in, the window sized last.
nb::object refresh_project(const Call& call);
/// `_updateImages()`: every image into its viewport's image object (image_update.cpp).
nb::object update_images(const Call& call);

}  // namespace marnox::viewer::image

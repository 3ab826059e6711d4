// image_viewer.h: the bodies of the ImageViewer methods that live outside its class table.
#pragma once

#include "viewer_names.h"

namespace marnox::viewer::image {

// Construction and layout (image_layout.cpp).
nb::object construct(const Call& call);
nb::object set_project(const Call& call);
nb::object refresh_project(const Call& call);

// The per-frame image refresh (image_update.cpp).
nb::object update_images(const Call& call);

}  // namespace marnox::viewer::image

// image_viewer.h: the names of ImageViewer's own methods and where each is defined.
#pragma once

#include "viewer.h"

namespace marnox::viewer::image {

/// ImageViewer's own methods, beside those both viewers define (viewer.h). Called through
/// `self`, so that overrides take effect.
namespace method {
inline const Name refresh_project{"_refreshProject"};
inline const Name update_images{"_updateImages"};
}  // namespace method

// image_update.cpp
MethodDef update_images_method();

}  // namespace marnox::viewer::image

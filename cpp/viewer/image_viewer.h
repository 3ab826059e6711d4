// image_viewer.h: the names ImageViewer calls itself by and the definitions of its methods,
// each made beside its body.
#pragma once

#include "viewer_names.h"

namespace marnox::viewer::image {

/// ImageViewer's own operations, called through `self` so that overrides take effect.
namespace method {
inline const Name update_images{"_updateImages"};
inline const Name refresh_project{"_refreshProject"};
}  // namespace method

// image_layout.cpp
MethodDef construct_method();
MethodDef set_project_method();
MethodDef refresh_project_method();

// image_update.cpp
MethodDef update_images_method();

// image_types.cpp
/// `NUMPY_TO_VTK_TYPE[scalar_type]`, or else the entry whose key has the same dtype;
/// KeyError(scalar_type) if there is none.
nb::object vtk_type_of(const Call& call, nb::handle table, nb::handle scalar_type);

}  // namespace marnox::viewer::image

// shared_props.h: handing props that several windows show over to the window about to draw.
#pragma once

#include "viewer_names.h"

namespace marnox::viewer {

/// For an EGL or OSMesa window: releases, outside any frame, the graphics resources of every
/// prop in `window`'s renderers that another viewport shows too, so that the next frame of
/// `window` uploads them afresh.
void release_shared_props(nb::handle window);

/// Binds `release_shared_props` in the module as `releaseSharedProps(window)`, for the
/// windows that clients such as marnox.web draw outside the viewers' own methods.
void define_release_shared_props(nb::handle module);

}  // namespace marnox::viewer

// camera_state.h: what a CameraRenderer keeps in C++: its depth range, the thread it draws on and
// each distorted camera's undistortion map.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <unordered_map>

#include "camera_projection.h"
#include "camera_tiles.h"
#include "viewer.h"

namespace marnox::viewer::cameras {

/// How a distorted camera is drawn: the undistorted pinhole, the map from it, and the camera's
/// pixels grouped by the tile of the pinhole image they show.
struct DistortedDraw {
    UndistortionMap map;
    TileGroups groups;
};

/// A distorted camera's draw, with the intrinsics and distortion it was made for.
struct CameraMap {
    Pinhole camera;
    Distortion distortion;
    /// Shared with a render() under way, which a model's callback could start another one
    /// beside, remaking the map.
    std::shared_ptr<const DistortedDraw> draw;
};

struct RendererState {
    /// Lets the props go before the window does (see release_props_before_finalize).
    ~RendererState();

    /// The window, held so that it goes no sooner than the state does.
    nb::object window;
    double near;
    double far;
    /// The thread of the first render(), as threading.get_ident() gives it.
    std::optional<unsigned long> thread;
    /// By camera name.
    std::unordered_map<std::string, CameraMap> maps;
};

/// A new state for the instance's `_state`, opaque to Python.
nb::object new_state(double near, double far, nb::handle window);

/// The state in `self._state` and the reference that keeps it alive, which a model's callback
/// could otherwise drop by replacing `_state` while it is in use.
struct HeldState {
    nb::object owner;
    RendererState& state;
};

/// The state in `self._state`; TypeError if that holds anything else.
HeldState state_of(nb::handle self);

/// Raises RuntimeError naming `operation` when the renderer has drawn on another thread than the
/// calling one; with `bind`, a renderer that has not drawn yet is bound to the calling thread.
void require_thread(RendererState& state, const char* operation, bool bind);

}  // namespace marnox::viewer::cameras

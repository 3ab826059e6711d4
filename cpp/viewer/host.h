// host.h: the render window both viewers share: its lifecycle (init, spin, render, stop,
// screenshot), the checks made before it is touched, and the release of shared props.
#pragma once

#include <optional>
#include <span>

#include "viewer.h"

namespace marnox::viewer {

/// The largest window side accepted, in pixels: larger windows are more than the off-screen
/// renderer can allocate, and Mesa crashes instead of failing. Python sees it as MAX_WINDOW_SIZE.
#define MARNOX_MAX_WINDOW_SIDE 16384
inline constexpr long kMaxWindowSide = MARNOX_MAX_WINDOW_SIDE;

/// Whether a window of `width` x `height` pixels is allowed: each side from 1 to kMaxWindowSide.
inline bool is_allowed_window(long width, long height) {
    return width >= 1 && height >= 1 && width <= kMaxWindowSide && height <= kMaxWindowSide;
}

namespace host {

/// Where one kind of viewer's window lifecycle differs from the other's. A step left out is
/// one that this kind of viewer does not take.
struct Kind {
    const char* title;
    /// The module-level interactor style class an on-screen interactor gets.
    const Name* interactor_style = nullptr;
    /// Readies the window for its first frame, after the off-screen switch or the interactor.
    void (*prepare_window)(const Call& call, nb::handle window) = nullptr;
    /// Methods called on `self`, in order, after init's first `self.render()`.
    std::span<const Name* const> after_first_frame = {};
    /// render()'s refresh step: methods called on `self`, in order, first thing in every frame.
    std::span<const Name* const> refresh = {};
};

/// `init(offscreen)`: window, interactor and first frames, with the steps of `kind`.
nb::object init(const Call& call, const Kind& kind);
/// `render()`: the refresh step of `kind`, then one event pump and one frame.
nb::object render(const Call& call, const Kind& kind);

/// `init(offscreen=False)` with the steps of `kind`.
template <const Kind& kind>
MethodDef init_method(const char* doc) {
    return {
        .name = method::init,
        .impl = [](const Call& call) { return init(call, kind); },
        .params = {{.name = "offscreen", .annotation = "bool", .default_value = nb::bool_(false)}},
        .doc = doc,
    };
}

/// `render()` with the refresh step of `kind`.
template <const Kind& kind>
MethodDef render_method(const char* doc) {
    return {
        .name = method::render,
        .impl = [](const Call& call) { return render(call, kind); },
        .params = {},
        .doc = doc,
    };
}

/// spin, stop and screenshot, the same for both viewers.
MethodDef spin_method();
MethodDef stop_method();
MethodDef screenshot_method();

}  // namespace host

// The checks.

/// Refuses a (width, height) pair of integers outside 1..kMaxWindowSide with ValueError.
/// Anything else is left for VTK's SetSize to refuse, with its own error.
void require_window_size(nb::handle size);

/// The constructors' `size: tuple = (800, 600)`, the window's (width, height) in pixels.
inline pyglue::Param size_param() {
    return {.name = "size", .annotation = "tuple", .default_value = nb::make_tuple(800, 600)};
}

/// A constructor's `size`: exactly a tuple (TypeError otherwise), checked by
/// require_window_size.
inline void require_size_argument(nb::handle size) {
    pyglue::require_exact_type(size, &PyTuple_Type, "size");
    require_window_size(size);
}

/// Whether `window` is one of the classes VTK falls back to when it finds no display (EGL,
/// OSMesa). They never show a window, and an interactor initialised on one crashes the
/// process.
bool renders_off_screen_only(nb::handle window);

/// Records the calling thread in `_thread`: init makes the window's context current on it,
/// and only that thread may touch the window afterwards.
void record_window_thread(nb::handle self);

/// Raises RuntimeError naming `operation` if `_thread` is set and is not the calling thread.
void require_window_thread(nb::handle self, const char* operation);

/// `self._getRenderer()`, refused with TypeError unless it is a vtkRenderer: VTK would take
/// None or another prop and crash at the first frame.
nb::object checked_renderer(const Call& call);

/// Whether init has run: `_thread` is set by it and absent before.
bool is_initialised(nb::handle self);

/// Whether `stop` has been called: `_stopped` is set by `stop` and absent before it.
bool is_stopped(nb::handle self);

// Props shared between windows (shared_props.cpp).

/// For an EGL or OSMesa window: releases, outside any frame, the graphics resources of every
/// prop in `window`'s renderers that another viewport shows too, so that the next frame of
/// `window` uploads them afresh.
void release_shared_props(nb::handle window);

/// For an EGL or OSMesa window about to be finalised: releases every prop's graphics resources
/// first, then makes `window`'s context current, so that finalising it deletes nothing of
/// another window's.
void release_props_before_finalize(nb::handle window);

/// release_props_before_finalize as the owner of `window` goes: only on `thread`, the one that
/// draws in it (any, when none has drawn yet); an error is reported as unraisable, naming
/// `owner`, and one already being raised is kept.
void release_props_as_owner_goes(nb::handle window, std::optional<unsigned long> thread,
                                 const char* owner) noexcept;

/// Gives `self` (a viewer in init()) a `_windowRelease` that, when the viewer is collected,
/// releases its props before `window` goes, on the calling thread; kept by later init() calls.
void hold_window_release(nb::handle self, nb::handle window);

}  // namespace marnox::viewer

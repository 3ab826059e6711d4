// window_checks.h: what a viewer checks before it touches its window: size, owner thread, init.
#pragma once

#include "viewer_names.h"

namespace marnox::viewer {

/// The largest window side accepted, in pixels: larger windows are more than the off-screen
/// renderer can allocate, and Mesa crashes instead of failing.
inline constexpr long kMaxWindowSide = 16384;

/// Refuses a (width, height) pair of integers outside 1..kMaxWindowSide with ValueError.
/// Anything else is left for VTK's SetSize to refuse, with its own error.
void require_window_size(nb::handle size);

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

}  // namespace marnox::viewer

// off_screen_windows.cpp: telling VTK's display-less window classes apart.
#include "window_checks.h"

namespace marnox::viewer {
namespace {

const char* const kOffScreenOnlyWindows[] = {"vtkEGLRenderWindow", "vtkOSOpenGLRenderWindow"};

}  // namespace

/// Asked through VTK's own `IsA`, so subclasses count too.
bool renders_off_screen_only(nb::handle window) {
    for (const char* name : kOffScreenOnlyWindows)
        if (pyglue::truthy(pyglue::call_method(window, vtk::is_a, nb::str(name))))
            return true;
    return false;
}

}  // namespace marnox::viewer

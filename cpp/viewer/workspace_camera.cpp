// workspace_camera.cpp: the initial camera placement and the three camera operations.
#include "workspace_viewer.h"

namespace marnox::viewer::workspace {
namespace {

const Name set_position{"SetPosition"};
const Name set_focal_point_vtk{"SetFocalPoint"};
const Name set_view_up{"SetViewUp"};
const Name reset_camera_vtk{"ResetCamera"};
const Name zoom_vtk{"Zoom"};

}  // namespace

/// `_updateCameraView()`: the fixed initial placement. The view-up is handed over as given:
/// it is about 87 degrees from the view direction, and VTK keeps it so.
nb::object update_camera_view(const Call& call) {
    nb::object cam = pyglue::getattr(call.self(), field::cam);
    pyglue::call_method(cam, set_position, nb::make_tuple(-0.79, -1.9, 1.75));
    pyglue::call_method(cam, set_focal_point_vtk, nb::make_tuple(0, 0, 0.2));
    pyglue::call_method(cam, set_view_up, nb::make_tuple(0.316, 0.563, 0.764));
    return nb::none();
}

/// `resetCamera()`: fits the camera to the scene along its current viewing direction.
nb::object reset_camera(const Call& call) {
    pyglue::call_method(pyglue::getattr(call.self(), field::ren), reset_camera_vtk);
    return nb::none();
}

/// `zoom(factor)`: `factor` becomes a real number first, so a non-number fails before the
/// camera is read.
nb::object zoom(const Call& call) {
    double factor = PyFloat_AsDouble(call.arg(1).ptr());
    if (factor == -1.0 && PyErr_Occurred())
        pyglue::raise_current();
    nb::object cam = pyglue::getattr(call.self(), field::cam);
    pyglue::call_method(cam, zoom_vtk, nb::float_(factor));
    return nb::none();
}

/// `setFocalPoint(position)`: aims the camera; its position stays where it is.
nb::object set_focal_point(const Call& call) {
    nb::object cam = pyglue::getattr(call.self(), field::cam);
    pyglue::call_method(cam, set_focal_point_vtk, call.arg(1));
    return nb::none();
}

}  // namespace marnox::viewer::workspace

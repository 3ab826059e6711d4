// workspace_camera.cpp: the initial camera placement and the three camera operations.
#include "workspace_viewer.h"

namespace marnox::viewer::workspace {
namespace {

const Name set_focal_point_vtk{"SetFocalPoint"};
const Name set_view_up{"SetViewUp"};
const Name reset_camera_vtk{"ResetCamera"};
const Name zoom_vtk{"Zoom"};

}  // namespace

/// `resetCamera()`: fits the camera to the scene along its current viewing direction.
nb::object reset_camera(const Call& call) {
    pyglue::call_method(pyglue::getattr(call.self(), field::ren), reset_camera_vtk);
    return nb::none();
}

MethodDef reset_camera_method() {
    const char* doc =
        "Fit the camera to everything visible, keeping its viewing direction and view-up.\n"
        "\n"
        "Seen at the next render(); init() calls it once. Returns None.\n";
    return {.name = "resetCamera", .impl = reset_camera, .params = {}, .doc = doc};
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

MethodDef zoom_method() {
    const char* doc =
        "Zoom the camera: a factor above 1 enlarges the view, below 1 shrinks it.\n"
        "\n"
        "Parameters:\n"
        "    factor: a real number (an int will do). It is converted first, so anything else\n"
        "        raises TypeError before the camera changes.\n"
        "\n"
        "Zooms accumulate; each is seen at the next render(). Returns None.\n"
        "\n"
        "Example::\n"
        "\n"
        "    viewer.zoom(2)\n";
    return {
        .name = "zoom",
        .impl = zoom,
        .params = {{.name = "factor", .annotation = "float", .default_value = nb::float_(1.0)}},
        .doc = doc,
    };
}

/// `setFocalPoint(position)`: aims the camera; its position stays where it is.
nb::object set_focal_point(const Call& call) {
    nb::object cam = pyglue::getattr(call.self(), field::cam);
    pyglue::call_method(cam, set_focal_point_vtk, call.arg(1));
    return nb::none();
}

MethodDef set_focal_point_method() {
    // One list, shared by every call that omits the argument, as a def statement makes it.
    nb::list origin;
    for (int i = 0; i < 3; ++i) origin.append(nb::int_(0));
    const char* doc =
        "Aim the camera at position; the camera itself does not move.\n"
        "\n"
        "Parameters:\n"
        "    position: three numbers (list, tuple or NumPy array); the world origin by default.\n"
        "\n"
        "Seen at the next render(). Returns None.\n"
        "\n"
        "Example::\n"
        "\n"
        "    viewer.setFocalPoint([0.35, 0.0, 0.5])\n";
    return {
        .name = "setFocalPoint",
        .impl = set_focal_point,
        .params = {{.name = "position", .annotation = "ArrayLike", .default_value = origin}},
        .doc = doc,
    };
}

/// `_updateCameraView()`: the fixed initial placement. The view-up is handed over as given:
/// it is about 87 degrees from the view direction, and VTK keeps it so.
nb::object update_camera_view(const Call& call) {
    nb::object cam = pyglue::getattr(call.self(), field::cam);
    pyglue::call_method(cam, vtk::set_position, nb::make_tuple(-0.79, -1.9, 1.75));
    pyglue::call_method(cam, set_focal_point_vtk, nb::make_tuple(0, 0, 0.2));
    pyglue::call_method(cam, set_view_up, nb::make_tuple(0.316, 0.563, 0.764));
    return nb::none();
}

MethodDef update_camera_view_method() {
    const char* doc =
        "Put the camera at its initial placement: position (-0.79, -1.9, 1.75),\n"
        "focal point (0, 0, 0.2), view-up (0.316, 0.563, 0.764).";
    return {.name = "_updateCameraView", .impl = update_camera_view, .params = {}, .doc = doc};
}

}  // namespace marnox::viewer::workspace

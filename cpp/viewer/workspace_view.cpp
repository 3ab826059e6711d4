// workspace_view.cpp: how a WorkspaceViewer's scene is seen: the initial camera placement, the
// three camera operations and the gradient background.
#include "scene_look.h"
#include "workspace_viewer.h"

namespace marnox::viewer::workspace {
/// `resetCamera()`: fits the camera to the scene along its current viewing direction.
nb::object reset_camera(const Call& call) {
    pyglue::call_method(pyglue::getattr(call.self(), field::ren), vtk::ResetCamera);
    return nb::none();
}

MethodDef reset_camera_method() {
    const char* doc =
        "Fit the camera to everything visible, keeping its viewing direction and view-up.\n"
        "\n"
        "Seen at the next render(); init() calls it once. Returns None.\n";
    return {.name = method::reset_camera, .impl = reset_camera, .params = {}, .doc = doc};
}

/// `zoom(factor)`: `factor` becomes a real number first, so a non-number fails before the
/// camera is read.
nb::object zoom(const Call& call) {
    double factor = pyglue::to_double(call.arg(1));
    nb::object cam = pyglue::getattr(call.self(), field::cam);
    pyglue::call_method(cam, vtk::Zoom, nb::float_(factor));
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
        .name = method::zoom,
        .impl = zoom,
        .params = {{.name = "factor", .annotation = "float", .default_value = nb::float_(1.0)}},
        .doc = doc,
    };
}

/// `setFocalPoint(position)`: aims the camera; its position stays where it is.
nb::object set_focal_point(const Call& call) {
    nb::object cam = pyglue::getattr(call.self(), field::cam);
    pyglue::call_method(cam, vtk::SetFocalPoint, call.arg(1));
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
        .name = method::set_focal_point,
        .impl = set_focal_point,
        .params = {{.name = "position", .annotation = "ArrayLike", .default_value = origin}},
        .doc = doc,
    };
}

/// `_updateCameraView()`: the fixed initial placement. The view-up is handed over as given:
/// it is about 87 degrees from the view direction, and VTK keeps it so.
nb::object update_camera_view(const Call& call) {
    nb::object cam = pyglue::getattr(call.self(), field::cam);
    pyglue::call_method(cam, vtk::SetPosition, nb::make_tuple(-0.79, -1.9, 1.75));
    pyglue::call_method(cam, vtk::SetFocalPoint, nb::make_tuple(0, 0, 0.2));
    pyglue::call_method(cam, vtk::SetViewUp, nb::make_tuple(0.316, 0.563, 0.764));
    return nb::none();
}

MethodDef update_camera_view_method() {
    const char* doc =
        "Put the camera at its initial placement: position (-0.79, -1.9, 1.75),\n"
        "focal point (0, 0, 0.2), view-up (0.316, 0.563, 0.764).";
    return {
        .name = method::update_camera_view, .impl = update_camera_view, .params = {}, .doc = doc};
}

/// `_createBackground()`: grey blue at the bottom of the view, pale blue white at the top.
nb::object create_background(const Call& call) {
    nb::object ren = pyglue::getattr(call.self(), field::ren);
    pyglue::call_method(ren, vtk::GradientBackgroundOn);
    const double* bottom = look::kBackgroundBottom;
    const double* top = look::kBackgroundTop;
    pyglue::call_method(ren, vtk::SetBackground, nb::float_(bottom[0]), nb::float_(bottom[1]),
                        nb::float_(bottom[2]));
    pyglue::call_method(ren, vtk::SetBackground2, nb::float_(top[0]), nb::float_(top[1]),
                        nb::float_(top[2]));
    return nb::none();
}

MethodDef create_background_method() {
    const char* doc =
        "Set the gradient background: (0.45, 0.5, 0.55) at the bottom,\n"
        "(0.9, 0.95, 1) at the top.";
    return {.name = method::create_background, .impl = create_background, .params = {}, .doc = doc};
}

}  // namespace marnox::viewer::workspace

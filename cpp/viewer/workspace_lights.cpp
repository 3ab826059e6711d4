// workspace_lights.cpp: the 6 x 6 grid of dim lights and the gradient background.
#include "workspace_viewer.h"

namespace marnox::viewer::workspace {
namespace {

const Name set_intensity{"SetIntensity"};
const Name set_diffuse_color{"SetDiffuseColor"};
const Name add_light{"AddLight"};
const Name gradient_background_on{"GradientBackgroundOn"};
const Name set_background2{"SetBackground2"};

// The grid runs from -15 up to, not including, 15 on both axes, so it is centred on
// (-2.5, -2.5) rather than on the origin.
constexpr long kGridStart = -15;
constexpr long kGridStop = 15;
constexpr long kGridStep = 5;
constexpr long kGridSide = (kGridStop - kGridStart) / kGridStep;

}  // namespace

/// `_createLights()`: adds the lights row by row from the lowest y, x growing within a row.
nb::object create_lights(const Call& call) {
    nb::object ren = pyglue::getattr(call.self(), field::ren);
    nb::object light_class = call.global(global::vtk_light);
    nb::float_ intensity(0.1);
    nb::float_ white(1.0);
    nb::int_ height(3);
    for (long row = 0; row < kGridSide; ++row) {
        nb::int_ y(kGridStart + kGridStep * row);
        for (long column = 0; column < kGridSide; ++column) {
            nb::int_ x(kGridStart + kGridStep * column);
            nb::object light = pyglue::call(light_class);
            pyglue::call_method(light, set_intensity, intensity);
            pyglue::call_method(light, vtk::set_position, x, y, height);
            pyglue::call_method(light, set_diffuse_color, white, white, white);
            pyglue::call_method(ren, add_light, light);
        }
    }
    return nb::none();
}

MethodDef create_lights_method() {
    const char* doc =
        "Add 36 white lights of intensity 0.1 at z = 3, on a grid from -15 to 10\n"
        "in steps of 5 on x and y, row by row from the lowest y.";
    return {.name = "_createLights", .impl = create_lights, .params = {}, .doc = doc};
}

/// `_createBackground()`: grey blue at the bottom of the view, pale blue white at the top.
nb::object create_background(const Call& call) {
    nb::object ren = pyglue::getattr(call.self(), field::ren);
    pyglue::call_method(ren, gradient_background_on);
    pyglue::call_method(ren, vtk::set_background, nb::float_(0.45), nb::float_(0.5),
                        nb::float_(0.55));
    pyglue::call_method(ren, set_background2, nb::float_(0.9), nb::float_(0.95), nb::int_(1));
    return nb::none();
}

MethodDef create_background_method() {
    const char* doc =
        "Set the gradient background: (0.45, 0.5, 0.55) at the bottom,\n"
        "(0.9, 0.95, 1) at the top.";
    return {.name = "_createBackground", .impl = create_background, .params = {}, .doc = doc};
}

}  // namespace marnox::viewer::workspace

// workspace_lights.cpp: the 6 x 6 grid of dim lights and the gradient background.
#include "workspace_viewer.h"

namespace marnox::viewer::workspace {
namespace {

const Name set_intensity{"SetIntensity"};
const Name set_position{"SetPosition"};
const Name set_diffuse_color{"SetDiffuseColor"};
const Name add_light{"AddLight"};
const Name gradient_background_on{"GradientBackgroundOn"};
const Name set_background{"SetBackground"};
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
            pyglue::call_method(light, set_position, x, y, height);
            pyglue::call_method(light, set_diffuse_color, white, white, white);
            pyglue::call_method(ren, add_light, light);
        }
    }
    return nb::none();
}

/// `_createBackground()`: grey blue at the bottom of the view, pale blue white at the top.
nb::object create_background(const Call& call) {
    nb::object ren = pyglue::getattr(call.self(), field::ren);
    pyglue::call_method(ren, gradient_background_on);
    pyglue::call_method(ren, set_background, nb::float_(0.45), nb::float_(0.5), nb::float_(0.55));
    pyglue::call_method(ren, set_background2, nb::float_(0.9), nb::float_(0.95), nb::int_(1));
    return nb::none();
}

}  // namespace marnox::viewer::workspace

// scene_look.cpp: the 6 x 6 grid of dim lights every drawn scene is lit by.
#include "scene_look.h"

namespace marnox::viewer::look {
namespace {

// The grid runs from -15 up to, not including, 15 on both axes, so it is centred on
// (-2.5, -2.5) rather than on the origin.
constexpr long kGridStart = -15;
constexpr long kGridStop = 15;
constexpr long kGridStep = 5;
constexpr long kGridSide = (kGridStop - kGridStart) / kGridStep;

/// `_createLights()`: adds the lights to `self._ren` row by row from the lowest y, x growing
/// within a row.
nb::object add_lights(const Call& call) {
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
            pyglue::call_method(light, vtk::SetIntensity, intensity);
            pyglue::call_method(light, vtk::SetPosition, x, y, height);
            pyglue::call_method(light, vtk::SetDiffuseColor, white, white, white);
            pyglue::call_method(ren, vtk::AddLight, light);
        }
    }
    return nb::none();
}

}  // namespace

MethodDef create_lights_method() {
    const char* doc =
        "Add 36 white lights of intensity 0.1 at z = 3, on a grid from -15 to 10\n"
        "in steps of 5 on x and y, row by row from the lowest y.";
    return {.name = create_lights, .impl = add_lights, .params = {}, .doc = doc};
}

}  // namespace marnox::viewer::look

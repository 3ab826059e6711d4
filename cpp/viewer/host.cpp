// host.cpp: opening, looping, drawing and closing a viewer's render window.
#include "host.h"

namespace marnox::viewer::host {

using pyglue::call_method;
using pyglue::getattr;

nb::object init(const Call& call, const Kind& kind) {
    nb::handle self = call.self();
    nb::object window = getattr(self, field::window);
    if (pyglue::truthy(call.arg(1))) {
        call_method(window, vtk::off_screen_rendering_on);
    } else {
        pyglue::setattr(self, field::interactor,
                        pyglue::call(call.global(global::vtk_render_window_interactor)));
        nb::object interactor = getattr(self, field::interactor);
        if (kind.is_workspace) {
            nb::object style =
                pyglue::call(call.global(global::vtk_interactor_style_trackball_camera));
            call_method(interactor, vtk::set_interactor_style, style);
        }
        call_method(interactor, vtk::set_render_window, window);
        call_method(interactor, vtk::initialize);
    }
    if (kind.is_workspace) {
        call_method(window, vtk::set_size, getattr(self, field::size));
        call_method(window, vtk::add_renderer, call_method(self, method::get_renderer));
    }
    call_method(window, vtk::render);
    call_method(window, vtk::set_window_name, nb::str(kind.title));
    call_method(self, method::render);
    if (kind.is_workspace) {
        call_method(self, method::reset_camera);
        call_method(self, method::render);
    }
    return nb::none();
}

nb::object spin(const Call& call) {
    nb::object interactor = getattr(call.self(), field::interactor);
    if (!interactor.is_none())
        call_method(interactor, vtk::start);
    return nb::none();
}

nb::object render(const Call& call, const Kind& kind) {
    nb::handle self = call.self();
    kind.refresh(self);
    nb::object interactor = getattr(self, field::interactor);
    if (interactor.is_none())
        return nb::none();
    call_method(interactor, vtk::process_events);
    call_method(interactor, vtk::render);
    return nb::none();
}

nb::object stop(const Call& call) {
    nb::handle self = call.self();
    call_method(getattr(self, field::window), vtk::finalize);
    nb::object interactor = getattr(self, field::interactor);
    if (!interactor.is_none())
        call_method(interactor, vtk::terminate_app);
    return nb::none();
}

}  // namespace marnox::viewer::host

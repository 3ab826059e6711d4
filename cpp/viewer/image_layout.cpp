// image_layout.cpp: ImageViewer construction and the viewport grid, two viewports per camera.
#include <cmath>

#include "image_viewer.h"
#include "interfaces/image_model.h"
#include "window_checks.h"

namespace marnox::viewer::image {
namespace {

using pyglue::call_method;

const Name remove_renderer{"RemoveRenderer"};
const Name get_color_3d{"GetColor3d"};
const Name set_viewport{"SetViewport"};
const Name set_input_data{"SetInputData"};
const Name set_color_window{"SetColorWindow"};
const Name set_color_level{"SetColorLevel"};
const Name set_mapper{"SetMapper"};

/// Takes the previous grid's actors and renderers out of the window.
void tear_down(nb::handle self, nb::handle window) {
    nb::object renderers = pyglue::getattr(self, field::renderers);
    for (nb::handle renderer : renderers)
        call_method(call_method(renderer, vtk::get_actors), vtk::remove_all_items);
    pyglue::for_each_pair(pyglue::getattr(self, field::actors), renderers,
                          [](nb::handle actor, nb::handle renderer) {
                              call_method(renderer, vtk::remove_actor, actor);
                          });
    for (nb::handle renderer : renderers) call_method(window, remove_renderer, renderer);
}

/// Rows and columns for `n_viewports`: never taller than wide, and one cell
/// for a project without cameras so that the window still shows a background.
std::pair<Py_ssize_t, Py_ssize_t> grid_of(Py_ssize_t n_viewports) {
    if (n_viewports == 0)
        return {1, 1};
    auto rows = static_cast<Py_ssize_t>(std::floor(std::sqrt(static_cast<double>(n_viewports))));
    auto columns = static_cast<Py_ssize_t>(
        std::ceil(static_cast<double>(n_viewports) / static_cast<double>(rows)));
    return {rows, columns};
}

/// `[xmin, ymin, xmax, ymax]` of a cell, row 0 at the top of the window.
nb::list viewport_of(Py_ssize_t row, Py_ssize_t column, Py_ssize_t rows, Py_ssize_t columns) {
    nb::list rect;
    rect.append(nb::float_(static_cast<double>(column) / static_cast<double>(columns)));
    rect.append(nb::float_(static_cast<double>(rows - row - 1) / static_cast<double>(rows)));
    rect.append(nb::float_(static_cast<double>(column + 1) / static_cast<double>(columns)));
    rect.append(nb::float_(static_cast<double>(rows - row) / static_cast<double>(rows)));
    return rect;
}

}  // namespace

/// `__init__(size)`: the fields, in order; no window content yet.
nb::object construct(const Call& call) {
    nb::handle self = call.self();
    nb::handle size = call.arg(1);
    pyglue::require_exact_type(size, &PyTuple_Type, "size");
    require_window_size(size);
    pyglue::setattr(self, field::size, size);
    pyglue::setattr(self, field::project, pyglue::call(call.global(global::project_class)));
    pyglue::setattr(self, field::renderers, nb::list());
    pyglue::setattr(self, field::image_data, nb::list());
    pyglue::setattr(self, field::actors, nb::list());
    pyglue::setattr(self, field::window, pyglue::call(call.global(global::vtk_render_window)));
    pyglue::setattr(self, field::interactor, nb::none());
    return nb::none();
}

MethodDef construct_method() {
    const char* doc =
        "Create a viewer with an empty project and a window of ``size`` (width,\n"
        "height) pixels, applied when a project is set. Nothing is shown yet.\n"
        "\n"
        "Raises TypeError unless ``size`` is exactly a tuple, ValueError if it holds\n"
        "integers outside 1 to MAX_WINDOW_SIZE (16384).";
    return {
        .name = "__init__",
        .impl = construct,
        .params = {{.name = "size",
                    .annotation = "tuple",
                    .default_value = nb::make_tuple(800, 600)}},
        .doc = doc,
    };
}

/// `setProject(project)`: keeps the project, then rebuilds through `self._refreshProject`.
nb::object set_project(const Call& call) {
    require_window_thread(call.self(), "setProject");
    pyglue::setattr(call.self(), field::project, call.arg(1));
    call_method(call.self(), method::refresh_project);
    return nb::none();
}

MethodDef set_project_method() {
    const char* doc =
        "Show ``project``: keep it and lay the window out anew, two viewports per\n"
        "camera of its workspace.";
    return {
        .name = "setProject",
        .impl = set_project,
        .params = {{.name = "project", .annotation = "Project"}},
        .returns = "None",
        .doc = doc,
    };
}

/// `_refreshProject()`: the old grid out, the new one in, the window sized last.
nb::object refresh_project(const Call& call) {
    nb::handle self = call.self();
    // Checked before the old grid goes, so a bad size leaves the window as it was.
    nb::object size = pyglue::getattr(self, field::size);
    require_window_size(size);
    nb::object window = pyglue::getattr(self, field::window);
    tear_down(self, window);
    // Replaced, not emptied: whoever holds the old lists keeps them as they were.
    nb::list renderers, image_data_list, actors;
    pyglue::setattr(self, field::renderers, renderers);
    pyglue::setattr(self, field::image_data, image_data_list);
    pyglue::setattr(self, field::actors, actors);

    model::ImageProject project{pyglue::getattr(self, field::project)};
    Py_ssize_t n_viewports = 2 * project.camera_count();
    auto [rows, columns] = grid_of(n_viewports);

    nb::object colors = pyglue::call(call.global(global::vtk_named_colors));
    nb::str alice_blue("AliceBlue");
    for (Py_ssize_t row = 0; row < rows; ++row) {
        for (Py_ssize_t column = 0; column < columns; ++column) {
            nb::object renderer = pyglue::call(call.global(global::vtk_renderer));
            call_method(renderer, vtk::set_background,
                        call_method(colors, get_color_3d, alice_blue));
            call_method(renderer, set_viewport, viewport_of(row, column, rows, columns));
            call_method(window, vtk::add_renderer, renderer);
            renderers.append(renderer);
        }
    }

    for (Py_ssize_t index = 0; index < n_viewports; ++index) {
        nb::object image_data = pyglue::call(call.global(global::vtk_image_data));
        nb::object mapper = pyglue::call(call.global(global::vtk_image_mapper));
        call_method(mapper, set_input_data, image_data);
        call_method(mapper, set_color_window, nb::int_(255));
        call_method(mapper, set_color_level, nb::float_(127.5));
        nb::object actor = pyglue::call(call.global(global::vtk_actor_2d));
        call_method(actor, set_mapper, mapper);
        call_method(PyList_GET_ITEM(renderers.ptr(), index), vtk::add_actor, actor);
        image_data_list.append(image_data);
        actors.append(actor);
    }
    call_method(window, vtk::set_size, size);
    return nb::none();
}

MethodDef refresh_project_method() {
    const char* doc =
        "Replace the viewport grid with one for the cameras of ``_project``: a\n"
        "renderer per cell, row-major from the top, and an image with its mapper\n"
        "and actor per viewport; then size the window. A project without cameras\n"
        "gets one empty cell.";
    return {
        .name = "_refreshProject",
        .impl = refresh_project,
        .params = {},
        .returns = "None",
        .doc = doc,
    };
}

}  // namespace marnox::viewer::image

// image_viewer.cpp: the ImageViewer class: construction, its steps of the window lifecycle and
// the viewport grid it lays out for a project, two viewports per camera.
#include "image_viewer.h"

#include <cmath>

#include "host.h"
#include "interfaces/model.h"

namespace marnox::viewer {
namespace image {
namespace {

using pyglue::call_method;

/// Takes the previous grid's actors and renderers out of the window.
void tear_down(nb::handle self, nb::handle window) {
    nb::object renderers = pyglue::getattr(self, field::renderers);
    for (nb::handle renderer : renderers)
        call_method(call_method(renderer, vtk::GetActors), vtk::RemoveAllItems);
    pyglue::for_each_pair(pyglue::getattr(self, field::actors), renderers,
                          [](nb::handle actor, nb::handle renderer) {
                              call_method(renderer, vtk::RemoveActor, actor);
                          });
    for (nb::handle renderer : renderers) call_method(window, vtk::RemoveRenderer, renderer);
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

/// `__init__(size)`: the fields, in order; no window content yet.
nb::object construct(const Call& call) {
    nb::handle self = call.self();
    nb::handle size = call.arg(1);
    require_size_argument(size);
    pyglue::setattr(self, field::size, size);
    pyglue::setattr(self, field::project, model::new_project(call));
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
        "integers outside 1 to MAX_WINDOW_SIZE (" MARNOX_TEXT(MARNOX_MAX_WINDOW_SIDE) ").";
    return {
        .name = pyglue::special::init,
        .impl = construct,
        .params = {size_param()},
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
        .name = viewer::method::set_project,
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

    model::Project project{pyglue::getattr(self, field::project)};
    Py_ssize_t n_viewports = 2 * model::Workspace{project.workspace()}.camera_count();
    auto [rows, columns] = grid_of(n_viewports);

    nb::object colors = pyglue::call(call.global(global::vtk_named_colors));
    nb::str alice_blue("AliceBlue");
    for (Py_ssize_t row = 0; row < rows; ++row) {
        for (Py_ssize_t column = 0; column < columns; ++column) {
            nb::object renderer = pyglue::call(call.global(global::vtk_renderer));
            call_method(renderer, vtk::SetBackground,
                        call_method(colors, vtk::GetColor3d, alice_blue));
            call_method(renderer, vtk::SetViewport, viewport_of(row, column, rows, columns));
            call_method(window, vtk::AddRenderer, renderer);
            renderers.append(renderer);
        }
    }

    for (Py_ssize_t index = 0; index < n_viewports; ++index) {
        nb::object image_data = pyglue::call(call.global(global::vtk_image_data));
        nb::object mapper = pyglue::call(call.global(global::vtk_image_mapper));
        call_method(mapper, vtk::SetInputData, image_data);
        call_method(mapper, vtk::SetColorWindow, nb::int_(255));
        call_method(mapper, vtk::SetColorLevel, nb::float_(127.5));
        nb::object actor = pyglue::call(call.global(global::vtk_actor_2d));
        call_method(actor, vtk::SetMapper, mapper);
        call_method(PyList_GET_ITEM(renderers.ptr(), index), vtk::AddActor, actor);
        image_data_list.append(image_data);
        actors.append(actor);
    }
    call_method(window, vtk::SetSize, size);
    return nb::none();
}

MethodDef refresh_project_method() {
    const char* doc =
        "Replace the viewport grid with one for the cameras of ``_project``: a\n"
        "renderer per cell, row-major from the top, and an image with its mapper\n"
        "and actor per viewport; then size the window. A project without cameras\n"
        "gets one empty cell.";
    return {
        .name = method::refresh_project,
        .impl = refresh_project,
        .params = {},
        .returns = "None",
        .doc = doc,
    };
}

/// Kept so that both viewers answer the same calls; an image viewer has no
/// single renderer, so this fails with AttributeError unless `_ren` is set.
nb::object get_renderer(const Call& call) {
    return pyglue::getattr(call.self(), field::ren);
}

MethodDef get_renderer_method() {
    const char* doc =
        "Return ``_ren``. An image viewer has no single renderer and never sets\n"
        "it; its renderers are ``_renderers``.";
    return {
        .name = viewer::method::get_renderer,
        .impl = get_renderer,
        .params = {},
        .returns = "vtkRenderer",
        .doc = doc,
    };
}

/// render()'s refresh step: `self._updateImages()`.
const Name* const kRefreshImages[] = {&method::update_images};

/// The interactor keeps VTK's default style, and the layout, run by setProject, sizes the window
/// and adds one renderer per viewport; the first frame needs no follow-up.
const host::Kind kHost = {
    .title = "Marnox Image Viewer",
    .refresh = kRefreshImages,
};

const char* const kInitDoc =
    "Open the window on screen or prepare it off screen, then draw the first frame.\n"
    "\n"
    "Records the calling thread in ``_thread``: only it may use the window afterwards.\n"
    "Raises RuntimeError after stop() and from a thread other than the first init()'s.";

const char* const kRenderDoc =
    "Copy the system's current images into the viewports, then pump pending\n"
    "window events and draw one frame if the window is open on screen.";

const char* const kDoc =
    "The current images of a project's system, in a grid of viewports.\n"
    "\n"
    "Every camera of the project's workspace gets two viewports (its colour and\n"
    "its depth image); each render copies ``project.system().images()`` into them,\n"
    "paired by position. The state lives in the instance attributes ``_size``,\n"
    "``_project``, ``_renderers``, ``_image_data``, ``_actors``, ``_window`` and\n"
    "``_interactor``; init() adds ``_thread`` and ``_windowRelease`` (which, if the\n"
    "viewer is collected without stop(), lets its props go before its window), and\n"
    "stop() adds ``_stopped``.\n"
    "\n"
    "The window belongs to the thread that calls init() (its identity, as\n"
    "threading.get_ident() gives it, is ``_thread``): from then on init, spin, render,\n"
    "stop, screenshot and setProject raise RuntimeError on any other thread.\n"
    "``size`` is two integers from 1 to MAX_WINDOW_SIZE (" MARNOX_TEXT(MARNOX_MAX_WINDOW_SIDE) "); others raise ValueError\n"
    "from the constructor and from setProject(), which applies ``_size``.\n"
    "\n"
    "Example::\n"
    "\n"
    "    viewer = ImageViewer(size=(1280, 960))\n"
    "    viewer.setProject(project)\n"
    "    viewer.init(offscreen=True)\n"
    "    viewer.render()\n"
    "    viewer.screenshot(\"images\" + MX_IMAGE_FILE_EXT)\n";

}  // namespace
}  // namespace image

void define_image_viewer(nb::handle module) {
    using namespace image;
    pyglue::ClassBuilder(module, "ImageViewer", kDoc)
        .def(construct_method())
        .def(set_project_method())
        .def(refresh_project_method())
        .def(host::init_method<kHost>(kInitDoc))
        .def(host::spin_method())
        .def(host::render_method<kHost>(kRenderDoc))
        .def(host::stop_method())
        .def(get_renderer_method())
        .def(host::screenshot_method())
        .def(update_images_method())
        .finish();
}

}  // namespace marnox::viewer

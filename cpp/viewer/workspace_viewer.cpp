// workspace_viewer.cpp: the WorkspaceViewer class and the steps of its window lifecycle.
#include "workspace_viewer.h"

#include "host.h"
#include "viewer_classes.h"
#include "window_checks.h"

namespace marnox::viewer {
namespace {

using pyglue::call_method;

/// Trackball-camera mouse interaction on screen.
void use_trackball(const Call& call, nb::handle interactor) {
    nb::object style = pyglue::call(call.global(global::vtk_interactor_style_trackball_camera));
    call_method(interactor, vtk::set_interactor_style, style);
}

/// The window takes `_size` and the viewer's one renderer before its first frame.
void size_and_attach_renderer(const Call& call, nb::handle window) {
    nb::object size = pyglue::getattr(call.self(), field::size);
    require_window_size(size);
    call_method(window, vtk::set_size, size);
    call_method(window, vtk::add_renderer, checked_renderer(call));
}

/// The camera is fitted to the scene of the first frame, then the fitted view drawn.
void fit_camera(nb::handle self) {
    call_method(self, workspace::method::reset_camera);
    call_method(self, method::render);
}

const host::Kind kWorkspaceHost = {
    .title = "Marnox Workspace Viewer",
    .style_interactor = use_trackball,
    .prepare_window = size_and_attach_renderer,
    .after_first_frame = fit_camera,
    .refresh = workspace::refresh_overlays,
};

/// `init(offscreen)` with the workspace viewer's style, sizing and camera fit.
nb::object init(const Call& call) {
    return host::init(call, kWorkspaceHost);
}

MethodDef init_method() {
    const char* doc =
        "Open the window on screen, or prepare it for off-screen rendering, and draw it.\n"
        "\n"
        "Parameters:\n"
        "    offscreen: if true, render off screen: no interactor, nothing shown. Otherwise\n"
        "        open a window titled \"Marnox Workspace Viewer\" with trackball-camera\n"
        "        mouse interaction; calling init() again replaces the interactor.\n"
        "\n"
        "Sizes the window to _size, attaches the renderer and draws the first frame, sets\n"
        "the title, then calls render(), resetCamera() and render() again, so the first\n"
        "frame shown has the camera fitted to the scene. Returns None.\n"
        "\n"
        "Records the calling thread in _thread: only it may use the window afterwards.\n"
        "\n"
        "Raises RuntimeError after stop(), from a thread other than the first init()'s, and\n"
        "on screen when VTK has no display to open the window on (then use\n"
        "offscreen=True); ValueError if _size is out of range; TypeError if _getRenderer()\n"
        "returns no vtkRenderer.\n"
        "\n"
        "Example::\n"
        "\n"
        "    viewer.init()\n"
        "    viewer.spin()\n";
    return host::init_method(init, doc);
}

/// `render()` with the seven per-frame hooks as the refresh step.
nb::object render(const Call& call) {
    return host::render(call, kWorkspaceHost);
}

MethodDef render_method() {
    const char* doc =
        "Bring the overlays up to date, then handle pending window events and draw a frame.\n"
        "\n"
        "Runs the per-frame updates in order: _updateVisualFrames, _updatePointCloud,\n"
        "_updateGraspableItems, _updatePlacementRegions, _updateGoalCandidates,\n"
        "_updateToolTrajectories, _updateToolForces. An error in one propagates and ends the\n"
        "frame there. Draws only on screen; off screen the next screenshot() draws. After\n"
        "stop() it runs the updates and draws nothing. Returns None.\n"
        "\n"
        "Example::\n"
        "\n"
        "    while running:\n"
        "        viewer.render()\n";
    return host::render_method(render, doc);
}

const char* const kDoc =
    "A 3-D view of a project's workspace, on screen or off screen.\n"
    "\n"
    "The scene shows every robot, item, camera, fiducial and task region of the bound\n"
    "project's workspace, with their child nodes and an origin frame, lit by a 6 x 6 grid\n"
    "of lights over a gradient background. Optional overlays show the system's tool\n"
    "trajectory and point cloud; every render() brings them and the link frames up to date.\n"
    "\n"
    "State lives in instance attributes, set by the constructor in this order: _size,\n"
    "_ren, _cam, _window, _interactor, _project, _actors, _trajectory, _pointcloud;\n"
    "init() adds _thread and stop() adds _stopped.\n"
    "\n"
    "The window belongs to the thread that calls init() (its identity, as\n"
    "threading.get_ident() gives it, is _thread): from then on init, spin, render, stop,\n"
    "screenshot and setProject raise RuntimeError on any other thread. size is two\n"
    "integers from 1 to MAX_WINDOW_SIZE (16384); others raise ValueError from the\n"
    "constructor and from init(), which applies _size.\n"
    "\n"
    "Example::\n"
    "\n"
    "    viewer = WorkspaceViewer(size=(1280, 800), trajectory=True, pointcloud=True)\n"
    "    viewer.setProject(project)\n"
    "    viewer.init(offscreen=True)\n"
    "    viewer.render()\n"
    "    viewer.screenshot(\"cell.png\")\n"
    "    viewer.stop()\n";

}  // namespace

void define_workspace_viewer(nb::handle module) {
    using namespace workspace;
    pyglue::ClassBuilder(module, "WorkspaceViewer", kDoc)
        .def(construct_method())
        .def(set_project_method())
        .def(init_method())
        .def(host::spin_method())
        .def(render_method())
        .def(host::stop_method())
        .def(host::screenshot_method())
        .def(get_renderer_method())
        .def(reset_camera_method())
        .def(zoom_method())
        .def(set_focal_point_method())
        .def(update_camera_view_method())
        .def(create_lights_method())
        .def(create_background_method())
        .def(refresh_workspace_method())
        .def(add_items_method())
        .def(add_group_method())
        .def(add_element_method())
        .def(update_visual_frames_method())
        .def(update_point_cloud_method())
        .def(update_graspable_items_method())
        .def(update_placement_regions_method())
        .def(update_goal_candidates_method())
        .def(update_tool_trajectories_method())
        .def(update_tool_forces_method())
        .finish();
}

}  // namespace marnox::viewer

// workspace_viewer.cpp: the WorkspaceViewer class: its steps of the window lifecycle and the
// per-frame updates that make render()'s refresh step.
#include "workspace_viewer.h"

#include "host.h"
#include "interfaces/model.h"
#include "scene_look.h"

/// render()'s refresh step, in frame order: each per-frame update as STEP(identifier, name,
/// separator), the separator being what follows the name where render()'s docstring lists
/// the updates. The names, the order and that list are all made from here.
#define MARNOX_WORKSPACE_REFRESH_STEPS(STEP)                        \
    STEP(update_visual_frames, "_updateVisualFrames", ", ")         \
    STEP(update_point_cloud, "_updatePointCloud", ",\n")            \
    STEP(update_graspable_items, "_updateGraspableItems", ", ")     \
    STEP(update_placement_regions, "_updatePlacementRegions", ", ") \
    STEP(update_goal_candidates, "_updateGoalCandidates", ",\n")    \
    STEP(update_tool_trajectories, "_updateToolTrajectories", ", ") \
    STEP(update_tool_forces, "_updateToolForces", "")

namespace marnox::viewer {
namespace workspace {

namespace method {
#define MARNOX_STEP_NAME(identifier, name, separator) const Name identifier{name};
MARNOX_WORKSPACE_REFRESH_STEPS(MARNOX_STEP_NAME)
#undef MARNOX_STEP_NAME
}  // namespace method

namespace {

using pyglue::call_method;

/// The system of the viewer's project.
model::System system_of(nb::handle self) {
    model::Project project{pyglue::getattr(self, field::project)};
    return model::System{project.system()};
}

/// `_updateVisualFrames()`: places the link tree's visual elements from the origin link down,
/// from a fresh default base pose every frame.
nb::object update_visual_frames(const Call& call) {
    model::Project project{pyglue::getattr(call.self(), field::project)};
    nb::object origin_link = model::Workspace{project.workspace()}.origin_link();
    nb::object base_pose = model::new_pose(call);
    model::place_link_tree(call, origin_link, base_pose);
    return nb::none();
}

MethodDef update_visual_frames_method() {
    const char* doc =
        "Place the link tree's visual elements from the workspace's origin link,\n"
        "starting from a new default Pose.";
    return {.name = method::update_visual_frames,
            .impl = update_visual_frames,
            .params = {},
            .doc = doc};
}

/// `_updatePointCloud()`: hands the system's current point cloud to the overlay, if any.
nb::object update_point_cloud(const Call& call) {
    nb::handle self = call.self();
    nb::object overlay = pyglue::getattr(self, field::pointcloud);
    if (!pyglue::truthy(overlay))
        return nb::none();
    nb::object cloud = system_of(self).pointcloud();
    model::PointcloudOverlay{overlay}.set_points(cloud);
    return nb::none();
}

MethodDef update_point_cloud_method() {
    const char* doc = "Pass the system's current point cloud to the point-cloud overlay, if any.";
    return {
        .name = method::update_point_cloud, .impl = update_point_cloud, .params = {}, .doc = doc};
}

/// `_updateToolTrajectories()`: hands the system's current tool trajectory to the overlay, if
/// any.
nb::object update_tool_trajectories(const Call& call) {
    nb::handle self = call.self();
    nb::object overlay = pyglue::getattr(self, field::trajectory);
    if (!pyglue::truthy(overlay))
        return nb::none();
    nb::object positions = system_of(self).trajectory();
    model::TrajectoryOverlay{overlay}.set_positions(positions);
    return nb::none();
}

MethodDef update_tool_trajectories_method() {
    const char* doc =
        "Pass the system's current tool trajectory to the trajectory overlay, if any.";
    return {.name = method::update_tool_trajectories,
            .impl = update_tool_trajectories,
            .params = {},
            .doc = doc};
}

/// The graspable-item, placement-region, goal-candidate and tool-force hooks: places kept in
/// the frame order for subclasses to fill.
nb::object reserved_hook(const Call&) {
    return nb::none();
}

/// A hook that does nothing until a subclass fills it.
MethodDef reserved_hook_method(const Name& name, const char* doc) {
    return {.name = name, .impl = reserved_hook, .params = {}, .doc = doc};
}

/// The window takes `_size` and the viewer's one renderer before its first frame.
void size_and_attach_renderer(const Call& call, nb::handle window) {
    nb::object size = pyglue::getattr(call.self(), field::size);
    require_window_size(size);
    call_method(window, vtk::SetSize, size);
    call_method(window, vtk::AddRenderer, checked_renderer(call));
}

#define MARNOX_STEP_ADDRESS(identifier, name, separator) &method::identifier,
const Name* const kRefreshSteps[] = {MARNOX_WORKSPACE_REFRESH_STEPS(MARNOX_STEP_ADDRESS)};
#undef MARNOX_STEP_ADDRESS

/// The camera is fitted to the scene of the first frame, then the fitted view drawn.
const Name* const kFitCamera[] = {&method::reset_camera, &viewer::method::render};

const host::Kind kHost = {
    .title = "Marnox Workspace Viewer",
    .interactor_style = &global::vtk_interactor_style_trackball_camera,
    .prepare_window = size_and_attach_renderer,
    .after_first_frame = kFitCamera,
    .refresh = kRefreshSteps,
};

const char* const kInitDoc =
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

#define MARNOX_STEP_TEXT(identifier, name, separator) name separator
const char* const kRenderDoc =
    "Bring the overlays up to date, then handle pending window events and draw a frame.\n"
    "\n"
    "Runs the per-frame updates in order: " MARNOX_WORKSPACE_REFRESH_STEPS(MARNOX_STEP_TEXT) ". An error in one propagates and ends the\n"
    "frame there. Draws only on screen; off screen the next screenshot() draws. After\n"
    "stop() it runs the updates and draws nothing. Returns None.\n"
    "\n"
    "Example::\n"
    "\n"
    "    while running:\n"
    "        viewer.render()\n";
#undef MARNOX_STEP_TEXT

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
    "init() adds _thread and _windowRelease (which, if the viewer is collected without\n"
    "stop(), lets its props go before its window, so that windows sharing them keep\n"
    "drawing), and stop() adds _stopped.\n"
    "\n"
    "The window belongs to the thread that calls init() (its identity, as\n"
    "threading.get_ident() gives it, is _thread): from then on init, spin, render, stop,\n"
    "screenshot and setProject raise RuntimeError on any other thread. size is two\n"
    "integers from 1 to MAX_WINDOW_SIZE (" MARNOX_TEXT(MARNOX_MAX_WINDOW_SIDE) "); others raise ValueError from the\n"
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
}  // namespace workspace

void define_workspace_viewer(nb::handle module) {
    using namespace workspace;
    pyglue::ClassBuilder(module, "WorkspaceViewer", kDoc)
        .def(construct_method())
        .def(set_project_method())
        .def(host::init_method<kHost>(kInitDoc))
        .def(host::spin_method())
        .def(host::render_method<kHost>(kRenderDoc))
        .def(host::stop_method())
        .def(host::screenshot_method())
        .def(get_renderer_method())
        .def(reset_camera_method())
        .def(zoom_method())
        .def(set_focal_point_method())
        .def(update_camera_view_method())
        .def(look::create_lights_method())
        .def(create_background_method())
        .def(refresh_workspace_method())
        .def(add_items_method())
        .def(add_group_method())
        .def(add_element_method())
        .def(update_visual_frames_method())
        .def(update_point_cloud_method())
        .def(reserved_hook_method(workspace::method::update_graspable_items,
                                  "Per-frame hook for graspable items; does nothing."))
        .def(reserved_hook_method(workspace::method::update_placement_regions,
                                  "Per-frame hook for placement regions; does nothing."))
        .def(reserved_hook_method(workspace::method::update_goal_candidates,
                                  "Per-frame hook for goal candidates; does nothing."))
        .def(update_tool_trajectories_method())
        .def(reserved_hook_method(workspace::method::update_tool_forces,
                                  "Per-frame hook for tool forces; does nothing."))
        .finish();
}

}  // namespace marnox::viewer

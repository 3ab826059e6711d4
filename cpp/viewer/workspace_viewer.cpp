// workspace_viewer.cpp: the WorkspaceViewer class: its method table and its window lifecycle.
#include "workspace_viewer.h"

#include "host.h"
#include "viewer_classes.h"

namespace marnox::viewer {
namespace {

const host::Kind kWorkspaceHost = {
    .title = "Marnox Workspace Viewer",
    .is_workspace = true,
    .refresh = workspace::refresh_overlays,
};

/// `init(offscreen)` with the workspace viewer's title, style, sizing and camera fit.
nb::object init(const Call& call) {
    return host::init(call, kWorkspaceHost);
}

/// `render()` with the seven per-frame hooks as the refresh step.
nb::object render(const Call& call) {
    return host::render(call, kWorkspaceHost);
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
    "stop() adds _stopped.\n"
    "\n"
    "Example::\n"
    "\n"
    "    viewer = WorkspaceViewer(size=(1280, 800), trajectory=True, pointcloud=True)\n"
    "    viewer.setProject(project)\n"
    "    viewer.init(offscreen=True)\n"
    "    viewer.render()\n"
    "    viewer.screenshot(\"cell.png\")\n"
    "    viewer.stop()\n";

const char* const kInitDoc =
    "Create the renderer, camera, window, lights, background and requested overlays.\n"
    "\n"
    "Parameters:\n"
    "    size: window size (width, height) in pixels; exactly a tuple.\n"
    "    trajectory: if true, show the system's tool trajectory.\n"
    "    pointcloud: if true, show the system's point cloud.\n"
    "\n"
    "The project is an empty Project until setProject(); nothing is opened or drawn\n"
    "until init(). Raises TypeError if size is not a tuple.\n"
    "\n"
    "Example::\n"
    "\n"
    "    viewer = WorkspaceViewer((1024, 768), trajectory=True)\n";

const char* const kSetProjectDoc =
    "Bind project (the object itself, not a copy) and rebuild the scene from it.\n"
    "\n"
    "Removes the actors of the previous scene (never the overlays), then adds those of\n"
    "every robot, item, camera, fiducial and task region of project.workspace(), each\n"
    "node before its children, and an origin frame last. Neither draws nor moves the\n"
    "camera: the new scene shows at the next render(). An error of the model propagates\n"
    "and leaves the scene as far as the build had got.\n"
    "\n"
    "Parameters:\n"
    "    project: a Project (anything with workspace() and system()).\n"
    "\n"
    "Returns None.\n"
    "\n"
    "Example::\n"
    "\n"
    "    viewer.setProject(project)\n"
    "    viewer.render()\n";

const char* const kHostInitDoc =
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
    "Raises RuntimeError after stop(), and on screen when VTK has no display to open\n"
    "the window on (then use offscreen=True).\n"
    "\n"
    "Example::\n"
    "\n"
    "    viewer.init()\n"
    "    viewer.spin()\n";

const char* const kRenderDoc =
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

const char* const kResetCameraDoc =
    "Fit the camera to everything visible, keeping its viewing direction and view-up.\n"
    "\n"
    "Seen at the next render(); init() calls it once. Returns None.\n";

const char* const kZoomDoc =
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

const char* const kSetFocalPointDoc =
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

const char* const kAddGroupDoc =
    "Add every element of group to the scene, in the order of group.elements().\n"
    "\n"
    "Parameters:\n"
    "    group: a VisualGroup (anything with elements()).\n"
    "\n"
    "Each element goes through self.addElement(element=...), so an override sees it.\n"
    "The actors stay in the scene until the next setProject(). Returns None.\n";

const char* const kAddElementDoc =
    "Add the actor of element to the scene until the next setProject().\n"
    "\n"
    "Parameters:\n"
    "    element: a VisualElement (anything with _getActor()).\n"
    "\n"
    "The actor is appended to _actors, then added to the renderer. Nothing is checked:\n"
    "an element added twice has its actor added twice. Returns None.\n"
    "\n"
    "Example::\n"
    "\n"
    "    viewer.addElement(VisualCoordinate(scale=0.5))\n";

}  // namespace

void define_workspace_viewer(nb::handle module) {
    using pyglue::MethodDef;
    using namespace workspace;
    // One list, shared by every call that omits the argument, as a def statement makes it.
    nb::list origin;
    for (int i = 0; i < 3; ++i) origin.append(nb::int_(0));

    pyglue::ClassBuilder(module, "WorkspaceViewer", kDoc)
        .def(MethodDef{
            .name = "__init__",
            .impl = construct,
            .params =
                {{.name = "size", .annotation = "tuple", .default_value = nb::make_tuple(800, 600)},
                 {.name = "trajectory", .annotation = "bool", .default_value = nb::bool_(false)},
                 {.name = "pointcloud", .annotation = "bool", .default_value = nb::bool_(false)}},
            .doc = kInitDoc,
        })
        .def(MethodDef{
            .name = "setProject",
            .impl = set_project,
            .params = {{.name = "project", .annotation = "Project"}},
            .doc = kSetProjectDoc,
        })
        .def(MethodDef{
            .name = "init",
            .impl = init,
            .params = {{.name = "offscreen",
                        .annotation = "bool",
                        .default_value = nb::bool_(false)}},
            .doc = kHostInitDoc,
        })
        .def(MethodDef{.name = "spin", .impl = host::spin, .params = {}, .doc = host::kSpinDoc})
        .def(MethodDef{.name = "render", .impl = render, .params = {}, .doc = kRenderDoc})
        .def(MethodDef{.name = "stop", .impl = host::stop, .params = {}, .doc = host::kStopDoc})
        .def(MethodDef{
            .name = "screenshot",
            .impl = host::screenshot,
            .params = {{.name = "filename", .annotation = "str"}},
            .doc = host::kScreenshotDoc,
        })
        .def(MethodDef{
            .name = "_getRenderer",
            .impl = get_renderer,
            .params = {},
            .returns = "vtkRenderer",
            .doc = "Return the viewer's renderer, _ren.",
        })
        .def(MethodDef{
            .name = "resetCamera",
            .impl = reset_camera,
            .params = {},
            .doc = kResetCameraDoc,
        })
        .def(MethodDef{
            .name = "zoom",
            .impl = zoom,
            .params = {{.name = "factor", .annotation = "float", .default_value = nb::float_(1.0)}},
            .doc = kZoomDoc,
        })
        .def(MethodDef{
            .name = "setFocalPoint",
            .impl = set_focal_point,
            .params = {{.name = "position", .annotation = "ArrayLike", .default_value = origin}},
            .doc = kSetFocalPointDoc,
        })
        .def(MethodDef{
            .name = "_updateCameraView",
            .impl = update_camera_view,
            .params = {},
            .doc = "Put the camera at its initial placement: position (-0.79, -1.9, 1.75),\n"
                   "focal point (0, 0, 0.2), view-up (0.316, 0.563, 0.764).",
        })
        .def(MethodDef{
            .name = "_createLights",
            .impl = create_lights,
            .params = {},
            .doc = "Add 36 white lights of intensity 0.1 at z = 3, on a grid from -15 to 10\n"
                   "in steps of 5 on x and y, row by row from the lowest y.",
        })
        .def(MethodDef{
            .name = "_createBackground",
            .impl = create_background,
            .params = {},
            .doc = "Set the gradient background: (0.45, 0.5, 0.55) at the bottom,\n"
                   "(0.9, 0.95, 1) at the top.",
        })
        .def(MethodDef{
            .name = "_refreshWorkspace",
            .impl = refresh_workspace,
            .params = {},
            .doc = "Remove the actors in _actors from the renderer and rebuild the scene\n"
                   "from _project: robots, items, cameras, fiducials, task regions, then an\n"
                   "origin frame.",
        })
        .def(MethodDef{
            .name = "_addItems",
            .impl = add_items,
            .params = {{.name = "item", .annotation = "Item"}},
            .doc = "Add the node's visual group, then each child node's subtree, depth first.",
        })
        .def(MethodDef{
            .name = "addGroup",
            .impl = add_group,
            .params = {{.name = "group", .annotation = "VisualGroup"}},
            .doc = kAddGroupDoc,
        })
        .def(MethodDef{
            .name = "addElement",
            .impl = add_element,
            .params = {{.name = "element", .annotation = "VisualElement"}},
            .doc = kAddElementDoc,
        })
        .def(MethodDef{
            .name = "_updateVisualFrames",
            .impl = update_visual_frames,
            .params = {},
            .doc = "Place the link tree's visual elements from the workspace's origin link,\n"
                   "starting from a new default Pose.",
        })
        .def(MethodDef{
            .name = "_updatePointCloud",
            .impl = update_point_cloud,
            .params = {},
            .doc = "Pass the system's current point cloud to the point-cloud overlay, if any.",
        })
        .def(MethodDef{
            .name = "_updateGraspableItems",
            .impl = reserved_hook,
            .params = {},
            .doc = "Per-frame hook for graspable items; does nothing.",
        })
        .def(MethodDef{
            .name = "_updatePlacementRegions",
            .impl = reserved_hook,
            .params = {},
            .doc = "Per-frame hook for placement regions; does nothing.",
        })
        .def(MethodDef{
            .name = "_updateGoalCandidates",
            .impl = reserved_hook,
            .params = {},
            .doc = "Per-frame hook for goal candidates; does nothing.",
        })
        .def(MethodDef{
            .name = "_updateToolTrajectories",
            .impl = update_tool_trajectories,
            .params = {},
            .doc = "Pass the system's current tool trajectory to the trajectory overlay, if any.",
        })
        .def(MethodDef{
            .name = "_updateToolForces",
            .impl = reserved_hook,
            .params = {},
            .doc = "Per-frame hook for tool forces; does nothing.",
        })
        .finish();
}

}  // namespace marnox::viewer

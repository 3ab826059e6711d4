// workspace_viewer.cpp: the WorkspaceViewer class: its method table and its window lifecycle.
#include "host.h"
#include "viewer_classes.h"

namespace marnox::viewer {
namespace {

const Name update_visual_frames{"_updateVisualFrames"};
const Name update_point_cloud{"_updatePointCloud"};
const Name update_graspable_items{"_updateGraspableItems"};
const Name update_placement_regions{"_updatePlacementRegions"};
const Name update_goal_candidates{"_updateGoalCandidates"};
const Name update_tool_trajectories{"_updateToolTrajectories"};
const Name update_tool_forces{"_updateToolForces"};

/// The seven per-frame hooks, in frame order.
void refresh_overlays(nb::handle self) {
    for (const Name* hook : {&update_visual_frames, &update_point_cloud, &update_graspable_items,
                             &update_placement_regions, &update_goal_candidates,
                             &update_tool_trajectories, &update_tool_forces})
        pyglue::call_method(self, *hook);
}

const host::Kind kWorkspaceHost = {
    .title = "Marnox Workspace Viewer",
    .is_workspace = true,
    .refresh = refresh_overlays,
};

nb::object init(const Call& call) {
    return host::init(call, kWorkspaceHost);
}
nb::object render(const Call& call) {
    return host::render(call, kWorkspaceHost);
}
nb::object get_renderer(const Call& call) {
    return pyglue::getattr(call.self(), field::ren);
}

const char* const kDoc = "A 3-D view of a project's workspace, on screen or off screen.";

}  // namespace

void define_workspace_viewer(nb::handle module) {
    using pyglue::MethodDef;
    pyglue::ClassBuilder(module, "WorkspaceViewer", kDoc)
        .def(MethodDef{
            .name = "init",
            .impl = init,
            .params = {{.name = "offscreen",
                        .annotation = "bool",
                        .default_value = nb::bool_(false)}},
            .doc = "Open the window on screen (trackball interaction) or prepare it off screen,\n"
                   "size it, draw the first frame and fit the camera to the scene.",
        })
        .def(MethodDef{
            .name = "spin",
            .impl = host::spin,
            .params = {},
            .doc = "Run the window's event loop until the window is closed or stop() is called.\n"
                   "Returns at once when there is no interactor (before init, or off screen).",
        })
        .def(MethodDef{
            .name = "render",
            .impl = render,
            .params = {},
            .doc = "Run the per-frame updates, then pump pending window events and draw one\n"
                   "frame if the window is open on screen.",
        })
        .def(MethodDef{
            .name = "stop",
            .impl = host::stop,
            .params = {},
            .doc = "Finalise the window, then end a running event loop.",
        })
        .def(MethodDef{
            .name = "screenshot",
            .impl = host::screenshot,
            .params = {{.name = "filename", .annotation = "str"}},
            .doc = "Write the window to the PNG file ``filename``.",
        })
        .def(MethodDef{
            .name = "_getRenderer",
            .impl = get_renderer,
            .params = {},
            .returns = "vtkRenderer",
            .doc = "Return the viewer's renderer.",
        })
        .finish();
}

}  // namespace marnox::viewer

// module.cpp: marnox.viewer: imports, NUMPY_TO_VTK_TYPE, the viewer classes, releaseSharedProps.
#include "host.h"

namespace marnox::viewer {
namespace {

const char* const kModuleDoc =
    "VTK viewers for marnox projects.\n"
    "\n"
    "WorkspaceViewer shows a project's workspace in 3-D with live overlays (link\n"
    "frames, point cloud, tool trajectory); ImageViewer shows the system's current\n"
    "images in a grid. Both render on screen or off screen and write PNG screenshots.\n"
    "CameraRenderer renders what the workspace's cameras see (colour, metric depth,\n"
    "labels) off screen.";

/// NumPy scalar type -> VTK scalar type, in this order. The 64-bit integers map to
/// VTK's long long types whatever the size of `long` in the VTK build.
const char* const kNumpyToVtk[][2] = {
    {"uint8", "VTK_UNSIGNED_CHAR"}, {"uint16", "VTK_UNSIGNED_SHORT"},
    {"uint32", "VTK_UNSIGNED_INT"}, {"uint64", "VTK_UNSIGNED_LONG_LONG"},
    {"int8", "VTK_CHAR"},           {"int16", "VTK_SHORT"},
    {"int32", "VTK_INT"},           {"int64", "VTK_LONG_LONG"},
    {"float32", "VTK_FLOAT"},       {"float64", "VTK_DOUBLE"},
};

void import_vtk(nb::handle module) {
    // Loading these registers the OpenGL window, the platform interactor and the
    // interactor styles behind VTK's abstract classes.
    nb::module_::import_("vtkmodules.vtkRenderingOpenGL2");
    nb::module_::import_("vtkmodules.vtkRenderingUI");
    std::initializer_list<const char*> type_constants = {
        "VTK_UNSIGNED_CHAR", "VTK_UNSIGNED_SHORT", "VTK_UNSIGNED_INT", "VTK_UNSIGNED_LONG_LONG",
        "VTK_CHAR",          "VTK_SHORT",          "VTK_INT",          "VTK_LONG_LONG",
        "VTK_FLOAT",         "VTK_DOUBLE"};
    pyglue::import_from(module, "vtkmodules.vtkCommonCore", type_constants);
    pyglue::import_from(module, "vtkmodules.vtkCommonCore", {"vtkDataArray"});
    pyglue::import_from(module, "vtkmodules.vtkCommonColor", {"vtkNamedColors"});
    pyglue::import_from(module, "vtkmodules.vtkCommonDataModel", {"vtkImageData"});
    pyglue::import_from(module, "vtkmodules.vtkIOImage", {"vtkPNGWriter"});
    pyglue::import_from(module, "vtkmodules.vtkInteractionStyle",
                        {"vtkInteractorStyleTrackballCamera"});
    pyglue::import_from(module, "vtkmodules.vtkRenderingCore",
                        {"vtkActor2D", "vtkImageMapper", "vtkLight", "vtkProp", "vtkRenderWindow",
                         "vtkRenderWindowInteractor", "vtkRenderer", "vtkWindowToImageFilter"});
}

void build_numpy_to_vtk_type(nb::handle module) {
    nb::object np = nb::getattr(module, "np");
    nb::dict table;
    for (const auto& entry : kNumpyToVtk) table[np.attr(entry[0])] = nb::getattr(module, entry[1]);
    nb::setattr(module, "NUMPY_TO_VTK_TYPE", table);
}

void exec(nb::handle module) {
    nb::setattr(module, "__doc__", nb::str(kModuleDoc));
    import_vtk(module);
    pyglue::import_from(module, "vtkmodules.util", {"numpy_support"});
    pyglue::import_module(module, "numpy", "np");
    pyglue::import_from(module, "numpy.typing", {"ArrayLike"});
    pyglue::import_from(module, "marnox.constants", {"MX_IMAGE_FILE_EXT"});
    pyglue::import_from(module, "marnox.item", {"Item"});
    pyglue::import_from(module, "marnox.project", {"Project"});
    pyglue::import_from(module, "marnox.visual",
                        {"VisualGroup", "VisualElement", "VisualTrajectory", "VisualPointcloud",
                         "VisualCoordinate"});
    pyglue::import_from(module, "marnox.dynamics", {"_Chain"});
    pyglue::import_from(module, "marnox.pose", {"Pose"});
    build_numpy_to_vtk_type(module);
    nb::setattr(module, "MAX_WINDOW_SIZE", nb::int_(kMaxWindowSide));
    define_workspace_viewer(module);
    define_image_viewer(module);
    define_camera_renderer(module);
    define_release_shared_props(module);
}

}  // namespace
}  // namespace marnox::viewer

PYGLUE_MODULE(viewer, "marnox.viewer", marnox::viewer::exec)

// camera_renderer.cpp: the CameraRenderer class, its construction and the scene it draws.
#include "camera_renderer.h"

#include <cmath>
#include <string>

#include "camera_state.h"
#include "host.h"
#include "interfaces/model.h"
#include "scene_look.h"

namespace marnox::viewer {
namespace cameras {
namespace {

const char* const kDepthRatioFault =
    "far may be at most " MARNOX_TEXT(MARNOX_MAX_DEPTH_RATIO) " times near: farther, the depth "
    "buffer cannot tell depths apart, got near=%R and far=%R";

/// A float argument, refused with ValueError unless finite.
double finite_number(nb::handle value, const char* argument) {
    double number = pyglue::to_double(value);
    if (!std::isfinite(number))
        pyglue::raise(PyExc_ValueError, "%s must be finite, got %R", argument, value.ptr());
    return number;
}

/// Everything setProject builds while walking the workspace, before any of it is shown.
struct SceneBuild {
    /// `nodePath(parent, name)`: a node's path, the labels' names.
    nb::handle node_path;
    nb::list actors;
    nb::list label_names;
    nb::dict label_of;

    /// Adds `element`'s actor under `label`; an actor already added keeps its place in the scene.
    nb::object add(nb::handle element, long label) {
        nb::object actor = model::VisualElement{element}.actor();
        if (actor.is_none())
            return actor;
        if (!label_of.contains(actor))
            actors.append(actor);
        label_of[actor] = nb::int_(label);
        return actor;
    }

    /// The path of the node or link `owner` below the node whose path is `parent`.
    nb::object path_of(nb::handle parent, nb::handle owner) {
        nb::object name =
            pyglue::checked(PyObject_Str(pyglue::call_method(owner, model::names::name).ptr()));
        return pyglue::call(node_path, parent, name);
    }

    long new_label(const nb::object& path) {
        label_names.append(path);
        return static_cast<long>(label_names.size()) - 1;
    }

    /// The node's own elements under its path, a robot's links under theirs, then each child's
    /// subtree. Returns the actors of the node's own elements.
    nb::list add_node(nb::handle node, nb::handle parent) {
        pyglue::RecursionGuard guard(" while adding workspace nodes to a camera renderer");
        nb::object path = path_of(parent, node);
        long label = new_label(path);
        nb::list own;
        model::Node scene_node{node};
        for (nb::handle element : model::VisualGroup{scene_node.visual_group()}.elements())
            own.append(add(element, label));
        nb::object robot_links = pyglue::getattr_or(node, model::names::links, nb::none());
        if (!robot_links.is_none())
            for (nb::handle link : pyglue::call(robot_links)) {
                long link_label = new_label(path_of(path, link));
                for (nb::handle shape : pyglue::call_method(link, model::names::shapes))
                    add(shape, link_label);
            }
        for (nb::handle child : scene_node.children()) add_node(child, path);
        return own;
    }
};

}  // namespace

std::string text_of(nb::handle value) {
    nb::object text = pyglue::checked(PyObject_Str(value.ptr()));
    Py_ssize_t size = 0;
    const char* utf8 = PyUnicode_AsUTF8AndSize(text.ptr(), &size);
    if (!utf8)
        pyglue::raise_current();
    return std::string(utf8, static_cast<size_t>(size));
}

/// `__init__(project, near, far, labels)`: an off-screen window with one renderer, lit as the
/// workspace viewer is, then the project's scene.
nb::object construct(const Call& call) {
    nb::handle self = call.self();
    double near = finite_number(call.arg(2), "near");
    double far = finite_number(call.arg(3), "far");
    if (!(near > 0 && near < far))
        pyglue::raise(PyExc_ValueError, "need 0 < near < far, got near=%R and far=%R",
                      call.arg(2).ptr(), call.arg(3).ptr());
    if (!(far <= kMaxDepthRatio * near))
        pyglue::raise(PyExc_ValueError, kDepthRatioFault, call.arg(2).ptr(), call.arg(3).ptr());
    if (!depth_range_fits_single_precision(near, far))
        pyglue::raise(PyExc_ValueError,
                      "near and far too large for the single precision OpenGL draws with, got "
                      "near=%R and far=%R",
                      call.arg(2).ptr(), call.arg(3).ptr());
    bool labels = pyglue::truthy(call.arg(4));
    pyglue::setattr(self, field::labels, nb::bool_(labels));

    nb::object ren = pyglue::call(call.global(global::vtk_renderer));
    const double* background = look::kBackgroundBottom;
    pyglue::call_method(ren, vtk::SetBackground, nb::float_(background[0]),
                        nb::float_(background[1]), nb::float_(background[2]));
    nb::object window = pyglue::call(call.global(global::vtk_render_window));
    pyglue::call_method(window, vtk::OffScreenRenderingOn);
    // Exact colours, depths and prop ids per pixel: no sample blends two surfaces.
    pyglue::call_method(window, vtk::SetMultiSamples, nb::int_(0));
    pyglue::call_method(window, vtk::AddRenderer, ren);
    pyglue::setattr(self, field::state, new_state(near, far, window));
    pyglue::setattr(self, field::ren, ren);
    pyglue::setattr(self, field::window, window);

    nb::object selector = nb::none();
    if (labels) {
        selector = pyglue::call(call.global(global::vtk_hardware_selector));
        pyglue::call_method(selector, vtk::SetRenderer, ren);
        pyglue::call_method(selector, vtk::SetActorPassOnly, nb::bool_(true));
    }
    pyglue::setattr(self, field::selector, selector);
    pyglue::call_method(self, look::create_lights);
    pyglue::call_method(self, method::set_project, call.arg(1));
    return nb::none();
}

MethodDef construct_method() {
    const char* doc =
        "Create the off-screen window and bind project.\n"
        "\n"
        "Parameters:\n"
        "    project: a Project (anything with workspace() and system()).\n"
        "    near, far: the depth range drawn, in metres along each camera's +z;\n"
        "        0 < near < far and far at most " MARNOX_TEXT(MARNOX_MAX_DEPTH_RATIO) " times near (farther, the\n"
        "        depth buffer's step nears 1 % of the depth), else ValueError.\n"
        "    labels: if true, render() also returns label images.\n"
        "\n"
        "The window is always off screen (EGL or OSMesa without a display).\n"
        "\n"
        "Example::\n"
        "\n"
        "    renderer = CameraRenderer(project, near=0.1, far=5.0, labels=False)\n";
    return {
        .name = pyglue::special::init,
        .impl = construct,
        .params = {{.name = "project", .annotation = "Project"},
                   {.name = "near", .annotation = "float", .default_value = nb::float_(0.05)},
                   {.name = "far", .annotation = "float", .default_value = nb::float_(20.0)},
                   {.name = "labels", .annotation = "bool", .default_value = nb::bool_(true)}},
        .doc = doc,
    };
}

/// `setProject(project)`: the scene built from the project's workspace, then shown in place of
/// the old one, so that a build the model breaks off leaves the renderer as it was.
nb::object set_project(const Call& call) {
    nb::handle self = call.self();
    nb::handle project = call.arg(1);
    require_thread(state_of(self).state, "setProject", false);
    nb::object node_path = call.global(global::node_path);
    SceneBuild scene{node_path, {}, {}, {}};
    nb::dict own_actors;
    model::Workspace workspace{model::Project{project}.workspace()};
    for (const Name* collection : model::kNodeCollections) {
        bool cameras = collection == &model::names::get_cameras;
        for (nb::handle node : workspace.nodes(*collection)) {
            nb::list own = scene.add_node(node, nb::none());
            if (cameras)
                own_actors[pyglue::call_method(node, model::names::name)] = own;
        }
    }
    nb::object ren = pyglue::getattr(self, field::ren);
    nb::object old_actors = pyglue::getattr_or(self, field::actors, nb::list());
    for (nb::handle actor : old_actors) pyglue::call_method(ren, vtk::RemoveActor, actor);
    for (nb::handle actor : scene.actors) pyglue::call_method(ren, vtk::AddActor, actor);
    pyglue::setattr(self, field::project, project);
    pyglue::setattr(self, field::actors, scene.actors);
    pyglue::setattr(self, field::label_names, scene.label_names);
    pyglue::setattr(self, field::label_of, scene.label_of);
    pyglue::setattr(self, field::own_actors, own_actors);
    return nb::none();
}

MethodDef set_project_method() {
    const char* doc =
        "Bind project (the object itself) and rebuild the scene and the labels from it.\n"
        "\n"
        "Call it again after nodes were added or removed; poses and joint positions set on\n"
        "the model show at the next render() without it. The actors are the model's own,\n"
        "shared with any viewer of the same project: no geometry is copied. An error of\n"
        "the model propagates and leaves the renderer bound to its previous project, its\n"
        "scene and labels unchanged. Raises RuntimeError on a thread other than the one\n"
        "render() first ran on.\n"
        "\n"
        "Parameters:\n"
        "    project: a Project.\n"
        "\n"
        "Example::\n"
        "\n"
        "    renderer.setProject(other_project)\n";
    return {
        .name = method::set_project,
        .impl = set_project,
        .params = {{.name = "project", .annotation = "Project"}},
        .doc = doc,
    };
}

const Name label_names_name{"labelNames"};

/// `labelNames()`: a copy, so the caller cannot change what labels mean.
nb::object label_names(const Call& call) {
    return nb::list(pyglue::getattr(call.self(), field::label_names));
}

MethodDef label_names_method() {
    const char* doc =
        "The name of each label index: one per workspace node, its path from the node in\n"
        "the workspace's collection down to it joined by '/' ('table/red_box'; a robot's\n"
        "link is 'robot/link'), a '/' or '\\' in a name escaped by a '\\', so that no two\n"
        "nodes share a name. A node's label covers its own visual elements, not its\n"
        "children's.\n"
        "\n"
        "Example::\n"
        "\n"
        "    names = renderer.labelNames()\n"
        "    print(names[frame.labels[240, 320]])\n";
    return {.name = label_names_name,
            .impl = label_names,
            .params = {},
            .returns = "list[str]",
            .doc = doc};
}

namespace {

const char* const kDoc =
    "Renders what a project's cameras see: colour, metric depth and labels, off screen.\n"
    "\n"
    "Each camera of project.workspace().getCameras() is drawn from its world pose with\n"
    "its intrinsics and distortion, in OpenCV's conventions: the camera frame has +x\n"
    "right, +y down and +z into the scene; a point (x, y, z) in it lands at pixel\n"
    "(fx*x/z + cx, fy*y/z + cy) with integer coordinates at pixel centres, as\n"
    "cv2.projectPoints puts it, distortion included. A camera does not see its own\n"
    "body. The scene is lit as the workspace viewer lights it, over a plain background\n"
    "of RGB (0.45, 0.5, 0.55), which is (115, 128, 140) in the colour images.\n"
    "\n"
    "A distorted camera is drawn as an undistorted pinhole covering its field, then\n"
    "each of its pixels takes the nearest pinhole pixel its ray passes through, for\n"
    "colour as for depth and labels, so all three show the same surface point.\n"
    "\n"
    "The renderer belongs to the thread that first calls render(): from then on\n"
    "render() and setProject() raise RuntimeError on any other thread.\n"
    "\n"
    "State lives in instance attributes: _state (the depth range, the thread drawn on\n"
    "and each distorted camera's pixel map, kept in C++), _labels, _ren, _window,\n"
    "_selector (the vtkHardwareSelector of the label pass, None without labels), then,\n"
    "from setProject, _project, _actors, _labelNames, _labelOf (actor -> label index)\n"
    "and _ownActors (camera name -> the actors of its own body).\n"
    "\n"
    "Example::\n"
    "\n"
    "    renderer = CameraRenderer(project)\n"
    "    for frame in renderer.render():\n"
    "        print(frame.name, frame.color.shape, np.nanmin(frame.depth))\n";

}  // namespace
}  // namespace cameras

void define_camera_renderer(nb::handle module) {
    using namespace cameras;
    pyglue::import_from(module, "marnox.camera", {"CameraFrame"});
    pyglue::import_from(module, "marnox._node_paths", {"nodePath"});
    pyglue::import_from(module, "vtkmodules.vtkCommonCore",
                        {"vtkFloatArray", "vtkUnsignedCharArray"});
    pyglue::import_from(module, "vtkmodules.vtkCommonMath", {"vtkMatrix4x4"});
    pyglue::import_from(module, "vtkmodules.vtkRenderingCore", {"vtkHardwareSelector"});
    pyglue::ClassBuilder(module, "CameraRenderer", kDoc)
        .def(construct_method())
        .def(set_project_method())
        .def(label_names_method())
        .def(render_method())
        .def(look::create_lights_method())
        .finish();
}

}  // namespace marnox::viewer

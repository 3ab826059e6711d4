// camera_render.cpp: render(): each camera drawn from its pose, read back and made into a frame.
#include <cmath>
#include <cstring>
#include <memory>
#include <new>
#include <optional>
#include <span>

#include "camera_pixels.h"
#include "camera_projection.h"
#include "camera_renderer.h"
#include "camera_state.h"
#include "host.h"
#include "interfaces/model.h"
#include "scene_look.h"

namespace marnox::viewer::cameras {
namespace {

using pyglue::Buffer;
using pyglue::call_method;

const Name items{"items"};
const Name get{"get"};
const Name empty{"empty"};
const Name uint8{"uint8"};
const Name float32{"float32"};
const Name int32{"int32"};
const Name width{"width"}, height{"height"}, fx{"fx"}, fy{"fy"}, cx{"cx"}, cy{"cy"};

[[noreturn]] void refuse(nb::handle name, const char* fault) {
    pyglue::raise(PyExc_ValueError, "camera %R: %s", name.ptr(), fault);
}

/// The camera's intrinsics, refused unless they describe an image a window can draw.
Pinhole checked_pinhole(nb::handle name, nb::handle values) {
    using pyglue::to_double, pyglue::to_long;
    Pinhole p{to_long(pyglue::getattr(values, width)), to_long(pyglue::getattr(values, height)),
              to_double(pyglue::getattr(values, fx)),  to_double(pyglue::getattr(values, fy)),
              to_double(pyglue::getattr(values, cx)),  to_double(pyglue::getattr(values, cy))};
    if (!is_allowed_window(p.width, p.height))
        pyglue::raise(PyExc_ValueError,
                      "camera %R: image width and height must be from 1 to %ld pixels", name.ptr(),
                      kMaxWindowSide);
    if (!(p.fx > 0 && p.fy > 0 && std::isfinite(p.fx) && std::isfinite(p.fy)))
        refuse(name, "focal lengths fx and fy must be positive and finite");
    if (!(std::isfinite(p.cx) && std::isfinite(p.cy)))
        refuse(name, "principal point must be finite");
    return p;
}

Distortion read_distortion(nb::handle name, nb::handle values) {
    nb::object sequence = pyglue::checked(PySequence_Fast(values.ptr(), "distortion()"));
    if (PySequence_Fast_GET_SIZE(sequence.ptr()) != 5)
        refuse(name, "distortion() must give five coefficients");
    double k[5];
    for (Py_ssize_t i = 0; i < 5; ++i) {
        k[i] = pyglue::to_double(PySequence_Fast_GET_ITEM(sequence.ptr(), i));
        if (!std::isfinite(k[i]))
            refuse(name, "distortion coefficients must be finite");
    }
    return {k[0], k[1], k[2], k[3], k[4]};
}

/// The 16 numbers of the camera's 4x4 world pose, row major, refused unless finite.
std::array<double, 16> pose_matrix(nb::handle name, nb::handle pose) {
    nb::object m = model::pose_matrix(pose);
    Buffer view(m, PyBUF_C_CONTIGUOUS | PyBUF_FORMAT);
    if (view->len != 16 * sizeof(double) || std::strcmp(view->format, "d") != 0)
        refuse(name, "worldPose().matrix() must be a 4x4 float64 array");
    std::array<double, 16> values;
    std::memcpy(values.data(), view->buf, sizeof(values));
    for (double v : values)
        if (!std::isfinite(v))
            refuse(name, "pose must be finite");
    return values;
}

nb::object vtk_matrix(const Call& call, const std::array<double, 16>& values) {
    nb::list numbers;
    for (double v : values) numbers.append(nb::float_(v));
    nb::object m = pyglue::call(call.global(global::vtk_matrix_4x4));
    call_method(m, vtk::DeepCopy, numbers);
    return m;
}

/// Puts VTK's camera at the pose, looking down the camera's +z with its -y up, projecting
/// through the pinhole.
void aim(const Call& call, nb::handle ren, const std::array<double, 16>& pose, const Pinhole& p,
         const RendererState& state) {
    nb::object camera = call_method(ren, vtk::GetActiveCamera);
    double x = pose[3], y = pose[7], z = pose[11];
    call_method(camera, vtk::SetPosition, nb::float_(x), nb::float_(y), nb::float_(z));
    call_method(camera, vtk::SetFocalPoint, nb::float_(x + pose[2]), nb::float_(y + pose[6]),
                nb::float_(z + pose[10]));
    call_method(camera, vtk::SetViewUp, nb::float_(-pose[1]), nb::float_(-pose[5]),
                nb::float_(-pose[9]));
    call_method(camera, vtk::SetExplicitProjectionTransformMatrix,
                vtk_matrix(call, projection_matrix(p, state.near, state.far)));
    call_method(camera, vtk::UseExplicitProjectionTransformMatrixOn);
}

/// How a distorted camera is drawn, made once per intrinsics and distortion and kept under the
/// camera's name.
std::shared_ptr<const DistortedDraw> distorted_draw(RendererState& state, nb::handle name,
                                                    const Pinhole& p, const Distortion& d) {
    CameraMap& kept = state.maps[text_of(name)];
    if (kept.draw && kept.camera == p && kept.distortion == d)
        return kept.draw;
    try {
        UndistortionMap map = undistortion_map(p, d);
        if (!is_allowed_window(map.pinhole.width, map.pinhole.height))
            refuse(name, "distortion widens the field beyond a drawable image");
        TileGroups groups = group_by_tile(map.source, map.pinhole);
        auto draw = std::make_shared<const DistortedDraw>(std::move(map), std::move(groups));
        kept = {p, d, draw};
        return draw;
    } catch (const std::bad_alloc&) {
        pyglue::raise(PyExc_MemoryError,
                      "camera %R: not enough memory for the pixel map of its distortion "
                      "(%ld x %ld pixels)",
                      name.ptr(), p.width, p.height);
    }
}

/// Takes the camera's own body out of the scene for its draw and puts it back after.
class BodyHidden {
public:
    BodyHidden(nb::handle ren, nb::handle actors) : ren_(ren), actors_(actors) {
        for (nb::handle actor : actors_) call_method(ren_, vtk::RemoveActor, actor);
    }
    BodyHidden(const BodyHidden&) = delete;
    BodyHidden& operator=(const BodyHidden&) = delete;
    void restore() {
        if (restored_)
            return;
        restored_ = true;
        for (nb::handle actor : actors_) call_method(ren_, vtk::AddActor, actor);
    }

private:
    nb::handle ren_;
    nb::handle actors_;
    bool restored_ = false;
};

/// What the window holds after a draw, in VTK arrays owned here.
struct WindowPixels {
    nb::object rgb;
    nb::object depth;
    nb::object prop_ids;
};

nb::object read_rgb(const Call& call, nb::handle window, const Pinhole& p) {
    nb::object rgb = pyglue::call(call.global(global::vtk_unsigned_char_array));
    nb::int_ zero(0);
    call_method(window, vtk::GetPixelData, zero, zero, nb::int_(p.width - 1),
                nb::int_(p.height - 1), zero, rgb, zero);
    return rgb;
}

WindowPixels draw(const Call& call, nb::handle own_actors, const Pinhole& p) {
    nb::handle self = call.self();
    nb::object ren = pyglue::getattr(self, field::ren);
    nb::object window = pyglue::getattr(self, field::window);
    nb::object selector = pyglue::getattr(self, field::selector);
    nb::int_ zero(0), right(p.width - 1), top(p.height - 1);
    BodyHidden body(ren, own_actors);
    WindowPixels pixels;
    try {
        call_method(window, vtk::SetSize, nb::int_(p.width), nb::int_(p.height));
        release_shared_props(window);
        call_method(window, vtk::Render);
        pixels.rgb = read_rgb(call, window, p);
        pixels.depth = pyglue::call(call.global(global::vtk_float_array));
        call_method(window, vtk::GetZbufferData, zero, zero, right, top, pixels.depth);
        if (!selector.is_none()) {
            call_method(selector, vtk::SetArea, zero, zero, right, top);
            call_method(selector, vtk::CaptureBuffers);
            pixels.prop_ids = read_rgb(call, window, p);
        }
    } catch (nb::python_error&) {
        // The error is held by the exception, so putting the body back may call Python.
        body.restore();
        throw;
    }
    body.restore();
    return pixels;
}

/// A buffer of exactly `bytes` bytes from a VTK array.
const void* data_of(const Buffer& view, Py_ssize_t bytes) {
    if (view->len != bytes)
        pyglue::raise(PyExc_RuntimeError, "VTK returned %zd bytes of pixels, expected %zd",
                      view->len, bytes);
    return view->buf;
}

nb::object new_array(const Call& call, nb::object shape, const Name& dtype) {
    nb::object np = call.global(global::np);
    return call_method(np, empty, shape, pyglue::getattr(np, dtype));
}

/// Label index by prop id for the ids the pass drew, -1 for props that show no node.
std::vector<std::int32_t> labels_of_ids(const Call& call, const DrawnPixels& drawn) {
    std::vector<std::int32_t> label_of_id;
    if (!drawn.prop_ids)
        return label_of_id;
    std::vector<std::uint32_t> ids = prop_ids_present(drawn);
    label_of_id.assign(ids.empty() ? 1 : ids.back() + 1, -1);
    nb::object selector = pyglue::getattr(call.self(), field::selector);
    nb::object label_of = pyglue::getattr(call.self(), field::label_of);
    nb::int_ none(-1);
    for (std::uint32_t id : ids) {
        nb::object prop = call_method(selector, vtk::GetPropFromID, nb::int_(id - 1));
        label_of_id[id] =
            static_cast<std::int32_t>(pyglue::to_long(call_method(label_of, get, prop, none)));
    }
    return label_of_id;
}

/// Where one camera's tiles are drawn from and what they are made into.
struct CameraDraw {
    const Call& call;
    const RendererState& state;
    std::array<double, 16> world;
    /// The pinhole drawn, the camera's own or the undistorted one of a distorted camera.
    Pinhole drawn;
    const DistortedDraw* distorted;
    nb::object own_actors;
    CameraImages images;
    std::array<std::uint8_t, 3> background;

    std::span<const std::int32_t> group(size_t index) const {
        const TileGroups& groups = distorted->groups;
        return {groups.pixels.data() + groups.starts[index],
                groups.pixels.data() + groups.starts[index + 1]};
    }

    /// Draws `tile` of the drawn image and fills the camera pixels that show it.
    void tile(size_t index, const Tile& tile) const {
        if (distorted && group(index).empty())
            return;
        Pinhole part = tile_pinhole(drawn, tile);
        aim(call, pyglue::getattr(call.self(), field::ren), world, part, state);
        WindowPixels window = draw(call, own_actors, part);
        Py_ssize_t pixels = tile.width * tile.height;
        Buffer rgb(window.rgb, PyBUF_SIMPLE);
        Buffer depth(window.depth, PyBUF_SIMPLE);
        DrawnPixels drawn_pixels{tile, static_cast<const std::uint8_t*>(data_of(rgb, 3 * pixels)),
                                 static_cast<const float*>(data_of(depth, 4 * pixels)), nullptr};
        std::optional<Buffer> ids;
        if (window.prop_ids.is_valid()) {
            ids.emplace(window.prop_ids, PyBUF_SIMPLE);
            drawn_pixels.prop_ids = static_cast<const std::uint8_t*>(data_of(*ids, 3 * pixels));
        }
        std::vector<std::int32_t> label_of_id = labels_of_ids(call, drawn_pixels);
        PixelRules rules{state.near, state.far, background, &label_of_id};
        if (distorted)
            remap_tile_images(drawn_pixels, rules, images, group(index),
                              distorted->map.source.data(), drawn.width);
        else
            make_tile_images(drawn_pixels, rules, images);
    }
};

/// One camera's CameraFrame.
nb::object render_camera(const Call& call, RendererState& state, nb::handle name,
                         nb::handle camera) {
    nb::handle self = call.self();
    model::Camera model_camera{camera};
    nb::object camera_intrinsics = model_camera.intrinsics();
    Pinhole image = checked_pinhole(name, camera_intrinsics);
    nb::object pose = model_camera.world_pose();
    std::array<double, 16> world = pose_matrix(name, pose);
    Distortion lens = read_distortion(name, model_camera.distortion());
    std::shared_ptr<const DistortedDraw> distorted;
    if (!lens.none())
        distorted = distorted_draw(state, name, image, lens);

    nb::int_ rows(image.height), columns(image.width);
    nb::object color = new_array(call, nb::make_tuple(rows, columns, 3), uint8);
    nb::object depth_image = new_array(call, nb::make_tuple(rows, columns), float32);
    nb::object labels = nb::none();
    bool labelled = !pyglue::getattr(self, field::selector).is_none();
    if (labelled)
        labels = new_array(call, nb::make_tuple(rows, columns), int32);
    {
        const int writable = PyBUF_WRITABLE | PyBUF_C_CONTIGUOUS;
        Buffer color_out(color, writable);
        Buffer depth_out(depth_image, writable);
        std::optional<Buffer> labels_out;
        if (labelled)
            labels_out.emplace(labels, writable);
        CameraDraw draw{
            call,
            state,
            world,
            distorted ? distorted->map.pinhole : image,
            distorted.get(),
            call_method(pyglue::getattr(self, field::own_actors), get, name, nb::tuple()),
            {static_cast<std::uint8_t*>(color_out->buf), static_cast<float*>(depth_out->buf),
             labels_out ? static_cast<std::int32_t*>((*labels_out)->buf) : nullptr, image.width,
             image.height},
            {}};
        for (int i = 0; i < 3; ++i)
            draw.background[i] =
                static_cast<std::uint8_t>(std::lround(look::kBackgroundBottom[i] * 255));
        std::vector<Tile> tiles = tiles_of(draw.drawn);
        for (size_t index = 0; index < tiles.size(); ++index) draw.tile(index, tiles[index]);
        if (distorted)
            fill_nothing({state.near, state.far, draw.background, nullptr}, draw.images,
                         draw.group(tiles.size()));
    }
    return pyglue::call(call.global(global::camera_frame), name, color, depth_image, labels,
                        camera_intrinsics, pose);
}

}  // namespace

/// `render(names)`: the cameras chosen first (an unknown name fails before anything is drawn),
/// the link tree placed, then one frame per camera.
nb::object render(const Call& call) {
    nb::handle self = call.self();
    nb::handle names = call.arg(1);
    HeldState held = state_of(self);
    RendererState& state = held.state;
    require_thread(state, "render", true);
    model::Project project{pyglue::getattr(self, field::project)};
    nb::object cameras = call_method(project.workspace(), model::names::get_cameras);
    nb::list chosen;
    if (names.is_none()) {
        for (nb::handle pair : call_method(cameras, items)) chosen.append(pair);
    } else {
        if (PyUnicode_Check(names.ptr()))
            pyglue::raise(PyExc_TypeError, "names must be a sequence of camera names, not a str");
        for (nb::handle name : names)
            chosen.append(
                nb::make_tuple(name, pyglue::checked(PyObject_GetItem(cameras.ptr(), name.ptr()))));
    }
    // The link tree placed as the workspace viewer places it every frame.
    nb::object origin_link = model::Workspace{project.workspace()}.origin_link();
    model::place_link_tree(call, origin_link, model::new_pose(call));
    nb::list frames;
    for (nb::handle pair : chosen) frames.append(render_camera(call, state, pair[0], pair[1]));
    return frames;
}

MethodDef render_method() {
    const char* doc =
        "Draw what each camera sees; returns a list of CameraFrame.\n"
        "\n"
        "Parameters:\n"
        "    names: camera names, in the order wanted; None for every camera of\n"
        "        project.workspace().getCameras(), in that mapping's order.\n"
        "\n"
        "Each CameraFrame holds name; color, a height x width x 3 uint8 RGB array, row 0\n"
        "the image's top; depth, height x width float32 metres along the camera's +z, NaN\n"
        "where no surface lies between near and far; labels, height x width int32 indices\n"
        "into labelNames(), -1 where nothing (None when labels=False); intrinsics; and\n"
        "pose, the camera's world pose when drawn. Poses and joint positions set on the\n"
        "model since the last call show.\n"
        "\n"
        "Raises KeyError naming an unknown camera before anything is drawn, and ValueError\n"
        "naming a camera whose intrinsics, distortion or pose cannot be drawn (a size of\n"
        "zero, a focal length that is not positive, a pose that is not finite);\n"
        "MemoryError for a camera whose images or distortion map do not fit in memory;\n"
        "RuntimeError on a thread other than the one that first called render().\n"
        "\n"
        "Example::\n"
        "\n"
        "    (frame,) = renderer.render([\"camera_1\"])\n"
        "    z = frame.depth[frame.intrinsics.height // 2, frame.intrinsics.width // 2]\n";
    return {
        .name = method::render,
        .impl = render,
        .params = {{.name = "names",
                    .annotation = "Optional[Sequence[str]]",
                    .default_value = nb::none()}},
        .returns = "list[CameraFrame]",
        .doc = doc,
    };
}

}  // namespace marnox::viewer::cameras

"""CameraRenderer against OpenCV: where points land, how deep surfaces lie, what is refused."""

import math

import numpy as np
import pytest

from marnox.camera import Camera, Intrinsics
from marnox.item import Item
from marnox.pose import Pose
from marnox.project import Project
from marnox.viewer import CameraRenderer
from marnox.visual import VisualBox, VisualSphere

cv2 = pytest.importorskip("cv2", reason="OpenCV (the test extra) is the oracle")

# fx != fy and a principal point off the centre, so a swapped or mirrored term shows.
INTRINSICS = Intrinsics(640, 480, 520.0, 470.0, 301.3, 262.7)
# Larger than one tile of the window on both sides: drawn in several.
TILED = Intrinsics(2200, 1700, 1787.5, 1664.6, 1035.6, 930.3)
CAMERA_POSE = Pose.lookAt((0.3, -1.8, 1.2), (0.0, 0.1, 0.2))
RADIUS = 0.02
DISTORTIONS = {
    "pinhole": None,
    "barrel": (-0.28, 0.09, 0.0012, -0.0009, -0.01),
    "pincushion": (0.12, 0.02, -0.001, 0.0015),
}


def sphere_project(centres, distortion=None, body=None, intrinsics=INTRINSICS):
    project = Project()
    workspace = project.workspace()
    for index, centre in enumerate(centres):
        workspace.addItem(Item(f"ball_{index}", Pose(centre), [VisualSphere(RADIUS)]))
    camera = Camera("cam", CAMERA_POSE, intrinsics, [] if body is None else [body])
    if distortion is not None:
        camera.setDistortion(distortion)
    workspace.addCamera(camera)
    return project


def camera_matrix(i=INTRINSICS):
    return np.array([[i.fx, 0, i.cx], [0, i.fy, i.cy], [0, 0, 1.0]])


def label_centroids(frame, names, count):
    rows, columns = np.indices(frame.labels.shape)
    centroids = []
    for index in range(count):
        mask = frame.labels == names.index(f"ball_{index}")
        assert mask.sum() > 20, f"ball_{index} hardly visible"
        centroids.append((columns[mask].mean(), rows[mask].mean()))
    return np.array(centroids)


def image_centres(centres, distortion, intrinsics=INTRINSICS):
    """Where OpenCV puts the centre of each ball's image: a ball off the axis images as an
    ellipse whose centre lies a little outward of its projected centre."""
    local = CAMERA_POSE.inverse().transformPoints(centres)
    distance = np.linalg.norm(local, axis=1)
    half_angle = np.arcsin(RADIUS / distance)
    off_axis = np.arctan2(np.hypot(local[:, 0], local[:, 1]), local[:, 2])
    reach = (np.tan(off_axis + half_angle) + np.tan(off_axis - half_angle)) / 2
    outward = local[:, :2] / np.hypot(local[:, 0], local[:, 1])[:, None]
    points = np.column_stack([outward * reach[:, None], np.ones(len(local))])
    coefficients = np.zeros(5) if distortion is None else np.array(distortion, dtype=float)
    matrix = camera_matrix(intrinsics)
    pixels, _ = cv2.projectPoints(points, np.zeros(3), np.zeros(3), matrix, coefficients)
    return pixels.reshape(-1, 2)


@pytest.mark.parametrize("intrinsics", [INTRINSICS, TILED], ids=["one tile", "tiled"])
@pytest.mark.parametrize("kind", DISTORTIONS)
def test_points_land_where_opencv_projects_them(kind, intrinsics):
    rng = np.random.default_rng(7)
    # Spread over the whole image, corners included, where distortion is strongest.
    scale = intrinsics.width / INTRINSICS.width
    pixels = rng.uniform((30, 30), (610, 450), size=(24, 2)) * scale
    depths = rng.uniform(0.9, 2.5, size=24)
    # Roughly there: only where OpenCV projects the centres matters.
    coefficients = np.array(DISTORTIONS[kind] or np.zeros(5), dtype=float)
    matrix = camera_matrix(intrinsics)
    normalised = cv2.undistortPoints(pixels.reshape(-1, 1, 2), matrix, coefficients)
    normalised = normalised.reshape(-1, 2)
    local = np.column_stack([normalised * depths[:, None], depths])
    centres = CAMERA_POSE.transformPoints(local)
    renderer = CameraRenderer(sphere_project(centres, DISTORTIONS[kind], intrinsics=intrinsics))
    (frame,) = renderer.render()
    error = np.linalg.norm(
        label_centroids(frame, renderer.labelNames(), 24)
        - image_centres(centres, DISTORTIONS[kind], intrinsics),
        axis=1,
    )
    print(f"{kind}: projection error mean {error.mean():.3f} px, max {error.max():.3f} px")
    # Under distortion, the same angle off spans more pixels of the larger image.
    assert error.max() < (0.2 if kind == "pinhole" else 0.4 * max(1.0, scale / 2))


# The default range, the widest one accepted, and an image drawn in tiles.
@pytest.mark.parametrize(
    "near, far, intrinsics",
    [(0.05, 20.0, INTRINSICS), (0.05, 5000.0, INTRINSICS), (0.05, 20.0, TILED)],
)
def test_depth_of_a_tilted_plane_is_the_ray_plane_distance(near, far, intrinsics):
    plane_pose = Pose.fromEuler(0.5, -0.3, 0.2, position=(0.0, 0.1, 0.2))
    project = Project()
    project.workspace().addItem(Item("plane", plane_pose, [VisualBox((4.0, 4.0, 0.002))]))
    project.workspace().addCamera(Camera("cam", CAMERA_POSE, intrinsics))
    (frame,) = CameraRenderer(project, near=near, far=far, labels=False).render()

    # The face the camera sees, in the camera frame: n . X = d, the nearer of the two.
    to_camera = CAMERA_POSE.inverse() * plane_pose
    normal = to_camera.rotation()[:, 2]
    faces = to_camera.transformPoints([(0, 0, 0.001), (0, 0, -0.001)]) @ normal
    offset = faces[np.argmin(np.abs(faces))]
    rows, columns = np.indices(frame.depth.shape)
    i = intrinsics
    rays = np.stack([(columns - i.cx) / i.fx, (rows - i.cy) / i.fy], -1)
    expected = offset / (rays @ normal[:2] + normal[2])
    seen = np.isfinite(frame.depth)
    assert seen.mean() > 0.9
    error = np.abs(frame.depth[seen] - expected[seen])
    print(f"depth error at {np.median(expected):.2f} m: max {1000 * error.max():.3f} mm")
    assert error.max() < 0.002


def test_a_camera_does_not_see_its_own_body_and_labels_name_nodes():
    body = VisualSphere(0.3)
    project = sphere_project([(0.0, 0.1, 0.2)], body=body)
    table = project.workspace().addItem(Item("table", Pose((0, 0.1, 0.0))))
    table.addChild(Item("box", Pose((0, 0, 0.1)), [VisualBox((0.1, 0.1, 0.1))]))
    renderer = CameraRenderer(project)
    (frame,) = renderer.render(["cam"])
    names = renderer.labelNames()
    assert names == ["ball_0", "table", "table/box", "cam"]
    assert set(np.unique(frame.labels)) == {-1, 0, 2}
    background = np.isnan(frame.depth)
    assert (frame.labels[background] == -1).all()
    assert (frame.color[background] == (115, 128, 140)).all()


def test_moved_nodes_show_at_the_next_render():
    project = sphere_project([(0.0, 0.1, 0.2)])
    renderer = CameraRenderer(project)
    ball = project.workspace().getItems()["ball_0"]
    for centre in [(0.0, 0.1, 0.2), (0.2, -0.1, 0.4)]:
        ball.setPose(Pose(centre))
        (frame,) = renderer.render()
        centroid = label_centroids(frame, renderer.labelNames(), 1)
        assert np.linalg.norm(centroid - image_centres([centre], None)) < 0.15


def nan_pose():
    pose = Pose.__new__(Pose)
    pose._position, pose._orientation = (math.nan, 0.0, 0.0), (1.0, 0.0, 0.0, 0.0)
    return pose


@pytest.mark.parametrize(
    "spoil",
    [
        lambda c: c.setIntrinsics((640, 480, 0.0, 470.0, 320.0, 240.0)),
        lambda c: c.setIntrinsics((640, 480, 520.0, -1.0, 320.0, 240.0)),
        lambda c: c.setIntrinsics((0, 480, 520.0, 470.0, 320.0, 240.0)),
        lambda c: c.setIntrinsics((640, 0, 520.0, 470.0, 320.0, 240.0)),
        lambda c: setattr(c, "_pose", nan_pose()),
        lambda c: setattr(c, "_distortion", (math.inf, 0.0, 0.0, 0.0, 0.0)),
    ],
)
def test_hostile_camera_values_raise_value_error_naming_the_camera(spoil):
    project = sphere_project([(0.0, 0.1, 0.2)])
    spoil(project.workspace().getCameras()["cam"])
    with pytest.raises(ValueError, match="'cam'"):
        CameraRenderer(project).render()


@pytest.mark.parametrize(
    "near, far",
    [
        (1.0, 1.0),
        (2.0, 1.0),
        (0.0, 1.0),
        (0.1, math.nan),
        # More than the depth buffer resolves, and more than single precision holds.
        (1e-7, 20.0),
        (0.05, 1e308),
        (2e38, 1e40),
    ],
)
def test_depth_range_must_be_positive_ordered_and_resolvable(near, far):
    with pytest.raises(ValueError, match="near|far"):
        CameraRenderer(Project(), near=near, far=far)


class BrokenItem(Item):
    def _getVisualGroup(self):
        raise ZeroDivisionError("broken model")


@pytest.mark.parametrize("make_other", [lambda: None, lambda: sphere_project([(0.1, 0.1, 0.2)])])
def test_a_failed_set_project_leaves_the_renderer_as_it_was(make_other):
    project = sphere_project([(0.0, 0.1, 0.2)])
    renderer = CameraRenderer(project)
    (before,) = renderer.render()
    other = make_other()
    if other is not None:
        other.workspace().addItem(BrokenItem("broken"))
    with pytest.raises((AttributeError, ZeroDivisionError)):
        renderer.setProject(other)
    assert renderer._project is project
    assert renderer.labelNames() == ["ball_0", "cam"]
    (after,) = renderer.render()
    assert np.array_equal(after.labels, before.labels)
    assert np.array_equal(after.depth, before.depth, equal_nan=True)


def test_unknown_camera_raises_key_error_before_drawing():
    renderer = CameraRenderer(sphere_project([(0.0, 0.1, 0.2)]))
    with pytest.raises(KeyError, match="nope"):
        renderer.render(["cam", "nope"])
    assert renderer._ren.GetActiveCamera().GetUseExplicitProjectionTransformMatrix() == 0


@pytest.mark.parametrize(
    "coefficients, error",
    [
        ((0.1, 0.2, 0.0), ValueError),
        ((0.1,) * 6, ValueError),
        ((0.1, math.nan, 0, 0), ValueError),
        ("abcd", TypeError),
        (0.3, TypeError),
        ((0.1, "x", 0, 0), ValueError),
    ],
)
def test_distortion_takes_four_or_five_finite_numbers(coefficients, error):
    camera = Camera("cam")
    with pytest.raises(error):
        camera.setDistortion(coefficients)
    assert camera.distortion() == (0.0,) * 5


def test_distortion_is_saved_and_older_files_load_without(tmp_path):
    project = sphere_project([(0.0, 0.1, 0.2)], DISTORTIONS["pincushion"])
    project.workspace().addCamera(Camera("plain", CAMERA_POSE))
    path = str(tmp_path / "cell.mxproj")
    project.save(path)
    loaded = Project()
    loaded.load(path)
    cameras = loaded.workspace().getCameras()
    assert cameras["cam"].distortion() == DISTORTIONS["pincushion"] + (0.0,)
    assert cameras["plain"].distortion() == (0.0,) * 5
    assert "distortion" not in (tmp_path / "cell.mxproj").read_text().split('"plain"')[1]

"""marnox.coverage against oracles of the tests' own: straight-down geometry, ray-box
intersections and OpenCV's projectPoints with its Jacobian."""

import math

import numpy as np
import pytest

from marnox.camera import Camera, Intrinsics
from marnox.coverage import coverage
from marnox.item import Item
from marnox.pose import Pose
from marnox.project import Project
from marnox.projection import projectPoints
from marnox.task_region import TaskRegion
from marnox.visual import VisualBox

cv2 = pytest.importorskip("cv2", reason="OpenCV (the test extra) is the lens oracle")


def _looking_down(height, x=0.0):
    """Turned half round x: the camera's +z looks down the world's -z, its +x along +x."""
    return Pose((x, 0.0, height), (0.0, 1.0, 0.0, 0.0))


def _cell(cameras, regions, items=()):
    project = Project()
    workspace = project.workspace()
    for camera in cameras:
        workspace.addCamera(camera)
    for region in regions:
        workspace.addTaskRegion(region)
    for item in items:
        workspace.addItem(item)
    return project


@pytest.mark.parametrize("fx, fy, height", [(500.0, 500.0, 1.0), (600.0, 450.0, 1.7)])
def test_straight_above_every_point_is_z_over_f(fx, fy, height):
    # The camera's body around its optical centre must not hide what it sees.
    body = VisualBox((0.1, 0.1, 0.1))
    camera = Camera("top", _looking_down(height), (640, 480, fx, fy, 319.5, 239.5), [body])
    region = TaskRegion("zone", Pose((0.0, 0.0, 0.1)), (0.3, 0.2, 0.02))
    zone = coverage(_cell([camera], [region]), step=0.01)["zone"]
    assert zone.points.shape == (30 * 20, 3) and zone.cameras == ("top",)
    assert np.allclose(zone.points[:, 2], 0.11)
    assert zone.seen.all()
    expected = 1000.0 * (height - 0.11) / min(fx, fy)
    assert np.abs(zone.mmPerPixel - expected).max() < 1e-9 * expected


def test_region_half_outside_the_image():
    camera = Camera("top", _looking_down(1.0), (640, 480, 500.0, 500.0, 319.5, 239.5))
    # The image's right edge (u = 639.5) meets the face at x = 320 * z / f.
    edge = 320.0 * 1.0 / 500.0
    region = TaskRegion("zone", Pose((edge, 0.0, -0.01)), (0.2, 0.2, 0.02))
    zone = coverage(_cell([camera], [region]), step=0.004)["zone"]
    assert np.array_equal(zone.seen[:, 0], zone.points[:, 0] < edge)
    assert zone.fraction() == 0.5 and np.isnan(zone.mmPerPixel[~zone.seen]).all()


def _segment_meets_box(start, ends, low, high):
    """Slab test: whether the segment from ``start`` to each of ``ends`` passes through the
    axis-aligned box [low, high]."""
    direction = ends - start
    with np.errstate(divide="ignore", invalid="ignore"):
        t0 = (low - start) / direction
        t1 = (high - start) / direction
    enter = np.nanmax(np.minimum(t0, t1), axis=1)
    leave = np.nanmin(np.maximum(t0, t1), axis=1)
    return (enter <= leave) & (leave > 0) & (enter < 1)


def test_tilted_camera_and_an_occluding_box():
    eye = np.array([0.9, -0.6, 1.1])
    intrinsics = Intrinsics.fromFieldOfView(640, 480, 50.0)
    camera = Camera("side", Pose.lookAt(eye, (0.0, 0.0, 0.0)), intrinsics)
    centre, half = np.array([0.35, -0.2, 0.35]), np.array([0.05, 0.08, 0.06])
    box = Item("box", Pose(tuple(centre)), [VisualBox(tuple(2 * half))])
    region = TaskRegion("zone", Pose((0.0, 0.0, -0.01)), (0.4, 0.4, 0.02))
    zone = coverage(_cell([camera], [region], [box]), step=0.005)["zone"]
    # Within a pixel and a half of the box's outline, rounding to pixels may go either way.
    margin = 1.5 * np.linalg.norm(centre - eye) / intrinsics.fx
    surely_hidden = _segment_meets_box(
        eye, zone.points, centre - half + margin, centre + half - margin
    )
    maybe_hidden = _segment_meets_box(
        eye, zone.points, centre - half - margin, centre + half + margin
    )
    decided = surely_hidden == maybe_hidden
    assert 0.05 < surely_hidden.mean() < 0.5 and decided.mean() > 0.9
    assert np.array_equal(zone.seen[decided, 0], ~surely_hidden[decided])


def test_two_cameras_min_cameras_and_a_resolution_limit():
    wide = Camera("wide", _looking_down(2.0), (640, 480, 500.0, 500.0, 319.5, 239.5))
    # The near camera sees x < 0 only: its image's right edge meets the face at x = 0.
    close = Camera("close", _looking_down(0.5, x=-0.1), (640, 480, 500.0, 500.0, 539.5, 239.5))
    region = TaskRegion("zone", Pose((0.0, 0.0, -0.01)), (0.4, 0.3, 0.02))
    zone = coverage(_cell([wide, close], [region]), step=0.01)["zone"]
    left = zone.points[:, 0] < 0
    coarse, fine = 1000 * 2.0 / 500, 1000 * 0.5 / 500
    assert np.allclose(zone.mmPerPixel[:, 0], coarse)
    assert np.allclose(zone.mmPerPixel[left, 1], fine) and np.isnan(zone.mmPerPixel[~left, 1]).all()
    assert zone.fraction(1) == 1.0
    assert zone.fraction(minCameras=2) == left.mean() == 0.5
    assert zone.fraction(1, maxMmPerPixel=(coarse + fine) / 2) == 0.5
    assert zone.fraction(2, maxMmPerPixel=(coarse + fine) / 2) == 0.0
    assert zone.fraction(2, maxMmPerPixel=coarse * 1.01) == 0.5


def test_distorted_lens_agrees_with_opencv():
    intrinsics = Intrinsics(800, 600, 520.0, 530.0, 405.0, 290.0)
    lens = (-0.28, 0.09, 0.0015, -0.002, -0.012)
    pose = Pose.lookAt((0.5, -0.7, 0.9), (0.05, 0.0, 0.0))
    camera = Camera("lens", pose, intrinsics)
    camera.setDistortion(lens)
    region = TaskRegion(
        "zone", Pose.fromEuler(yaw=0.3, position=(0.0, 0.0, -0.01)), (2.0, 1.6, 0.02)
    )
    zone = coverage(_cell([camera], [region]), step=0.01)["zone"]

    world_to_camera = pose.inverse()
    rvec, _ = cv2.Rodrigues(world_to_camera.rotation())
    tvec = np.array(world_to_camera.position())
    matrix = np.array([[520.0, 0, 405.0], [0, 530.0, 290.0], [0, 0, 1]])
    pixels, jacobian = cv2.projectPoints(zone.points, rvec, tvec, matrix, np.array(lens))
    pixels = pixels.reshape(-1, 2)
    # d(u, v) / d(tvec) is the Jacobian with respect to the camera-frame point.
    by_point = jacobian[:, 3:6].reshape(-1, 2, 3)
    local = world_to_camera.transformPoints(zone.points)
    ours, our_jacobian = projectPoints(local, intrinsics, lens)
    assert np.abs(ours - pixels).max() < 1e-9
    assert np.abs(our_jacobian - by_point).max() < 1e-9

    inside = np.all((pixels > -0.5) & (pixels < (799.5, 599.5)), axis=1)
    assert 0.3 < inside.mean() < 0.95
    assert np.array_equal(zone.seen[:, 0], inside)
    face_axes = world_to_camera.rotation() @ region.worldPose().rotation()[:, :2]
    smallest = np.linalg.svd(by_point[inside] @ face_axes, compute_uv=False)[:, 1]
    expected = 1000.0 / smallest
    assert np.abs(zone.mmPerPixel[inside, 0] / expected - 1).max() < 1e-9


def test_zones_do_not_hide_each_other():
    camera = Camera("top", _looking_down(1.5), (640, 480, 400.0, 400.0, 319.5, 239.5))
    low = TaskRegion("low", Pose((0.0, 0.0, 0.0)), (0.3, 0.3, 0.02))
    high = TaskRegion("high", Pose((0.0, 0.0, 0.5)), (0.4, 0.4, 0.2))
    result = coverage(_cell([camera], [low, high]), step=0.01, regions=["low"])
    assert list(result) == ["low"] and result["low"].seen.all()


@pytest.mark.parametrize(
    "arguments, error",
    [
        ({"step": 0.0}, ValueError),
        ({"step": math.nan}, ValueError),
        ({"step": "1"}, ValueError),
        ({"step": 1e-7}, ValueError),
        ({"cameras": ["nope"]}, ValueError),
        ({"regions": ["nope"]}, ValueError),
        ({"regions": "zone"}, TypeError),
    ],
)
def test_bad_arguments(arguments, error):
    camera = Camera("top", _looking_down(1.0))
    project = _cell([camera], [TaskRegion("zone", Pose((0.0, 0.0, 0.0)))])
    with pytest.raises(error):
        coverage(project, **arguments)

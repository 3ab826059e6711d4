"""Picking without a browser: the pixel where the view's camera projects a point picks it back."""

import numpy as np
import pytest

from marnox.picking import nodeAt, pick
from marnox.project import Project
from marnox.sample import build_sample_cell
from marnox.viewer import WorkspaceViewer

SIZE = (640, 400)


@pytest.fixture(scope="module")
def viewer():
    project = Project()
    build_sample_cell(project)
    viewer = WorkspaceViewer(size=SIZE, trajectory=True, pointcloud=True)
    viewer.setProject(project)
    viewer.init(offscreen=True)
    viewer.render()
    yield viewer
    viewer.stop()


def pixel_of(viewer, point):
    """Where ``point`` lands, in pixels from the top left with integers at pixel centres, by
    the camera's own projection matrix."""
    width, height = SIZE
    m = viewer._cam.GetCompositeProjectionTransformMatrix(width / height, -1, 1)
    matrix = np.array([[m.GetElement(i, j) for j in range(4)] for i in range(4)])
    x, y, _, w = matrix @ np.append(point, 1.0)
    return (x / w + 1) / 2 * width - 0.5, (1 - y / w) / 2 * height - 0.5


def surface_point(project, name, local):
    return project.workspace().find(name).worldPose().transformPoints(local)


@pytest.mark.parametrize(
    "node, local, path",
    [
        # The top face of the box (0.08 m high) and of the table (0.5 m), off their centres.
        ("red_box", (0.01, 0.02, 0.08), "table/red_box"),
        ("table", (-0.3, 0.1, 0.5), "table"),
    ],
)
def test_a_projected_surface_point_is_picked_back(viewer, node, local, path):
    point = surface_point(viewer._project, node, local)
    hit = pick(viewer, *pixel_of(viewer, point))
    assert hit.path == path
    np.testing.assert_allclose(hit.point, point, atol=1e-6)
    assert nodeAt(viewer._project.workspace(), hit.path).name() == node


def test_a_robot_link_is_named_after_its_link_and_selects_the_robot(viewer):
    robot = viewer._project.workspace().getRobots()["arm"]
    link = robot.link("elbow")
    hit = pick(viewer, *pixel_of(viewer, link.worldPose().position()))
    assert hit.path == "arm/elbow"
    # The point hit lies on the ray through that pixel, in front of the link's origin.
    np.testing.assert_allclose(
        pixel_of(viewer, hit.point), pixel_of(viewer, link.worldPose().position()), atol=1e-6
    )
    assert nodeAt(viewer._project.workspace(), hit.path) is robot


def test_nothing_under_the_pixel_and_a_pixel_outside_the_window(viewer):
    assert pick(viewer, 0, 0) is None
    with pytest.raises(ValueError, match="outside the 640x400 window"):
        pick(viewer, SIZE[0], 10)

"""Frustums and coverage colours: their geometry against OpenCV, and that every view
shows and hides them."""

import numpy as np
import pytest
from vtkmodules.util import numpy_support

from marnox.camera import Intrinsics
from marnox.coverage import RegionCoverage, coverage
from marnox.overlays import (
    CAMERA_COLORS,
    NONE,
    ONE,
    TWO_OR_MORE,
    CoverageColors,
    Frustums,
    coverageColors,
    frustumPolydata,
)
from marnox.pose import Pose
from marnox.project import Project
from marnox.sample import build_sample_cell
from marnox.viewer import WorkspaceViewer

cv2 = pytest.importorskip("cv2", reason="OpenCV (the test extra) is the lens oracle")


@pytest.mark.parametrize(
    "distortion", [(0.0,) * 5, (-0.25, 0.08, 0.001, -0.0015, -0.01), (0.12, -0.03, 0, 0, 0)]
)
def test_frustum_outline_projects_onto_the_image_border(distortion):
    intrinsics = Intrinsics(640, 480, 500.0, 510.0, 330.0, 235.0)
    polydata = frustumPolydata(intrinsics, distortion, 0.8)
    points = numpy_support.vtk_to_numpy(polydata.GetPoints().GetData())
    assert np.array_equal(points[0], (0, 0, 0)) and np.allclose(points[1:, 2], 0.8)
    matrix = np.array([[500.0, 0, 330.0], [0, 510.0, 235.0], [0, 0, 1]])
    pixels, _ = cv2.projectPoints(
        points[1:], np.zeros(3), np.zeros(3), matrix, np.array(distortion)
    )
    distance = np.abs(pixels.reshape(-1, 2)[:, :, np.newaxis] - [[-0.5, 639.5], [-0.5, 479.5]])
    assert distance.min(axis=(1, 2)).max() < 1e-6
    # Four rays from the centre, and the closed outline through every border point.
    lines = numpy_support.vtk_to_numpy(polydata.GetLines().GetConnectivityArray())
    assert polydata.GetNumberOfLines() == 5 and len(lines) == 8 + len(points)


def _between(a, b, t):
    return tuple(x + t * (y - x) for x, y in zip(a, b, strict=True))


@pytest.mark.parametrize(
    "colorBy, limit, expected",
    [
        ("cameras", None, [ONE, TWO_OR_MORE, NONE, ONE]),
        ("cameras", 1.8, [ONE, ONE, NONE, NONE]),
        ("mmPerPixel", None, [TWO_OR_MORE, _between(TWO_OR_MORE, ONE, 1 / 6), NONE, ONE]),
        ("mmPerPixel", 2.0, [TWO_OR_MORE, _between(TWO_OR_MORE, ONE, 0.5), NONE, NONE]),
    ],
)
def test_coverage_colours(colorBy, limit, expected):
    mm = np.array([[1.0, np.nan], [2.0, 1.5], [np.nan, np.nan], [4.0, np.nan]])
    region = RegionCoverage(
        np.zeros((4, 3)), ["a", "b"], np.isfinite(mm), mm, Pose(), (1.0, 1.0), (2, 2)
    )
    assert np.allclose(coverageColors(region, colorBy, limit), expected)


def _colour_share(png, colour):
    image = cv2.imread(str(png))[:, :, ::-1].astype(int)
    return np.mean(np.abs(image - np.rint(np.array(colour) * 255)).max(axis=2) <= 12)


@pytest.fixture(scope="module")
def cell():
    project = Project()
    build_sample_cell(project)
    return project


def _workspace_viewer(project):
    viewer = WorkspaceViewer(size=(640, 400))
    viewer.setProject(project)
    viewer.init(offscreen=True)
    return viewer, viewer.stop


def _web_view(project):
    pytest.importorskip("aiohttp", reason="marnox[web] is not installed")
    from marnox.web import WebView

    view = WebView(project, port=0, size=(640, 400), images=False)
    return view.workspace_viewer, view.stop


@pytest.mark.parametrize("open_view", [_workspace_viewer, _web_view])
def test_frustums_and_coverage_show_and_hide(cell, tmp_path, open_view):
    viewer, close = open_view(cell)
    results = coverage(cell, step=0.01)
    web = open_view is _web_view
    try:
        if web:
            view = close.__self__
            view.showFrustums(depth=1.5)
            view.showCoverage(results, maxMmPerPixel=3.5)
            view.update()
        else:
            frustums = Frustums(viewer, depth=1.5)
            colours = CoverageColors(viewer, results, maxMmPerPixel=3.5)
            viewer.setProject(cell)  # overlays are not the project's: they stay
            viewer.render()
        viewer.screenshot(str(tmp_path / "shown.png"))
        if web:
            view.hideFrustums()
            view.hideCoverage()
            view.update()
        else:
            frustums.remove()
            colours.remove()
            viewer.render()
        viewer.screenshot(str(tmp_path / "hidden.png"))
    finally:
        close()
    # At 3.5 mm per pixel only camera_1 counts (camera_2 sees the zone at 4.3 to 6.4); the
    # cell has a red box, a yellow box and a green cylinder of its own.
    added = {
        colour: _colour_share(tmp_path / "shown.png", colour)
        - _colour_share(tmp_path / "hidden.png", colour)
        for colour in (CAMERA_COLORS[0], CAMERA_COLORS[1], ONE, NONE, TWO_OR_MORE)
    }
    assert min(added[CAMERA_COLORS[0]], added[CAMERA_COLORS[1]]) > 1e-3 and added[ONE] > 1e-3
    assert max(added[NONE], added[TWO_OR_MORE]) < 1e-4

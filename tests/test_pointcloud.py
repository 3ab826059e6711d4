"""Point clouds: drawn in their own colours, thinned while the view moves, kept as given."""

import subprocess
import sys
import textwrap

import numpy as np
import pytest
from vtkmodules.util import numpy_support
from vtkmodules.vtkRenderingCore import vtkRenderer, vtkRenderWindow, vtkWindowToImageFilter

from marnox import visual
from marnox.project import Project
from marnox.sample import build_sample_cell
from marnox.system import System
from marnox.viewer import WorkspaceViewer, releaseSharedProps
from marnox.visual import MOVING_POINTS, VisualPointcloud


def _pixels(window):
    grab = vtkWindowToImageFilter()
    grab.SetInput(window)
    grab.SetInputBufferTypeToRGB()
    grab.ReadFrontBufferOff()
    # Two viewers of one project share props; each window takes them back before it draws.
    releaseSharedProps(window)
    grab.Update()
    return numpy_support.vtk_to_numpy(grab.GetOutput().GetPointData().GetScalars()).copy()


def _drawnPoints(cloud):
    """How many points the shown parts of ``cloud``'s assembly draw now."""
    parts = cloud._getActor().GetParts()
    shown = (parts.GetItemAsObject(i) for i in range(parts.GetNumberOfItems()))
    return sum(p.GetMapper().GetInput().GetNumberOfPoints() for p in shown if p.GetVisibility())


@pytest.mark.parametrize(
    "dtype, width, piece",
    [(np.float32, 6, None), (np.float64, 6, None), (np.float32, 3, None), (np.float32, 6, 10)],
    ids=["f4", "f8", "plain", "in-pieces"],
)
def test_drawn_colours_are_the_clouds(monkeypatch, dtype, width, piece):
    if piece:
        monkeypatch.setattr(visual, "_PIECE_POINTS", piece)
    rng = np.random.default_rng(4)
    grid = np.array([(x, y, 0.0) for x in range(8) for y in range(8)])
    colours = rng.integers(1, 256, (len(grid), 3)) / 255.0
    cloud = VisualPointcloud()
    # A first cloud of the same length is drawn, then refilled in place by the second.
    cloud.setPoints(pointcloud=np.hstack([grid, colours[::-1] / 2])[:, :width].astype(dtype))
    renderer = vtkRenderer()
    renderer.AddActor(cloud._getActor())
    renderer.GetActiveCamera().ParallelProjectionOn()
    renderer.ResetCamera()
    window = vtkRenderWindow()
    window.OffScreenRenderingOn()
    window.SetMultiSamples(0)
    window.SetSize(120, 120)
    window.AddRenderer(renderer)
    window.Render()
    cloud.setPoints(pointcloud=np.hstack([grid, colours])[:, :width].astype(dtype))
    window.Render()
    drawn = _pixels(window)
    drawn = np.unique(drawn[drawn.any(axis=1)], axis=0)
    if width == 3:
        expected = np.round(np.array([cloud._color]) * 255)
        assert np.abs(drawn - expected).max() <= 1
    else:
        expected = np.unique(np.round(colours * 255), axis=0)
        assert np.array_equal(drawn, expected)


def _demo_viewer(project, mode):
    viewer = WorkspaceViewer(size=(320, 200), pointcloud=True)
    viewer._pointcloud.setMode(mode)
    viewer.setProject(project)
    viewer.init(offscreen=True)
    viewer.render()
    return viewer


@pytest.mark.parametrize("mode", ["points", "spheres"])
def test_at_rest_after_a_move_the_picture_equals_a_still_viewers(monkeypatch, mode):
    # The moved viewer's cloud is drawn in pieces, the still one's in one.
    monkeypatch.setattr(visual, "_PIECE_POINTS", MOVING_POINTS // 3)
    project = Project()
    build_sample_cell(project)
    cloud = project.system().pointcloud()
    repeats = -(-2 * MOVING_POINTS // len(cloud))
    noise = np.random.default_rng(5).normal(0, 0.01, (repeats * len(cloud), 3))
    project.system().setPointcloud(np.tile(cloud, (repeats, 1)) + np.pad(noise, ((0, 0), (0, 3))))
    moved = _demo_viewer(project, mode)
    monkeypatch.setattr(visual, "_PIECE_POINTS", len(project.system().pointcloud()))
    still = _demo_viewer(project, mode)
    overlay = moved._pointcloud
    assert overlay._getActor().GetNumberOfPaths() > 1
    overlay.setMoving(True)
    thinned = _pixels(moved._window)
    assert _drawnPoints(overlay) <= MOVING_POINTS
    overlay.setMoving(False)
    moved.render()
    rest = _pixels(moved._window)
    assert np.array_equal(rest, _pixels(still._window))
    assert not np.array_equal(rest, thinned)
    moved.stop()
    still.stop()


def test_the_on_screen_mouse_moves_the_cloud(display):
    project = Project()
    build_sample_cell(project)
    viewer = WorkspaceViewer(size=(160, 100), pointcloud=True)
    viewer.setProject(project)
    viewer.init()
    style = viewer._interactor.GetInteractorStyle()
    style.InvokeEvent("StartInteractionEvent")
    assert viewer._pointcloud.moving()
    style.InvokeEvent("EndInteractionEvent")
    assert not viewer._pointcloud.moving()
    viewer.stop()


@pytest.mark.parametrize("count", [0, 1, 1000])
@pytest.mark.parametrize("width", [3, 6])
@pytest.mark.parametrize("dtype", [np.float32, np.float64, np.int64])
def test_clouds_keep_their_float_type(count, width, dtype):
    system = System()
    system.setPointcloud(np.ones((count, width), dtype))
    kept = system.pointcloud()
    assert kept.dtype == (np.float32 if dtype == np.float32 and count else np.float64)
    assert kept.shape == ((count, width) if count else (0, 3))
    with pytest.raises(ValueError):
        kept[...] = 0
    overlay = VisualPointcloud()
    overlay._getActor()
    overlay.setPoints(pointcloud=kept)
    assert overlay.numberOfPoints() == count
    points = numpy_support.vtk_to_numpy(overlay._polydata.GetPoints().GetData())
    assert points.dtype == kept.dtype and np.array_equal(points, kept[:, :3])


def test_memory_stays_flat_over_many_updates():
    script = textwrap.dedent(
        """
        import numpy as np
        from marnox.project import Project
        from marnox.sample import build_sample_cell
        from marnox.viewer import WorkspaceViewer, releaseSharedProps

        def resident():
            with open("/proc/self/status") as status:
                return next(int(l.split()[1]) for l in status if l.startswith("VmRSS:"))

        project = Project()
        build_sample_cell(project)
        viewer = WorkspaceViewer(size=(160, 100), pointcloud=True)
        viewer.setProject(project)
        viewer.init(offscreen=True)
        rng = np.random.default_rng(6)
        clouds = [rng.random((50_000 + n, 6)).astype(np.float32) for n in range(3)]
        for update in range(1000):
            if update == 100:
                start = resident()
            project.system().setPointcloud(clouds[update % 3] + np.float32(update))
            viewer.render()
            viewer._pointcloud.setMoving(update % 7 == 0)
            if update % 50 == 0:
                viewer._window.Render()
        print(resident() - start)
        """
    )
    out = subprocess.run(
        [sys.executable, "-c", script], capture_output=True, text=True, check=True, timeout=600
    )
    assert int(out.stdout.split()[-1]) < 8 * 1024

"""PNG screenshots of the workspace viewer, on and off screen."""

import errno
import os
import pathlib
import subprocess
import sys

import numpy as np
import pytest
from vtkmodules.util.numpy_support import vtk_to_numpy
from vtkmodules.vtkIOImage import vtkPNGReader

import marnox.viewer
from marnox.constants import MX_IMAGE_FILE_EXT
from marnox.pose import Pose
from marnox.viewer import WorkspaceViewer
from marnox.visual import VisualBox

SIZE = (160, 120)
BOTTOM = np.array([0.45, 0.5, 0.55]) * 255
TOP = np.array([0.9, 0.95, 1.0]) * 255


def read_png(path):
    """The picture as (rows, columns, channels), top row first."""
    reader = vtkPNGReader()
    reader.SetFileName(str(path))
    reader.Update()
    image = reader.GetOutput()
    width, height, _ = image.GetDimensions()
    pixels = vtk_to_numpy(image.GetPointData().GetScalars())
    return pixels.reshape(height, width, -1)[::-1]


def viewer_with_red_box(offscreen):
    viewer = WorkspaceViewer(size=SIZE)
    viewer.addElement(VisualBox((0.3, 0.3, 0.3), color=(1, 0, 0), offset=Pose((0, 0, 0.2))))
    viewer.init(offscreen)
    return viewer


def check_picture(path):
    picture = read_png(path)
    assert picture.shape == (SIZE[1], SIZE[0], 4)
    assert picture.dtype == np.uint8
    np.testing.assert_allclose(picture[-1, 2, :3], BOTTOM, atol=3)
    np.testing.assert_allclose(picture[0, 2, :3], TOP, atol=3)
    red, green, blue = picture[SIZE[1] // 2, SIZE[0] // 2, :3].astype(int)
    assert red > 100 and green < 40 and blue < 40


def test_off_screen_screenshot_shows_the_scene_over_the_gradient(tmp_path):
    viewer = viewer_with_red_box(offscreen=True)
    viewer.render()
    target = tmp_path / "cell.png"
    assert viewer.screenshot(str(target)) is None
    check_picture(target)
    viewer.stop()


def test_on_screen_screenshot(display, tmp_path):
    viewer = viewer_with_red_box(offscreen=False)
    viewer.render()
    target = tmp_path / "cell.png"
    viewer.screenshot(str(target))
    check_picture(target)
    viewer.stop()


def test_a_box_of_no_height_is_drawn_lit_in_its_colour(tmp_path):
    # A zero scale would leave VTK no inverse to turn the normals with: the box would be black.
    viewer = WorkspaceViewer(size=SIZE)
    viewer.addElement(VisualBox((0.3, 0.3, 0.0), color=(1, 0, 0), offset=Pose((0, 0, 0.2))))
    viewer.init(offscreen=True)
    target = tmp_path / "flat.png"
    viewer.screenshot(str(target))
    viewer.stop()
    red, green, blue = read_png(target)[SIZE[1] // 2, SIZE[0] // 2, :3].astype(int)
    assert red > 100 and green < 40 and blue < 40


class Recorder:
    def __init__(self, log, label):
        self.log, self.label = log, label

    def GetOutputPort(self):
        self.log.append((self.label, "GetOutputPort"))
        return "port"

    def GetErrorCode(self):
        self.log.append((self.label, "GetErrorCode"))
        return 0

    def __getattr__(self, name):
        return lambda *args: self.log.append((self.label, name, *args))


def test_capture_and_writer_steps_in_order(monkeypatch):
    log = []
    viewer = WorkspaceViewer(size=(64, 48))
    viewer.init(offscreen=True)
    monkeypatch.setattr(marnox.viewer, "vtkWindowToImageFilter", lambda: Recorder(log, "filter"))
    monkeypatch.setattr(marnox.viewer, "vtkPNGWriter", lambda: Recorder(log, "writer"))
    name = "shot" + MX_IMAGE_FILE_EXT
    viewer.screenshot(name)
    assert log == [
        ("filter", "SetInput", viewer._window),
        ("filter", "SetScale", 1),
        ("filter", "SetInputBufferTypeToRGBA"),
        ("filter", "ReadFrontBufferOff"),
        ("filter", "Update"),
        ("writer", "SetFileName", name),
        ("filter", "GetOutputPort"),
        ("writer", "SetInputConnection", "port"),
        ("writer", "Write"),
        ("writer", "GetErrorCode"),
    ]


@pytest.fixture
def offscreen_viewer():
    viewer = WorkspaceViewer(size=(64, 48))
    viewer.init(offscreen=True)
    yield viewer
    viewer.stop()


def test_upper_case_ending_is_accepted_and_kept(offscreen_viewer, tmp_path):
    target = tmp_path / ("shot" + MX_IMAGE_FILE_EXT.upper())
    offscreen_viewer.screenshot(str(target))
    assert os.listdir(tmp_path) == [target.name]
    assert read_png(target).shape == (48, 64, 4)


def test_an_existing_file_is_replaced(offscreen_viewer, tmp_path):
    target = tmp_path / "shot.png"
    target.write_bytes(b"old")
    offscreen_viewer.screenshot(str(target))
    assert read_png(target).shape == (48, 64, 4)


def test_wrong_ending_is_an_assertion_without_message(offscreen_viewer, tmp_path):
    target = tmp_path / "shot.jpg"
    with pytest.raises(AssertionError) as caught:
        offscreen_viewer.screenshot(str(target))
    assert caught.value.args == ()
    assert not target.exists()


def test_a_name_holding_nul_is_refused_like_open_does(offscreen_viewer, tmp_path):
    with pytest.raises(ValueError, match="embedded null character"):
        offscreen_viewer.screenshot(str(tmp_path / "evil\0.png"))
    assert os.listdir(tmp_path) == []


def test_before_init_there_is_nothing_to_capture(tmp_path):
    viewer = WorkspaceViewer(size=(64, 48))
    with pytest.raises(RuntimeError, match="Window not initialized"):
        viewer.screenshot(str(tmp_path / "shot.png"))
    assert os.listdir(tmp_path) == []


def test_wrong_ending_is_written_when_assertions_are_off(tmp_path):
    target = tmp_path / "shot.jpg"
    script = (
        "import sys\n"
        "from marnox.viewer import WorkspaceViewer\n"
        "viewer = WorkspaceViewer(size=(64, 48))\n"
        "viewer.init(offscreen=True)\n"
        "viewer.screenshot(sys.argv[1])\n"
    )
    subprocess.run([sys.executable, "-O", "-c", script, str(target)], check=True, timeout=120)
    assert read_png(target).shape == (48, 64, 4)


class Name(str):
    pass


@pytest.mark.parametrize(
    "filename, given",
    [
        (pathlib.Path("shot.png"), "PosixPath"),
        (b"shot.png", "bytes"),
        (None, "NoneType"),
        (Name("shot.png"), "Name"),
    ],
)
def test_filename_must_be_exactly_a_str(filename, given, capsys):
    viewer = WorkspaceViewer()
    viewer._window = None
    with pytest.raises(TypeError) as caught:
        viewer.screenshot(filename)
    assert str(caught.value) == (
        f"Argument 'filename' has incorrect type (expected str, got {given})"
    )
    assert capsys.readouterr().out == ""


def test_no_window_prints_one_line_and_writes_nothing(capsys, tmp_path):
    viewer = WorkspaceViewer()
    viewer._window = None
    target = tmp_path / "shot.png"
    assert viewer.screenshot(str(target)) is None
    assert capsys.readouterr().out == "Window not initialized, cannot take a screenshot\n"
    assert not target.exists()


def unwritable_folder(tmp_path):
    if os.geteuid() != 0:
        folder = tmp_path / "locked"
        folder.mkdir(mode=0o500)
        return folder
    # File modes do not stop root; sysfs refuses new files to everyone.
    return pathlib.Path("/sys")


@pytest.mark.parametrize(
    "where, error",
    [
        (lambda tmp: tmp / "missing" / "shot.png", errno.ENOENT),
        (lambda tmp: unwritable_folder(tmp) / "shot.png", errno.EACCES),
        (lambda tmp: tmp / "shot.png", errno.EISDIR),
    ],
    ids=["missing folder", "no permission", "a folder in the way"],
)
def test_a_file_that_cannot_be_written_raises_os_error(offscreen_viewer, tmp_path, where, error):
    target = where(tmp_path)
    if error == errno.EISDIR:
        target.mkdir()
    with pytest.raises(OSError) as caught:
        offscreen_viewer.screenshot(str(target))
    assert caught.value.errno == error
    assert caught.value.filename == str(target)
    assert target.is_dir() if error == errno.EISDIR else not target.exists()


def test_a_full_disk_leaves_no_partial_file(offscreen_viewer, tmp_path):
    if not os.path.exists("/dev/full"):
        pytest.skip("no /dev/full")
    target = tmp_path / "shot.png"
    target.symlink_to("/dev/full")
    with pytest.raises(OSError) as caught:
        offscreen_viewer.screenshot(str(target))
    assert caught.value.errno == errno.ENOSPC
    assert not os.path.lexists(target)

"""`python -m marnox cameras`: its files agree with CameraRenderer; bad input is refused."""

import json

import numpy as np
import pytest

from marnox.camera import Camera, CameraFrame
from marnox.camera_files import writeFrames
from marnox.cli import main
from marnox.constants import MX_PROJECT_FILE_EXT
from marnox.project import Project
from marnox.viewer import CameraRenderer

cv2 = pytest.importorskip("cv2", reason="OpenCV (the test extra) reads the 16-bit PNGs")


@pytest.mark.parametrize(
    "options, cameras, labels",
    [
        ([], ["camera_1", "camera_2"], True),
        (["--camera", "camera_2", "--no-labels"], ["camera_2"], False),
    ],
)
def test_cameras_writes_colour_depth_and_labels(
    sample_cell_file, tmp_path, capsys, options, cameras, labels
):
    assert main(["cameras", sample_cell_file, "--out", str(tmp_path), *options]) == 0
    project = Project()
    project.load(sample_cell_file)
    renderer = CameraRenderer(project)
    for frame in renderer.render(cameras):
        color = cv2.imread(str(tmp_path / f"{frame.name}.png"), cv2.IMREAD_UNCHANGED)
        assert (color[:, :, ::-1] == frame.color).all()
        depth = cv2.imread(str(tmp_path / f"{frame.name}-depth.png"), cv2.IMREAD_UNCHANGED)
        assert depth.dtype == np.uint16
        seen = np.isfinite(frame.depth)
        assert (depth[~seen] == 0).all()
        assert np.abs(depth[seen] - frame.depth[seen] * 1000).max() <= 0.5
        label_file = tmp_path / f"{frame.name}-labels.png"
        assert label_file.exists() == labels
        if labels:
            written = cv2.imread(str(label_file), cv2.IMREAD_UNCHANGED)
            assert (written.astype(int) - 1 == frame.labels).all()
    names = tmp_path / "labels.json"
    assert names.exists() == labels
    if labels:
        numbered = json.loads(names.read_text())
        assert [numbered[str(i + 1)] for i in range(len(numbered))] == renderer.labelNames()
        assert {"arm/base", "table/red_box", "camera_1"} <= set(numbered.values())


def test_bad_camera_input_is_one_line_and_status_2(sample_cell_file, tmp_path, capsys):
    project = Project()
    project.load(sample_cell_file)
    project.workspace().getCameras()["camera_1"].setIntrinsics((0, 480, 500, 500, 320, 240))
    broken = str(tmp_path / ("broken" + MX_PROJECT_FILE_EXT))
    project.save(broken)
    for arguments in (
        ["cameras", sample_cell_file, "--camera", "nope"],
        ["cameras", broken, "--out", str(tmp_path)],
        ["cameras", str(tmp_path / "missing.mxproj")],
        ["cameras", sample_cell_file, "--out", sample_cell_file],
    ):
        assert main(arguments) == 2
        err = capsys.readouterr().err
        assert err.startswith("marnox: error: ") and err.count("\n") == 1, err


def _with_cameras(sample_cell_file, folder, names):
    """The sample cell with cameras of these names added, saved beside the others."""
    project = Project()
    project.load(sample_cell_file)
    pose = project.workspace().getCameras()["camera_1"].pose()
    for name in names:
        project.workspace().addCamera(Camera(name, pose=pose))
    path = str(folder / ("cell" + MX_PROJECT_FILE_EXT))
    project.save(path)
    return path


@pytest.mark.parametrize(
    "names, options, reason",
    [
        (["cam", "cam-depth"], [], "(choose cameras with --camera): cameras 'cam' and 'cam-depth'"),
        (["cam", "cam-depth"], ["--camera", "cam-depth", "--camera", "cam"], "--camera: cameras"),
        (["Cam", "cam"], ["--camera", "Cam", "--camera", "cam"], "would both write cam.png"),
        ([], ["--camera", "camera_1", "--camera", "camera_1"], "--camera camera_1: given twice"),
    ],
)
def test_cameras_that_would_share_a_file_are_refused(
    sample_cell_file, tmp_path, capsys, names, options, reason
):
    project_file = _with_cameras(sample_cell_file, tmp_path, names)
    out = tmp_path / "out"
    assert main(["cameras", project_file, "--out", str(out), *options]) == 2
    err = capsys.readouterr().err
    assert err.count("\n") == 1 and reason in err, err
    assert not out.exists()


def test_more_labels_than_sixteen_bits_number_are_refused_before_writing(tmp_path):
    labels = np.array([[65534, 65535]], dtype=np.int32)
    frame = CameraFrame("cam", np.zeros((1, 2, 3), np.uint8), np.ones((1, 2)), labels, None, None)
    with pytest.raises(ValueError, match="65536 labels do not fit a 16-bit label image"):
        writeFrames([frame], None, str(tmp_path))
    assert not list(tmp_path.iterdir())


def test_unwritable_files_and_names_are_one_line(sample_cell_file, tmp_path, capfd):
    (tmp_path / "camera_1.png").mkdir()
    assert main(["cameras", sample_cell_file, "--out", str(tmp_path)]) == 2
    assert capfd.readouterr().err == (
        f"marnox: error: {tmp_path / 'camera_1.png'}: cannot write (Is a directory)\n"
    )
    assert main(["cameras", sample_cell_file, "--out", str(tmp_path / "\udcff")]) == 2
    assert capfd.readouterr().err.endswith("\\udcff': not a UTF-8 file name\n")

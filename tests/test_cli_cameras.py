"""`python -m marnox cameras`: its files agree with CameraRenderer; bad input is refused."""

import json

import numpy as np
import pytest

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

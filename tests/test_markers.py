"""Fiducials drawn as OpenCV's markers: OpenCV finds them, with their ids and poses."""

import math
import sys

import numpy as np
import pytest

from marnox.pose import Pose
from marnox.project import Project
from marnox.viewer import WorkspaceViewer
from marnox.workspace import Fiducial

SIZE = (960, 720)
SIDE = 0.12
# Name, dictionary, id, pose: tilted and turned so that a mirrored or rotated drawing shows.
MARKERS = [
    ("aruco_3", "DICT_4X4_50", 3, Pose((-0.25, -0.1, 0.0))),
    ("aruco_42", "DICT_4X4_50", 42, Pose.fromEuler(0.3, 0.0, 0.5, (0.2, -0.15, 0.05))),
    ("tag_0", "DICT_APRILTAG_36h11", 0, Pose.fromEuler(0.0, -0.35, 2.0, (-0.2, 0.25, 0.0))),
    ("tag_586", "DICT_APRILTAG_36h11", 586, Pose.fromEuler(-0.2, 0.2, -1.2, (0.25, 0.2, 0.1))),
]


@pytest.fixture
def cv2():
    return pytest.importorskip("cv2")


def render_markers(cv2, tmp_path, camera):
    """A workspace viewer's off-screen picture of MARKERS seen from ``camera`` (an optical pose)."""
    project = Project()
    for name, dictionary, marker_id, pose in MARKERS:
        project.workspace().addFiducial(Fiducial(name, pose, marker_id, SIDE, dictionary))
    viewer = WorkspaceViewer(size=SIZE)
    viewer.setProject(project)
    viewer.init(offscreen=True)
    rotation, eye = camera.rotation(), np.array(camera.position())
    viewer._cam.SetPosition(*eye)
    viewer._cam.SetFocalPoint(*(eye + rotation[:, 2]))
    viewer._cam.SetViewUp(*-rotation[:, 1])
    viewer._ren.ResetCameraClippingRange()
    viewer.render()
    path = str(tmp_path / "markers.png")
    viewer.screenshot(path)
    focal = 0.5 * SIZE[1] / math.tan(math.radians(viewer._cam.GetViewAngle()) / 2)
    viewer.stop()
    # Integer pixel coordinates are pixel centres.
    matrix = np.array([[focal, 0, (SIZE[0] - 1) / 2], [0, focal, (SIZE[1] - 1) / 2], [0, 0, 1]])
    return cv2.imread(path, cv2.IMREAD_GRAYSCALE), matrix


@pytest.mark.parametrize(
    "camera",
    [Pose.lookAt((0.1, -0.9, 1.1), (0.0, 0.05, 0.0)), Pose.lookAt((0.6, 0.5, 1.0), (0, 0, 0))],
    ids=["front", "behind"],
)
def test_opencv_finds_every_marker_at_its_pose(cv2, tmp_path, camera):
    picture, matrix = render_markers(cv2, tmp_path, camera)
    # The marker's corners in its own frame, in OpenCV's order: from the top left, clockwise.
    corners = SIDE / 2 * np.array([[-1, 1, 0], [1, 1, 0], [1, -1, 0], [-1, -1, 0]], dtype=float)
    parameters = cv2.aruco.DetectorParameters()
    parameters.cornerRefinementMethod = cv2.aruco.CORNER_REFINE_SUBPIX
    found = {}
    for dictionary in sorted({marker[1] for marker in MARKERS}):
        markers = cv2.aruco.getPredefinedDictionary(getattr(cv2.aruco, dictionary))
        seen, ids, _ = cv2.aruco.ArucoDetector(markers, parameters).detectMarkers(picture)
        for image_corners, marker_id in zip(seen, [] if ids is None else ids.ravel(), strict=True):
            ok, rvec, tvec = cv2.solvePnP(
                corners, image_corners[0], matrix, None, flags=cv2.SOLVEPNP_IPPE_SQUARE
            )
            assert ok
            found[(dictionary, int(marker_id))] = (cv2.Rodrigues(rvec)[0], tvec.ravel())
    assert sorted(found) == sorted((d, i) for _, d, i, _ in MARKERS)
    for _, dictionary, marker_id, pose in MARKERS:
        rotation, position = found[(dictionary, marker_id)]
        expected = camera.inverse() * pose
        assert np.linalg.norm(position - expected.position()) < 0.01
        turn = rotation.T @ expected.rotation()
        angle = math.degrees(math.acos(np.clip((np.trace(turn) - 1) / 2, -1, 1)))
        assert angle < 2.0


def test_the_dictionary_survives_a_project_file(cv2, tmp_path):
    project = Project()
    project.workspace().addFiducial(Fiducial("tag", Pose((0.1, 0, 0)), 9, 0.05, "DICT_5X5_100"))
    project.workspace().addFiducial(Fiducial("plain", Pose(), 4, 0.05))
    path = str(tmp_path / "cell.mxproj")
    project.save(path)
    text = (tmp_path / "cell.mxproj").read_text(encoding="utf-8")
    assert text.count('"dictionary"') == 1
    loaded = Project()
    loaded.load(path)
    fiducials = loaded.workspace().getFiducials()
    assert [(f.markerId(), f.dictionary()) for f in fiducials.values()] == [
        (9, "DICT_5X5_100"),
        (4, None),
    ]
    # The plain drawing is still the plate, the black square and the notch.
    assert len(fiducials["plain"]._getVisualGroup()) == 3


@pytest.mark.parametrize(
    "dictionary, marker_id, error, words",
    [
        ("DICT_9X9_50", 0, ValueError, "unknown marker dictionary 'DICT_9X9_50'"),
        ("ArucoDetector", 0, ValueError, "unknown marker dictionary"),
        ("", 0, ValueError, "unknown marker dictionary"),
        ("DICT_4X4_50", 50, ValueError, "DICT_4X4_50 has marker ids 0 to 49, not 50"),
        ("DICT_APRILTAG_36h11", 587, ValueError, "0 to 586"),
        (4, 0, TypeError, "dictionary must be a str or None"),
    ],
)
def test_markers_opencv_does_not_have_are_refused(cv2, dictionary, marker_id, error, words):
    with pytest.raises(error, match=words):
        Fiducial("f", marker_id=marker_id, dictionary=dictionary)


def test_without_opencv_a_dictionary_asks_for_the_extra(monkeypatch):
    monkeypatch.setitem(sys.modules, "cv2", None)
    with pytest.raises(ImportError, match=r"pip install 'marnox\[markers\]'"):
        Fiducial("f", dictionary="DICT_4X4_50")
    assert Fiducial("f").dictionary() is None

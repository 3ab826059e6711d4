"""The demo's fiducials, as its cameras see them: OpenCV finds every marker and its pose."""

import math

import numpy as np
import pytest

from marnox.project import Project
from marnox.sample import build_sample_cell
from marnox.viewer import CameraRenderer

cv2 = pytest.importorskip("cv2", reason="OpenCV (the test extra) is the oracle")


def test_opencv_finds_the_demo_markers_where_they_are():
    project = Project()
    build_sample_cell(project)
    fiducials = project.workspace().getFiducials().values()
    by_id = {fiducial.markerId(): fiducial for fiducial in fiducials}
    # Corners to a fraction of a pixel: a pixel's error moves a marker 60 pixels wide by
    # more than a centimetre along the camera's axis.
    parameters = cv2.aruco.DetectorParameters()
    parameters.cornerRefinementMethod = cv2.aruco.CORNER_REFINE_APRILTAG
    # The far marker is about 35 pixels wide and seen at a slant: OpenCV 4 misreads its bits
    # with its default of 4 samples per cell; 8 read it on every supported OpenCV.
    parameters.perspectiveRemovePixelPerCell = 8
    dictionary = cv2.aruco.getPredefinedDictionary(cv2.aruco.DICT_APRILTAG_36h11)
    detector = cv2.aruco.ArucoDetector(dictionary, parameters)
    for frame in CameraRenderer(project, labels=False).render():
        i = frame.intrinsics
        matrix = np.array([[i.fx, 0, i.cx], [0, i.fy, i.cy], [0, 0, 1.0]])
        corners, ids, _ = detector.detectMarkers(cv2.cvtColor(frame.color, cv2.COLOR_RGB2GRAY))
        assert ids is not None and sorted(ids.ravel()) == sorted(by_id), frame.name
        for found, marker_id in zip(corners, ids.ravel(), strict=True):
            fiducial = by_id[marker_id]
            s = fiducial.size() / 2
            square = np.array([(-s, s, 0), (s, s, 0), (s, -s, 0), (-s, -s, 0)], dtype=float)
            ok, rotation, position = cv2.solvePnP(
                square, found.reshape(4, 2), matrix, None, flags=cv2.SOLVEPNP_IPPE_SQUARE
            )
            assert ok
            truth = frame.pose.inverse() * fiducial.worldPose()
            offset = np.linalg.norm(position.ravel() - truth.position())
            turn = cv2.Rodrigues(cv2.Rodrigues(rotation)[0] @ truth.rotation().T)[0]
            angle = math.degrees(np.linalg.norm(turn))
            print(f"{frame.name} marker {marker_id}: {1000 * offset:.1f} mm, {angle:.2f} deg")
            assert offset < 0.01 and angle < 2.0

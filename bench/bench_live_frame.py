"""A whole live frame as a user's loop runs it, against the plain-Python viewers and the model.

Each frame gives the system a new point cloud of 200,000 coloured points, a new trajectory and
four new 1280x720 images (a colour and a depth image per camera), then calls render() on a
WorkspaceViewer with both overlays and an ImageViewer, both opened off screen, on the sample
cell and its two cameras. Off screen, render() refreshes the overlays, link frames and images
and draws nothing. The same frame is timed with the plain-Python viewers of baseline_viewer.py,
and with the model's updates alone (setPointcloud, setTrajectory, setImages): the first ratio
is what the C++ viewers save, the second what they cost on top of the data they show.
"""

import itertools
import os
import sys

import baseline_viewer
import numpy as np
from harness import format_seconds, interleaved_medians

import marnox.viewer
from marnox.project import Project
from marnox.sample import build_sample_cell

POINTS = 200_000
TRAJECTORY_POINTS = 200
IMAGE_SHAPE = (720, 1280)
# Distinct data sets the frames cycle through, so that every frame's data is new to VTK.
DATA_SETS = 3


def frame_data(rng):
    """One frame's point cloud (N, 6), trajectory (N, 3) and camera images."""
    cloud = np.column_stack([rng.uniform(-1.0, 1.0, (POINTS, 3)), rng.random((POINTS, 3))])
    trajectory = np.cumsum(rng.normal(0.0, 0.01, (TRAJECTORY_POINTS, 3)), axis=0)
    images = []
    for _ in range(2):
        images.append(rng.integers(0, 256, (*IMAGE_SHAPE, 3), dtype=np.uint8))
        images.append(rng.integers(0, 4096, (*IMAGE_SHAPE, 1), dtype=np.uint16))
    return cloud, trajectory, images


def live_frame_rows(rounds=21):
    project = Project()
    build_sample_cell(project)
    system = project.system()
    rng = np.random.default_rng(11)
    data = itertools.cycle([frame_data(rng) for _ in range(DATA_SETS)])

    def viewers(workspace_class, image_class):
        shown = [workspace_class(trajectory=True, pointcloud=True), image_class()]
        for viewer in shown:
            viewer.setProject(project)
        return shown

    native = viewers(marnox.viewer.WorkspaceViewer, marnox.viewer.ImageViewer)
    for viewer in native:
        viewer.init(offscreen=True)
    baseline = viewers(baseline_viewer.BaselineWorkspaceViewer, baseline_viewer.BaselineImageViewer)
    for viewer in baseline:
        viewer.init()

    def update_model():
        cloud, trajectory, images = next(data)
        system.setPointcloud(cloud)
        system.setTrajectory(trajectory)
        system.setImages(images)

    def frame_of(shown):
        def frame():
            update_model()
            for viewer in shown:
                viewer.render()

        return frame

    medians = interleaved_medians(
        {"native": frame_of(native), "baseline": frame_of(baseline), "model": update_model},
        rounds,
    )
    for viewer in native:
        viewer.stop()
    case = f"live frame, {POINTS} points, 4 x 1280x720 images"
    measured = format_seconds(medians["native"])
    return [
        (case, measured, "plain-Python viewers", medians["native"] / medians["baseline"], None),
        (case, measured, "model updates alone", medians["native"] / medians["model"], None),
    ]


def main():
    from harness import print_table

    print_table(live_frame_rows())
    return 0


if __name__ == "__main__":
    os.environ.setdefault("VTK_DEFAULT_OPENGL_WINDOW", "vtkEGLRenderWindow")
    sys.exit(main())

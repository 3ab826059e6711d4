"""Uses an installed marnox as a user would: loads a project, renders it off screen, renders
its cameras, records it and reads the recording back. Run it from outside the source tree:

    python tools/smoke_test.py PROJECT.mxproj OUT_DIR
"""

import os
import sys
from pathlib import Path

import numpy as np

# As the README advises for machines without a display.
if not os.environ.get("DISPLAY"):
    os.environ.setdefault("VTK_DEFAULT_OPENGL_WINDOW", "vtkEGLRenderWindow")

import marnox  # noqa: E402
from marnox.project import Project  # noqa: E402
from marnox.recording import Recorder, Recording  # noqa: E402
from marnox.viewer import CameraRenderer, WorkspaceViewer  # noqa: E402


def check(condition, what):
    if not condition:
        sys.exit(f"smoke test failed: {what}")


def main(project_file, out):
    out = Path(out)
    out.mkdir(parents=True, exist_ok=True)
    installed = Path(marnox.__file__).resolve()
    check(installed.is_relative_to(Path(sys.prefix).resolve()), f"marnox imported from {installed}")

    project = Project()
    project.load(project_file)
    check(project.workspace().getCameras(), "the project has no cameras")

    viewer = WorkspaceViewer(size=(320, 240))
    viewer.setProject(project)
    viewer.init(offscreen=True)
    viewer.render()
    viewer.screenshot(str(out / "cell.png"))
    viewer.stop()
    check((out / "cell.png").stat().st_size > 1000, "the screenshot is empty")

    frames = CameraRenderer(project).render()
    check(len(frames) == len(project.workspace().getCameras()), "a camera was not rendered")
    for frame in frames:
        check(frame.color.ndim == 3 and frame.color.std() > 0, "a camera image is blank")
        check(np.isfinite(frame.depth).any(), "a camera saw nothing")

    points = np.random.default_rng(0).random((1000, 3))
    recording_file = out / "run.mcap"
    with Recorder(project, str(recording_file)) as recorder:
        recorder.record(time=0.0)
        project.system().setPointcloud(points)
        recorder.record(time=0.5)
    recording = Recording(str(recording_file))
    check(recording.times()[-1] == 0.5, f"recorded times {recording.times()}")
    again = recording.project()
    recording.apply(again, 0.5)
    check(np.array_equal(again.system().pointcloud(), points), "the point cloud came back changed")
    print(f"marnox {marnox.__version__} from {installed.parent}: smoke test passed")


if __name__ == "__main__":
    main(*sys.argv[1:])

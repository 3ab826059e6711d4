"""show(): the quick look at a project, at what cameras saw, or at a recording."""

from __future__ import annotations

import colorsys

import numpy as np
from IPython.display import Image, display

from marnox._view_setup import check_size, framed_workspace_viewer, use_headless_window
from marnox.camera import CameraFrame, depthImage
from marnox.camera_files import pngBytes
from marnox.notebook.view import View
from marnox.project import Project
from marnox.recording import Recording
from marnox.web.capture import FrameGrabber
from marnox.web.timeline import Timeline

# Between the cells of a grid of camera images: the image grid's background.
GAP = 4
GAP_COLOR = (57, 65, 75)
# Labels get hues a golden ratio apart, so neighbouring indices differ clearly.
GOLDEN_RATIO = 0.618033988749895


class RecordingView(View):
    """A :class:`View` of a recording's project that plays the recording on its timeline."""

    def __init__(self, recording, size=(960, 600), images=True, speed=1.0, loop=False):
        self.recording = recording
        self._first = recording.times()[0]
        self._shown = None
        super().__init__(
            recording.project(), size, images, Timeline(recording.duration(), speed, loop)
        )

    def _follow_timeline(self):
        now = self._timeline.now()
        if now != self._shown:
            self.recording.apply(self._project, self._first + now)
            self._shown = now


def label_colors(labels):
    """(rows, columns, 3) uint8 colours of a label image: black where nothing (-1)."""
    labels = np.asarray(labels)
    count = int(labels.max(initial=-1)) + 1
    palette = np.zeros((count + 1, 3), dtype=np.uint8)
    for index in range(count):
        rgb = colorsys.hsv_to_rgb((index * GOLDEN_RATIO) % 1.0, 0.65, 0.95)
        palette[index + 1] = np.rint(np.array(rgb) * 255)
    return palette[labels + 1]


def frames_grid(frames):
    """One row per frame: its colour, its depth and, where it has them, its labels."""
    rows = []
    for frame in frames:
        row = [np.asarray(frame.color, dtype=np.uint8), np.repeat(depthImage(frame.depth), 3, 2)]
        if frame.labels is not None:
            row.append(label_colors(frame.labels))
        rows.append(row)
    height = max(image.shape[0] for row in rows for image in row)
    width = max(image.shape[1] for row in rows for image in row)
    columns = max(len(row) for row in rows)
    grid = np.empty(
        (len(rows) * (height + GAP) - GAP, columns * (width + GAP) - GAP, 3), dtype=np.uint8
    )
    grid[:] = GAP_COLOR
    for r, row in enumerate(rows):
        for c, image in enumerate(row):
            top, left = r * (height + GAP), c * (width + GAP)
            grid[top : top + image.shape[0], left : left + image.shape[1]] = image
    return grid


def project_png(project, size=(960, 600)):
    """The workspace view of ``project`` as PNG bytes, drawn off screen."""
    use_headless_window()
    viewer = framed_workspace_viewer(project, check_size(size))
    try:
        viewer.render()
        return pngBytes(FrameGrabber(viewer._window).still())
    finally:
        viewer.stop()


def show(obj, size=(960, 600)):
    """Show ``obj`` in the notebook and return what was shown.

    - a :class:`~marnox.project.Project`: a PNG of its workspace view (``size`` pixels);
    - a list of :class:`~marnox.camera.CameraFrame` (``CameraRenderer.render()``): one row
      per camera with its colour, depth (near bright, far dark) and labels;
    - a :class:`~marnox.recording.Recording`: a live :class:`View` of its project with a
      play button and a time slider, which apply the recording as it plays.

    Example::

        show(project)
        show(CameraRenderer(project).render())
        show(Recording("run.mcap"))
    """
    if isinstance(obj, Project):
        shown = Image(data=project_png(obj, size), format="png")
    elif isinstance(obj, (list, tuple)) and obj and all(isinstance(f, CameraFrame) for f in obj):
        shown = Image(data=pngBytes(frames_grid(obj)), format="png")
    elif isinstance(obj, Recording):
        shown = RecordingView(obj, size)
    else:
        raise TypeError(
            "show() takes a Project, a non-empty list of CameraFrame or a Recording, "
            f"not {type(obj).__name__}"
        )
    display(shown)
    return shown

"""Growth of stop() and of a rebuild after a screenshot: 20,000 boxes against 10,000.

A screenshot uploads every box to the window's OpenGL context. Taking the scene down again
(stop() finalising the window, or setProject() removing the actors) releases those buffers,
and VTK's vertex-buffer cache searches all of its entries for each buffer it lets go of, so
2.0 would be linear growth and 4.0 quadratic.
"""

import statistics
import tempfile
import time

from harness import format_seconds

from marnox.item import Item
from marnox.pose import Pose
from marnox.project import Project
from marnox.viewer import WorkspaceViewer
from marnox.visual import VisualBox

SIZES = (10_000, 20_000)


def _boxes(count):
    """A project of `count` small boxes on a square grid, all in view."""
    project = Project()
    workspace = project.workspace()
    side = int(count**0.5) + 1
    for index in range(count):
        position = (0.1 * (index % side), 0.1 * (index // side), 0.0)
        workspace.addItem(Item(f"box{index}", Pose(position), [VisualBox((0.05, 0.05, 0.05))]))
    return project


def _teardown_seconds(count, folder):
    """(seconds of setProject() again, seconds of stop()), each right after a screenshot."""
    project = _boxes(count)
    viewer = WorkspaceViewer(size=(200, 150))
    viewer.setProject(project)
    viewer.init(offscreen=True)
    shot = f"{folder}/boxes.png"
    viewer.screenshot(shot)
    start = time.perf_counter()
    viewer.setProject(project)
    rebuild = time.perf_counter() - start
    viewer.screenshot(shot)
    start = time.perf_counter()
    viewer.stop()
    return rebuild, time.perf_counter() - start


def growth_rows(target=2.5, rounds=3):
    """Rows of the 20,000-box times against the 10,000-box ones, medians of interleaved rounds."""
    samples = {count: [] for count in SIZES}
    with tempfile.TemporaryDirectory() as folder:
        for _ in range(rounds):
            for count in SIZES:
                samples[count].append(_teardown_seconds(count, folder))
    small, large = (
        [statistics.median(times) for times in zip(*samples[count], strict=True)] for count in SIZES
    )
    against = f"{SIZES[0]:,} boxes"
    rows = []
    for index, case in enumerate(("setProject() after a screenshot", "stop() after a screenshot")):
        ratio = large[index] / small[index]
        case = f"{case}, {SIZES[1]:,} boxes"
        rows.append((case, format_seconds(large[index]), against, ratio, target))
    return rows

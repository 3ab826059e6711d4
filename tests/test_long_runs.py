"""Long runs in one process: memory settles and no reference is leaked.

The default sizes keep CI quick; `make soak` runs the full ones
(MARNOX_SOAK=full: 100,000 renders, 1,000 rebuilds, 1,000 save and load cycles,
10,000 image refreshes).
"""

import gc
import os
import sys

import numpy as np
import pytest

from marnox.constants import MX_PROJECT_FILE_EXT
from marnox.project import Project
from marnox.sample import build_sample_cell
from marnox.viewer import ImageViewer, WorkspaceViewer

FULL = os.environ.get("MARNOX_SOAK") == "full"
RENDERS, REBUILDS, SAVES, REFRESHES = (
    (100_000, 1_000, 1_000, 10_000) if FULL else (3_000, 60, 60, 600)
)
# Growth of resident memory allowed once the first tenth of a run has warmed caches up.
# AddressSanitizer holds freed memory back on purpose, so under it only references count.
ALLOWED_GROWTH_KIB = float("inf") if os.environ.get("MARNOX_SANITIZE") else 5 * 1024


def resident_kib():
    with open("/proc/self/status") as status:
        for line in status:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    raise RuntimeError("no VmRSS in /proc/self/status")


def settled_growth(step, count):
    """Resident memory growth (KiB) over the last nine tenths of `count` steps."""
    warm_up = max(count // 10, 1)
    for _ in range(warm_up):
        step()
    gc.collect()
    start = resident_kib()
    for _ in range(count - warm_up):
        step()
    gc.collect()
    return resident_kib() - start


@pytest.fixture(scope="module")
def cell():
    project = Project()
    build_sample_cell(project)
    return project


def test_renders_leak_nothing(cell):
    viewer = WorkspaceViewer(trajectory=True, pointcloud=True)
    viewer.setProject(cell)
    viewer.init(offscreen=True)
    watched = [cell, cell.system().pointcloud(), cell.system().trajectory(), *viewer._actors]
    counts = [sys.getrefcount(obj) for obj in watched]
    assert settled_growth(viewer.render, RENDERS) < ALLOWED_GROWTH_KIB
    assert [sys.getrefcount(obj) for obj in watched] == counts
    viewer.stop()


def test_scene_rebuilds_leak_nothing(cell):
    viewer = WorkspaceViewer()
    viewer.setProject(cell)
    count = sys.getrefcount(cell)
    assert settled_growth(lambda: viewer.setProject(cell), REBUILDS) < ALLOWED_GROWTH_KIB
    assert sys.getrefcount(cell) == count


def test_save_and_load_cycles_leak_nothing(cell, tmp_path):
    path = str(tmp_path / ("cell" + MX_PROJECT_FILE_EXT))
    loaded = Project()

    def cycle():
        cell.save(path)
        loaded.load(path)

    count = sys.getrefcount(cell)
    assert settled_growth(cycle, SAVES) < ALLOWED_GROWTH_KIB
    assert sys.getrefcount(cell) == count
    assert os.listdir(tmp_path) == [os.path.basename(path)]


def test_image_refreshes_leak_nothing(cell):
    viewer = ImageViewer()
    viewer.setProject(cell)
    images = cell.system().images()
    counts = [sys.getrefcount(image) for image in images]
    assert settled_growth(viewer._updateImages, REFRESHES) < ALLOWED_GROWTH_KIB
    assert [sys.getrefcount(image) for image in images] == counts
    assert all(isinstance(image, np.ndarray) for image in images)

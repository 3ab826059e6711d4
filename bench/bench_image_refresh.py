"""How fast ImageViewer._updateImages copies camera images into VTK.

Every case is a cell of 8 cameras, each giving two images of the same kind. For
each case the script prints the median time of one refresh and two ratios, all
measured in the same run with the cases and variants interleaved round by round:

- to the straightforward path: ``np.flipud``, ``np.ravel``,
  ``numpy_to_vtk(deep=True, array_type=...)``, ``SetNumberOfComponents`` and the
  same calls on the image objects;
- to the copy floor: ``np.copyto`` of the same images into arrays allocated once,
  the limit set by memory bandwidth.

It also prints the page faults of one marnox refresh, the price of writing into
fresh memory that the refresh's new VTK arrays could carry.

Run: ``python bench/bench_image_refresh.py [--rounds N]``.
"""

import argparse
import resource
import statistics
import time
from typing import Callable, Dict, List

import numpy as np
from baseline_viewer import BaselineImageViewer

from marnox import viewer
from marnox.camera import Camera
from marnox.project import Project

CAMERAS = 8
# Twice the last-level cache of common machines: writing it evicts the images,
# so every variant starts from memory as a new camera frame would.
_SCRATCH = np.zeros(64 << 20, np.uint8)
CASES = (
    ("640x480x3 uint8", (480, 640, 3), np.uint8),
    ("1920x1080x3 uint8", (1080, 1920, 3), np.uint8),
    ("640x480x1 uint16", (480, 640, 1), np.uint16),
    ("640x480x1 float32", (480, 640, 1), np.float32),
)


def _images(shape, dtype, seed):
    """Two images per camera with every value different, as a camera would give."""
    rng = np.random.default_rng(seed)
    if np.issubdtype(dtype, np.floating):
        return [rng.random(shape, dtype=dtype) for _ in range(2 * CAMERAS)]
    return [rng.integers(0, 256, shape, dtype=dtype) for _ in range(2 * CAMERAS)]


def _viewer(images):
    project = Project()
    for index in range(CAMERAS):
        project.workspace().addCamera(Camera(f"camera_{index}"))
    project.system().setImages(images)
    image_viewer = viewer.ImageViewer()
    image_viewer.setProject(project)
    return image_viewer


def _copy_floor(images, targets):
    for image, target in zip(images, targets, strict=True):
        np.copyto(target, image)


def _variants(shape, dtype, seed) -> Dict[str, Callable[[], None]]:
    images = _images(shape, dtype, seed)
    image_viewer = _viewer(images)
    held = image_viewer._project.system().images()
    targets = [np.empty_like(image) for image in held]
    # Touch the floor's targets once: arrays allocated once are warm afterwards.
    _copy_floor(held, targets)
    return {
        "marnox": image_viewer._updateImages,
        # The baseline viewer's refresh, NumPy and numpy_support: two copies per image.
        "straightforward": lambda: BaselineImageViewer._updateImages(image_viewer),
        "floor": lambda: _copy_floor(held, targets),
    }


def run(rounds: int = 30) -> List[dict]:
    """Times every case and returns one row per case: name, median seconds and ratios."""
    variants = [_variants(shape, dtype, seed) for seed, (_, shape, dtype) in enumerate(CASES)]
    for case in variants:
        for call in case.values():
            call()
    times = [{name: [] for name in case} for case in variants]
    faults = [[] for _ in variants]
    for _ in range(rounds):
        for case, case_times, case_faults in zip(variants, times, faults, strict=True):
            for name, call in case.items():
                _SCRATCH.fill(len(case_times[name]))
                faults_before = resource.getrusage(resource.RUSAGE_SELF).ru_minflt
                start = time.perf_counter()
                call()
                case_times[name].append(time.perf_counter() - start)
                if name == "marnox":
                    faults_after = resource.getrusage(resource.RUSAGE_SELF).ru_minflt
                    case_faults.append(faults_after - faults_before)
    rows = []
    for (name, _, _), case_times, case_faults in zip(CASES, times, faults, strict=True):
        median = {variant: statistics.median(values) for variant, values in case_times.items()}
        rows.append(
            {
                "case": f"{CAMERAS} cameras, {name}",
                "median_s": median["marnox"],
                "vs_straightforward": median["marnox"] / median["straightforward"],
                "vs_copy_floor": median["marnox"] / median["floor"],
                "page_faults": statistics.median(case_faults),
            }
        )
    return rows


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--rounds", type=int, default=30, help="refreshes per case and variant")
    args = parser.parse_args()
    print(
        f"{'case':<34} {'median ms':>10} {'/ straightforward':>18} {'/ copy floor':>13}"
        f" {'page faults':>12}"
    )
    for row in run(args.rounds):
        print(
            f"{row['case']:<34} {row['median_s'] * 1e3:>10.3f} "
            f"{row['vs_straightforward']:>18.2f} {row['vs_copy_floor']:>13.2f}"
            f" {row['page_faults']:>12.0f}"
        )


if __name__ == "__main__":
    main()

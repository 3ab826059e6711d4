"""Meshes kept on disk: the largest URDF robot read by a new process, warm against cold.

Each run is a new process with its own cache folder: empty (the first run,
which also writes the cache), filled by an earlier run (warm), or none at all.
Each process is timed whole, imports included, as a user waits for it.
"""

import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

from bench_meshes import largest_robot
from harness import format_seconds

_FROM_URDF = """
import sys
from marnox.robot import Robot
Robot.fromURDF(sys.argv[1])
"""
_SAVE_PROJECT = """
import sys
from marnox.project import Project
from marnox.robot import Robot
project = Project()
project.workspace().addRobot(Robot.fromURDF(sys.argv[1]))
project.save(sys.argv[2])
"""


def _run(arguments, cache):
    environment = dict(os.environ, MARNOX_MESH_CACHE=cache)
    start = time.perf_counter()
    subprocess.run([sys.executable, *arguments], env=environment, capture_output=True, check=True)
    return time.perf_counter() - start


def _medians(cases, rounds):
    """Median seconds of each case, interleaved; a case returns its seconds."""
    samples = {name: [] for name in cases}
    for _ in range(rounds):
        for name, case in cases.items():
            samples[name].append(case())
    return {name: statistics.median(values) for name, values in samples.items()}


def rows(rounds=3):
    size, urdf = largest_robot()
    name = urdf.parent.parent.name + "/" + urdf.name
    with tempfile.TemporaryDirectory() as folder:
        warm = os.path.join(folder, "warm")
        empty = os.path.join(folder, "empty")
        project = os.path.join(folder, "robot.mxproj")
        _run(["-c", _SAVE_PROJECT, str(urdf), project], warm)

        def fromUrdf(cache, emptied=False):
            def case():
                if emptied:
                    shutil.rmtree(cache, ignore_errors=True)
                return _run(["-c", _FROM_URDF, str(urdf)], cache)

            return case

        def render(cache, emptied=False):
            def case():
                if emptied:
                    shutil.rmtree(cache, ignore_errors=True)
                picture = os.path.join(folder, "robot.png")
                return _run(["-m", "marnox", "render", project, "-o", picture], cache)

            return case

        loads = _medians(
            {
                "warm": fromUrdf(warm),
                "empty": fromUrdf(empty, emptied=True),
                "off": fromUrdf("0"),
            },
            rounds,
        )
        renders = _medians({"warm": render(warm), "cold": render(empty, emptied=True)}, rounds)
    case = f"fromURDF {name} ({size / 2**20:.0f} MiB of meshes), new process"
    return [
        (
            f"{case}, cache warm",
            format_seconds(loads["warm"]),
            "cache empty",
            loads["warm"] / loads["empty"],
            0.15,
        ),
        (
            f"{case}, cache empty (writing it)",
            format_seconds(loads["empty"]),
            "no cache",
            loads["empty"] / loads["off"],
            1.1,
        ),
        (f"{case}, no cache", format_seconds(loads["off"]), "-", 1.0, None),
        (
            f"render of a project with {name}, cache warm",
            format_seconds(renders["warm"]),
            "cache empty",
            renders["warm"] / renders["cold"],
            None,
        ),
        (
            f"render of a project with {name}, cache empty",
            format_seconds(renders["cold"]),
            "-",
            1.0,
            None,
        ),
    ]


def main():
    from harness import print_table

    os.environ.setdefault("VTK_DEFAULT_OPENGL_WINDOW", "vtkEGLRenderWindow")
    print_table(rows())
    return 0


if __name__ == "__main__":
    sys.exit(main())

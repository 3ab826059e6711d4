"""Meshes: a cell of 200 items sharing one large mesh, and the largest URDF robot.

Loading the cell is timed against reading its mesh once with VTK's reader
alone; its memory growth (in a fresh process) against the size of one copy of
the mesh's polydata. For the robot, ``Robot.fromURDF`` and ``setProject`` plus
the first screenshot are timed and split into where the time goes.
"""

import collections
import gc
import importlib.metadata
import os
import pathlib
import subprocess
import sys
import tempfile
import time
import xml.etree.ElementTree as ElementTree

from harness import format_seconds, interleaved_medians, print_table

ITEMS = 200
ROBOTS = pathlib.Path(
    importlib.metadata.distribution("example-robot-data").locate_file(
        "cmeel.prefix/share/example-robot-data/robots"
    )
)


def write_large_mesh(folder):
    """A binary STL sphere of about a million triangles; returns its path."""
    from vtkmodules.vtkFiltersSources import vtkSphereSource
    from vtkmodules.vtkIOGeometry import vtkSTLWriter

    sphere = vtkSphereSource()
    sphere.SetThetaResolution(1000)
    sphere.SetPhiResolution(502)
    path = os.path.join(folder, "meshes", "sphere.stl")
    os.makedirs(os.path.dirname(path), exist_ok=True)
    writer = vtkSTLWriter()
    writer.SetInputConnection(sphere.GetOutputPort())
    writer.SetFileTypeToBinary()
    writer.SetFileName(path)
    writer.Write()
    return path


def write_cell(folder, mesh):
    """A project file of ITEMS items that all show ``mesh``; returns its path."""
    from marnox.item import Item
    from marnox.pose import Pose
    from marnox.project import Project
    from marnox.visual import VisualMesh

    project = Project()
    for index in range(ITEMS):
        item = Item(f"part_{index}", Pose((index % 20 * 0.3, index // 20 * 0.3, 0.0)))
        item.addShape(VisualMesh(mesh, scale=(0.1, 0.1, 0.1)))
        project.workspace().addItem(item)
    path = os.path.join(folder, "cell.mxproj")
    project.save(path)
    return path


def load_cell(path):
    from marnox.project import Project

    project = Project()
    project.load(path)
    return project


def read_alone(mesh):
    from vtkmodules.vtkIOGeometry import vtkSTLReader

    reader = vtkSTLReader()
    reader.SetFileName(mesh)
    reader.Update()
    return reader.GetOutput()


def _rss_kib():
    with open("/proc/self/statm") as stream:
        return int(stream.read().split()[1]) * os.sysconf("SC_PAGE_SIZE") // 1024


def memory_growth(project_file):
    """In this process: (RSS growth of loading the cell, one polydata copy), in KiB."""
    import marnox.project  # noqa: F401  (imports settle before the first reading)
    from marnox.visual import VisualMesh  # noqa: F401

    gc.collect()
    before = _rss_kib()
    project = load_cell(project_file)
    gc.collect()
    grown = _rss_kib() - before
    first = next(iter(project.workspace().getItems().values())).shapes()[0]
    return grown, first.polydata().GetActualMemorySize()


def cell_rows(rounds=5):
    with tempfile.TemporaryDirectory() as folder:
        mesh = write_large_mesh(folder)
        project_file = write_cell(folder, mesh)
        triangles = read_alone(mesh).GetNumberOfCells()

        def load():
            load_cell(project_file)
            gc.collect()

        medians = interleaved_medians(
            {"load": load, "reader": lambda: read_alone(mesh)}, rounds=rounds
        )
        probe = subprocess.run(
            [sys.executable, __file__, "--memory", project_file],
            capture_output=True,
            text=True,
            check=True,
        )
        grown, copy = (int(v) for v in probe.stdout.split())
    case = f"load {ITEMS} items sharing a {triangles / 1e6:.2f}M-triangle STL"
    return [
        (
            case,
            format_seconds(medians["load"]),
            "vtkSTLReader alone",
            medians["load"] / medians["reader"],
            1.3,
        ),
        (f"{case}: RSS growth", f"{grown / 1024:.1f} MiB", "one polydata", grown / copy, 1.2),
    ]


def _mesh_bytes(urdf):
    from marnox.urdf import resolveMeshPath

    total = 0
    for mesh in ElementTree.parse(urdf).getroot().iter("mesh"):
        found = resolveMeshPath(mesh.get("filename", ""), str(urdf))
        total += os.path.getsize(found) if found else 0
    return total


def largest_robot():
    """The example-robot-data URDF whose meshes take the most bytes."""
    sized = [(_mesh_bytes(path), path) for path in ROBOTS.rglob("*.urdf")]
    return max(sized)


class _Timed:
    """Adds up the time spent in functions it wraps, by label."""

    def __init__(self):
        self.seconds = collections.Counter()

    def wrap(self, label, function):
        def timed(*arguments, **keywords):
            start = time.perf_counter()
            try:
                return function(*arguments, **keywords)
            finally:
                self.seconds[label] += time.perf_counter() - start

        return timed


def robot_rows():
    """Times of fromURDF and of setProject + first screenshot, and where they go."""
    from marnox import meshes, urdf
    from marnox.project import Project
    from marnox.robot import Robot
    from marnox.viewer import WorkspaceViewer

    size, path = largest_robot()
    name = str(path.relative_to(ROBOTS))
    # The libraries load on first use; time that apart from the work.
    start = time.perf_counter()
    import collada  # noqa: F401
    import trimesh  # noqa: F401

    imports = time.perf_counter() - start
    timed = _Timed()
    readers, parse = dict(meshes._READERS), urdf._parse
    for ending, reader in readers.items():
        meshes._READERS[ending] = timed.wrap(f"reading {ending} meshes", reader)
    urdf._parse = timed.wrap("parsing the URDF", parse)
    try:
        start = time.perf_counter()
        robot = Robot.fromURDF(str(path))
        total = time.perf_counter() - start
    finally:
        meshes._READERS.update(readers)
        urdf._parse = parse
    triangles = sum(
        shape.polydata().GetNumberOfCells()
        for shape in robot._getVisualGroup().elements()
        if hasattr(shape, "polydata")
    )
    case = f"fromURDF {name} ({size / 2**20:.0f} MiB of meshes, {triangles / 1e6:.2f}M triangles)"
    rows = [
        ("importing trimesh, pycollada (once)", format_seconds(imports), "-", 1.0, None),
        (case, format_seconds(total), "-", 1.0, None),
    ]
    for label, seconds in sorted(timed.seconds.items(), key=lambda item: -item[1]):
        rows.append((f"  {label}", format_seconds(seconds), "fromURDF", seconds / total, None))
    rest = total - sum(timed.seconds.values())
    rows.append(
        ("  building links and shapes", format_seconds(rest), "fromURDF", rest / total, None)
    )

    project = Project()
    project.workspace().addRobot(robot)
    steps = {}
    with tempfile.TemporaryDirectory() as folder:
        start = time.perf_counter()
        viewer = WorkspaceViewer(size=(1280, 800))
        viewer.setProject(project)
        steps["setProject (actors built)"] = time.perf_counter() - start
        start = time.perf_counter()
        viewer.init(offscreen=True)
        steps["init (first frames drawn)"] = time.perf_counter() - start
        start = time.perf_counter()
        viewer.screenshot(os.path.join(folder, "robot.png"))
        steps["screenshot"] = time.perf_counter() - start
        viewer.stop()
    total = sum(steps.values())
    rows.append((f"setProject + first screenshot of {name}", format_seconds(total), "-", 1.0, None))
    for label, seconds in steps.items():
        rows.append((f"  {label}", format_seconds(seconds), "that total", seconds / total, None))
    return rows


def rows():
    return cell_rows() + robot_rows()


def main():
    os.environ.setdefault("VTK_DEFAULT_OPENGL_WINDOW", "vtkEGLRenderWindow")
    # The readers themselves are timed, never the user's cache of converted meshes.
    os.environ["MARNOX_MESH_CACHE"] = "0"
    if sys.argv[1:2] == ["--memory"]:
        print(*memory_growth(sys.argv[2]))
        return 0
    print_table(rows())
    return 0


if __name__ == "__main__":
    sys.exit(main())

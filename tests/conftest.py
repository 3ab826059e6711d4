"""Shared fixtures: a virtual screen for on-screen windows, a child process for risky reads."""

import gc
import os
import select
import shutil
import subprocess
import sys
import tempfile
import time

import pytest
from hypothesis import HealthCheck, settings

# Generated-input tests: a fixed, quick run by default; `make fuzz` runs the long one.
settings.register_profile(
    "ci",
    derandomize=True,
    max_examples=60,
    deadline=None,
    suppress_health_check=[HealthCheck.too_slow],
)
settings.register_profile(
    "long", max_examples=1000, deadline=None, suppress_health_check=[HealthCheck.too_slow]
)
settings.load_profile(os.environ.get("MARNOX_HYPOTHESIS_PROFILE", "ci"))

# Meshes converted on disk go to a folder of this run's own: the tests never use
# the user's cache, nor depend on what an earlier run left there.
_MESH_CACHE = tempfile.mkdtemp(prefix="marnox-mesh-cache-")
os.environ["MARNOX_MESH_CACHE"] = _MESH_CACHE

# Without a display VTK would try X first and warn on every window; go straight to EGL.
_HEADLESS_WINDOW = "VTK_DEFAULT_OPENGL_WINDOW"
if not os.environ.get("DISPLAY"):
    os.environ.setdefault(_HEADLESS_WINDOW, "vtkEGLRenderWindow")


def _start_xvfb():
    """Starts Xvfb on a free display number; returns (process, display) once it takes
    connections (it writes its number to ``-displayfd`` only then: a socket file can be
    there earlier, and a window opened too soon finds no display)."""
    read_end, write_end = os.pipe()
    # The X server is not ours to check: keep a sanitizer run's preloads out of it.
    environment = {k: v for k, v in os.environ.items() if k != "LD_PRELOAD"}
    process = subprocess.Popen(
        ["Xvfb", "-displayfd", str(write_end), "-screen", "0", "1280x1024x24", "-nolisten", "tcp"],
        stdout=subprocess.DEVNULL,
        stderr=subprocess.DEVNULL,
        env=environment,
        pass_fds=(write_end,),
    )
    os.close(write_end)
    # The whole line, newline included: Xvfb ends if the pipe closes before it wrote it all.
    line, deadline = b"", time.monotonic() + 30
    try:
        while not line.endswith(b"\n"):
            ready, _, _ = select.select([read_end], [], [], max(deadline - time.monotonic(), 0))
            chunk = os.read(read_end, 32) if ready else b""
            if not chunk:
                break
            line += chunk
    finally:
        os.close(read_end)
    number = line.decode().strip()
    if not number.isdigit():
        process.kill()
        raise RuntimeError("could not start Xvfb")
    return process, f":{number}"


# The Xvfb started for this run, if any; stopped by pytest_unconfigure.
_xvfb = []


def pytest_collection_modifyitems(items):
    """Runs the tests that use the display first, keeping the order otherwise.

    VTK chooses its window class once per process: a window made while there is no
    display makes it fall back to off-screen-only windows for the rest of the run.
    """
    items.sort(key=lambda item: "display" not in getattr(item, "fixturenames", ()))


def pytest_unconfigure(config):
    """Stops the run's Xvfb once every test's objects are released.

    A window that outlives its X server makes Xlib end the whole process, and pytest
    lets go of the last test's fixture values only after the session fixtures are
    torn down; reference cycles may hold windows until a collection.
    """
    gc.collect()
    shutil.rmtree(_MESH_CACHE, ignore_errors=True)
    while _xvfb:
        process = _xvfb.pop()
        process.terminate()
        process.wait(timeout=10)


@pytest.fixture(scope="session")
def display():
    """An X display for on-screen windows: the current one, or an Xvfb started for the run."""
    if os.environ.get("DISPLAY"):
        yield os.environ["DISPLAY"]
        return
    if shutil.which("Xvfb") is None:
        pytest.skip("no DISPLAY and no Xvfb")
    process, name = _start_xvfb()
    _xvfb.append(process)
    os.environ["DISPLAY"] = name
    headless_window = os.environ.pop(_HEADLESS_WINDOW, None)
    try:
        yield name
    finally:
        del os.environ["DISPLAY"]
        if headless_window is not None:
            os.environ[_HEADLESS_WINDOW] = headless_window


# Reads mesh files named on standard input, one outcome line each: "ok", or the
# error's type and message ("!" first for an error of an unexpected kind).
# A read that succeeds must give cells that name points the polydata holds.
_MESH_READER = """
import sys
from vtkmodules.util.numpy_support import vtk_to_numpy
from marnox.meshes import readMesh
def _named_points(polydata):
    cells = (polydata.GetVerts(), polydata.GetLines(), polydata.GetPolys(), polydata.GetStrips())
    ids = [vtk_to_numpy(c.GetConnectivityArray()) for c in cells if c.GetNumberOfCells()]
    return [i for i in ids if i.size and (i.min() < 0 or i.max() >= polydata.GetNumberOfPoints())]
for line in sys.stdin:
    try:
        polydata = readMesh(line[:-1])
        outcome = "!cells name missing points" if _named_points(polydata) else "ok"
    except (ValueError, OSError) as error:
        outcome = f"{type(error).__name__}: {error}"
    except BaseException as error:
        outcome = f"!{type(error).__name__}: {error}"
    print(outcome.replace("\\n", " "), flush=True)
"""


class MeshReaderProcess:
    """A child process that reads mesh files for the tests, so that a reader that
    crashes or hangs on a hostile file fails one test instead of the whole run.

    A separate interpreter rather than a fork: forking a process whose other
    threads (a GL driver's, say) hold locks can leave the child stuck.
    """

    def __init__(self):
        self._process = None

    def _start(self):
        self._process = subprocess.Popen(
            [sys.executable, "-c", _MESH_READER],
            stdin=subprocess.PIPE,
            stdout=subprocess.PIPE,
            stderr=subprocess.DEVNULL,
            text=True,
        )

    def __call__(self, path, timeout=60.0):
        """How reading ``path`` ends: "ok", or the ValueError or OSError it raised."""
        if self._process is None:
            self._start()
        process = self._process
        process.stdin.write(path + "\n")
        process.stdin.flush()
        ready, _, _ = select.select([process.stdout], [], [], timeout)
        line = process.stdout.readline() if ready else None
        if not line:
            self._process = None
            if line is None:
                process.kill()
            with process:  # closes the pipes and waits
                pass
            status = process.returncode
            pytest.fail(f"reading {path} " + ("hangs" if line is None else f"ends with {status}"))
        assert not line.startswith("!"), line
        return line.rstrip("\n")

    def close(self):
        if self._process is not None:
            # Closing the pipes ends the child's loop; leaving them open would leak them.
            with self._process:
                pass


@pytest.fixture(scope="session")
def read_in_child():
    """Reads a mesh file in a child process, for files that might crash or hang a reader."""
    reader = MeshReaderProcess()
    yield reader
    reader.close()


@pytest.fixture(scope="session")
def sample_cell_file(tmp_path_factory):
    """The sample cell saved as a project file, for tests that only read it."""
    from marnox.constants import MX_PROJECT_FILE_EXT
    from marnox.project import Project
    from marnox.sample import build_sample_cell

    project = Project()
    build_sample_cell(project)
    path = str(tmp_path_factory.mktemp("cell") / ("sample-cell" + MX_PROJECT_FILE_EXT))
    project.save(path)
    return path

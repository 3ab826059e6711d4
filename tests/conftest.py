"""Shared fixtures: a virtual screen for on-screen windows, a child process for risky reads."""

import gc
import os
import shutil
import signal
import subprocess
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

# Without a display VTK would try X first and warn on every window; go straight to EGL.
_HEADLESS_WINDOW = "VTK_DEFAULT_OPENGL_WINDOW"
if not os.environ.get("DISPLAY"):
    os.environ.setdefault(_HEADLESS_WINDOW, "vtkEGLRenderWindow")


def _start_xvfb():
    """Starts Xvfb on the first free display number; returns (process, display)."""
    for number in range(90, 130):
        socket = f"/tmp/.X11-unix/X{number}"
        if os.path.exists(socket) or os.path.exists(f"/tmp/.X{number}-lock"):
            continue
        display = f":{number}"
        # The X server is not ours to check: keep a sanitizer run's preloads out of it.
        environment = {k: v for k, v in os.environ.items() if k != "LD_PRELOAD"}
        process = subprocess.Popen(
            ["Xvfb", display, "-screen", "0", "1280x1024x24", "-nolisten", "tcp"],
            stdout=subprocess.DEVNULL,
            stderr=subprocess.DEVNULL,
            env=environment,
        )
        for _ in range(100):
            if os.path.exists(socket):
                return process, display
            if process.poll() is not None:
                break
            time.sleep(0.05)
        process.kill()
    raise RuntimeError("could not start Xvfb")


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


def _read_in_child(path, timeout=60.0):
    """How reading ``path`` ends, in a forked child so that a crash cannot take the tests down:
    "ok", or the exception type and message; a signal or a hang fails the test."""
    reader, writer = os.pipe()
    pid = os.fork()
    if pid == 0:
        os.close(reader)
        try:
            from marnox.meshes import readMesh

            readMesh(path)
            outcome, status = "ok", 0
        except (ValueError, OSError) as error:
            outcome, status = f"{type(error).__name__}: {error}", 1
        except BaseException as error:  # any other kind is a fault the parent reports
            outcome, status = f"{type(error).__name__}: {error}", 2
        os.write(writer, outcome.encode("utf-8", "replace")[:60000])
        os._exit(status)
    os.close(writer)
    deadline = time.monotonic() + timeout
    while True:
        done, status = os.waitpid(pid, os.WNOHANG)
        if done:
            break
        if time.monotonic() > deadline:
            os.kill(pid, signal.SIGKILL)
            os.waitpid(pid, 0)
            pytest.fail(f"reading {path} hangs")
        time.sleep(0.005)
    with os.fdopen(reader, "rb") as stream:
        outcome = stream.read().decode()
    assert not os.WIFSIGNALED(status), f"reading {path} died of signal {os.WTERMSIG(status)}"
    assert os.WEXITSTATUS(status) in (0, 1), outcome
    return outcome


@pytest.fixture(scope="session")
def read_in_child():
    """Reads a mesh file in a forked child, for files that might crash or hang a reader."""
    return _read_in_child

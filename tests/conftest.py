"""Shared fixtures: a virtual screen for on-screen windows."""

import os
import shutil
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
    "long", max_examples=3000, deadline=None, suppress_health_check=[HealthCheck.too_slow]
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
        process = subprocess.Popen(
            ["Xvfb", display, "-screen", "0", "1280x1024x24", "-nolisten", "tcp"],
            stdout=subprocess.DEVNULL,
            stderr=subprocess.DEVNULL,
        )
        for _ in range(100):
            if os.path.exists(socket):
                return process, display
            if process.poll() is not None:
                break
            time.sleep(0.05)
        process.kill()
    raise RuntimeError("could not start Xvfb")


@pytest.fixture(scope="session")
def display():
    """An X display for on-screen windows: the current one, or an Xvfb started for the run."""
    if os.environ.get("DISPLAY"):
        yield os.environ["DISPLAY"]
        return
    if shutil.which("Xvfb") is None:
        pytest.skip("no DISPLAY and no Xvfb")
    process, name = _start_xvfb()
    os.environ["DISPLAY"] = name
    headless_window = os.environ.pop(_HEADLESS_WINDOW, None)
    try:
        yield name
    finally:
        del os.environ["DISPLAY"]
        if headless_window is not None:
            os.environ[_HEADLESS_WINDOW] = headless_window
        process.terminate()
        process.wait(timeout=10)

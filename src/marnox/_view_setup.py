"""What the command line and the web view both do to make a view: choose the headless
window, check a view's size and port, and frame the workspace viewer."""

from __future__ import annotations

import os


def use_headless_window():
    """Without a display, let VTK go straight to its EGL window instead of trying X first."""
    if not os.environ.get("DISPLAY"):
        os.environ.setdefault("VTK_DEFAULT_OPENGL_WINDOW", "vtkEGLRenderWindow")


def check_size(size):
    """``size`` as a (width, height) tuple; ValueError unless both sides are integers from 1
    to ``marnox.viewer.MAX_WINDOW_SIZE``."""
    from marnox.viewer import MAX_WINDOW_SIZE

    if (
        not isinstance(size, (tuple, list))
        or len(size) != 2
        or not all(type(side) is int and side > 0 for side in size)
    ):
        raise ValueError(f"size must be two positive integers (width, height), not {size!r}")
    if max(size) > MAX_WINDOW_SIZE:
        raise ValueError(f"width and height must be from 1 to {MAX_WINDOW_SIZE}, not {size!r}")
    return tuple(size)


def check_port(port):
    """``port`` itself; ValueError unless it is an integer from 0 to 65535."""
    if type(port) is not int or not 0 <= port <= 65535:
        raise ValueError(f"port must be an integer from 0 to 65535, not {port!r}")
    return port


def framed_workspace_viewer(project, size):
    """An initialised off-screen WorkspaceViewer of ``project`` (trajectory and point cloud
    shown), ``size`` (width, height) pixels, framed so the cell fills the picture."""
    from marnox.viewer import WorkspaceViewer

    viewer = WorkspaceViewer(size=tuple(size), trajectory=True, pointcloud=True)
    viewer.setProject(project)
    viewer.init(offscreen=True)
    # init fits the whole scene, point cloud and camera poles included, with a
    # generous margin; come a little closer.
    viewer.zoom(1.2)
    return viewer

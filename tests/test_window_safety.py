"""What keeps a viewer's window from taking the process down: actors shared by two windows,
hostile sizes, calls from other threads and a renderer that is not one. Each case runs in a
child process, where a crash is a failed test instead of the end of the run."""

import os
import subprocess
import sys
import textwrap

import pytest


def run_child(script, *arguments, display=True):
    """Runs `script` in a new interpreter; without `display`, on VTK's EGL window."""
    env = dict(os.environ)
    if not display:
        env.pop("DISPLAY", None)
        env["VTK_DEFAULT_OPENGL_WINDOW"] = "vtkEGLRenderWindow"
    return subprocess.run(
        [sys.executable, "-c", textwrap.dedent(script), *map(str, arguments)],
        env=env,
        capture_output=True,
        text=True,
        timeout=300,
    )


TWO_VIEWERS = """
    import sys
    from marnox.project import Project
    from marnox.sample import build_sample_cell
    from marnox.viewer import ImageViewer, WorkspaceViewer

    out, modes = sys.argv[1], sys.argv[2:]
    project = Project()
    build_sample_cell(project)
    viewers = []
    for mode in modes:
        viewer = WorkspaceViewer(size=(160, 120), trajectory=True, pointcloud=True)
        viewer.setProject(project)
        viewer.init(offscreen=mode == "off")
        viewers.append(viewer)
    images = ImageViewer(size=(160, 120))
    images.setProject(project)
    images.init(offscreen=True)
    for _ in range(2):
        for index, viewer in enumerate(viewers + [images]):
            viewer.render()
            viewer.screenshot(f"{out}/{index}.png")
"""


@pytest.mark.parametrize("modes", [("off", "off"), ("on", "on"), ("on", "off"), ("off", "on")])
def test_two_workspace_viewers_of_one_project_draw_in_every_mix(display, tmp_path, modes):
    result = run_child(TWO_VIEWERS, tmp_path, *modes)
    assert result.returncode == 0, result.stderr
    assert sorted(os.listdir(tmp_path)) == ["0.png", "1.png", "2.png"]


def test_two_off_screen_viewers_without_a_display_draw_the_same_picture(tmp_path):
    result = run_child(TWO_VIEWERS, tmp_path, "off", "off", display=False)
    assert result.returncode == 0, result.stderr
    assert (tmp_path / "0.png").read_bytes() == (tmp_path / "1.png").read_bytes()


HOSTILE_SIZES = """
    from marnox.project import Project
    from marnox.sample import build_sample_cell
    from marnox.viewer import MAX_WINDOW_SIZE, ImageViewer, WorkspaceViewer

    def outcome(call):
        try:
            call()
        except Exception as error:
            return type(error).__name__
        return "ok"

    for size in [(-5, -5), (0, 10), (100000, 100000), (268435456, 1), (99999999999, 1)]:
        print(outcome(lambda: WorkspaceViewer(size=size)), outcome(lambda: ImageViewer(size=size)))
    print(outcome(lambda: WorkspaceViewer(size=(MAX_WINDOW_SIZE, 1))))

    workspace = WorkspaceViewer(size=(64, 48))
    workspace._size = (-5, -5)
    print(outcome(lambda: workspace.init(offscreen=True)))
    project = Project()
    build_sample_cell(project)
    images = ImageViewer(size=(64, 48))
    images.setProject(project)
    renderers = images._renderers
    images._size = (100000, 100000)
    print(outcome(lambda: images.setProject(Project())), images._renderers is renderers)
"""


def test_hostile_window_sizes_raise_value_error():
    result = run_child(HOSTILE_SIZES, display=False)
    assert result.returncode == 0, result.stderr
    assert result.stdout.splitlines() == ["ValueError ValueError"] * 5 + [
        "ok",
        "ValueError",
        "ValueError True",
    ]


OTHER_THREAD = """
    import sys, threading
    from marnox.project import Project
    from marnox.sample import build_sample_cell
    from marnox.viewer import ImageViewer, WorkspaceViewer

    project = Project()
    build_sample_cell(project)
    for viewer in (WorkspaceViewer(size=(64, 48)), ImageViewer(size=(64, 48))):
        viewer.setProject(project)
        viewer.init(offscreen=True)
        print(viewer._thread == threading.get_ident())
        calls = {
            "init": lambda: viewer.init(offscreen=True),
            "render": viewer.render,
            "spin": viewer.spin,
            "setProject": lambda: viewer.setProject(project),
            "screenshot": lambda: viewer.screenshot(sys.argv[1]),
            "stop": viewer.stop,
        }
        for name, call in calls.items():
            errors = []

            def worker():
                try:
                    call()
                except RuntimeError as error:
                    errors.append(str(error))

            thread = threading.Thread(target=worker)
            thread.start()
            thread.join()
            print(errors == [f"{name}() called from another thread: the window belongs to "
                             f"the thread that called init() (_thread {viewer._thread})"])
        viewer.screenshot(sys.argv[1])
        viewer.stop()
"""


def test_a_window_is_used_only_from_the_thread_that_called_init(tmp_path):
    result = run_child(OTHER_THREAD, tmp_path / "shot.png", display=False)
    assert result.returncode == 0, result.stderr
    assert result.stdout.split() == ["True"] * 14


NOT_A_RENDERER = """
    from vtkmodules.vtkRenderingCore import vtkActor
    from marnox.viewer import WorkspaceViewer

    for value in (None, vtkActor(), "renderer"):
        viewer = WorkspaceViewer(size=(64, 48))
        viewer._getRenderer = lambda: value
        try:
            viewer.init(offscreen=True)
        except TypeError as error:
            print(error)
"""


def test_init_refuses_a_get_renderer_that_returns_no_renderer():
    result = run_child(NOT_A_RENDERER, display=False)
    assert result.returncode == 0, result.stderr
    lines = result.stdout.splitlines()
    assert len(lines) == 3
    for line, name in zip(lines, ("NoneType", "vtkOpenGLActor", "str")):
        assert line.startswith("_getRenderer() must return a vtkRenderer, not ")
        assert line.endswith(name)

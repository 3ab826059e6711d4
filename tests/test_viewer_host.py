"""The workspace viewer's window host: init, spin, render and stop, on and off screen."""

import os
import subprocess
import sys

import pytest

import marnox.viewer
from marnox.project import Project
from marnox.sample import build_sample_cell
from marnox.viewer import WorkspaceViewer

TITLE = "Marnox Workspace Viewer"


class Log:
    """Fakes whose method calls land, in order, in one shared list."""

    def __init__(self):
        self.calls = []

    def fake(self, label):
        log = self

        class Fake:
            def IsA(self, name):
                return False

            def __getattr__(self, name):
                def method(*args):
                    log.calls.append((label, name, args))

                return method

        return Fake()

    def factory(self, label, made):
        def create():
            self.calls.append((label, "new", ()))
            made.append(self.fake(label))
            return made[-1]

        return create


class Steps(WorkspaceViewer):
    """Logs the viewer's own calls that init makes between the VTK steps."""

    log = None

    def render(self):
        self.log.calls.append(("self", "render", ()))

    def resetCamera(self):
        self.log.calls.append(("self", "resetCamera", ()))


@pytest.fixture
def faked(monkeypatch):
    """A viewer whose window, interactor and interactor style are fakes sharing one log."""
    log, interactors, styles = Log(), [], []
    monkeypatch.setattr(
        marnox.viewer, "vtkRenderWindowInteractor", log.factory("interactor", interactors)
    )
    monkeypatch.setattr(
        marnox.viewer, "vtkInteractorStyleTrackballCamera", log.factory("style", styles)
    )
    viewer = Steps(size=(320, 200))
    viewer.log = log
    viewer._window = log.fake("window")
    return viewer, log, interactors, styles


def test_on_screen_init_steps_in_order(faked):
    viewer, log, interactors, styles = faked
    viewer.init()
    (interactor,), (style,) = interactors, styles
    assert viewer._interactor is interactor
    assert log.calls == [
        ("interactor", "new", ()),
        ("style", "new", ()),
        ("interactor", "SetInteractorStyle", (style,)),
        ("interactor", "SetRenderWindow", (viewer._window,)),
        ("interactor", "Initialize", ()),
        ("window", "SetSize", ((320, 200),)),
        ("window", "AddRenderer", (viewer._ren,)),
        ("window", "Render", ()),
        ("window", "SetWindowName", (TITLE,)),
        ("self", "render", ()),
        ("self", "resetCamera", ()),
        ("self", "render", ()),
    ]


@pytest.mark.parametrize("offscreen", [True, "yes", 1])
def test_off_screen_init_steps_in_order(faked, offscreen):
    viewer, log, interactors, _ = faked
    viewer.init(offscreen)
    assert viewer._interactor is None and interactors == []
    assert [call[:2] for call in log.calls] == [
        ("window", "OffScreenRenderingOn"),
        ("window", "SetSize"),
        ("window", "AddRenderer"),
        ("window", "Render"),
        ("window", "SetWindowName"),
        ("self", "render"),
        ("self", "resetCamera"),
        ("self", "render"),
    ]


def test_render_pumps_events_then_draws_only_with_an_interactor():
    log = Log()
    viewer = WorkspaceViewer()
    viewer.render()
    viewer._interactor = log.fake("interactor")
    viewer.render()
    assert log.calls == [("interactor", "ProcessEvents", ()), ("interactor", "Render", ())]


@pytest.mark.parametrize("with_interactor", [False, True])
def test_stop_finalises_the_window_before_ending_the_loop(with_interactor):
    log = Log()
    viewer = WorkspaceViewer()
    viewer._window = log.fake("window")
    interactor = log.fake("interactor") if with_interactor else None
    viewer._interactor = interactor
    viewer.stop()
    expected = [("window", "Finalize", ())]
    if with_interactor:
        expected.append(("interactor", "TerminateApp", ()))
    assert log.calls == expected
    assert viewer._interactor is interactor


def test_spin_returns_at_once_without_an_interactor():
    viewer = WorkspaceViewer()
    viewer.spin()
    viewer.init(offscreen=True)
    viewer.spin()
    viewer.stop()


def test_a_failing_first_render_leaves_the_window_titled_and_unfitted(faked):
    viewer, log, _, _ = faked
    error = ValueError("hook failed")

    def render():
        raise error

    viewer.render = render
    with pytest.raises(ValueError) as caught:
        viewer.init(offscreen=True)
    assert caught.value is error
    assert log.calls[-1] == ("window", "SetWindowName", (TITLE,))


def sample_viewer(**kwargs):
    project = Project()
    build_sample_cell(project)
    viewer = WorkspaceViewer(size=(320, 240), **kwargs)
    viewer.setProject(project)
    return viewer


def test_init_on_screen_opens_a_titled_trackball_window_and_fits_the_camera(display):
    fits = []

    class Counting(WorkspaceViewer):
        def resetCamera(self):
            fits.append(self._cam.GetPosition())
            super().resetCamera()

    viewer = Counting(size=(320, 240))
    viewer.setProject(sample_viewer()._project)
    viewer.init(offscreen=0)
    try:
        assert viewer._window.GetWindowName() == TITLE
        assert tuple(viewer._window.GetSize()) == (320, 240)
        assert viewer._window.GetOffScreenRendering() == 0
        style = viewer._interactor.GetInteractorStyle()
        assert style.GetClassName() == "vtkInteractorStyleTrackballCamera"
        assert len(fits) == 1
        assert viewer._cam.GetPosition() != fits[0]
    finally:
        viewer.stop()


def test_spin_ends_when_a_timer_calls_stop(display):
    viewer = sample_viewer()
    viewer.init()
    ticks = []

    def on_timer(interactor, event):
        ticks.append(event)
        if len(ticks) == 3:
            viewer.stop()

    viewer._interactor.AddObserver("TimerEvent", on_timer)
    viewer._interactor.CreateRepeatingTimer(10)
    viewer.spin()
    assert len(ticks) == 3
    assert viewer._interactor is not None


def test_a_second_init_replaces_the_interactor(display):
    viewer = sample_viewer()
    viewer.init()
    first = viewer._interactor
    viewer.init(None)
    try:
        assert viewer._interactor is not first
        viewer.render()
    finally:
        viewer.stop()


@pytest.mark.parametrize("offscreen", [False, True])
def test_a_stopped_viewer_stays_closed_and_usable_as_a_scene(display, tmp_path, offscreen):
    viewer = sample_viewer(trajectory=True)
    viewer.init(offscreen)
    viewer.stop()
    frames = []
    viewer._updateToolForces = lambda: frames.append("hook")

    viewer.render()
    assert frames == ["hook"]
    assert not viewer._window.GetMapped()
    viewer.spin()
    viewer.setProject(viewer._project)
    viewer.zoom(2.0)
    viewer.setFocalPoint()
    viewer.resetCamera()
    viewer.stop()

    target = tmp_path / "after.png"
    with pytest.raises(RuntimeError, match="Window stopped, cannot take a screenshot"):
        viewer.screenshot(str(target))
    assert not target.exists()
    with pytest.raises(RuntimeError, match="Window stopped, cannot open it again"):
        viewer.init(offscreen)
    assert not viewer._window.GetMapped()


NO_DISPLAY_SCRIPT = """
import sys
from marnox.viewer import WorkspaceViewer
viewer = WorkspaceViewer(size=(64, 48))
try:
    viewer.init()
except RuntimeError as error:
    print(error)
print(viewer._interactor)
viewer.init(offscreen=True)
viewer.render()
viewer.screenshot(sys.argv[1])
"""


def test_without_a_display_init_on_screen_refuses_and_off_screen_works(tmp_path):
    target = tmp_path / "shot.png"
    env = {key: value for key, value in os.environ.items() if key != "DISPLAY"}
    result = subprocess.run(
        [sys.executable, "-c", NO_DISPLAY_SCRIPT, str(target)],
        env=env,
        capture_output=True,
        text=True,
        timeout=120,
    )
    assert result.returncode == 0, result.stderr
    assert result.stdout.splitlines() == [
        "No display to open the window on, use init(offscreen=True)",
        "None",
    ]
    assert target.read_bytes().startswith(b"\x89PNG")

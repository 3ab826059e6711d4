"""What keeps a viewer's window from taking the process down: actors shared by two windows,
hostile sizes, calls from other threads and a renderer that is not one. Each case runs in a
child process, where a crash is a failed test instead of the end of the run."""

import os
import subprocess
import sys
import textwrap

import numpy as np
import pytest
from vtkmodules.util import numpy_support
from vtkmodules.vtkIOImage import vtkJPEGReader, vtkPNGReader


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


WEB_VIEWS_BESIDE_A_VIEWER = """
    import asyncio, json, queue, sys, threading
    import aiohttp
    from marnox.project import Project
    from marnox.sample import build_sample_cell
    from marnox.viewer import WorkspaceViewer
    from marnox.web import WebView
    from marnox.web.messages import VIEW_NAMES

    out, order = sys.argv[1], sys.argv[2:]
    project = Project()
    build_sample_cell(project)
    own = WorkspaceViewer(size=(160, 120), trajectory=True, pointcloud=True)
    own.setProject(project)
    own.init(offscreen=True)
    own.screenshot(f"{out}/alone.png")

    def watched_view():
        # A started web view of the project, and the frames a browser receives from it.
        view = WebView(project, port=0, size=(160, 120))
        view.start()
        frames = queue.Queue()

        async def browse():
            async with aiohttp.ClientSession() as session:
                async with session.ws_connect(view.url + "ws") as socket:
                    async for message in socket:
                        if message.type != aiohttp.WSMsgType.BINARY:
                            continue
                        frames.put(message.data)
                        name = VIEW_NAMES[message.data[0]]
                        await socket.send_str(json.dumps({"type": "ack", "view": name}))

        threading.Thread(target=asyncio.run, args=(browse(),), daemon=True).start()
        return view, frames

    def web_frame(view, frames, path):
        # A turn of the camera makes the next capture a new picture, which the browser gets.
        view.workspace_viewer._cam.Azimuth(10)
        while True:
            view.update()
            try:
                frame = frames.get(timeout=0.05)
            except queue.Empty:
                continue
            if frame[0] == 0:
                with open(path, "wb") as file:
                    file.write(frame[1:])
                return

    views = {name: watched_view() for name in order if name != "own"}
    for step in range(2):
        for name in order:
            if name == "own":
                own.screenshot(f"{out}/own{step}.png")
            else:
                web_frame(*views[name], f"{out}/{name}{step}.jpg")
    for name, (view, _) in views.items():
        view.workspace_viewer.screenshot(f"{out}/{name}.png")
        view.stop()
"""


def picture(path):
    """The RGB pixels of a PNG or JPEG file, as a (height, width, 3) array of ints."""
    reader = vtkPNGReader() if path.suffix == ".png" else vtkJPEGReader()
    reader.SetFileName(str(path))
    reader.Update()
    image = reader.GetOutput()
    width, height, _ = image.GetDimensions()
    scalars = numpy_support.vtk_to_numpy(image.GetPointData().GetScalars())
    return scalars.reshape(height, width, -1)[..., :3].astype(int)


@pytest.mark.parametrize("order", [("web", "own"), ("own", "web"), ("web", "web_too")])
def test_web_views_and_a_viewer_of_one_project_draw_off_screen(tmp_path, order):
    pytest.importorskip("aiohttp", reason="marnox[web] is not installed")
    pytest.importorskip("simplejpeg", reason="marnox[web] is not installed")
    result = run_child(WEB_VIEWS_BESIDE_A_VIEWER, tmp_path, *order, display=False)
    assert result.returncode == 0, result.stderr
    alone = picture(tmp_path / "alone.png")
    for shot in tmp_path.glob("own*.png"):
        assert np.array_equal(picture(shot), alone)
    for name in order:
        if name == "own":
            continue
        # A browser's last frame is its web view's window as a screenshot draws it, but for
        # the few pixels at edges that JPEG blurs.
        web, expected = picture(tmp_path / f"{name}1.jpg"), picture(tmp_path / f"{name}.png")
        assert web.shape == expected.shape
        assert (np.abs(web - expected).max(axis=2) > 64).mean() < 0.01
        assert len(np.unique(web.reshape(-1, 3) // 32, axis=0)) > 3


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


CAMERAS_ON_ANOTHER_THREAD = """
    import threading
    import numpy as np
    from marnox.project import Project
    from marnox.sample import build_sample_cell
    from marnox.viewer import CameraRenderer

    project = Project()
    build_sample_cell(project)

    def on_a_thread(call):
        errors = []

        def worker():
            try:
                call()
            except RuntimeError as error:
                errors.append(str(error))

        thread = threading.Thread(target=worker)
        thread.start()
        thread.join()
        return errors

    mine = CameraRenderer(project)
    first = mine.render()
    for name, call in (("render", mine.render), ("setProject", lambda: mine.setProject(project))):
        print(on_a_thread(call) == [f"{name}() called from another thread: the renderer "
                                    f"belongs to the thread that first called render() "
                                    f"(thread {threading.get_ident()})"])
    for frame, was in zip(mine.render(), first, strict=True):
        print(np.array_equal(frame.depth, was.depth, equal_nan=True))
    # Made here, it belongs to the thread that draws first.
    theirs = CameraRenderer(project)
    print(on_a_thread(theirs.render))
    try:
        theirs.render()
    except RuntimeError:
        print("refused")
"""


def test_a_camera_renderer_draws_only_on_the_thread_that_drew_first():
    result = run_child(CAMERAS_ON_ANOTHER_THREAD, display=False)
    assert result.returncode == 0, result.stderr
    assert result.stdout.splitlines() == ["True"] * 4 + ["[]", "refused"]


OUT_OF_MEMORY = """
    import resource
    import sys
    import numpy as np
    from marnox.camera import Camera, Intrinsics
    from marnox.item import Item
    from marnox.pose import Pose
    from marnox.project import Project
    from marnox.viewer import CameraRenderer
    from marnox.visual import VisualBox

    project = Project()
    project.workspace().addItem(Item("box", Pose(), [VisualBox((0.5, 0.5, 0.5))]))
    small = Camera("small", Pose.lookAt((1, 1, 1), (0, 0, 0)), Intrinsics.fromFieldOfView(64, 48))
    project.workspace().addCamera(small)
    renderer = CameraRenderer(project)
    renderer.render()
    side = 16384
    cam = Camera("cam", Pose.lookAt((1, 1, 1), (0, 0, 0)), Intrinsics.fromFieldOfView(side, side))
    if sys.argv[1] == "distorted":
        cam.setDistortion((-0.2, 0.05, 0.0, 0.0, 0.0))
    project.workspace().addCamera(cam)
    with open("/proc/self/statm") as statm:
        mapped = int(statm.read().split()[0]) * resource.getpagesize()
    # Half a gigabyte more than now: less than one such image, or its distortion map, takes.
    resource.setrlimit(resource.RLIMIT_AS, (mapped + 2**29, resource.RLIM_INFINITY))
    try:
        renderer.render(["cam"])
    except MemoryError as error:
        print(error)
    resource.setrlimit(resource.RLIMIT_AS, (resource.RLIM_INFINITY, resource.RLIM_INFINITY))
    (frame,) = renderer.render(["small"])
    print(np.isfinite(frame.depth).any())
"""


@pytest.mark.skipif(bool(os.environ.get("MARNOX_SANITIZE")), reason="ASan reserves address space")
@pytest.mark.parametrize(
    "kind, message",
    [("pinhole", "Unable to allocate"), ("distorted", "camera 'cam': not enough memory")],
)
def test_a_camera_too_large_for_memory_raises_memory_error(kind, message):
    result = run_child(OUT_OF_MEMORY, kind, display=False)
    assert result.returncode == 0, result.stderr
    refusal, drawn = result.stdout.splitlines()
    assert refusal.startswith(message)
    assert drawn == "True"


AFTER_ANOTHER_WINDOW_GOES = """
    import gc, sys
    import numpy as np
    from marnox.project import Project
    from marnox.sample import build_sample_cell
    from marnox.viewer import CameraRenderer, WorkspaceViewer

    out, kind = sys.argv[1], sys.argv[2]
    project = Project()
    build_sample_cell(project)

    def open_other():
        if kind == "web":
            from marnox.web import WebView

            other = WebView(project, port=0, size=(160, 120))
            other.start()
            other.update()
        elif kind.startswith("viewer"):
            other = WorkspaceViewer(size=(160, 120))
            other.setProject(project)
            other.init(offscreen=True)
        else:
            other = CameraRenderer(project)
            other.render()
        return other

    def stop(other):
        if kind in ("viewer", "web"):
            other.stop()

    cameras = CameraRenderer(project)
    first = cameras.render()
    other = open_other()
    cameras.render()
    stop(other)
    del other
    gc.collect()
    for frame, was in zip(cameras.render(), first, strict=True):
        print(np.array_equal(frame.color, was.color), np.isfinite(frame.depth).any())
    # The other way round: a viewer that drew last keeps drawing once the other window goes.
    viewer = WorkspaceViewer(size=(160, 120))
    viewer.setProject(project)
    viewer.init(offscreen=True)
    viewer.screenshot(f"{out}/before.png")
    other = open_other()
    viewer.screenshot(f"{out}/before.png")
    stop(other)
    del other
    gc.collect()
    viewer.screenshot(f"{out}/after.png")
"""


@pytest.mark.parametrize("kind", ["viewer", "viewer-collected-unstopped", "web", "camera"])
def test_cameras_and_viewers_keep_drawing_after_another_window_goes(tmp_path, kind):
    if kind == "web":
        pytest.importorskip("aiohttp", reason="marnox[web] is not installed")
    result = run_child(AFTER_ANOTHER_WINDOW_GOES, tmp_path, kind, display=False)
    assert result.returncode == 0, result.stderr
    assert result.stdout.splitlines() == ["True True"] * 2
    assert (tmp_path / "before.png").read_bytes() == (tmp_path / "after.png").read_bytes()


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
    for line, name in zip(lines, ("NoneType", "vtkOpenGLActor", "str"), strict=True):
        assert line.startswith("_getRenderer() must return a vtkRenderer, not ")
        assert line.endswith(name)


BESIDE_THE_VIEWERS = """
    import sys
    import numpy as np
    from marnox.project import Project
    from marnox.sample import build_sample_cell
    from marnox.viewer import CameraRenderer, ImageViewer, WorkspaceViewer
    from marnox.web import WebView

    out, screen = sys.argv[1], sys.argv[2] == "on"
    project = Project()
    build_sample_cell(project)
    cameras = CameraRenderer(project)
    alone = cameras.render()
    viewer = WorkspaceViewer(size=(160, 120), trajectory=True, pointcloud=True)
    viewer.setProject(project)
    viewer.init(offscreen=not screen)
    images = ImageViewer(size=(160, 120))
    images.setProject(project)
    images.init(offscreen=not screen)
    web = WebView(project, port=0, size=(160, 120))
    web.start()
    for step in range(2):
        for draw in (viewer.render, images.render, web.update, cameras.render):
            draw()
        viewer.screenshot(f"{out}/viewer{step}.png")
        web.workspace_viewer.screenshot(f"{out}/web{step}.png")
        for mine, first in zip(cameras.render(), alone):
            assert np.array_equal(mine.color, first.color), mine.name
            assert np.array_equal(mine.depth, first.depth, equal_nan=True), mine.name
            assert np.array_equal(mine.labels, first.labels), mine.name
    web.stop()
    viewer.stop()
    images.stop()
"""


@pytest.mark.parametrize("screen", ["off", "on"])
def test_camera_renderer_beside_viewers_and_a_web_view_draws_as_alone(request, tmp_path, screen):
    pytest.importorskip("aiohttp", reason="marnox[web] is not installed")
    if screen == "on":
        request.getfixturevalue("display")
    result = run_child(BESIDE_THE_VIEWERS, tmp_path, screen, display=screen == "on")
    assert result.returncode == 0, result.stderr
    assert len(list(tmp_path.glob("*.png"))) == 4

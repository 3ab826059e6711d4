"""The web view in a real browser: Debian's headless Chromium, driven by Selenium.

Set MARNOX_WEB_SCREENSHOT=FILE.png to keep a picture of the page, MARNOX_EDIT_SCREENSHOT=FILE.png
one of a camera moved in a view that edits (the README's).
"""

import io
import os
import re
import shutil
import subprocess
import sys
import threading
import time

import numpy as np
import pytest

pytest.importorskip("aiohttp", reason="marnox[web] is not installed")
pytest.importorskip("simplejpeg", reason="marnox[web] is not installed")
Image = pytest.importorskip("PIL.Image", reason="Pillow is not installed")
webdriver = pytest.importorskip(
    "selenium.webdriver", reason="selenium is not installed (tools/install-deps.sh installs it)"
)

from selenium.webdriver.common.action_chains import ActionChains  # noqa: E402
from selenium.webdriver.common.actions.action_builder import ActionBuilder  # noqa: E402
from selenium.webdriver.common.actions.mouse_button import MouseButton  # noqa: E402
from selenium.webdriver.common.actions.wheel_input import ScrollOrigin  # noqa: E402
from selenium.webdriver.common.keys import Keys  # noqa: E402

from marnox.constants import MX_PROJECT_FILE_EXT  # noqa: E402
from marnox.project import Project  # noqa: E402
from marnox.sample import build_sample_cell  # noqa: E402
from marnox.viewer import WorkspaceViewer  # noqa: E402
from marnox.web import WebView  # noqa: E402
from marnox.web.capture import FrameGrabber  # noqa: E402
from marnox.web.messages import VIEW_NAMES  # noqa: E402

TIMEOUT = 120


@pytest.fixture(scope="module")
def browser():
    chromium, driver = shutil.which("chromium"), shutil.which("chromedriver")
    if chromium is None or driver is None:
        pytest.skip(
            "Debian's chromium and chromium-driver are not installed and could not be "
            "(tools/install-deps.sh installs them through apt-get)"
        )
    options = webdriver.ChromeOptions()
    options.binary_location = chromium
    for argument in ("--headless=new", "--no-sandbox", "--disable-dev-shm-usage"):
        options.add_argument(argument)
    options.add_argument("--window-size=1600,900")
    # A sanitizer run's preloads are for our process, not for the browser.
    environment = {k: v for k, v in os.environ.items() if k != "LD_PRELOAD"}
    service = webdriver.ChromeService(executable_path=driver, env=environment)
    session = webdriver.Chrome(options=options, service=service)
    yield session
    session.quit()


def frames(browser, view="workspace"):
    """The frames the page has drawn in ``view``."""
    return browser.execute_script(
        "const canvas = document.getElementById(arguments[0]);"
        "return canvas === null ? 0 : Number(canvas.dataset.frames);",
        view,
    )


def wait_for(condition, what, step=None, timeout=TIMEOUT):
    """Calls ``step`` (a user's loop) until ``condition()`` holds."""
    deadline = time.monotonic() + timeout
    while not condition():
        assert time.monotonic() < deadline, f"timed out waiting for {what}"
        if step is not None:
            step()
        else:
            time.sleep(0.1)


def pixels(browser, element_id):
    """What the page shows of an element, as (rows, columns, RGB) ints."""
    data = browser.find_element("id", element_id).screenshot_as_png
    return np.asarray(Image.open(io.BytesIO(data)).convert("RGB")).astype(int)


def count(picture, low, high):
    """Pixels whose red, green and blue lie in [low, high], channel by channel."""
    return int(np.all((picture >= low) & (picture <= high), axis=2).sum())


ORANGE = ((170, 50, 0), (255, 190, 80))
MAGENTA = ((170, 0, 170), (255, 90, 255))


@pytest.fixture(scope="module")
def served_page(browser, tmp_path_factory):
    project = Project()
    build_sample_cell(project)
    path = str(tmp_path_factory.mktemp("cell") / ("cell" + MX_PROJECT_FILE_EXT))
    project.save(path)
    # Leaving the block closes the pipe and waits for the process.
    with subprocess.Popen(
        [sys.executable, "-m", "marnox", "serve", path, "--port", "0"],
        stdout=subprocess.PIPE,
        text=True,
    ) as process:
        try:
            url = re.search(r"http://\S+/", process.stdout.readline()).group(0)
            browser.get(url)
            # The image grid's canvas shows with its first frame and takes its place beside
            # the workspace view: pictures taken before that are of another layout.
            wait_for(
                lambda: min(frames(browser, name) for name in VIEW_NAMES) >= 1, "the first frames"
            )
            yield browser
        finally:
            process.terminate()
            process.wait(timeout=60)


def test_served_page_shows_the_cell(served_page):
    picture = pixels(served_page, "workspace")
    # The background is a vertical gradient: a row's first pixel is its background colour.
    differs = np.abs(picture - picture[:, :1, :]).max(axis=2) > 40
    assert differs.mean() > 0.1
    assert count(picture, *ORANGE) > 2000


def left_drag(browser, element):
    ActionChains(browser).click_and_hold(element).move_by_offset(250, 60).release().perform()


def shift_drag(browser, element):
    chain = ActionChains(browser).key_down(Keys.SHIFT).click_and_hold(element)
    chain.move_by_offset(150, 80).release().key_up(Keys.SHIFT).perform()


def middle_drag(browser, element):
    builder = ActionBuilder(browser)
    builder.pointer_action.move_to(element)
    builder.pointer_action.pointer_down(MouseButton.MIDDLE)
    builder.pointer_action.move_by(-150, -60)
    builder.pointer_action.pointer_up(MouseButton.MIDDLE)
    builder.perform()


def wheel(browser, element):
    ActionChains(browser).scroll_from_origin(ScrollOrigin.from_element(element), 0, -600).perform()


@pytest.mark.parametrize("gesture", [left_drag, shift_drag, middle_drag, wheel])
def test_the_mouse_changes_the_picture(served_page, gesture):
    element = served_page.find_element("id", "workspace")
    before, drawn = pixels(served_page, "workspace"), frames(served_page)
    gesture(served_page, element)

    def changed():
        if frames(served_page) == drawn:
            return False
        return np.abs(pixels(served_page, "workspace") - before).mean() > 5

    wait_for(changed, "the picture to change")


def test_a_point_cloud_change_in_the_loop_reaches_the_page(browser, tmp_path):
    project = Project()
    build_sample_cell(project)
    with WebView(project, port=0) as view:
        browser.get(view.url)
        wait_for(
            lambda: min(frames(browser, name) for name in VIEW_NAMES) >= 1,
            "the first frames",
            view.update,
        )
        assert count(pixels(browser, "workspace"), *MAGENTA) == 0
        screenshot = os.environ.get("MARNOX_WEB_SCREENSHOT")
        if screenshot:
            browser.save_screenshot(screenshot)

        # A magenta cube of points above the table, as a sensor would report it.
        side = np.linspace(-0.1, 0.1, 15)
        cube = np.stack(np.meshgrid(side, side, side), axis=-1).reshape(-1, 3) + (0.35, 0, 0.8)
        project.system().setPointcloud(np.hstack([cube, np.tile((1.0, 0.0, 1.0), (len(cube), 1))]))
        wait_for(
            lambda: count(pixels(browser, "workspace"), *MAGENTA) > 500,
            "the new point cloud on the page",
            view.update,
        )


def test_the_timeline_slider_moves_the_picture_to_that_time(browser, tmp_path):
    from marnox.recording import Recorder

    project = Project()
    build_sample_cell(project)
    path = str(tmp_path / "magenta.mcap")
    side = np.linspace(-0.1, 0.1, 15)
    cube = np.stack(np.meshgrid(side, side, side), axis=-1).reshape(-1, 3) + (0.35, 0, 0.8)
    with Recorder(project, path) as recorder:
        plain = project.system().pointcloud()
        project.system().setPointcloud(np.hstack([cube, np.tile((1.0, 0.0, 1.0), (len(cube), 1))]))
        recorder.record(1.0)
        project.system().setPointcloud(plain)
        recorder.record(2.0)
    with subprocess.Popen(
        [sys.executable, "-m", "marnox", "replay", path, "--serve", "--port", "0"],
        stdout=subprocess.PIPE,
        text=True,
    ) as process:
        try:
            browser.get(re.search(r"http://\S+/", process.stdout.readline()).group(0))
            play = browser.find_element("id", "play")
            clock = browser.find_element("id", "clock")
            # The replay plays its two seconds once and stops at the end. Pausing it with the
            # button instead races with that end: a click that lands just after it restarts it.
            wait_for(
                lambda: play.text == "play" and clock.text == "2.00 / 2.00 s",
                "the replay to reach its end",
            )
            for time_, magenta in [(1.0, True), (0.0, False), (1.5, True), (2.0, False)]:
                browser.execute_script(
                    "const slider = document.getElementById('slider');"
                    "slider.value = arguments[0];"
                    "slider.dispatchEvent(new Event('input'));"
                    "slider.dispatchEvent(new Event('change'));",
                    time_,
                )
                wait_for(lambda: clock.text == f"{time_:.2f} / 2.00 s", f"the time {time_}")  # noqa: B023
                wait_for(
                    lambda: (count(pixels(browser, "workspace"), *MAGENTA) > 500) == magenta,  # noqa: B023
                    f"the picture at {time_} s",
                )
        finally:
            process.terminate()
            process.wait(timeout=60)


def test_a_drag_draws_fewer_pixels_then_the_still_picture(browser):
    project = Project()
    build_sample_cell(project)
    with WebView(project, port=0, images=False) as view:
        sent = []
        publish = view._server.publish
        view._server.publish = lambda index, frame: (sent.append(frame), publish(index, frame))
        browser.get(view.url)
        wait_for(lambda: frames(browser) >= 1, "the first frame", view.update)
        shown = pixels(browser, "workspace").shape
        drawn, sent[:] = frames(browser), []

        # A drag of small steps, as a hand makes, while the loop goes on; the button stays down.
        element = browser.find_element("id", "workspace")
        chain = ActionChains(browser).click_and_hold(element)
        for _ in range(20):
            chain.move_by_offset(10, 2).pause(0.05)
        dragging = threading.Thread(target=chain.perform)
        dragging.start()
        while dragging.is_alive():
            view.update()
            view.wait(0.02)
        wait_for(lambda: frames(browser) == drawn + len(sent), "the page to draw what was sent")
        moving = [Image.open(io.BytesIO(frame)).size for frame in sent]
        assert moving and all(w < 1280 and h < 800 for w, h in moving), moving
        picture = pixels(browser, "workspace")
        assert picture.shape == shown and picture.std() > 10

        ActionChains(browser).release().perform()
        wait_for(
            lambda: Image.open(io.BytesIO(sent[-1])).size == (1280, 800),
            "a full frame",
            view.update,
        )

        # The same camera in a viewer that never moved.
        still = WorkspaceViewer(size=(1280, 800), trajectory=True, pointcloud=True)
        still.setProject(project)
        still.init(offscreen=True)
        still._cam.DeepCopy(view.workspace_viewer._cam)
        expected = FrameGrabber(still._window).grab()
        still.stop()
        assert sent[-1] == expected


def fraction_of(view, point):
    """Where the workspace view shows a world point, in fractions of its width and height."""
    width, height = view.workspace_viewer._window.GetSize()
    m = view.workspace_viewer._cam.GetCompositeProjectionTransformMatrix(width / height, -1, 1)
    matrix = np.array([[m.GetElement(i, j) for j in range(4)] for i in range(4)])
    x, y, _, w = matrix @ np.append(point, 1.0)
    return (x / w + 1) / 2, (1 - y / w) / 2


def at(browser, fraction):
    """Selenium's offset from the workspace canvas's centre to a point given in fractions."""
    box = browser.execute_script(
        "const box = document.getElementById('workspace').getBoundingClientRect();"
        "return [box.width, box.height];"
    )
    return [round((f - 0.5) * side) for f, side in zip(fraction, box, strict=True)]


def click(browser, fraction):
    canvas = browser.find_element("id", "workspace")
    ActionChains(browser).move_to_element_with_offset(
        canvas, *at(browser, fraction)
    ).click().perform()


def ctrl_drag(browser, fraction, dx, dy, shift=False):
    canvas = browser.find_element("id", "workspace")
    chain = ActionChains(browser).key_down(Keys.CONTROL)
    if shift:
        chain.key_down(Keys.SHIFT)
    chain.move_to_element_with_offset(canvas, *at(browser, fraction)).click_and_hold()
    for _ in range(4):
        chain.move_by_offset(dx // 4, dy // 4).pause(0.05)
    chain.release()
    if shift:
        chain.key_up(Keys.SHIFT)
    chain.key_up(Keys.CONTROL).perform()


def open_page(browser, view, url=None):
    browser.get(url or view.url)
    wait_for(
        lambda: min(frames(browser, name) for name in VIEW_NAMES) >= 1,
        "the first frames",
        view.update,
    )


def red_box_top(project):
    return project.workspace().find("red_box").worldPose().transformPoints((0, 0, 0.08))


def test_a_click_names_the_node_on_the_page_and_in_picks(browser):
    project = Project()
    build_sample_cell(project)
    with WebView(project, port=0) as view:
        open_page(browser, view)
        assert browser.find_element("id", "editor").get_attribute("hidden") is not None
        click(browser, fraction_of(view, red_box_top(project)))
        selection = browser.find_element("id", "selection")
        wait_for(lambda: selection.text.startswith("table/red_box at ("), "the pick", view.update)
        [hit] = view.picks()
        assert hit.path == "table/red_box"
        np.testing.assert_allclose(hit.point, red_box_top(project), atol=0.01)
        # A click on the background picks nothing.
        click(browser, (0.02, 0.02))
        wait_for(lambda: selection.text == "nothing picked", "the miss", view.update)
        assert view.picks() == []


def test_editing_moves_nodes_and_cameras_undoes_and_saves(browser, tmp_path):
    project = Project()
    build_sample_cell(project)
    path = str(tmp_path / ("cell" + MX_PROJECT_FILE_EXT))
    workspace = project.workspace()
    box, camera = workspace.find("red_box"), workspace.getCameras()["camera_2"]
    with WebView(project, port=0, edit=True, path=path) as view:
        open_page(browser, view)
        click(browser, fraction_of(view, red_box_top(project)))
        field = browser.find_element("name", "x")
        wait_for(field.is_enabled, "the pose panel", view.update)

        field.clear()
        field.send_keys("0.1" + Keys.ENTER)
        wait_for(lambda: box.pose().position()[0] == 0.1, "x in the model", view.update)
        ctrl_drag(browser, fraction_of(view, red_box_top(project)), 80, 0)
        wait_for(lambda: box.pose().position()[0] != 0.1, "the dragged box", view.update)
        dragged = box.pose().position()
        assert dragged[2] == 0.5
        ctrl_drag(browser, fraction_of(view, red_box_top(project)), 0, -40, shift=True)
        wait_for(lambda: box.pose().position()[2] > 0.5, "the lifted box", view.update)
        moved = box.pose()
        assert moved.position()[:2] == pytest.approx(dragged[:2])

        click(browser, fraction_of(view, camera.worldPose().position()))
        selection = browser.find_element("id", "selection")
        wait_for(lambda: selection.text.startswith("camera_2 at"), "the camera", view.update)
        before, grid = camera.pose(), pixels(browser, "images")
        ctrl_drag(browser, fraction_of(view, camera.worldPose().position()), -60, 0)

        def image_changed():
            return np.abs(pixels(browser, "images") - grid).mean() > 2

        wait_for(image_changed, "the camera's new image", view.update)
        assert not camera.pose().isClose(before)
        screenshot = os.environ.get("MARNOX_EDIT_SCREENSHOT")
        if screenshot:
            # Once the camera rests, every view is drawn in full.
            end = time.monotonic() + 1.5
            wait_for(lambda: time.monotonic() > end, "the full frames", view.update)
            browser.save_screenshot(screenshot)

        browser.execute_script("document.activeElement.blur()")
        ActionChains(browser).key_down(Keys.CONTROL).send_keys("z").key_up(Keys.CONTROL).perform()
        wait_for(lambda: camera.pose().isClose(before), "the undo", view.update)

        browser.find_element("id", "save").click()
        saved = browser.find_element("id", "saved")
        wait_for(lambda: saved.text == "saved " + os.path.basename(path), "the save", view.update)
    loaded = Project()
    loaded.load(path)
    assert loaded.workspace().find("red_box").pose().isClose(moved)
    assert loaded.workspace().getCameras()["camera_2"].pose().isClose(before)


@pytest.mark.parametrize(
    "edit, reason", [(True, "editing needs the page's token"), (False, "this view does not edit")]
)
def test_edits_without_the_token_or_without_editing_close_the_socket(browser, edit, reason):
    project = Project()
    build_sample_cell(project)
    box = project.workspace().find("red_box")
    before = box.pose()
    with WebView(project, port=0, edit=edit) as view:
        open_page(browser, view, view.url.split("?")[0])
        assert browser.find_element("id", "editor").get_attribute("hidden") is not None
        browser.execute_script(
            "send({type: 'pose', path: 'table/red_box', x: 0.3, y: 0, z: 0.5,"
            " roll: 0, pitch: 0, yaw: 0})"
        )
        status = browser.find_element("id", "status")
        wait_for(lambda: reason in status.text, "the socket to close", view.update)
        view.update()
    assert box.pose() is before


def test_serve_edit_prints_an_address_whose_page_edits_and_saves(
    browser, sample_cell_file, tmp_path
):
    path = str(tmp_path / ("cell" + MX_PROJECT_FILE_EXT))
    shutil.copy(sample_cell_file, path)
    project = Project()
    project.load(path)
    # Where the served view shows the red box: it starts where a new view of the cell does.
    view = WebView(project, port=0)
    red_box = fraction_of(view, red_box_top(project))
    view.stop()
    with subprocess.Popen(
        [sys.executable, "-m", "marnox", "serve", path, "--port", "0", "--edit"],
        stdout=subprocess.PIPE,
        text=True,
    ) as process:
        try:
            url = re.search(r"http://\S+/\?token=\S+", process.stdout.readline()).group(0)
            browser.get(url)
            # The image grid's first frame narrows the workspace view.
            wait_for(lambda: min(frames(browser, n) for n in VIEW_NAMES) >= 1, "the first frames")
            click(browser, red_box)
            field = browser.find_element("name", "x")
            wait_for(field.is_enabled, "the pose panel")
            field.clear()
            field.send_keys("0.1" + Keys.ENTER)
            ActionChains(browser).key_down(Keys.CONTROL).send_keys("s").key_up(
                Keys.CONTROL
            ).perform()
            saved = browser.find_element("id", "saved")
            wait_for(lambda: saved.text == "saved " + os.path.basename(path), "the save")
        finally:
            process.terminate()
            process.wait(timeout=60)
    project.load(path)
    assert project.workspace().find("red_box").pose().position()[0] == 0.1

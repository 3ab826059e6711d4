"""Moving a camera in the browser, and picking, against what the web view did before them.

A headless Chromium watches the demo cell at 1280x800 in a web view that edits. With
camera_1 selected, a Ctrl + drag circles it for a while; the page's frames per second of
the workspace view and of the image grid (which shows what the moving camera sees) are
set against the frames per second of a plain drag of the view's camera in a read-only
view, today's drag, in the same run. A pick, as update() makes it for a click, is timed
against one full frame of the workspace view (drawn, read back and encoded).
"""

import math
import shutil
import threading
import time

import numpy as np
from bench_web import _browser, _drag_run, _open_page, _settle
from harness import format_seconds, interleaved_medians

from marnox.project import Project
from marnox.sample import build_sample_cell
from marnox.web import WebView

SIZE = (1280, 800)
# The modifier bit of Ctrl in the DevTools protocol's mouse events.
CTRL = 2

_RECORD_DRAWS = """
window.benchDraws = {workspace: 0, images: 0};
for (const name of ["workspace", "images"]) {
  new MutationObserver(() => window.benchDraws[name]++)
    .observe(document.getElementById(name), {attributes: true, attributeFilter: ["data-frames"]});
}
"""


def _page_point(browser, fraction):
    box = browser.execute_script(
        "const box = document.getElementById('workspace').getBoundingClientRect();"
        "return [box.left, box.top, box.width, box.height];"
    )
    return box[0] + fraction[0] * box[2], box[1] + fraction[1] * box[3]


def _fraction_of(view, point):
    width, height = view.workspace_viewer._window.GetSize()
    m = view.workspace_viewer._cam.GetCompositeProjectionTransformMatrix(width / height, -1, 1)
    matrix = np.array([[m.GetElement(i, j) for j in range(4)] for i in range(4)])
    x, y, _, w = matrix @ np.append(point, 1.0)
    return (x / w + 1) / 2, (1 - y / w) / 2


def _mouse(browser, kind, x, y, modifiers=0, buttons=1):
    event = {
        "type": kind,
        "x": x,
        "y": y,
        "button": "left",
        "buttons": buttons,
        "clickCount": 1,
        "modifiers": modifiers,
    }
    browser.execute_cdp_cmd("Input.dispatchMouseEvent", event)


def _circle(browser, centre, seconds, modifiers):
    """The left button down at ``centre``, then a small circle, a move every 16 ms."""
    x, y = centre
    _mouse(browser, "mousePressed", x, y, modifiers)
    start = time.monotonic()
    while (elapsed := time.monotonic() - start) < seconds:
        angle = elapsed * 2.0
        _mouse(
            browser,
            "mouseMoved",
            x + 40 * math.sin(angle),
            y + 25 * (1 - math.cos(angle)),
            modifiers,
        )
        time.sleep(0.016)
    _mouse(browser, "mouseReleased", x, y, modifiers, buttons=0)


def _camera_drag_run(browser, seconds):
    """(workspace frames, image grid frames) drawn per second while camera_1 is dragged."""
    project = Project()
    build_sample_cell(project)
    camera = project.workspace().getCameras()["camera_1"]
    before = camera.pose()
    view = WebView(project, port=0, size=SIZE, edit=True)
    with view:
        _open_page(browser, view)
        _settle(view, browser)
        x, y = _page_point(browser, _fraction_of(view, camera.worldPose().position()))
        _mouse(browser, "mousePressed", x, y)
        _mouse(browser, "mouseReleased", x, y, buttons=0)
        deadline = time.monotonic() + 60
        while not browser.execute_script("return selected === 'camera_1'"):
            assert time.monotonic() < deadline, "the camera was not picked"
            view.update()
            view.wait(0.02)
        _settle(view, browser)
        browser.execute_script(_RECORD_DRAWS)
        driver = threading.Thread(target=_circle, args=(browser, (x, y), seconds, CTRL))
        start = time.perf_counter()
        driver.start()
        while driver.is_alive():
            view.update()
            view.wait(0.005)
        elapsed = time.perf_counter() - start
        draws = browser.execute_script("return window.benchDraws")
        _settle(view, browser)
    assert not camera.pose().isClose(before), "the drag did not move the camera"
    return draws["workspace"] / elapsed, draws["images"] / elapsed


def drag_rows(seconds=12.0):
    if shutil.which("chromium") is None or shutil.which("chromedriver") is None:
        print("bench_editing: no chromium/chromedriver, the browser rows are left out")
        return []
    browser = _browser()
    try:
        alone = _drag_run(browser, True, seconds)[0]
        workspace, images = _camera_drag_run(browser, seconds)
    finally:
        browser.quit()
    case = "Ctrl + drag of a camera in the browser, 1280x800"
    against = f"drag of the view's camera, {alone:.1f} /s"
    return [
        (f"{case}: workspace frames", f"{workspace:.1f} /s", against, alone / workspace, 2.0),
        (f"{case}: its image's frames", f"{images:.1f} /s", against, alone / images, 2.0),
    ]


def pick_rows(rounds=30):
    """A click's pick as update() makes it, against one full frame of the workspace view."""
    project = Project()
    build_sample_cell(project)
    view = WebView(project, port=0, size=SIZE)
    red_box = project.workspace().find("red_box").worldPose().transformPoints((0, 0, 0.08))
    fraction = _fraction_of(view, red_box)
    grabber = view._grabbers[0]
    camera = view.workspace_viewer._cam
    turn = [1.0]

    def frame():
        # A camera that moved, so that the frame is drawn anew.
        turn[0] = -turn[0]
        camera.Azimuth(turn[0] * 0.01)
        grabber.grab()

    def pick():
        view._editor._pick(*fraction)

    try:
        medians = interleaved_medians({"pick": pick, "frame": frame}, rounds)
    finally:
        view.stop()
    assert view.picks()[-1].path == "table/red_box"
    return [
        (
            "pick of a click, 1280x800",
            format_seconds(medians["pick"]),
            f"a full frame of the workspace view, {format_seconds(medians['frame'])}",
            medians["pick"] / medians["frame"],
            1.0,
        )
    ]


def rows():
    return pick_rows() + drag_rows()


if __name__ == "__main__":
    import os
    import sys

    from harness import print_table

    os.environ.setdefault("VTK_DEFAULT_OPENGL_WINDOW", "vtkEGLRenderWindow")
    print_table(rows())
    sys.exit(0)

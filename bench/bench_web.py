"""WebView.update() against the two viewers' render(), and frames delivered to a real browser.

Without a browser, update() is timed against the render() of its own two viewers. With one
headless Chromium watching the demo cell at 1280x800 and the point cloud changing on every
pass of the loop, the rows give the frames per second the page drew and update()'s time
against a loop that renders and captures both windows to memory, as PNG (what screenshot()
writes) and as JPEG (what the web view sends). Without Chromium, the browser rows are left
out and a line says why.

A continuous drag in that browser gives the frames the page draws per second and the median
time from a mouse move to the first drawn frame that shows it, with the workspace view's
frames at reduced resolution while the camera moves and, in the same run, without; the
process's CPU use then is the server's (its mouse driver's share is small). Last, the CPU
use of a ``serve`` process with the browser connected and nothing changing.
"""

import bisect
import math
import os
import re
import shutil
import statistics
import subprocess
import sys
import tempfile
import threading
import time

import numpy as np
from harness import format_seconds, interleaved_medians
from vtkmodules.vtkIOImage import vtkJPEGWriter, vtkPNGWriter
from vtkmodules.vtkRenderingCore import vtkWindowToImageFilter

from marnox.constants import MX_PROJECT_FILE_EXT
from marnox.project import Project
from marnox.sample import build_sample_cell
from marnox.web import WebView
from marnox.web.capture import JPEG_QUALITY


def _demo_view(size):
    project = Project()
    build_sample_cell(project)
    return project, WebView(project, port=0, size=size)


def idle_rows(calls=2000, rounds=15):
    """update() with no browser connected, per call, against the viewers' render()."""
    _, view = _demo_view((1280, 800))
    viewers = view._viewers
    with view:

        def update():
            for _ in range(calls):
                view.update()

        def render():
            for _ in range(calls):
                for viewer in viewers:
                    viewer.render()

        medians = interleaved_medians({"update": update, "render": render}, rounds)
    ratio = medians["update"] / medians["render"]
    measured = format_seconds(medians["update"] / calls)
    return [("WebView.update(), no browser", measured, "both viewers' render()", ratio, 1.05)]


def _memory_shot(window, writer):
    """screenshot()'s capture of ``window``, encoded to memory by ``writer`` instead of a file."""
    capture = vtkWindowToImageFilter()
    capture.SetInput(window)
    if isinstance(writer, vtkJPEGWriter):
        capture.SetInputBufferTypeToRGB()
        writer.SetQuality(JPEG_QUALITY)
    else:
        capture.SetInputBufferTypeToRGBA()
    capture.ReadFrontBufferOff()
    writer.WriteToMemoryOn()
    writer.SetInputConnection(capture.GetOutputPort())

    def shoot():
        capture.Modified()
        writer.Write()

    return shoot


def _browser():
    from selenium import webdriver

    options = webdriver.ChromeOptions()
    options.binary_location = shutil.which("chromium")
    for argument in ("--headless=new", "--no-sandbox", "--disable-dev-shm-usage"):
        options.add_argument(argument)
    options.add_argument("--window-size=1600,900")
    service = webdriver.ChromeService(executable_path=shutil.which("chromedriver"))
    return webdriver.Chrome(options=options, service=service)


def _workspace_frames(browser):
    return browser.execute_script(
        "const canvas = document.getElementById('workspace');"
        "return canvas === null ? 0 : Number(canvas.dataset.frames);"
    )


def _open_page(browser, view):
    """Opens the page of a started web view and waits for its first workspace frame."""
    browser.get(view.url)
    deadline = time.monotonic() + 120
    while _workspace_frames(browser) < 1:
        assert time.monotonic() < deadline, "the page drew no frame"
        view.update()
        view.wait(0.05)


def browser_rows(seconds=20.0, passes=5, rounds=5):
    """One browser watching while the point cloud changes on every pass of the loop."""
    if shutil.which("chromium") is None or shutil.which("chromedriver") is None:
        print("bench_web: no chromium/chromedriver, the browser rows are left out")
        return []
    project, view = _demo_view((1280, 800))
    points = project.system().pointcloud()
    rng = np.random.default_rng(3)

    def change():
        project.system().setPointcloud(points + rng.normal(0, 0.005, points.shape))

    def loop(shots=None):
        def one_pass():
            change()
            if shots is None:
                view.update()
                return
            for viewer, shoot in zip(view._viewers, shots, strict=True):
                viewer.render()
                shoot()

        return one_pass

    candidates = {"update": loop()}
    for name, writer in (("png", vtkPNGWriter), ("jpeg", vtkJPEGWriter)):
        candidates[name] = loop([_memory_shot(v._window, writer()) for v in view._viewers])
    browser = _browser()
    try:
        with view:
            _open_page(browser, view)
            before, start = _workspace_frames(browser), time.perf_counter()
            while time.perf_counter() - start < seconds:
                candidates["update"]()
            fps = (_workspace_frames(browser) - before) / (time.perf_counter() - start)
            medians = interleaved_medians(candidates, rounds, repeat=passes)
    finally:
        browser.quit()
    case = "WebView.update(), one browser, 1280x800"
    per_pass = fps * medians["update"]
    measured = format_seconds(medians["update"])
    return [
        (case, measured, "render() + PNG to memory", medians["update"] / medians["png"], None),
        (case, measured, "render() + JPEG to memory", medians["update"] / medians["jpeg"], None),
        ("frames the page drew, 1280x800", f"{fps:.1f} /s", "passes of the loop", per_pass, None),
    ]


# Records when the page draws a workspace frame, on the machine's clock as time.time() reads it.
_RECORD_DRAWS = """
const canvas = document.getElementById("workspace");
window.benchDraws = [];
new MutationObserver(() => window.benchDraws.push(performance.timeOrigin + performance.now()))
    .observe(canvas, { attributes: true, attributeFilter: ["data-frames"] });
const box = canvas.getBoundingClientRect();
return [box.left + box.width / 2, box.top + box.height / 2];
"""


def _settle(view, browser, seconds=1.0):
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        view.update()
        view.wait(0.02)


def _drag(browser, centre, seconds, dispatched):
    """Circles the mouse around ``centre`` with the left button down, a move every 16 ms."""

    def mouse(kind, x, y):
        event = {"type": kind, "x": x, "y": y, "button": "left", "buttons": 1, "clickCount": 1}
        browser.execute_cdp_cmd("Input.dispatchMouseEvent", event)

    x, y = centre
    mouse("mousePressed", x, y)
    start = time.monotonic()
    while (elapsed := time.monotonic() - start) < seconds:
        angle = elapsed * 2.0
        dispatched.append(time.time())
        mouse("mouseMoved", x + 150 * math.cos(angle), y + 100 * math.sin(angle))
        time.sleep(0.016)
    mouse("mouseReleased", x, y)


def _latencies(dispatched, adds, takes, publishes, draws):
    """Per mouse move: from its dispatch to the drawing of the first frame rendered after
    the server took the message that carried it."""
    result = []
    for moved in dispatched:
        arrived = bisect.bisect_left(adds, moved)
        if arrived == len(adds):
            break
        taken = bisect.bisect_left(takes, adds[arrived])
        if taken == len(takes):
            break
        frame = bisect.bisect_left(publishes, takes[taken])
        if frame >= len(draws):
            break
        result.append(draws[frame] - moved)
    return result


def _drag_run(browser, reduce, seconds, size=(1280, 800)):
    """(frames drawn per second, median latency, CPU cores) of one drag."""
    _, view = _demo_view(size)
    if not reduce:
        # Every frame whole: what the reduced frames are measured against.
        view._resolution.scale = lambda now: 1.0
    adds, takes, publishes = [], [], []
    add, take, publish = view._moves.add, view._moves.take, view._server.publish

    def logged_add(move):
        adds.append(time.time())
        add(move)

    def logged_take():
        taken = take()
        if taken is not None:
            takes.append(time.time())
        return taken

    def logged_publish(index, frame):
        if index == 0:
            publishes.append(time.time())
        publish(index, frame)

    with view:
        _open_page(browser, view)
        _settle(view, browser)
        centre = browser.execute_script(_RECORD_DRAWS)
        view._moves.add, view._moves.take, view._server.publish = (
            logged_add,
            logged_take,
            logged_publish,
        )
        dispatched = []
        driver = threading.Thread(target=_drag, args=(browser, centre, seconds, dispatched))
        wall, cpu = time.perf_counter(), time.process_time()
        driver.start()
        while driver.is_alive():
            view.update()
            view.wait(0.005)
        wall, cpu = time.perf_counter() - wall, time.process_time() - cpu
        _settle(view, browser)
        draws = [t / 1000 for t in browser.execute_script("return window.benchDraws")]
    during = [t for t in draws if dispatched[0] <= t <= dispatched[-1]]
    fps = len(during) / (dispatched[-1] - dispatched[0])
    latencies = _latencies(dispatched, adds, takes, publishes, draws)
    return fps, statistics.median(latencies), cpu / wall


def _idle_cpu(browser, seconds):
    """The share of a core that ``serve`` takes with a browser connected and nothing changing."""
    project, _ = _demo_view((64, 48))
    with tempfile.TemporaryDirectory() as folder:
        path = os.path.join(folder, "cell" + MX_PROJECT_FILE_EXT)
        project.save(path)
        command = [sys.executable, "-m", "marnox", "serve", path, "--port", "0"]
        with subprocess.Popen(command, stdout=subprocess.PIPE, text=True) as server:
            try:
                browser.get(re.search(r"http://\S+/", server.stdout.readline()).group(0))
                deadline = time.monotonic() + 120
                while _workspace_frames(browser) < 1:
                    assert time.monotonic() < deadline, "the page drew no frame"
                    time.sleep(0.1)
                time.sleep(5)
                ticks = _cpu_ticks(server.pid)
                time.sleep(seconds)
                used = (_cpu_ticks(server.pid) - ticks) / os.sysconf("SC_CLK_TCK")
            finally:
                server.terminate()
    return used / seconds


def _cpu_ticks(pid):
    """User and system time of process ``pid``, in clock ticks."""
    with open(f"/proc/{pid}/stat") as stat:
        fields = stat.read().rsplit(")", 1)[1].split()
    return int(fields[11]) + int(fields[12])


def drag_rows(seconds=15.0, idle_seconds=10.0):
    """A continuous drag with and without reduced resolution, and a connected idle browser."""
    if shutil.which("chromium") is None or shutil.which("chromedriver") is None:
        return []
    browser = _browser()
    try:
        reduced = _drag_run(browser, True, seconds)
        full = _drag_run(browser, False, seconds)
        idle = _idle_cpu(browser, idle_seconds)
    finally:
        browser.quit()
    case = "drag in the browser, 1280x800"
    return [
        (
            f"{case}: frames drawn",
            f"{reduced[0]:.1f} /s",
            f"full resolution, {full[0]:.1f} /s",
            full[0] / reduced[0],
            1 / 3,
        ),
        (
            f"{case}: move to drawn frame, median",
            f"{reduced[1] * 1e3:.0f} ms, server {reduced[2]:.2f} cores",
            f"full resolution, {full[1] * 1e3:.0f} ms, server {full[2]:.2f} cores",
            reduced[1] / full[1],
            None,
        ),
        (
            "server CPU, a browser connected, idle",
            f"{idle * 100:.2f} % of a core",
            "one core",
            idle,
            0.02,
        ),
    ]


def rows():
    return idle_rows() + browser_rows() + drag_rows()

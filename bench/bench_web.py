"""WebView.update() against the two viewers' render(), and frames delivered to a real browser.

Without a browser, update() is timed against the render() of its own two viewers. With one
headless Chromium watching the demo cell at 1280x800 and the point cloud changing on every
pass of the loop, the rows give the frames per second the page drew and update()'s time
against a loop that renders and captures both windows to memory, as PNG (what screenshot()
writes) and as JPEG (what the web view sends). Without Chromium, the browser rows are left
out and a line says why.
"""

import shutil
import time

import numpy as np
from harness import format_seconds, interleaved_medians
from vtkmodules.vtkIOImage import vtkJPEGWriter, vtkPNGWriter
from vtkmodules.vtkRenderingCore import vtkWindowToImageFilter

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


def _frames(browser):
    return browser.execute_script(
        "const canvas = document.getElementById('workspace');"
        "return canvas === null ? 0 : Number(canvas.dataset.frames);"
    )


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
            browser.get(view.url)
            deadline = time.monotonic() + 120
            while _frames(browser) < 1:
                assert time.monotonic() < deadline, "the page drew no frame"
                view.update()
            before, start = _frames(browser), time.perf_counter()
            while time.perf_counter() - start < seconds:
                candidates["update"]()
            fps = (_frames(browser) - before) / (time.perf_counter() - start)
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


def rows():
    return idle_rows() + browser_rows()

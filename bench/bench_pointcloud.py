"""Point clouds of sensor size (200k to 10M coloured float32 points) over the demo cell.

For each size, against straightforward VTK measured in the same run:

- content: ``setPointcloud`` + ``render()`` of a new cloud, against deep copies of its
  positions and byte colours into a polydata through ``numpy_to_vtk`` and ``Modified()``;
- drawn frame: the WorkspaceViewer's window (1280x800, off screen) drawn and read back,
  against the same window drawing the same cloud as a plain polydata of vertices, 3-pixel
  points, in place of the viewer's own;
- resident growth of a drawn cloud (each in a child process), against the plain polydata's,
  and as a multiple of the cloud's own (N, 6) float32 array;
- frames per second a headless Chromium draws while dragging the web view, against the
  same drag of the cell without a cloud.

Last, a 5M-point cloud that changes once a second, recorded ten times a second: how far
behind the recorder's writer is when the recording closes.

Run as ``python bench/bench_pointcloud.py [points ...]``.
"""

import json
import os
import shutil
import subprocess
import sys
import tempfile
import threading
import time

import numpy as np
from harness import format_seconds, interleaved_medians
from vtkmodules.util import numpy_support
from vtkmodules.vtkCommonCore import vtkPoints, vtkUnsignedCharArray
from vtkmodules.vtkCommonDataModel import vtkCellArray, vtkPolyData
from vtkmodules.vtkRenderingCore import vtkActor, vtkPolyDataMapper

from marnox.project import Project
from marnox.sample import TABLE_CENTER, TABLE_HEIGHT, TABLE_SIZE, build_sample_cell
from marnox.viewer import WorkspaceViewer

SIZES = (200_000, 1_000_000, 5_000_000, 10_000_000)
WINDOW = (1280, 800)
RECORDED_POINTS = 5_000_000


def cloud(count, seed):
    """``count`` coloured points over the table, (N, 6) float32."""
    rng = np.random.default_rng(seed)
    out = np.empty((count, 6), np.float32)
    out[:, :2] = rng.uniform(-0.5, 0.5, (count, 2)) * TABLE_SIZE + TABLE_CENTER
    out[:, 2] = TABLE_HEIGHT + rng.uniform(0.0, 0.3, count)
    out[:, 3:] = rng.random((count, 3), np.float32)
    return out


def _byte_colours(values):
    return np.clip(values[:, 3:] * 255.0 + 0.5, 0, 255).astype(np.uint8)


def plain_polydata():
    """What a VTK user would draw a cloud with: points, byte colours and a vertex per point."""
    data = vtkPolyData()
    data.SetPoints(vtkPoints())
    data.SetVerts(vtkCellArray())
    return data


def plain_update(data, values):
    """The straightforward update: deep copies through numpy_to_vtk, then Modified()."""
    data.GetPoints().SetData(numpy_support.numpy_to_vtk(values[:, :3], deep=True))
    colours = numpy_support.numpy_to_vtk(
        _byte_colours(values), deep=True, array_type=vtkUnsignedCharArray().GetDataType()
    )
    data.GetPointData().SetScalars(colours)
    ids = numpy_support.numpy_to_vtkIdTypeArray(np.arange(len(values), dtype=np.int64), deep=True)
    data.GetVerts().SetData(1, ids)
    data.Modified()


def plain_actor(data):
    mapper = vtkPolyDataMapper()
    mapper.SetInputData(data)
    mapper.SetScalarModeToUsePointData()
    actor = vtkActor()
    actor.SetMapper(mapper)
    actor.GetProperty().SetPointSize(3)
    return actor


def demo_viewer(pointcloud=True):
    project = Project()
    build_sample_cell(project)
    viewer = WorkspaceViewer(size=WINDOW, trajectory=True, pointcloud=pointcloud)
    viewer.setProject(project)
    viewer.init(offscreen=True)
    return project, viewer


def _draw(window):
    """Draws ``window`` and waits for the picture, as a capture does."""
    window.Render()
    window.GetPixelData(0, 0, 0, 0, 0, vtkUnsignedCharArray(), 0)


def size_rows(count, rounds):
    project, viewer = demo_viewer()
    system = project.system()
    clouds = [cloud(count, seed) for seed in (1, 2)]
    plain = plain_polydata()
    turn = iter(range(10**9))

    def ours():
        system.setPointcloud(clouds[next(turn) % 2])
        viewer.render()

    def straightforward():
        plain_update(plain, clouds[next(turn) % 2])

    content = interleaved_medians({"ours": ours, "plain": straightforward}, rounds)

    # Drawn frames: the same cloud, the viewer's overlay against the plain polydata.
    system.setPointcloud(clouds[0])
    viewer.render()
    plain_update(plain, clouds[0])
    overlay, baseline = viewer._pointcloud._getActor(), plain_actor(plain)
    viewer._ren.AddActor(baseline)
    window, camera = viewer._window, viewer._cam

    def frame(shown, hidden):
        def draw():
            shown.VisibilityOn()
            hidden.VisibilityOff()
            camera.Azimuth(0.2)
            _draw(window)

        return draw

    frame(overlay, baseline)()
    frame(baseline, overlay)()
    drawn = interleaved_medians(
        {"ours": frame(overlay, baseline), "plain": frame(baseline, overlay)}, 3
    )
    viewer.stop()
    label = f"{count:,} points"
    return [
        (
            f"point cloud content, {label}",
            format_seconds(content["ours"]),
            "numpy_to_vtk deep copies",
            content["ours"] / content["plain"],
            1.0,
        ),
        (
            f"point cloud drawn frame, {label}",
            format_seconds(drawn["ours"]),
            f"plain vertices, {format_seconds(drawn['plain'])}",
            drawn["ours"] / drawn["plain"],
            1.2,
        ),
    ]


def _resident():
    with open("/proc/self/status") as status:
        for line in status:
            if line.startswith("VmRSS:"):
                return int(line.split()[1]) * 1024
    raise RuntimeError("no VmRSS")


def child_growth(kind, count, updates):
    """Resident growth of a drawn cloud, then over ``updates`` changing ones (bytes)."""
    project, viewer = demo_viewer(pointcloud=kind == "ours")
    _draw(viewer._window)
    clouds = [cloud(count, seed) for seed in (1, 2)]
    if kind == "ours":

        def show(values):
            project.system().setPointcloud(values)
            viewer.render()

    else:
        data = plain_polydata()
        viewer._ren.AddActor(plain_actor(data))

        def show(values):
            plain_update(data, values)

    # A few points first: the rasteriser compiles the cloud's shaders once, whatever its size.
    show(cloud(10, 0))
    _draw(viewer._window)
    start = _resident()
    show(clouds[0])
    _draw(viewer._window)
    drawn = _resident()
    for update in range(updates):
        show(clouds[update % 2])
        _draw(viewer._window)
    return drawn - start, _resident() - drawn


def growth_rows(count, updates=4):
    def run(kind):
        out = subprocess.run(
            [sys.executable, __file__, "--growth", kind, str(count), str(updates)],
            capture_output=True,
            text=True,
            check=True,
        )
        return json.loads(out.stdout.strip().splitlines()[-1])

    ours, plain = run("ours"), run("plain")
    array = count * 6 * 4
    mib = 1 << 20
    label = f"{count:,} points"
    return [
        (
            f"point cloud resident growth, {label}",
            f"{ours[0] / mib:.0f} MiB ({ours[0] / array:.1f}x the array)",
            f"plain vertices, {plain[0] / mib:.0f} MiB",
            ours[0] / plain[0],
            None,
        ),
        (
            f"point cloud resident growth as arrays, {label}",
            f"{ours[0] / mib:.0f} MiB",
            f"(N, 6) float32, {array / mib:.0f} MiB",
            ours[0] / array,
            4.0,
        ),
        (
            f"point cloud resident growth over {updates} updates, {label}",
            f"{ours[1] / mib:+.0f} MiB",
            f"plain vertices, {plain[1] / mib:+.0f} MiB",
            ours[1] / array,
            0.05,
        ),
    ]


def _drag_fps(browser, count, seconds):
    import bench_web

    project, view = bench_web._demo_view(WINDOW)
    project.system().setPointcloud(cloud(count, 1) if count else np.zeros((0, 3)))
    with view:
        bench_web._open_page(browser, view)
        bench_web._settle(view, browser)
        centre = browser.execute_script(bench_web._RECORD_DRAWS)
        dispatched = []
        driver = threading.Thread(
            target=bench_web._drag, args=(browser, centre, seconds, dispatched)
        )
        driver.start()
        while driver.is_alive():
            view.update()
            view.wait(0.005)
        bench_web._settle(view, browser)
        draws = [t / 1000 for t in browser.execute_script("return window.benchDraws")]
    during = [t for t in draws if dispatched[0] <= t <= dispatched[-1]]
    return len(during) / (dispatched[-1] - dispatched[0])


def drag_rows(sizes, seconds=8.0):
    if shutil.which("chromium") is None or shutil.which("chromedriver") is None:
        print("bench_pointcloud: no chromium/chromedriver, the drag rows are left out")
        return []
    import bench_web

    browser = bench_web._browser()
    try:
        empty = _drag_fps(browser, 0, seconds)
        rows = []
        for count in sizes:
            fps = _drag_fps(browser, count, seconds)
            rows.append(
                (
                    f"drag in the browser, {count:,} points: frames drawn",
                    f"{fps:.1f} /s",
                    f"the cell without a cloud, {empty:.1f} /s",
                    empty / fps if fps else float("inf"),
                    None,
                )
            )
    finally:
        browser.quit()
    return rows


def recording_rows(seconds=6.0, rate=10.0):
    """A 5M-point cloud changing once a second, recorded ``rate`` times a second."""
    from marnox.recording import Recorder

    project = Project()
    build_sample_cell(project)
    clouds = [cloud(RECORDED_POINTS, seed) for seed in (1, 2)]
    with tempfile.TemporaryDirectory() as folder:
        recorder = Recorder(project, os.path.join(folder, "run.mcap"))
        start = time.monotonic()
        frame = 0
        while (now := time.monotonic() - start) < seconds:
            project.system().setPointcloud(clouds[int(now) % 2])
            recorder.record(now)
            frame += 1
            time.sleep(max(0.0, frame / rate - (time.monotonic() - start)))
        closing = time.monotonic()
        recorder.close()
        behind = time.monotonic() - closing
    return [
        (
            f"recording {RECORDED_POINTS:,} points changing once a second, {rate:.0f} frames/s",
            f"{behind:.2f} s behind at close, waited {recorder.waited}x",
            "one second",
            behind,
            1.0,
        )
    ]


def rows(sizes=SIZES):
    result = []

    def add(block):
        # The large clouds take minutes: what is measured shows as it comes.
        for row in block:
            print("bench_pointcloud:", *row[:4], file=sys.stderr, flush=True)
        result.extend(block)

    for count in sizes:
        add(size_rows(count, rounds=7 if count <= 1_000_000 else 3))
        add(growth_rows(count))
    add(drag_rows(sizes))
    add(recording_rows())
    return result


def main(argv):
    if argv[:1] == ["--growth"]:
        kind, count, updates = argv[1], int(argv[2]), int(argv[3])
        print(json.dumps(child_growth(kind, count, updates)))
        return 0
    from harness import print_table

    print_table(rows(tuple(int(size) for size in argv) or SIZES))
    return 0


if __name__ == "__main__":
    os.environ.setdefault("VTK_DEFAULT_OPENGL_WINDOW", "vtkEGLRenderWindow")
    sys.exit(main(sys.argv[1:]))

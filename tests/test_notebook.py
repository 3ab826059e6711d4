"""The notebook view in real kernels: a notebook run by nbclient, and the same notebook in a
real JupyterLab driven by Debian's headless Chromium through Selenium.

Set MARNOX_NOTEBOOK_SCREENSHOT=FILE.png to keep a picture of the notebook (the README's).
"""

import base64
import io
import json
import os
import shutil
import socket
import subprocess
import sys
import time
import urllib.request

import numpy as np
import pytest

pytest.importorskip("anywidget", reason="marnox[notebook] is not installed")
pytest.importorskip("aiohttp", reason="marnox[notebook] is not installed")
nbformat = pytest.importorskip("nbformat", reason="nbclient is not installed (marnox[test])")
nbclient = pytest.importorskip("nbclient", reason="nbclient is not installed (marnox[test])")
pytest.importorskip("ipykernel", reason="ipykernel is not installed (marnox[test])")
Image = pytest.importorskip("PIL.Image", reason="Pillow is not installed")

TIMEOUT = 180
ORANGE = ((170, 50, 0), (255, 190, 80))

SETUP = """\
from marnox.camera import imagesFromFrames
from marnox.notebook import View, show
from marnox.project import Project
from marnox.recording import Recorder, Recording
from marnox.sample import build_sample_cell
from marnox.viewer import CameraRenderer
project = Project()
build_sample_cell(project)
project.system().setImages(imagesFromFrames(CameraRenderer(project).render()))"""
VIEW = "view = View(project, size=(640, 400))\nview"
SHOWS = """\
show(project)
show(CameraRenderer(project).render())
with Recorder(project, "run.mcap") as recorder:
    recorder.record(0.0)
    recorder.record(1.0)
replay = show(Recording("run.mcap"))"""
MAGENTA = ((170, 0, 170), (255, 90, 255))
# A loop in a running cell: a magenta cube of points comes into the cell, a step at a time.
LOOP = """\
import numpy as np
side = np.linspace(-0.1, 0.1, 15)
cube = np.stack(np.meshgrid(side, side, side), axis=-1).reshape(-1, 3)
for height in np.linspace(2.0, 0.8, 30):
    points = cube + (0.35, 0, height)
    project.system().setPointcloud(np.hstack([points, np.tile((1.0, 0, 1.0), (len(points), 1))]))
    view.update()"""
CAMERA = (
    "from marnox.web import camera\n"
    "print('moved' if camera.home(view.workspace_viewer._cam) != view._start_camera else 'still')"
)


def write_notebook(folder):
    notebook = nbformat.v4.new_notebook()
    notebook.cells = [nbformat.v4.new_code_cell(code) for code in (SETUP, VIEW, SHOWS)]
    notebook.metadata["kernelspec"] = {"name": "python3", "display_name": "Python 3"}
    path = os.path.join(folder, "cell.ipynb")
    nbformat.write(notebook, path)
    return path


def count(picture, low, high):
    return int(np.all((picture >= low) & (picture <= high), axis=2).sum())


def png_pixels(data):
    return np.asarray(Image.open(io.BytesIO(data)).convert("RGB")).astype(int)


def shows_the_cell(picture):
    return count(picture, *ORANGE) > 1000 and picture.std() > 20


def test_a_run_notebook_keeps_the_widget_and_a_picture_of_the_cell(tmp_path):
    path = write_notebook(str(tmp_path))
    notebook = nbformat.read(path, as_version=4)
    nbclient.NotebookClient(
        notebook, timeout=TIMEOUT, kernel_name="python3", resources={"metadata": {"path": tmp_path}}
    ).execute()
    (view,) = notebook.cells[1].outputs
    model = view["data"]["application/vnd.jupyter.widget-view+json"]["model_id"]
    assert shows_the_cell(png_pixels(base64.b64decode(view["data"]["image/png"])))
    # The widget's saved state holds the picture too, for front ends that draw the widget.
    state = notebook.metadata["widgets"]["application/vnd.jupyter.widget-state+json"]
    (still,) = [b for b in state["state"][model]["buffers"] if b["path"] == ["_still"]]
    assert shows_the_cell(png_pixels(base64.b64decode(still["data"])))
    project, frames, replay = notebook.cells[2].outputs
    assert shows_the_cell(png_pixels(base64.b64decode(project["data"]["image/png"])))
    grid = png_pixels(base64.b64decode(frames["data"]["image/png"]))
    # Two cameras of 640x480, each a row of colour, depth and labels.
    assert grid.shape[:2] == (2 * 480 + 4, 3 * 640 + 2 * 4) and grid.std() > 20
    assert "application/vnd.jupyter.widget-view+json" in replay["data"]
    assert "image/png" in replay["data"]


@pytest.mark.parametrize(
    "call, error",
    [
        (lambda notebook, project: notebook.View(project, size=(0, 400)), ValueError),
        (lambda notebook, project: notebook.View(project, size=[640.0, 400]), ValueError),
        (lambda notebook, project: notebook.show("cell.mxproj"), TypeError),
        (lambda notebook, project: notebook.show([]), TypeError),
    ],
)
def test_bad_arguments_are_refused(call, error):
    import marnox.notebook
    from marnox.project import Project

    with pytest.raises(error):
        call(marnox.notebook, Project())


# JupyterLab in a browser.


def _free_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


def _get_json(url):
    with urllib.request.urlopen(url, timeout=10) as response:
        return json.load(response)


@pytest.fixture(scope="module")
def lab(tmp_path_factory):
    """A JupyterLab on 127.0.0.1 with a token, serving a folder with the notebook."""
    pytest.importorskip("jupyterlab", reason="JupyterLab is not installed (marnox[test])")
    folder = tmp_path_factory.mktemp("lab")
    write_notebook(str(folder))
    runtime = tmp_path_factory.mktemp("runtime")
    settings = tmp_path_factory.mktemp("settings")
    # No question about Jupyter's news over the notebook.
    notification = (
        settings / "@jupyterlab" / "apputils-extension" / "notification.jupyterlab-settings"
    )
    notification.parent.mkdir(parents=True)
    notification.write_text(json.dumps({"fetchNews": "false"}))
    # Every cell's output stays in the page, drawn, whichever cell running all of them
    # scrolls to last: the view's frames are counted on its canvas.
    tracker = settings / "@jupyterlab" / "notebook-extension" / "tracker.jupyterlab-settings"
    tracker.parent.mkdir(parents=True)
    tracker.write_text(json.dumps({"windowingMode": "none"}))
    port, token = _free_port(), "marnox-test-token"
    # A sanitizer run's preloads stay: the kernel loads the sanitized build.
    environment = dict(
        os.environ,
        JUPYTER_RUNTIME_DIR=str(runtime),
        JUPYTERLAB_SETTINGS_DIR=str(settings),
        JUPYTERLAB_WORKSPACES_DIR=str(tmp_path_factory.mktemp("workspaces")),
    )
    command = [
        sys.executable, "-m", "jupyterlab", "--no-browser", "--ServerApp.ip=127.0.0.1",
        f"--ServerApp.port={port}", "--ServerApp.port_retries=0",
        f"--IdentityProvider.token={token}", f"--ServerApp.root_dir={folder}",
        "--LabApp.expose_app_in_browser=True", "--allow-root",
        # Nothing from the network: no extension manager, no update check, no terminals.
        "--LabApp.extension_manager=readonly",
        "--LabApp.check_for_updates_class=jupyterlab.NeverCheckForUpdate",
        "--ServerApp.terminals_enabled=False",
    ]  # fmt: skip
    with subprocess.Popen(
        command, env=environment, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL
    ) as server:
        try:
            base = f"http://127.0.0.1:{port}"
            deadline = time.monotonic() + TIMEOUT
            while True:
                try:
                    _get_json(f"{base}/api/status?token={token}")
                    break
                except OSError:
                    assert server.poll() is None, "JupyterLab ended"
                    assert time.monotonic() < deadline, "JupyterLab did not start"
                    time.sleep(0.5)
            yield {"base": base, "token": token, "runtime": str(runtime)}
        finally:
            server.terminate()
            server.wait(timeout=60)


@pytest.fixture(scope="module")
def browser():
    chromium, driver = shutil.which("chromium"), shutil.which("chromedriver")
    if chromium is None or driver is None:
        pytest.skip("Debian's chromium and chromium-driver are not installed")
    webdriver = pytest.importorskip("selenium.webdriver", reason="selenium is not installed")
    options = webdriver.ChromeOptions()
    options.binary_location = chromium
    for argument in ("--headless=new", "--no-sandbox", "--disable-dev-shm-usage"):
        options.add_argument(argument)
    # The view draws a frame on the page's next animation frame: never throttled here.
    for argument in (
        "--disable-renderer-backgrounding",
        "--disable-background-timer-throttling",
        "--disable-backgrounding-occluded-windows",
    ):
        options.add_argument(argument)
    options.add_argument("--window-size=1400,1000")
    environment = {k: v for k, v in os.environ.items() if k != "LD_PRELOAD"}
    service = webdriver.ChromeService(executable_path=driver, env=environment)
    session = webdriver.Chrome(options=options, service=service)
    yield session
    session.quit()


def wait_for(condition, what, timeout=TIMEOUT):
    deadline = time.monotonic() + timeout
    while not (result := condition()):
        assert time.monotonic() < deadline, f"timed out waiting for {what}"
        time.sleep(0.2)
    return result


def frames(browser):
    return browser.execute_script(
        "const canvas = document.querySelector('canvas.marnox-workspace');"
        "return canvas === null ? 0 : Number(canvas.dataset.frames);"
    )


def canvas_pixels(browser):
    element = browser.find_element("css selector", "canvas.marnox-workspace")
    return png_pixels(element.screenshot_as_png)


def kernel_client(lab):
    """A client of the notebook's kernel, beside JupyterLab's."""
    from jupyter_client import BlockingKernelClient

    (session,) = _get_json(f"{lab['base']}/api/sessions?token={lab['token']}")
    client = BlockingKernelClient(
        connection_file=os.path.join(lab["runtime"], f"kernel-{session['kernel']['id']}.json")
    )
    client.load_connection_file()
    client.start_channels()
    return client


def run_in_kernel(client, code):
    """What ``code`` printed in the kernel."""
    printed = []

    def output(message):
        if message["msg_type"] == "stream":
            printed.append(message["content"]["text"])

    reply = client.execute_interactive(code, timeout=TIMEOUT, output_hook=output)
    assert reply["content"]["status"] == "ok", reply["content"]
    return "".join(printed).strip()


def listening_ports(pid):
    """The TCP ports process ``pid`` listens on."""
    inodes = set()
    for fd in os.listdir(f"/proc/{pid}/fd"):
        try:
            target = os.readlink(f"/proc/{pid}/fd/{fd}")
        except OSError:
            continue
        if target.startswith("socket:["):
            inodes.add(target[8:-1])
    ports = set()
    for table in ("tcp", "tcp6"):
        with open(f"/proc/{pid}/net/{table}") as lines:
            for line in list(lines)[1:]:
                fields = line.split()
                if fields[3] == "0A" and fields[9] in inodes:
                    ports.add(int(fields[1].rsplit(":", 1)[1], 16))
    return ports


@pytest.fixture(scope="module")
def notebook_page(lab, browser):
    """The notebook open in JupyterLab, every cell run and the view drawn; with a client of
    its kernel and the ports the kernel listened on before the cells ran."""
    if os.environ.get("MARNOX_SANITIZE"):
        # nbclient's tests run the sanitized build in a kernel; JupyterLab's under the
        # preloads did not draw its first frame within the timeout.
        pytest.skip("JupyterLab's kernel under the sanitizers' preloads is too slow")
    browser.get(f"{lab['base']}/lab/tree/cell.ipynb?token={lab['token']}")
    wait_for(
        lambda: browser.execute_script(
            "const app = window.jupyterapp;"
            "const panel = app && app.shell.currentWidget;"
            "return !!(panel && panel.sessionContext && panel.sessionContext.session"
            " && panel.sessionContext.session.kernel"
            " && panel.sessionContext.session.kernel.status === 'idle');"
        ),
        "the notebook's kernel",
    )
    browser.execute_script("window.jupyterapp.commands.execute('application:toggle-left-area')")
    client = kernel_client(lab)
    try:
        pid = int(run_in_kernel(client, "import os; print(os.getpid())"))
        ports = listening_ports(pid)
        browser.execute_script("window.jupyterapp.commands.execute('notebook:run-all-cells')")
        wait_for(lambda: frames(browser) >= 1, "the view's first frame")
        yield browser, client, pid, ports
    finally:
        client.stop_channels()


def test_the_notebook_shows_the_cell_and_the_mouse_turns_the_kernels_camera(notebook_page):
    from selenium.webdriver.common.action_chains import ActionChains

    browser, client, pid, ports = notebook_page
    wait_for(lambda: shows_the_cell(canvas_pixels(browser)), "the cell in the view")
    screenshot = os.environ.get("MARNOX_NOTEBOOK_SCREENSHOT")
    if screenshot:
        browser.save_screenshot(screenshot)
    assert run_in_kernel(client, CAMERA) == "still"

    before, drawn = canvas_pixels(browser), frames(browser)
    element = browser.find_element("css selector", "canvas.marnox-workspace")
    ActionChains(browser).click_and_hold(element).move_by_offset(200, 40).release().perform()
    wait_for(
        lambda: frames(browser) > drawn and np.abs(canvas_pixels(browser) - before).mean() > 5,
        "the picture to change",
    )
    assert run_in_kernel(client, CAMERA) == "moved"

    run_in_kernel(client, LOOP)
    wait_for(lambda: count(canvas_pixels(browser), *MAGENTA) > 300, "the loop's last points")
    # The frames and the mouse went through the kernel's own channels: the view listens on
    # no port of its own.
    assert listening_ports(pid) == ports


def test_the_replays_slider_reaches_the_kernel(notebook_page):
    browser = notebook_page[0]

    def clock():
        return browser.execute_script(
            "const clock = document.querySelector('.marnox-timeline span');"
            "return clock === null ? '' : clock.textContent;"
        )

    # The replay plays its one second once, then stops at its end.
    wait_for(lambda: clock() == "1.00 / 1.00 s", "the replay's end")
    browser.execute_script(
        "const slider = document.querySelector('.marnox-timeline input');"
        "slider.value = 0.25;"
        "slider.dispatchEvent(new Event('input'));"
        "slider.dispatchEvent(new Event('change'));"
    )
    wait_for(lambda: clock() == "0.25 / 1.00 s", "the time the slider asked for")

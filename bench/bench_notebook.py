"""The notebook view in a real JupyterLab against the web page, in the same run.

One headless Chromium drags the demo cell's workspace view (960x600) in a notebook open in a
JupyterLab started here, then in the web page of a WebView of the same cell and size; the
rows give the frames each page drew per second during the drag, and the ratio of the web
page's rate to the notebook's (the notebook should draw at least 0.8 times as many). Last,
the CPU use of the notebook's kernel while the notebook stays open and nothing moves.
Without Chromium or JupyterLab, the rows are left out and a line says why.
"""

import json
import os
import shutil
import socket
import subprocess
import sys
import tempfile
import threading
import time
import urllib.request

import bench_web

SIZE = (960, 600)
NOTEBOOK_CELLS = (
    "from marnox.notebook import View\n"
    "from marnox.project import Project\n"
    "from marnox.sample import build_sample_cell\n"
    "import os\n"
    "project = Project()\n"
    "build_sample_cell(project)\n"
    "print(os.getpid())",
    f"view = View(project, size={SIZE!r})\nview",
)
TOKEN = "marnox-bench-token"
_RECORD_DRAWS = bench_web._RECORD_DRAWS.replace(
    'document.getElementById("workspace")', 'document.querySelector("canvas.marnox-workspace")'
)


def _wait(condition, what, timeout=180):
    deadline = time.monotonic() + timeout
    while not (result := condition()):
        if time.monotonic() > deadline:
            raise RuntimeError(f"timed out waiting for {what}")
        time.sleep(0.2)
    return result


def _start_lab(folder):
    import nbformat

    notebook = nbformat.v4.new_notebook()
    notebook.cells = [nbformat.v4.new_code_cell(code) for code in NOTEBOOK_CELLS]
    notebook.metadata["kernelspec"] = {"name": "python3", "display_name": "Python 3"}
    nbformat.write(notebook, os.path.join(folder, "bench.ipynb"))
    settings = os.path.join(folder, ".settings", "@jupyterlab", "apputils-extension")
    os.makedirs(settings)
    with open(os.path.join(settings, "notification.jupyterlab-settings"), "w") as file:
        json.dump({"fetchNews": "false"}, file)
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        port = probe.getsockname()[1]
    environment = dict(
        os.environ,
        JUPYTER_RUNTIME_DIR=os.path.join(folder, ".runtime"),
        JUPYTERLAB_SETTINGS_DIR=os.path.join(folder, ".settings"),
        JUPYTERLAB_WORKSPACES_DIR=os.path.join(folder, ".workspaces"),
    )
    command = [
        sys.executable, "-m", "jupyterlab", "--no-browser", "--allow-root",
        "--ServerApp.ip=127.0.0.1", f"--ServerApp.port={port}", "--ServerApp.port_retries=0",
        f"--IdentityProvider.token={TOKEN}", f"--ServerApp.root_dir={folder}",
        "--LabApp.expose_app_in_browser=True", "--LabApp.extension_manager=readonly",
        "--LabApp.check_for_updates_class=jupyterlab.NeverCheckForUpdate",
        "--ServerApp.terminals_enabled=False",
    ]  # fmt: skip
    server = subprocess.Popen(
        command, env=environment, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL
    )
    base = f"http://127.0.0.1:{port}"

    def ready():
        try:
            with urllib.request.urlopen(f"{base}/api/status?token={TOKEN}", timeout=5):
                return True
        except OSError:
            return False

    _wait(ready, "JupyterLab")
    return server, base


def _kernel_pid(browser):
    """Runs the notebook's cells and returns the kernel's process id, which the first prints."""
    _wait(
        lambda: browser.execute_script(
            "const panel = window.jupyterapp && window.jupyterapp.shell.currentWidget;"
            "const kernel = panel && panel.sessionContext && panel.sessionContext.session"
            " && panel.sessionContext.session.kernel;"
            "return !!(kernel && kernel.status === 'idle');"
        ),
        "the notebook's kernel",
    )
    browser.execute_script("window.jupyterapp.commands.execute('application:toggle-left-area')")
    browser.execute_script("window.jupyterapp.commands.execute('notebook:run-all-cells')")
    text = _wait(
        lambda: browser.execute_script(
            "const out = document.querySelector('.jp-OutputArea-output pre');"
            "return out === null ? '' : out.textContent.trim();"
        ),
        "the kernel's process id",
    )
    return int(text)


def _notebook_frames(browser):
    return browser.execute_script(
        "const canvas = document.querySelector('canvas.marnox-workspace');"
        "return canvas === null ? 0 : Number(canvas.dataset.frames);"
    )


def _notebook_drag(browser, seconds):
    """Frames the notebook drew per second during a drag of ``seconds``."""
    _wait(lambda: _notebook_frames(browser) >= 1, "the notebook view's first frame")
    time.sleep(2)
    centre = browser.execute_script(
        "document.querySelector('canvas.marnox-workspace').scrollIntoView();" + _RECORD_DRAWS
    )
    dispatched = []
    driver = threading.Thread(target=bench_web._drag, args=(browser, centre, seconds, dispatched))
    driver.start()
    driver.join()
    draws = [t / 1000 for t in browser.execute_script("return window.benchDraws")]
    during = [t for t in draws if dispatched[0] <= t <= dispatched[-1]]
    return len(during) / (dispatched[-1] - dispatched[0])


def _idle_cpu(pid, seconds):
    time.sleep(3)
    ticks = bench_web._cpu_ticks(pid)
    time.sleep(seconds)
    return (bench_web._cpu_ticks(pid) - ticks) / os.sysconf("SC_CLK_TCK") / seconds


def rows(seconds=15.0, idle_seconds=10.0):
    if shutil.which("chromium") is None or shutil.which("chromedriver") is None:
        print("bench_notebook: no chromium/chromedriver, the notebook rows are left out")
        return []
    try:
        import anywidget  # noqa: F401
        import jupyterlab  # noqa: F401
    except ImportError as error:
        print(f"bench_notebook: no {error.name}, the notebook rows are left out")
        return []
    browser = bench_web._browser()
    try:
        with tempfile.TemporaryDirectory() as folder:
            server, base = _start_lab(folder)
            try:
                browser.get(f"{base}/lab/tree/bench.ipynb?token={TOKEN}")
                pid = _kernel_pid(browser)
                notebook = _notebook_drag(browser, seconds)
                idle = _idle_cpu(pid, idle_seconds)
            finally:
                server.terminate()
                server.wait(timeout=60)
        web = bench_web._drag_run(browser, True, seconds, size=SIZE)[0]
    finally:
        browser.quit()
    case = f"drag in JupyterLab, {SIZE[0]}x{SIZE[1]}: frames drawn"
    return [
        (case, f"{notebook:.1f} /s", f"the web page, {web:.1f} /s", web / notebook, 1.25),
        (
            "notebook kernel CPU, notebook open, idle",
            f"{idle * 100:.2f} % of a core",
            "one core",
            idle,
            0.02,
        ),
    ]


if __name__ == "__main__":
    from harness import print_table

    os.environ.setdefault("VTK_DEFAULT_OPENGL_WINDOW", "vtkEGLRenderWindow")
    print_table(rows())

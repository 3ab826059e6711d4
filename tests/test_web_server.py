"""The web view's server: only its own page, refusals of bad requests and messages,
camera moves from browsers, frames that never wait for a slow browser, and `serve`."""

import asyncio
import concurrent.futures
import json
import logging
import re
import signal
import socket
import struct
import subprocess
import sys
import textwrap
import threading
import time
import urllib.request

import numpy as np
import pytest

aiohttp = pytest.importorskip("aiohttp", reason="marnox[web] is not installed")
pytest.importorskip("simplejpeg", reason="marnox[web] is not installed")

from marnox.constants import MX_PROJECT_FILE_EXT  # noqa: E402
from marnox.project import Project  # noqa: E402
from marnox.sample import build_sample_cell  # noqa: E402
from marnox.web import WebView  # noqa: E402
from marnox.web.messages import VIEW_NAMES  # noqa: E402

SMALL = (160, 100)


@pytest.fixture(scope="module")
def view():
    project = Project()
    build_sample_cell(project)
    web_view = WebView(project, port=0, size=SMALL)
    web_view.start()
    yield web_view
    web_view.stop()


def run_client(view, client, timeout=60):
    """Runs the coroutine function ``client`` on a thread while this one calls update()."""
    outcome = {}

    def target():
        try:
            outcome["value"] = asyncio.run(asyncio.wait_for(client(), timeout))
        except BaseException as error:
            outcome["error"] = error

    thread = threading.Thread(target=target)
    thread.start()
    while thread.is_alive():
        view.update()
        view.wait(0.05)
    thread.join()
    if "error" in outcome:
        raise outcome["error"]
    return outcome.get("value")


def raw_status(view, request):
    """The status line the server answers ``request`` (bytes sent as they are) with."""
    with socket.create_connection(view._server.address, timeout=10) as connection:
        connection.sendall(request)
        answer = b""
        while b"\r\n" not in answer:
            chunk = connection.recv(4096)
            if not chunk:
                break
            answer += chunk
    return int(answer.split(b" ")[1])


HOST = b"Host: 127.0.0.1\r\n"
UPGRADE = (
    b"Upgrade: websocket\r\nConnection: Upgrade\r\n"
    b"Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\n\r\n"
)


@pytest.mark.parametrize(
    "request_bytes, status",
    [
        (b"GET / HTTP/1.1\r\n" + HOST + b"\r\n", 200),
        (b"GET /page.js HTTP/1.1\r\nHost: localhost:1\r\n\r\n", 200),
        (b"GET /../pyproject.toml HTTP/1.1\r\n" + HOST + b"\r\n", 404),
        (b"GET /%2e%2e/%2e%2e/etc/passwd HTTP/1.1\r\n" + HOST + b"\r\n", 404),
        (b"GET /page.js/../../../../etc/passwd HTTP/1.1\r\n" + HOST + b"\r\n", 404),
        (b"GET /static/page.js HTTP/1.1\r\n" + HOST + b"\r\n", 404),
        (b"GET /..%2f..%2fcli.py HTTP/1.1\r\n" + HOST + b"\r\n", 404),
        (b"POST / HTTP/1.1\r\n" + HOST + b"Content-Length: 5\r\n\r\nhello", 413),
        (b"GET / HTTP/1.1\r\n" + HOST + b"Transfer-Encoding: chunked\r\n\r\n5\r\nhello\r\n", 413),
        (b"GET /" + b"a" * 5000 + b" HTTP/1.1\r\n" + HOST + b"\r\n", 400),
        (b"GET / HTTP/1.1\r\n" + HOST + b"X-Big: " + b"b" * 10000 + b"\r\n\r\n", 400),
        (b"GET / HTTP/1.1\r\n" + HOST + b"".join(b"X-%d: 1\r\n" % i for i in range(100)), 400),
        (b"GET / HTTP/1.1\r\nHost: cell.example.com\r\n\r\n", 421),
        (b"GET /ws HTTP/1.1\r\n" + HOST + b"Origin: http://evil.example\r\n" + UPGRADE, 403),
    ],
)
def test_serves_only_its_own_page_and_refuses_bad_requests(view, request_bytes, status):
    assert raw_status(view, request_bytes) == status


@pytest.mark.parametrize(
    "send, close_code",
    [
        (lambda socket: socket.send_bytes(b"\x00rotate"), 1003),
        (lambda socket: socket.send_str("turn left"), 1008),
        (lambda socket: socket.send_str('{"type": "rotate", "dx": NaN, "dy": 0}'), 1008),
        (lambda socket: socket.send_str('{"type": "rotate", "dx": 1e999, "dy": 0}'), 1008),
        (lambda socket: socket.send_str('{"type": "zoom", "factor": 0}'), 1008),
        (lambda socket: socket.send_str('{"type": "setProject", "path": "/etc"}'), 1008),
        (lambda socket: socket.send_str('{"type": "reset", "pad": "' + "x" * 2000 + '"}'), 1009),
    ],
)
def test_malformed_websocket_messages_close_the_socket_and_leave_the_camera(view, send, close_code):
    camera = view.workspace_viewer._cam
    before = camera.GetPosition(), camera.GetFocalPoint(), camera.GetDistance()

    async def client():
        async with aiohttp.ClientSession() as session:
            async with session.ws_connect(view.url + "ws") as socket:
                await send(socket)
                while (await socket.receive()).type not in (
                    aiohttp.WSMsgType.CLOSE,
                    aiohttp.WSMsgType.CLOSED,
                    aiohttp.WSMsgType.CLOSING,
                ):
                    pass
                return socket.close_code

    assert run_client(view, client) == close_code
    view.update()
    assert (camera.GetPosition(), camera.GetFocalPoint(), camera.GetDistance()) == before


def test_an_ack_for_a_view_that_is_not_shown_closes_the_socket_quietly(caplog):
    async def client():
        async with aiohttp.ClientSession() as session:
            async with session.ws_connect(view.url + "ws") as socket:
                await socket.send_str('{"type": "ack", "view": "images"}')
                async for _ in socket:
                    pass
                return socket.close_code

    with (
        caplog.at_level(logging.INFO),
        WebView(Project(), port=0, size=SMALL, images=False) as view,
    ):
        assert run_client(view, client) == 1008
    assert [record.getMessage() for record in caplog.records if record.exc_info] == []


def camera_state(camera):
    return np.array(camera.GetPosition()), np.array(camera.GetFocalPoint()), camera.GetDistance()


@pytest.mark.parametrize(
    "moves, check",
    [
        (
            [{"type": "rotate", "dx": 0.2, "dy": 0.0}],
            lambda old, new: (
                not np.allclose(old[0], new[0])
                and np.allclose(old[1], new[1])
                and new[2] == pytest.approx(old[2])
            ),
        ),
        (
            [{"type": "pan", "dx": 0.1, "dy": 0.1}],
            lambda old, new: (
                np.allclose(new[0] - old[0], new[1] - old[1]) and not np.allclose(old[1], new[1])
            ),
        ),
        (
            [{"type": "zoom", "factor": 2.0}],
            lambda old, new: new[2] == pytest.approx(old[2] / 2) and np.allclose(old[1], new[1]),
        ),
        (
            [{"type": "rotate", "dx": 0.3, "dy": 0.2}, {"type": "reset"}],
            lambda old, new: np.allclose(old[0], new[0]) and np.allclose(old[1], new[1]),
        ),
    ],
    ids=["rotate", "pan", "zoom", "reset"],
)
def test_browser_moves_reach_the_camera_in_update(view, moves, check):
    position, focal_point = np.array(view._start_camera[0]), np.array(view._start_camera[1])
    start = position, focal_point, np.linalg.norm(position - focal_point)

    async def client():
        async with aiohttp.ClientSession() as session:
            async with session.ws_connect(view.url + "ws") as socket:
                for move in [{"type": "reset"}, *moves]:
                    await socket.send_str(json.dumps(move))

    run_client(view, client)
    view.update()
    assert check(start, camera_state(view.workspace_viewer._cam))


def pump(view, client, change, timeout=120):
    """run_client, with ``change()`` before every update() as a user's loop would."""

    def update():
        change()
        real_update()

    real_update = view.update
    view.update = update
    try:
        return run_client(view, client, timeout)
    finally:
        del view.update


def jitter(project):
    points = project.system().pointcloud()
    rng = np.random.default_rng(1)
    return lambda: project.system().setPointcloud(points + rng.normal(0, 0.01, points.shape))


def handshake(address, receive_buffer=None):
    connection = socket.socket()
    if receive_buffer is not None:
        connection.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, receive_buffer)
    connection.settimeout(10)
    connection.connect(address)
    connection.sendall(b"GET /ws HTTP/1.1\r\n" + HOST + UPGRADE)
    assert connection.recv(12) == b"HTTP/1.1 101"
    return connection


def masked(text):
    """``text`` as a client's WebSocket text frame (RFC 6455: clients mask what they send)."""
    payload, mask = text.encode(), b"\x01\x02\x03\x04"
    return (
        bytes((0x81, 0x80 | len(payload)))
        + mask
        + bytes(b ^ mask[i % 4] for i, b in enumerate(payload))
    )


def keep_acknowledging(connection):
    """A browser that says it drew every frame and never reads one: its frames pile up in
    the buffers until the server can send no more. Stops when cut off."""
    ack = masked(json.dumps({"type": "ack", "view": "workspace"}))

    def ask():
        try:
            while True:
                connection.sendall(ack)
                time.sleep(0.005)
        except OSError:
            return

    threading.Thread(target=ask, daemon=True).start()


def test_a_stalled_browser_does_not_hold_back_the_others(view):
    stalled = handshake(view._server.address)  # never reads, never acknowledges a frame

    async def client():
        frames = 0
        async with aiohttp.ClientSession() as session:
            async with session.ws_connect(view.url + "ws") as socket:
                while frames < 5:
                    message = await socket.receive()
                    if message.type != aiohttp.WSMsgType.BINARY:
                        continue
                    if message.data[0] == 0:
                        frames += 1
                    view_name = VIEW_NAMES[message.data[0]]
                    await socket.send_str(json.dumps({"type": "ack", "view": view_name}))
        return frames

    try:
        assert pump(view, client, jitter(view.workspace_viewer._project)) == 5
    finally:
        stalled.close()


def test_frames_are_sent_only_when_the_picture_changed():
    async def client():
        received = []
        async with aiohttp.ClientSession() as session:
            async with session.ws_connect(view.url + "ws") as socket:
                # The views, the cell as it is now, then silence while the loop keeps
                # calling update() on a cell that does not change.
                while len(received) < 6:
                    # The first frames may take long on a sanitized build; the two seconds
                    # of silence after them are what is tested.
                    try:
                        message = await socket.receive(timeout=2 if len(received) >= 3 else 60)
                    except asyncio.TimeoutError:
                        break
                    if message.type == aiohttp.WSMsgType.BINARY:
                        view_name = VIEW_NAMES[message.data[0]]
                        received.append(view_name)
                        await socket.send_str(json.dumps({"type": "ack", "view": view_name}))
                    elif message.type == aiohttp.WSMsgType.TEXT:
                        received.append(json.loads(message.data)["type"])
                    else:
                        received.append(message.type.name)
                        break
        return received

    # A view of its own: the shared one may still be showing the camera moves of the tests
    # before, at reduced size for a moment and then whole, rightly.
    project = Project()
    build_sample_cell(project)
    with WebView(project, port=0, size=SMALL) as view:
        received = run_client(view, client)
    assert sorted(received) == ["images", "views", "workspace"], received


def test_a_vanished_browser_is_forgotten(view):
    connections = [handshake(view._server.address) for _ in range(3)]
    for connection in connections:
        # Reset, not a goodbye: as when a laptop drops off the network.
        connection.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
        connection.close()

    async def client():
        while view._server._clients:
            await asyncio.sleep(0.05)

    pump(view, client, jitter(view.workspace_viewer._project), timeout=30)


def test_stop_cuts_off_a_browser_that_takes_frames_but_never_reads():
    project = Project()
    build_sample_cell(project)
    view = WebView(project, port=0, size=(1280, 800), images=False)
    view.start()
    try:
        connection = handshake(view._server.address, receive_buffer=4096)
        keep_acknowledging(connection)
        change, deadline = jitter(project), time.monotonic() + 120
        # Until the server's buffer for that browser is full and a frame waits to be sent.
        while not any(
            client.transport.get_write_buffer_size() > 2**16 for client in view._server._clients
        ):
            assert time.monotonic() < deadline, "the browser's buffers never filled"
            change()
            view.update()
    finally:
        view.stop()
    connection.close()


@pytest.mark.parametrize(
    "call, error",
    [
        (lambda p: WebView(p, size=(0, 10)), ValueError),
        (lambda p: WebView(p, size=[640]), ValueError),
        (lambda p: WebView(p, port=70000), ValueError),
        (lambda p: WebView(p, port="8080"), ValueError),
        (lambda p: WebView(p, host=""), ValueError),
    ],
)
def test_bad_arguments_are_refused_before_any_window_is_made(call, error):
    with pytest.raises(error):
        call(Project())


def test_update_from_another_thread_is_refused(view):
    with concurrent.futures.ThreadPoolExecutor(1) as pool:
        with pytest.raises(RuntimeError, match="thread"):
            pool.submit(view.update).result()


def serve(*arguments):
    return subprocess.Popen(
        [sys.executable, "-m", "marnox", "serve", *arguments],
        stdout=subprocess.PIPE,
        stderr=subprocess.PIPE,
        text=True,
    )


def test_serve_prints_the_url_and_ends_cleanly_on_ctrl_c(sample_cell_file):
    # Leaving the block closes the pipes and waits for the process.
    with serve(sample_cell_file, "--port", "0", "--size", "160", "100") as process:
        try:
            line = process.stdout.readline()
            url = re.search(r"http://127\.0\.0\.1:\d+/", line).group(0)
            with urllib.request.urlopen(url, timeout=30) as page:
                assert b"page.js" in page.read()
            process.send_signal(signal.SIGINT)
            assert process.wait(timeout=60) == 0
            assert process.stderr.read() == ""
        finally:
            process.kill()


@pytest.fixture
def busy_port():
    with socket.socket() as taken:
        taken.bind(("127.0.0.1", 0))
        taken.listen()
        yield str(taken.getsockname()[1])


@pytest.mark.parametrize(
    "arguments, reason",
    [
        (lambda f, port: [f, "--port", port], "in use"),
        # A documentation address (RFC 5737): on no interface of this machine.
        (lambda f, port: [f, "--host", "192.0.2.1", "--port", "0"], "192.0.2.1"),
        (lambda f, port: [f, "--port", "70000"], "--port 70000"),
        (lambda f, port: [f, "--size", "0", "100"], "--size 0 100"),
        (lambda f, port: [f, "--size", "20000", "10"], "--size 20000 10"),
        (lambda f, port: [f, "--host", "", "--port", "0"], "host"),
        (lambda f, port: [f + ".missing" + MX_PROJECT_FILE_EXT], "no such project file"),
    ],
    ids=["port in use", "foreign host", "bad port", "bad size", "huge size", "no host", "missing"],
)
def test_serve_refuses_what_it_cannot_do_in_one_line(
    sample_cell_file, busy_port, arguments, reason
):
    with serve(*arguments(sample_cell_file, busy_port)) as process:
        stdout, stderr = process.communicate(timeout=120)
    assert process.returncode == 2
    assert stderr.count("\n") == 1 and stderr.startswith("marnox: error: ") and reason in stderr
    assert stdout == ""


# A server in a process that may hold 256 descriptors, with the time a connection gets to
# become a WebSocket cut short; it saves the project on every line it reads.
HELD_BACK = """
    import resource, sys
    resource.setrlimit(resource.RLIMIT_NOFILE, (256, resource.getrlimit(resource.RLIMIT_NOFILE)[1]))
    from marnox.project import Project
    from marnox.web import WebView, server

    server.PLAIN_CONNECTION_SECONDS = 3.0
    project = Project()
    view = WebView(project, port=0, size=(64, 48), images=False)
    view.start()
    print(view.url, flush=True)
    for line in sys.stdin:
        try:
            project.save(sys.argv[1])
            print("saved", flush=True)
        except OSError as error:
            print(error, flush=True)
    view.stop()
"""


def test_half_sent_requests_take_neither_the_owners_descriptors_nor_the_log(tmp_path):
    child = subprocess.Popen(
        [sys.executable, "-c", textwrap.dedent(HELD_BACK), str(tmp_path / "a.mxproj")],
        stdin=subprocess.PIPE,
        stdout=subprocess.PIPE,
        stderr=subprocess.PIPE,
        text=True,
    )
    with child:
        try:
            url = child.stdout.readline().strip()
            address = re.search(r"//(.+):(\d+)/", url).groups()
            held = []
            for _ in range(300):
                try:
                    connection = socket.create_connection(address, timeout=1)
                    connection.sendall(b"GET / HTTP/1.1\r\n" + HOST + b"X-Slow: ")
                    held.append(connection)
                except OSError:
                    pass
            child.stdin.write("save\n")
            child.stdin.flush()
            assert child.stdout.readline() == "saved\n"
            time.sleep(4)
            with urllib.request.urlopen(url, timeout=30) as page:
                assert page.status == 200
            for connection in held:
                connection.close()
            child.stdin.close()
            assert child.wait(timeout=60) == 0
            # asyncio accepts a whole batch of waiting connections before any is refused, so
            # a burst may still run out for a moment: that is said once, not per client.
            assert child.stderr.read().count("out of system resource") <= 1
        finally:
            child.kill()

"""The HTTP and WebSocket side of a web view: aiohttp on a thread of its own.

This thread never touches VTK. It serves the page and its assets, checks what
browsers send, hands camera moves to :class:`PendingMoves`, and passes each browser
the newest frame of each view once the browser has drawn the one before: a slow
browser skips frames instead of queueing them, and a vanished one holds at most one.
"""

from __future__ import annotations

import asyncio
import concurrent.futures
import errno
import hmac
import ipaddress
import json
import logging
import threading
from importlib import resources

from aiohttp import WSMsgType, web
from aiohttp.http_exceptions import HttpProcessingError

from marnox.web.messages import EDIT_KINDS, TIMELINE_KINDS, BadMessage, parse

# Request path: file under static/ and its type. Nothing else is served.
ASSETS = {
    "/": ("index.html", "text/html"),
    "/page.js": ("page.js", "text/javascript"),
    "/page.css": ("page.css", "text/css"),
    "/editing.js": ("editing.js", "text/javascript"),
}
MAX_CLIENTS = 32
# Open connections of every kind, WebSockets included: room for MAX_CLIENTS browsers, and far
# below the descriptors a process may hold (often 1,024, sometimes 256), so that a client
# holding many connections cannot take the owner's.
MAX_CONNECTIONS = 64
# A connection that has not become a WebSocket by then is closed: the page and its assets
# take milliseconds, and a client that trickles a request's headers must not keep its slot.
PLAIN_CONNECTION_SECONDS = 10.0
# What a browser gets to take the closing handshake when the server stops; a browser that
# does not read its socket is cut off after it.
CLOSE_SECONDS = 1.0
# A running out of descriptors is reported once in this time, not once per waiting client.
RESOURCE_REPORT_SECONDS = 60.0
# Far above any path or header of the page, far below what could cost memory.
MAX_LINE = 2048
MAX_FIELD = 4096
MAX_HEADERS = 64
# Close codes of RFC 6455.
POLICY_VIOLATION = 1008
UNSUPPORTED_DATA = 1003
GOING_AWAY = 1001
HEADERS = {
    "Cache-Control": "no-store",
    "X-Content-Type-Options": "nosniff",
    "Content-Security-Policy": "default-src 'self'; connect-src 'self'; frame-ancestors 'none'",
    # The page's address may carry the editing token; no request it makes passes it on.
    "Referrer-Policy": "no-referrer",
}
LOOPBACK_NAMES = {"localhost"}


class _RefusedRequests(logging.Filter):
    """Drops the reports of requests that were refused as malformed or too large: they are
    answered with a 4xx status, and anyone who can reach the port could fill a log with them."""

    def filter(self, record):
        error = record.exc_info[1] if record.exc_info else None
        return not isinstance(error, HttpProcessingError)


LOG = logging.getLogger("marnox.web")
LOG.addFilter(_RefusedRequests())


def _is_loopback(host):
    if host in LOOPBACK_NAMES:
        return True
    try:
        return ipaddress.ip_address(host.strip("[]")).is_loopback
    except ValueError:
        return False


def _request_host(value):
    """The host name of a Host header or an Origin's netloc, without the port."""
    if value.startswith("["):
        return value[: value.find("]") + 1]
    return value.rsplit(":", 1)[0] if value.count(":") == 1 else value


class _Client:
    """One browser: per view, the newest frame it has not been sent and whether it may take one."""

    def __init__(self, socket, transport, views):
        self.socket = socket
        self.transport = transport
        self.pending = [None] * views
        self.ready = [True] * views
        self.wake = asyncio.Event()
        self.sender = None
        # The newest timeline text it has not been sent.
        self.note = None
        # The newest text of each other kind it has not been sent (a selection, a save).
        self.texts = {}
        # Whether it presented the token of a view that edits.
        self.editor = False


class _Refused(asyncio.Protocol):
    """A connection beyond MAX_CONNECTIONS, closed as soon as it is accepted."""

    def connection_made(self, transport):
        transport.abort()


class _Connection(asyncio.Protocol):
    """Passes one connection's events to aiohttp's handler, and tells the server when it ends."""

    def __init__(self, handler, ended):
        self.handler = handler
        self.transport = None
        self.expiry = None
        self._ended = ended

    def connection_made(self, transport):
        self.transport = transport
        self.handler.connection_made(transport)

    def data_received(self, data):
        self.handler.data_received(data)

    def eof_received(self):
        return self.handler.eof_received()

    def pause_writing(self):
        self.handler.pause_writing()

    def resume_writing(self):
        self.handler.resume_writing()

    def connection_lost(self, error):
        self._ended(self)
        self.handler.connection_lost(error)


class Server:
    """Serves one web view; ``wanted[i]`` tells the update thread that view i has a taker.

    ``views`` maps the name of each view shown to its (width, height), in the order that a
    frame's first byte indexes. Picks, and the edits of browsers that open the page with
    ``token`` in its address, go to ``edits`` (a
    :class:`~marnox.web.edits.PendingEdits`); without a token nobody edits, and without
    ``edits`` nobody picks either. ``file`` is the name of the file a save writes.
    """

    def __init__(
        self, host, port, views, moves, activity, timeline=None, edits=None, token=None, file=None
    ):
        self._host = host
        self._timeline = timeline
        self._note = None
        self._edits = edits
        self._token = token
        self._file = file
        # The texts that browsers which come later are sent too, by kind.
        self._kept = {}
        self._port = port
        self._views = tuple(views)
        self._sizes = tuple(tuple(size) for size in views.values())
        self._moves = moves
        self._activity = activity
        self._loop = None
        self._thread = None
        self._runner = None
        self._connections = set()
        self._quiet_until = 0.0
        self._clients = []
        self._latest = [None] * len(views)
        self.wanted = [False] * len(views)
        self.address = None
        self._assets = {
            path: (resources.files("marnox.web").joinpath("static", name).read_bytes(), kind)
            for path, (name, kind) in ASSETS.items()
        }

    # Update thread.

    def start(self):
        """Bind and serve; returns once listening, or raises the binding's OSError."""
        bound = concurrent.futures.Future()
        self._thread = threading.Thread(
            target=self._run, args=(bound,), name="marnox-web", daemon=True
        )
        self._thread.start()
        try:
            self.address = bound.result()
        except BaseException:
            self._thread.join()
            self._thread = None
            raise

    def publish(self, view, frame):
        """Hand a new frame of ``view`` to the server thread; never waits."""
        self._loop.call_soon_threadsafe(self._publish, bytes((view,)) + frame)

    def announce(self, text):
        """Send every browser, and each that comes later, this text message; never waits."""
        self._loop.call_soon_threadsafe(self._announce, text)

    def notify(self, kind, text, keep=False):
        """Send every browser this text message of ``kind``, replacing one of that kind it
        has not been sent yet; with ``keep``, each browser that comes later too. Never waits."""
        self._loop.call_soon_threadsafe(self._notify, kind, text, keep)

    def stop(self, timeout=10.0):
        """Close every browser's connection and the listening socket."""
        if self._thread is None:
            return
        if not self._loop.is_closed():
            self._loop.call_soon_threadsafe(self._loop.stop)
        self._thread.join(timeout)
        if self._thread.is_alive():
            raise RuntimeError(f"the web server did not stop within {timeout:g} s")
        self._thread = None

    # Server thread.

    def _run(self, bound):
        loop = self._loop = asyncio.new_event_loop()
        asyncio.set_event_loop(loop)
        loop.set_exception_handler(self._report)
        try:
            listener = loop.run_until_complete(self._open())
        except BaseException as error:
            loop.close()
            bound.set_exception(error)
            return
        bound.set_result(listener.sockets[0].getsockname()[:2])
        try:
            loop.run_forever()
        finally:
            listener.close()
            loop.run_until_complete(self._runner.cleanup())
            # Connections that were half way through a request when the server stopped.
            left = asyncio.all_tasks(loop)
            for task in left:
                task.cancel()
            loop.run_until_complete(asyncio.gather(*left, return_exceptions=True))
            loop.close()

    async def _open(self):
        app = web.Application(middlewares=[self._guard])
        for path in self._assets:
            app.router.add_get(path, self._asset)
        app.router.add_get("/ws", self._socket)
        app.on_shutdown.append(self._close_all)
        runner = web.AppRunner(
            app,
            access_log=None,
            logger=LOG,
            shutdown_timeout=2.0,
            max_line_size=MAX_LINE,
            max_field_size=MAX_FIELD,
            max_headers=MAX_HEADERS,
        )
        await runner.setup()
        self._runner = runner
        try:
            return await self._loop.create_server(self._accept, self._host, self._port)
        except BaseException:
            await runner.cleanup()
            raise

    def _accept(self):
        """The protocol of a new connection: aiohttp's handler, or a refusal beyond the cap."""
        if len(self._connections) >= MAX_CONNECTIONS:
            return _Refused()
        connection = _Connection(self._runner.server(), self._forget)
        connection.expiry = self._loop.call_later(
            PLAIN_CONNECTION_SECONDS, self._expire, connection
        )
        self._connections.add(connection)
        return connection

    def _forget(self, connection):
        self._connections.discard(connection)
        connection.expiry.cancel()

    def _expire(self, connection):
        transport = connection.transport
        if transport is not None and not any(c.transport is transport for c in self._clients):
            transport.abort()

    def _report(self, loop, context):
        """The loop's error report, once a minute at most for a want of descriptors: asyncio
        reports it for every connection waiting to be accepted, thousands a second."""
        error = context.get("exception")
        if isinstance(error, OSError) and error.errno in (errno.EMFILE, errno.ENFILE):
            if loop.time() < self._quiet_until:
                return
            self._quiet_until = loop.time() + RESOURCE_REPORT_SECONDS
        loop.default_exception_handler(context)

    @web.middleware
    async def _guard(self, request, handler):
        if request.body_exists:
            raise web.HTTPRequestEntityTooLarge(max_size=0, actual_size=request.content_length or 0)
        # Bound to loopback, answer only to loopback names: a web page elsewhere cannot
        # point a name of its own at this port and read the cell (DNS rebinding).
        if _is_loopback(self._host) and not _is_loopback(_request_host(request.host)):
            raise web.HTTPMisdirectedRequest(text="unknown host")
        response = await handler(request)
        response.headers.update(HEADERS)
        return response

    async def _asset(self, request):
        body, kind = self._assets[request.path]
        return web.Response(body=body, content_type=kind)

    async def _socket(self, request):
        origin = request.headers.get("Origin")
        # Another site's page may open a socket here too; only this page's may use it.
        if origin is not None and origin.split("://", 1)[-1] != request.host:
            raise web.HTTPForbidden(text="foreign origin")
        if len(self._clients) >= MAX_CLIENTS:
            raise web.HTTPServiceUnavailable(text="too many browsers")
        socket = web.WebSocketResponse(max_msg_size=1024, heartbeat=20.0)
        await socket.prepare(request)
        editor = self._token is not None and hmac.compare_digest(
            request.query.get("token", "").encode(), self._token.encode()
        )
        try:
            views = {"type": "views", "names": self._views, "sizes": self._sizes}
            await socket.send_str(json.dumps(views))
            if self._token is not None:
                editing = {"type": "editing", "allowed": editor, "file": self._file}
                await socket.send_str(json.dumps(editing))
        except ConnectionError:
            return socket
        client = _Client(socket, request.transport, len(self._views))
        client.editor = editor
        client.texts = dict(self._kept)
        self._clients.append(client)
        for view, frame in enumerate(self._latest):
            client.pending[view] = frame
        client.wake.set()
        client.note = self._note
        client.sender = asyncio.ensure_future(self._send_frames(client))
        self._changed()
        try:
            await self._receive(client)
        finally:
            client.sender.cancel()
            self._clients.remove(client)
            self._changed()
        return socket

    async def _receive(self, client):
        async for message in client.socket:
            if message.type != WSMsgType.TEXT:
                await client.socket.close(code=UNSUPPORTED_DATA, message=b"text messages only")
                return
            try:
                move = parse(message.data, self._views)
            except BadMessage as error:
                await client.socket.close(code=POLICY_VIOLATION, message=str(error)[:120].encode())
                return
            if move[0] == "ack":
                client.ready[move[1]] = True
                client.wake.set()
            elif move[0] in TIMELINE_KINDS:
                if self._timeline is None:
                    await client.socket.close(code=POLICY_VIOLATION, message=b"no timeline")
                    return
                self._timeline.take(move)
            elif move[0] == "pick" or move[0] in EDIT_KINDS:
                refusal = self._refusal(client, move[0])
                if refusal is None and not self._edits.add(move):
                    refusal = b"too many edits at once"
                if refusal is not None:
                    await client.socket.close(code=POLICY_VIOLATION, message=refusal)
                    return
            else:
                self._moves.add(move)
            self._changed()

    def _refusal(self, client, kind):
        """Why ``client`` may not send a pick or an edit of ``kind``, or None."""
        if self._edits is None:
            return b"this view takes no picks"
        if kind == "pick" or client.editor:
            return None
        if self._token is None:
            return b"this view does not edit"
        return b"editing needs the page's token"

    async def _send_frames(self, client):
        try:
            while True:
                await client.wake.wait()
                client.wake.clear()
                note, client.note = client.note, None
                if note is not None:
                    await client.socket.send_str(note)
                texts, client.texts = client.texts, {}
                for text in texts.values():
                    await client.socket.send_str(text)
                for view, frame in enumerate(client.pending):
                    if frame is not None and client.ready[view]:
                        client.pending[view] = None
                        client.ready[view] = False
                        self._changed()
                        await client.socket.send_bytes(frame)
        except ConnectionError:
            # The browser is gone; the receiving side notices and forgets it.
            return

    def _publish(self, message):
        view = message[0]
        self._latest[view] = message
        for client in self._clients:
            client.pending[view] = message
            client.wake.set()
        self._changed()

    def _announce(self, text):
        self._note = text
        for client in self._clients:
            client.note = text
            client.wake.set()

    def _notify(self, kind, text, keep):
        if keep:
            self._kept[kind] = text
        for client in self._clients:
            client.texts[kind] = text
            client.wake.set()

    def _changed(self):
        """Recompute ``wanted`` and wake a waiting update loop."""
        self.wanted = [
            any(c.ready[view] and c.pending[view] is None for c in self._clients)
            for view in range(len(self._latest))
        ]
        self._activity.set()

    async def _close_all(self, app):
        await asyncio.gather(*(self._close(client) for client in list(self._clients)))

    async def _close(self, client):
        # A frame being sent is already whole in the transport's buffer: the closing
        # message follows it, and a browser that does not read gets neither. Its own task,
        # since a drain that the sender left cancelled fails the close at once.
        client.sender.cancel()
        closing = asyncio.ensure_future(
            client.socket.close(code=GOING_AWAY, message=b"server stopped")
        )
        done, _ = await asyncio.wait({closing}, timeout=CLOSE_SECONDS)
        if not done or closing.cancelled() or closing.exception() is not None:
            closing.cancel()
            client.transport.abort()

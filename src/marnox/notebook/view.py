"""View: the live view of a cell as a Jupyter widget, its frames carried by the kernel's own
widget channel."""

from __future__ import annotations

import asyncio
import base64
import collections
import json
import logging
import threading
import time
from importlib import resources
from typing import Optional, Tuple

import anywidget
import traitlets

from marnox._view_setup import check_size, framed_workspace_viewer, use_headless_window
from marnox.camera_files import pngBytes
from marnox.overlays import CoverageColors, Frustums
from marnox.project import Project
from marnox.viewer import ImageViewer
from marnox.web import camera
from marnox.web.capture import FrameGrabber, SeenImages, encode_jpeg
from marnox.web.messages import VIEW_NAMES, BadMessage, parse
from marnox.web.moves import PendingMoves
from marnox.web.resolution import Resolution
from marnox.web.timeline import Timeline

LOG = logging.getLogger("marnox.notebook")
# While a cell runs, the kernel reads no widget messages, so no acknowledgement can come:
# update() then sends the next frame once the last one had this long to be drawn.
FRAME_SECONDS_IN_A_CELL = 1 / 20
# Frames of a view sent and not yet drawn. A frame and its acknowledgement pass through the
# Jupyter server and two of the kernel's threads; with three on the way the kernel draws
# while the others travel, and a slow browser holds back no more than three.
MAX_FRAMES_IN_FLIGHT = 3
# How often a playing timeline moves the picture on while the kernel is idle.
TIMELINE_FRAME_SECONDS = 1 / 30


class View(anywidget.AnyWidget):
    """The workspace view of ``project`` (and its image grid) as a Jupyter widget.

    Both views are drawn in the kernel, off screen, and their frames travel through the
    kernel's widget channel: no port, no server, so the view works wherever the notebook
    does (JupyterLab, Notebook 7, VS Code, JupyterHub, a kernel on another machine). The
    mouse steers the workspace view as on the web page: left drag turns, middle or shift +
    left drag pans, the wheel zooms, a double click goes back to the first camera. While
    the camera moves, frames have fewer pixels; at rest the full frame follows.

    Displaying the view also puts a PNG of its picture into the output, so a saved notebook
    shows the cell where no kernel runs (nbconvert's HTML, GitHub).

    VTK is not thread-safe: the thread that creates the view (the kernel's) is the one that
    must call :meth:`update` and :meth:`close`. The mouse is taken while the kernel is idle
    (or awaiting in an async cell); a loop in a running cell shows what it changes with
    :meth:`update`, and the mouse's moves apply once the cell ends.

    Args:
        project: the cell to show; its system's live data is shown as it changes.
        size: (width, height) of the workspace view in pixels; the image grid gets half of each.
        images: also show the image grid.
        timeline: a :class:`~marnox.web.timeline.Timeline` for a recording being replayed: the
            view shows a play button and a slider for it, and subclasses put the project at
            ``timeline.now()`` in :meth:`_follow_timeline`.

    Example::

        view = View(project)
        view                      # the last line of a cell shows it
        for cloud in clouds:      # later, in a loop
            project.system().setPointcloud(cloud)
            view.update()
    """

    _esm = resources.files("marnox.notebook").joinpath("view.js").read_text(encoding="utf-8")
    _css = resources.files("marnox.notebook").joinpath("view.css").read_text(encoding="utf-8")
    _views = traitlets.List().tag(sync=True)
    _has_timeline = traitlets.Bool(False).tag(sync=True)
    # The workspace view's picture when the view was last displayed, as JPEG: part of the
    # widget's state, so a notebook saved with it shows the cell without its kernel.
    _still = traitlets.Bytes(b"").tag(sync=True)
    # Until __init__ has the viewers open, there is nothing to close.
    _owner = None
    _closed = True

    def __init__(
        self,
        project: Project,
        size: Tuple[int, int] = (960, 600),
        images: bool = True,
        timeline: Optional[Timeline] = None,
    ) -> None:
        size = check_size(size)
        use_headless_window()
        self._displayed = False
        viewers = self._viewers = [framed_workspace_viewer(project, size)]
        self._owner, self._closed = threading.get_ident(), False
        try:
            if images:
                image_viewer = ImageViewer(size=(max(size[0] // 2, 1), max(size[1] // 2, 1)))
                image_viewer.setProject(project)
                image_viewer.init(offscreen=True)
                viewers.append(image_viewer)
            views = [
                {"name": name, "size": list(viewer._size)}
                for name, viewer in zip(VIEW_NAMES, viewers, strict=False)
            ]
            super().__init__(_views=views, _has_timeline=timeline is not None)
        except BaseException:
            self._closed = True
            for viewer in viewers:
                viewer.stop()
            raise
        self._project = project
        self.workspace_viewer = viewers[0]
        self.image_viewer = viewers[1] if images else None
        self._names = tuple(VIEW_NAMES[: len(viewers)])
        self._grabbers = [FrameGrabber(viewer._window) for viewer in viewers]
        self._start_camera = camera.home(self.workspace_viewer._cam)
        self._aspect = size[0] / size[1]
        self._moves = PendingMoves()
        self._resolution = Resolution()
        self._seen_images = SeenImages()
        self._timeline, self._announced = timeline, None
        # Per view: when its frames not yet drawn were sent, oldest first, and its latest
        # frame, for a front end that shows the view anew.
        self._in_flight = [collections.deque() for _ in viewers]
        self._latest = [None] * len(viewers)
        self._lock = threading.Lock()
        # The kernel's event loop, which draws for the mouse while no cell runs; without one
        # (a plain script) only update() draws.
        try:
            self._loop = asyncio.get_running_loop()
        except RuntimeError:
            self._loop = None
        # Drawn over the workspace view: "frustums" and "coverage" (marnox.overlays).
        self._overlays = {}
        self._wake_handle = self._later_handle = None
        self._refresh_due = False
        self.on_msg(self._receive)

    # The kernel's thread.

    def update(self) -> None:
        """Redraw what changed since the last call and send it; never waits for the browser.

        Call it from a loop after changing the project's data. With no browser showing the
        view, it costs little more than the viewers' ``render()`` and a compare.
        """
        self._check_thread("update")
        if self._closed:
            raise RuntimeError("update() on a closed notebook view")
        # Once shown, the front end draws what it is sent even while the cell runs.
        taken_before = time.monotonic() - FRAME_SECONDS_IN_A_CELL if self._displayed else None
        if not self._draw(taken_before):
            # The front end gets this picture once it takes a frame again.
            self._refresh_due = True

    def showFrustums(self, depth: float = 1.0) -> None:
        """Draw each camera's frustum, ``depth`` metres deep, in the workspace view; they
        follow the cameras as the view redraws (see ``marnox.overlays.Frustums``)."""
        self._check_thread("showFrustums")
        self._show_overlay("frustums", lambda viewer: Frustums(viewer, depth))

    def showCoverage(self, results, colorBy: str = "cameras", maxMmPerPixel=None) -> None:
        """Colour the task regions' faces by ``results`` of ``marnox.coverage.coverage``
        (see ``marnox.overlays.CoverageColors``)."""
        self._check_thread("showCoverage")
        self._show_overlay(
            "coverage", lambda viewer: CoverageColors(viewer, results, colorBy, maxMmPerPixel)
        )

    def hideFrustums(self) -> None:
        """Take the frustums out of the workspace view."""
        self._check_thread("hideFrustums")
        self._show_overlay("frustums", None)

    def hideCoverage(self) -> None:
        """Take the coverage colours out of the workspace view."""
        self._check_thread("hideCoverage")
        self._show_overlay("coverage", None)

    def _show_overlay(self, name, make):
        # Made before the old one goes, so that bad arguments leave the view as it was.
        new = None if make is None else make(self.workspace_viewer)
        shown = self._overlays.pop(name, None)
        if shown is not None:
            shown.remove()
        if new is not None:
            self._overlays[name] = new
        self._wake(refresh=True)

    def close(self) -> None:
        """Close the widget everywhere it is shown and release both viewers' windows."""
        self._check_thread("close")
        if self._closed:
            return
        self._closed = True
        for handle in (self._wake_handle, self._later_handle):
            if handle is not None:
                handle.cancel()
        try:
            super().close()
        finally:
            for viewer in self._viewers:
                viewer.stop()

    def __del__(self):
        # ipywidgets closes a collected widget; VTK's windows can only be let go of on their
        # own thread.
        if threading.get_ident() == self._owner and not self._closed:
            self.close()

    def _repr_mimebundle_(self, **kwargs):
        data, metadata = super()._repr_mimebundle_(**kwargs)
        if not self._closed:
            self._check_thread("display")
            self._displayed = True
            self.workspace_viewer.render()
            pixels = self._grabbers[0].still()
            self._still = encode_jpeg(pixels)
            data["image/png"] = base64.b64encode(pngBytes(pixels)).decode("ascii")
        return data, metadata

    def _follow_timeline(self):
        """Put the project where the timeline stands; the caller's job unless a subclass
        knows the recording."""

    def _ready(self, taken_before):
        """Whether every view may be sent a frame: fewer than MAX_FRAMES_IN_FLIGHT undrawn, or
        the newest sent before ``taken_before`` (then all count as drawn)."""
        with self._lock:
            for sent in self._in_flight:
                if sent and taken_before is not None and sent[-1] <= taken_before:
                    sent.clear()
            return all(len(sent) < MAX_FRAMES_IN_FLIGHT for sent in self._in_flight)

    def _draw(self, taken_before, refresh=True):
        """Apply the mouse's moves, draw, and send each view that may take a frame one if its
        picture changed. With ``refresh`` the project's data may have changed and both
        viewers render it; without, only a camera move is drawn. Returns False, drawing
        nothing, while a view cannot take a frame: the moves are left for the next call."""
        if not self._ready(taken_before):
            return False
        moves = self._moves.take()
        if moves is None and not refresh:
            return True
        now = time.monotonic()
        if moves is not None:
            # A drag shows the project's data as it is when it starts.
            refresh = refresh or self._resolution.scale(now) == 1.0
            viewer = self.workspace_viewer
            camera.apply(viewer._ren, viewer._cam, moves, self._start_camera, self._aspect)
            self._resolution.moved(now)
        if refresh and self._timeline is not None:
            self._follow_timeline()
        if refresh and "frustums" in self._overlays:
            self._overlays["frustums"].update()
        scale = self._resolution.scale(now)
        self._grabbers[0].resize(scale)
        if refresh:
            for viewer in self._viewers:
                viewer.render()
        for view, grabber in enumerate(self._grabbers):
            if view == 1 and not (
                refresh and self._seen_images.changed(self._project.system().images())
            ):
                continue
            start = time.perf_counter()
            frame = grabber.grab(scale if view == 0 else 1.0)
            if view == 0:
                self._resolution.measured(scale, time.perf_counter() - start)
            if frame is not None:
                self._send_frame(view, frame)
        if self._timeline is not None:
            note = self._timeline.message()
            if note != self._announced:
                self._announced = note
                self.send(json.loads(note))
        if scale < 1.0:
            # The full frame once the camera rests.
            self._refresh_later(self._resolution.rests_at() + 1e-3 - time.monotonic())
        elif self._timeline is not None and self._timeline.playing():
            self._refresh_later(TIMELINE_FRAME_SECONDS)
        return True

    def _send_frame(self, view, frame):
        with self._lock:
            self._in_flight[view].append(time.monotonic())
            self._latest[view] = frame
        self.send({"type": "frame", "view": view}, [frame])

    def _on_loop(self):
        self._wake_handle = None
        refresh, self._refresh_due = self._refresh_due, False
        if not self._closed and not self._draw(None, refresh):
            # Drawn once a front end takes a frame again.
            self._refresh_due = self._refresh_due or refresh

    def _wake(self, refresh=False):
        """Draw on the kernel's event loop soon, once however often asked; ``refresh`` as
        :meth:`_draw` takes it."""
        if self._loop is None or self._closed:
            return
        if threading.get_ident() != self._owner:
            self._loop.call_soon_threadsafe(self._wake, refresh)
            return
        self._refresh_due = self._refresh_due or refresh
        if self._wake_handle is None:
            self._wake_handle = self._loop.call_soon(self._on_loop)

    def _refresh_later(self, delay):
        if self._loop is None:
            return
        if self._later_handle is not None:
            self._later_handle.cancel()
        self._later_handle = self._loop.call_later(max(delay, 0.0), self._wake, True)

    def _check_thread(self, name):
        if threading.get_ident() != self._owner:
            raise RuntimeError(
                f"{name}() must run on the thread that created the notebook view (VTK's thread)"
            )

    # Widget messages: the kernel's thread, or a subshell's.

    def _receive(self, _widget, content, _buffers):
        if content == {"type": "hello"}:
            # A front end shows the view anew: it takes the latest frames.
            with self._lock:
                latest = list(self._latest)
            for view, frame in enumerate(latest):
                if frame is not None:
                    self._send_frame(view, frame)
            self._announced = None
            self._wake(refresh=True)
            return
        try:
            message = parse(json.dumps(content), self._names)
        except (BadMessage, TypeError, ValueError) as error:
            LOG.warning("a notebook view dropped a message from its front end: %s", error)
            return
        kind = message[0]
        if kind == "ack":
            with self._lock:
                if self._in_flight[message[1]]:
                    self._in_flight[message[1]].popleft()
        elif kind in ("play", "pause", "seek"):
            if self._timeline is None:
                LOG.warning("a notebook view without a timeline dropped %r", kind)
                return
            self._timeline.take(message)
            self._wake(refresh=True)
            return
        else:
            self._moves.add(message)
        self._wake()

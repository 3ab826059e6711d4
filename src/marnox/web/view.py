"""WebView: a live view of a cell in web browsers, driven from the caller's own loop."""

from __future__ import annotations

import os
import secrets
import threading
import time
from typing import List, Optional, Tuple

from marnox._view_setup import (
    check_port,
    check_size,
    framed_workspace_viewer,
    use_headless_window,
)
from marnox.overlays import CoverageColors, Frustums
from marnox.picking import Pick
from marnox.project import Project
from marnox.viewer import ImageViewer
from marnox.web import camera
from marnox.web.camera_images import CameraImages, tile_size
from marnox.web.capture import FrameGrabber, SeenImages
from marnox.web.editing import Editor
from marnox.web.edits import PendingEdits
from marnox.web.messages import VIEW_NAMES
from marnox.web.moves import PendingMoves
from marnox.web.resolution import Resolution
from marnox.web.server import Server
from marnox.web.timeline import Timeline


class WebView:
    """Serves the workspace view and the image grid of ``project`` to web browsers.

    Browsers open :attr:`url` and see both views; in the workspace view the mouse turns
    the camera (left drag), pans it (middle or shift + left drag) and zooms (wheel); a
    double click goes back to the first camera. A click picks the node under the mouse:
    every page shows its path and the point hit, and :meth:`picks` returns it. Every
    browser sees the same camera and the same selection, and changes nothing else unless
    the view edits.

    With ``edit`` true, a browser that opened :attr:`url` (which then carries a random
    token) may also move the selected node (its pose in a panel, Ctrl + drag, Ctrl +
    shift + drag, Ctrl + wheel), turn a selected robot's joints, undo (Ctrl + Z) and save
    the project to ``path`` (Ctrl + S); the same address without its ``?token=...`` only
    watches. The edits are applied inside :meth:`update`, on the owner's thread. The image
    grid then shows what the project's cameras see, drawn by a
    :class:`~marnox.viewer.CameraRenderer` into the system's images whenever the cell
    changed.

    VTK is not thread-safe, so the thread that creates the view is the one that must call
    :meth:`update` and :meth:`stop`; the server's own thread only moves bytes.

    Args:
        project: the cell to show; its system's live data is shown as it changes.
        host: the address to listen on; the default is reachable from this machine only.
        port: the TCP port; 0 picks a free one (see :attr:`url`).
        size: (width, height) of the workspace view in pixels; the image grid gets half of each.
        images: also show the image grid.
        timeline: a :class:`~marnox.web.timeline.Timeline` to show under the views (for a
            recording being replayed): browsers play, pause and seek it, and :meth:`update`
            sends them where it stands. The caller's loop puts the project at
            ``timeline.now()`` before each update.
        edit: let browsers holding the page's token edit the project (see above).
        path: the project file that a browser's save writes (with the atomic
            ``Project.save``); without it, saving reports that there is no file.

    Example::

        with WebView(project) as view:
            print("open", view.url)
            while running():
                project.system().setPointcloud(read_point_cloud())
                view.update()
    """

    def __init__(
        self,
        project: Project,
        host: str = "127.0.0.1",
        port: int = 8080,
        size: Tuple[int, int] = (1280, 800),
        images: bool = True,
        timeline: Optional[Timeline] = None,
        edit: bool = False,
        path: Optional[str] = None,
    ) -> None:
        size = check_size(size)
        if path is not None:
            path = os.fspath(path)
        if not isinstance(host, str) or not host:
            raise ValueError(f"host must be a non-empty string, not {host!r}")
        self._host, self._port = host, check_port(port)
        # Always off screen.
        use_headless_window()
        self._owner = threading.get_ident()
        self._project = project
        self.workspace_viewer = framed_workspace_viewer(project, size)
        self.image_viewer = None
        viewers = [self.workspace_viewer]
        if images:
            self.image_viewer = ImageViewer(size=(max(size[0] // 2, 1), max(size[1] // 2, 1)))
            self.image_viewer.setProject(project)
            self.image_viewer.init(offscreen=True)
            viewers.append(self.image_viewer)
        self._viewers = viewers
        self._grabbers = [FrameGrabber(viewer._window) for viewer in viewers]
        self._start_camera = camera.home(self.workspace_viewer._cam)
        self._aspect = size[0] / size[1]
        self._moves = PendingMoves()
        self._resolution = Resolution()
        # Whether browsers were last sent a workspace frame of reduced size.
        self._reduced = False
        self._seen_images = SeenImages()
        self._activity = threading.Event()
        # Drawn over the workspace view: "frustums" and "coverage" (marnox.overlays).
        self._overlays = {}
        views = {name: viewer._size for name, viewer in zip(VIEW_NAMES, viewers, strict=False)}
        self._timeline, self._announced = timeline, None
        self._edits = PendingEdits()
        self._editor = Editor(project, self.workspace_viewer, path, editable=bool(edit))
        self._camera_images = None
        if edit and images:
            self._camera_images = CameraImages(project, tile_size(self.image_viewer))
        self._token = secrets.token_urlsafe(16) if edit else None
        self._server = Server(
            host,
            port,
            views,
            self._moves,
            self._activity,
            timeline,
            edits=self._edits,
            token=self._token,
            file=None if path is None else os.path.basename(path),
        )
        self._state = "created"

    @property
    def url(self) -> str:
        """The page's address; after :meth:`start` it names the port actually bound. A view
        that edits adds its token (``?token=...``): whoever has the address can edit."""
        host, port = self._host, self._port
        if self._server.address is not None:
            host, port = self._server.address
        if ":" in host:
            host = f"[{host}]"
        token = "" if self._token is None else f"?token={self._token}"
        return f"http://{host}:{port}/{token}"

    def start(self) -> None:
        """Start serving and return; raises OSError when the address cannot be bound."""
        if self._state != "created":
            raise RuntimeError(f"start() on a web view that is {self._state}")
        self._server.start()
        self._state = "serving"

    def update(self) -> None:
        """Refresh both views and send browsers what changed; never waits for a browser.

        Call it from your loop after changing the project's data. It applies the camera
        moves, picks and edits that browsers sent since the last call, renders both
        viewers and, only for views that a browser is ready to take, draws, compares and
        encodes a frame. With no browser connected it costs little more than the viewers'
        ``render()``.
        """
        self._check_thread("update")
        if self._state == "stopped":
            raise RuntimeError("update() on a stopped web view")
        # Anything a browser does from here on wakes the next wait().
        if self._activity.is_set():
            self._activity.clear()
        moves = self._moves.take()
        now = time.monotonic()
        if moves is not None:
            viewer = self.workspace_viewer
            camera.apply(viewer._ren, viewer._cam, moves, self._start_camera, self._aspect)
            self._resolution.moved(now)
        # Edits first: the frustums follow the cameras they moved.
        self._apply_edits(now)
        if "frustums" in self._overlays:
            self._overlays["frustums"].update()
        for viewer in self._viewers:
            viewer.render()
        if self._state == "serving":
            for kind, text in self._editor.notes():
                self._server.notify(kind, text, keep=kind == "selection")
        if self._timeline is not None and self._state == "serving":
            note = self._timeline.message()
            if note != self._announced:
                self._announced = note
                self._server.announce(note)
        # The workspace view is drawn with fewer pixels while the camera moves.
        scale = self._resolution.scale(now)
        wanted = self._server.wanted
        if not wanted[0]:
            self._grabbers[0].resize(scale)
        if True not in wanted:
            return
        for view, grabber in enumerate(self._grabbers):
            if not wanted[view] or (view == 1 and not self._images_changed()):
                continue
            start = time.perf_counter()
            frame = grabber.grab(scale if view == 0 else self._grid_scale(scale))
            if view == 0:
                self._resolution.measured(scale, time.perf_counter() - start)
            if frame is not None:
                self._server.publish(view, frame)
                if view == 0:
                    self._reduced = scale < 1.0

    def _apply_edits(self, now):
        """Picks and edits, then what they changed: the selection's frame, the cameras' images."""
        requests = self._edits.take()
        if requests and self._editor.apply(requests):
            self._resolution.moved(now)
        self._editor.place_frame()
        if self._camera_images is not None:
            # The image grid is drawn with fewer pixels with the workspace view.
            self._camera_images.refresh(self._resolution.scale(now))

    def picks(self) -> List[Pick]:
        """The picks that :meth:`update` took from browsers since the last call, in order
        (the last 1,000), a :class:`~marnox.picking.Pick` each; a click on no node
        clears the selection and is not among them.

        Example::

            view.wait()
            view.update()
            for hit in view.picks():
                print(hit.path, hit.point)
        """
        self._check_thread("picks")
        return self._editor.picks()

    def _grid_scale(self, scale):
        """The image grid's scale: the workspace view's while it shows coarser camera images."""
        images = self._camera_images
        return scale if images is not None and images.partial else 1.0

    def _images_changed(self):
        return self._seen_images.changed(self._project.system().images())

    def showFrustums(self, depth: float = 1.0) -> None:
        """Draw each camera's frustum, ``depth`` metres deep, in the workspace view; they
        follow the cameras at every :meth:`update` (see ``marnox.overlays.Frustums``)."""
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

    def wait(self, timeout: Optional[float] = None) -> bool:
        """Block until a browser connects, leaves, moves the camera, clicks, edits or is ready
        for a frame.

        For loops whose data changes seldom: ``while True: view.wait(); view.update()``.
        Returns False if ``timeout`` seconds passed first. It returns when the camera or an
        edited node has come to rest too, when browsers are due the view's full picture and
        every camera's image.
        """
        images = self._camera_images
        if (
            images is not None
            and images.partial
            and self._resolution.rests_at() <= time.monotonic()
        ):
            # The next update() draws every camera in full, the move being over.
            return True
        if self._reduced or (images is not None and images.partial):
            # A moment past the rest, so that update() finds the camera resting.
            rest = self._resolution.rests_at() + 1e-3 - time.monotonic()
            if rest > 0 and (timeout is None or rest < timeout):
                self._activity.wait(rest)
                return True
        return self._activity.wait(timeout)

    def stop(self) -> None:
        """Close every browser's connection, stop serving and release the windows."""
        self._check_thread("stop")
        if self._state == "stopped":
            return
        self._state = "stopped"
        try:
            self._server.stop()
        finally:
            for viewer in self._viewers:
                viewer.stop()
            if self._camera_images is not None:
                self._camera_images.close()

    def __enter__(self) -> WebView:
        self.start()
        return self

    def __exit__(self, *exc_info) -> None:
        self.stop()

    def _check_thread(self, name):
        if threading.get_ident() != self._owner:
            raise RuntimeError(
                f"{name}() must run on the thread that created the web view (VTK's thread)"
            )

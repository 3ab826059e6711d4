"""Pictures for cell design drawn over a workspace view: the cameras' frustums and the
task regions' coverage.

An overlay adds its actors to a ``WorkspaceViewer``'s renderer (its documented field
``_ren``) and nothing to the project: it is not saved in the project file, and it stays
through ``setProject`` (which rebuilds only the actors the viewer tracks) until
``remove()``. The same overlay works on every view that draws with a workspace viewer:
the windows, the web view (``WebView.showFrustums``) and a notebook. Like the viewer,
use it on the viewer's thread.

Example::

    frustums = Frustums(viewer, depth=1.0)
    picture = CoverageColors(viewer, coverage(project))
    viewer.render()
    frustums.remove()
"""

from __future__ import annotations

import numpy as np
from vtkmodules.util import numpy_support
from vtkmodules.vtkCommonCore import vtkPoints
from vtkmodules.vtkCommonDataModel import vtkCellArray, vtkPolyData
from vtkmodules.vtkFiltersSources import vtkPlaneSource

from marnox import _checks
from marnox._actors import polydataActor
from marnox.pose import Pose
from marnox.projection import undistortPoints

__all__ = ["Frustums", "CoverageColors", "CAMERA_COLORS", "NONE", "ONE", "TWO_OR_MORE"]

#: A frustum's colour, by the camera's place in the workspace (repeating): none of the
#: coverage colours.
CAMERA_COLORS = (
    (0.12, 0.47, 0.71),
    (0.58, 0.4, 0.74),
    (0.09, 0.75, 0.81),
    (0.89, 0.47, 0.76),
    (0.55, 0.34, 0.29),
    (1.0, 0.5, 0.05),
)

#: Coverage colours: points no camera sees (or none within the limit), one camera, two or more.
NONE = (0.85, 0.15, 0.1)
ONE = (0.95, 0.8, 0.1)
TWO_OR_MORE = (0.15, 0.7, 0.25)

# Samples along each side of an image's outline: a distorted side is a curve.
_OUTLINE_SAMPLES = 16
# Coverage is drawn this far above the face, so the region's own face does not cover it.
_LIFT = 0.001


class _Overlay:
    """Actors of one overlay in one viewer's renderer."""

    def __init__(self, viewer):
        self._viewer = viewer
        self._shown = []

    def _show(self, actors):
        renderer = self._viewer._ren
        for actor in self._shown:
            if actor not in actors:
                renderer.RemoveActor(actor)
        for actor in actors:
            if actor not in self._shown:
                renderer.AddActor(actor)
        self._shown = list(actors)

    def remove(self):
        """Take the overlay out of the view (it shows again after ``update()``)."""
        self._show([])


def _outlinePixels(width, height):
    """The image's border through its corner pixels' outer corners, corner first on each side."""
    right, bottom = width - 0.5, height - 0.5
    corners = np.array([(-0.5, -0.5), (right, -0.5), (right, bottom), (-0.5, bottom)])
    along = np.roll(corners, -1, axis=0) - corners
    steps = np.arange(_OUTLINE_SAMPLES)[np.newaxis, :, np.newaxis] / _OUTLINE_SAMPLES
    return (corners[:, np.newaxis] + steps * along[:, np.newaxis]).reshape(-1, 2)


def frustumPolydata(intrinsics, distortion, depth):
    """Lines in the camera's frame: from the optical centre to the image's four corners
    at ``depth`` metres along +z, and the image's outline there (curved by distortion).

    Where the lens model has no ray for a border pixel, the outline leaves a gap.
    Raises ValueError for intrinsics no camera can have (an empty image, a focal length
    that is not positive).
    """
    width, height, fx, fy, cx, cy = intrinsics
    if not (width > 0 and height > 0 and fx > 0 and fy > 0):
        raise ValueError(f"no frustum for intrinsics {tuple(intrinsics)}")
    pixels = _outlinePixels(width, height)
    normalised = (pixels - (cx, cy)) / (fx, fy)
    if any(distortion):
        normalised = undistortPoints(normalised, distortion)
    points = np.column_stack([normalised * depth, np.full(len(pixels), depth)])
    points = np.vstack([np.zeros((1, 3)), points])
    valid = ~np.isnan(points[:, 0])
    lines = vtkCellArray()
    for corner in range(4):
        index = 1 + corner * _OUTLINE_SAMPLES
        if valid[index]:
            lines.InsertNextCell(2, (0, index))
    around = np.arange(1, len(points))
    # Start the closed outline at a gap, if there is one, so each run is one polyline.
    gaps = np.flatnonzero(~valid[around])
    if gaps.size:
        around = np.roll(around, -gaps[0])
    run = []
    for index in [*around.tolist(), int(around[0])]:
        if valid[index]:
            run.append(index)
            continue
        if len(run) > 1:
            lines.InsertNextCell(len(run), run)
        run = []
    if len(run) > 1:
        lines.InsertNextCell(len(run), run)
    vtk_points = vtkPoints()
    vtk_points.SetData(numpy_support.numpy_to_vtk(np.nan_to_num(points), deep=True))
    polydata = vtkPolyData()
    polydata.SetPoints(vtk_points)
    polydata.SetLines(lines)
    return polydata


class Frustums(_Overlay):
    """Each camera's frustum in ``viewer``: lines from its optical centre to its image's
    corners at ``depth`` metres along +z, and the image's outline there, in a colour per
    camera (``CAMERA_COLORS``).

    Args:
        viewer: a ``WorkspaceViewer``; its project's cameras are drawn.
        depth: how far the frustums reach, in metres (positive and finite).
        cameras: camera names; None for all. An unknown name raises ValueError.

    Call ``update()`` after cameras moved or changed, or the project changed.
    """

    def __init__(self, viewer, depth=1.0, cameras=None):
        """Show the frustums in ``viewer``; see the class docstring."""
        super().__init__(viewer)
        self._depth = _checks.positiveReal(depth, "depth", "a number of metres")
        self._names = None if cameras is None else list(cameras)
        known = viewer._project.workspace().getCameras()
        unknown = [name for name in self._names or () if name not in known]
        if unknown:
            raise ValueError(
                f"no camera {unknown[0]!r} (the project's cameras: {', '.join(known)})"
            )
        # Per camera name: what its lines were drawn for, and its actor.
        self._drawn = {}
        self.update()

    def update(self):
        """Draw the frustums from the cameras' current poses, intrinsics and distortion."""
        cameras = self._viewer._project.workspace().getCameras()
        actors = []
        for index, (name, camera) in enumerate(cameras.items()):
            if self._names is not None and name not in self._names:
                continue
            key = (tuple(camera.intrinsics()), tuple(camera.distortion()), self._depth)
            drawn = self._drawn.get(name)
            if drawn is None or drawn[0] != key:
                try:
                    polydata = frustumPolydata(key[0], key[1], self._depth)
                except ValueError as error:
                    raise ValueError(f"camera {name!r}: {error}") from error
                actor = polydataActor(polydata)
                prop = actor.GetProperty()
                prop.SetColor(*CAMERA_COLORS[index % len(CAMERA_COLORS)])
                prop.SetLineWidth(2.0)
                prop.LightingOff()
                drawn = self._drawn[name] = (key, actor)
            drawn[1].SetUserMatrix(camera.worldPose().toVtkMatrix())
            actors.append(drawn[1])
        for name in set(self._drawn) - set(cameras):
            del self._drawn[name]
        self._show(actors)


def _blend(a, b, t):
    return np.asarray(a) + t[:, np.newaxis] * (np.asarray(b) - np.asarray(a))


def coverageColors(region, colorBy="cameras", maxMmPerPixel=None):
    """(N, 3) RGB in 0..1 for a ``RegionCoverage``'s points.

    ``colorBy="cameras"``: ``NONE`` where no camera sees the point (at ``maxMmPerPixel``
    or finer, when given), ``ONE`` for one camera, ``TWO_OR_MORE`` for more.
    ``colorBy="mmPerPixel"``: the finest camera's mm per pixel, from ``TWO_OR_MORE`` at
    the finest of the region to ``ONE`` at ``maxMmPerPixel`` (the coarsest seen when
    None); ``NONE`` where coarser or not seen.
    """
    if colorBy == "cameras":
        counts = region.counts(maxMmPerPixel)
        colors = np.empty((len(counts), 3))
        colors[:] = NONE
        colors[counts == 1] = ONE
        colors[counts >= 2] = TWO_OR_MORE
        return colors
    if colorBy != "mmPerPixel":
        raise ValueError(f"colorBy must be 'cameras' or 'mmPerPixel', got {colorBy!r}")
    mm = region.mmPerPixel
    finest = np.fmin.reduce(mm, axis=1) if mm.shape[1] else np.full(len(mm), np.nan)
    seen = np.isfinite(finest)
    colors = np.empty((len(mm), 3))
    colors[:] = NONE
    if seen.any():
        low = finest[seen].min()
        high = finest[seen].max() if maxMmPerPixel is None else float(maxMmPerPixel)
        good = seen & (finest <= high)
        t = (finest[good] - low) / (high - low) if high > low else np.zeros(good.sum())
        colors[good] = _blend(TWO_OR_MORE, ONE, t)
    return colors


class CoverageColors(_Overlay):
    """Each region's top face coloured by its coverage (see ``coverageColors``).

    Args:
        viewer: a ``WorkspaceViewer``.
        results: what ``marnox.coverage.coverage`` returned (region name to
            ``RegionCoverage``); the faces are drawn where they were when it ran.
        colorBy: ``"cameras"`` (how many see each point) or ``"mmPerPixel"``.
        maxMmPerPixel: the resolution limit, or None.
    """

    def __init__(self, viewer, results, colorBy="cameras", maxMmPerPixel=None):
        """Show the coloured faces in ``viewer``; see the class docstring."""
        super().__init__(viewer)
        self._actors = [
            _faceActor(region, coverageColors(region, colorBy, maxMmPerPixel))
            for region in results.values()
        ]
        self.update()

    def update(self):
        """Show the coloured faces (again, after ``remove()``)."""
        self._show(self._actors)


def _faceActor(region, colors):
    """The face's grid of cells, one colour per cell, just above the face."""
    sx, sy = region.size
    nx, ny = region.cells
    plane = vtkPlaneSource()
    plane.SetOrigin(-sx / 2, -sy / 2, _LIFT)
    plane.SetPoint1(sx / 2, -sy / 2, _LIFT)
    plane.SetPoint2(-sx / 2, sy / 2, _LIFT)
    # Cells come x fastest, as the coverage's points do.
    plane.SetResolution(nx, ny)
    plane.Update()
    polydata = vtkPolyData()
    polydata.ShallowCopy(plane.GetOutput())
    rgb = numpy_support.numpy_to_vtk(np.rint(colors * 255).astype(np.uint8), deep=True)
    rgb.SetName("coverage")
    polydata.GetCellData().SetScalars(rgb)
    actor = polydataActor(polydata)
    mapper = actor.GetMapper()
    mapper.SetScalarModeToUseCellData()
    mapper.SetColorModeToDirectScalars()
    actor.GetProperty().LightingOff()
    actor.SetUserMatrix(Pose.toVtkMatrix(region.face))
    return actor


class ShowsOverlays:
    """The overlay methods of a view that draws with a workspace viewer (the web view, the
    notebook view): it has ``workspace_viewer``, a dict ``_overlays`` and
    ``_check_thread(name)``, and redraws in ``_overlaysChanged()`` if it must."""

    def showFrustums(self, depth: float = 1.0) -> None:
        """Draw each camera's frustum, ``depth`` metres deep, in the workspace view; they
        follow the cameras as the view redraws (see :class:`Frustums`)."""
        self._check_thread("showFrustums")
        self._showOverlay("frustums", lambda viewer: Frustums(viewer, depth))

    def showCoverage(self, results, colorBy: str = "cameras", maxMmPerPixel=None) -> None:
        """Colour the task regions' faces by ``results`` of ``marnox.coverage.coverage``
        (see :class:`CoverageColors`)."""
        self._check_thread("showCoverage")
        self._showOverlay(
            "coverage", lambda viewer: CoverageColors(viewer, results, colorBy, maxMmPerPixel)
        )

    def hideFrustums(self) -> None:
        """Take the frustums out of the workspace view."""
        self._check_thread("hideFrustums")
        self._showOverlay("frustums", None)

    def hideCoverage(self) -> None:
        """Take the coverage colours out of the workspace view."""
        self._check_thread("hideCoverage")
        self._showOverlay("coverage", None)

    def _showOverlay(self, name, make):
        # Made before the old one goes, so that bad arguments leave the view as it was.
        new = None if make is None else make(self.workspace_viewer)
        shown = self._overlays.pop(name, None)
        if shown is not None:
            shown.remove()
        if new is not None:
            self._overlays[name] = new
        self._overlaysChanged()

    def _overlaysChanged(self):
        """Called after an overlay was shown or hidden."""

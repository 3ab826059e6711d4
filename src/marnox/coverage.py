"""Where should the cameras go? Which points of each task region the cameras see, and
at what resolution.

``coverage(project)`` draws each camera once with ``CameraRenderer`` (for what hides
what) and handles the regions' points as arrays through the same lens model
(``marnox.projection``).

Millimetres per pixel, the number a cell designer reads: the longest extent, on the
region's face, of one pixel's footprint. With J the 2x2 Jacobian of the pixel
coordinates (u, v) with respect to metres along the face's x and y axes (distortion
included), it is 1000 divided by the smaller singular value of J.
"""

from __future__ import annotations

import inspect
import math
import numbers
import threading
import weakref

import numpy as np

from marnox import _checks
from marnox.pose import Pose
from marnox.projection import projectPoints, undistortPoints

__all__ = ["coverage", "RegionCoverage", "DEPTH_TOLERANCE", "MAX_POINTS"]

#: A point is hidden where the depth image is nearer than the point by more than this
#: share of the point's distance: what the depth of a surface through the point changes
#: across the half pixel between the point's ray and the pixel centre's.
DEPTH_TOLERANCE = 0.005

#: The most grid points one call makes, over all regions: a step that would make more
#: raises ValueError instead of exhausting memory.
MAX_POINTS = 20_000_000

# Normalised coordinates that undistort back to within this of the point's own are the
# ray the renderer draws at that pixel; elsewhere the lens folds the field over.
_ROUND_TRIP = 1e-6


class RegionCoverage:
    """How the cameras see one task region's top face.

    Attributes:
        points: (N, 3) float64 world coordinates, the centres of a grid of equal cells
            over the region's top face (its +z face), x fastest.
        cameras: the camera names, in the order of the columns below.
        seen: (N, C) bool, whether each camera sees each point.
        mmPerPixel: (N, C) float64, the millimetres per pixel there, NaN where not seen.
        face: the top face's centre as a world ``Pose``; its x and y axes are the region's.
        size: the face's edge lengths ``(x, y)`` in metres.
        cells: the grid's cells along x and y, ``(nx, ny)``; N is ``nx * ny``.
    """

    def __init__(self, points, cameras, seen, mmPerPixel, face, size, cells):
        """Hold the figures; see the class docstring."""
        self.points = points
        self.cameras = tuple(cameras)
        self.seen = seen
        self.mmPerPixel = mmPerPixel
        self.face = face
        self.size = size
        self.cells = cells
        for array in (points, seen, mmPerPixel):
            array.flags.writeable = False

    def counts(self, maxMmPerPixel=None):
        """(N,) int: how many cameras see each point, at ``maxMmPerPixel`` or finer if given."""
        good = self.seen
        if maxMmPerPixel is not None:
            good = self.mmPerPixel <= _checks.positiveReal(
                maxMmPerPixel, "maxMmPerPixel", "a number or None"
            )
        return np.count_nonzero(good, axis=1)

    def fraction(self, minCameras=1, maxMmPerPixel=None):
        """The share of points seen by at least ``minCameras`` cameras at
        ``maxMmPerPixel`` or finer (any resolution when None), from 0 to 1."""
        if isinstance(minCameras, bool) or not isinstance(minCameras, numbers.Integral):
            raise TypeError(f"minCameras must be an integer, not {minCameras!r}")
        if minCameras < 0:
            raise ValueError(f"minCameras must be 0 or more, got {minCameras}")
        return float(np.mean(self.counts(maxMmPerPixel) >= minCameras))

    def __repr__(self):
        return (
            f"<RegionCoverage {len(self.points)} points, cameras {list(self.cameras)}, "
            f"seen by 1: {self.fraction(1):.3f}>"
        )


def _chosen(mapping, names, what):
    """The names asked for, all of ``mapping``'s in its order when None."""
    if names is None:
        return list(mapping)
    if isinstance(names, (str, bytes)):
        raise TypeError(f"{what}s must be a sequence of names, not a str")
    names = list(names)
    for name in names:
        if name not in mapping:
            known = ", ".join(map(repr, mapping)) or "none"
            raise ValueError(f"no {what} {name!r} (the project's {what}s: {known})")
    return names


def _cells(side, step):
    """``ceil(side / step)``, where a side that is a whole number of steps is not
    rounded up a cell by the division's last bit (0.28 / 0.005 = 56.00000000000001)."""
    return max(1, math.ceil(round(side / step, 9)))


def _grid(region, step):
    """The region's top face as a Pose, its size, its cells and their centres in the world."""
    sx, sy, sz = region.size()
    nx, ny = _cells(sx, step), _cells(sy, step)
    face = region.worldPose() * Pose((0.0, 0.0, sz / 2.0))
    x = (np.arange(nx) + 0.5) * (sx / nx) - sx / 2.0
    y = (np.arange(ny) + 0.5) * (sy / ny) - sy / 2.0
    local = np.zeros((ny, nx, 3))
    local[:, :, 0] = x[np.newaxis, :]
    local[:, :, 1] = y[:, np.newaxis]
    return face, (sx, sy), (nx, ny), face.transformPoints(local.reshape(-1, 3))


def _product(rows, matrix):
    """``rows @ matrix`` for a small ``matrix``, summed column by column: BLAS threads on
    a long, thin product cost more than the arithmetic on a busy machine, and a stack of
    small products is many times slower."""
    total = rows[..., 0, np.newaxis] * matrix[0]
    for k in range(1, len(matrix)):
        total += rows[..., k, np.newaxis] * matrix[k]
    return total


def _sees(frame, distortion, points, face_axes, near, far):
    """Whether the camera of ``frame`` sees each world point, and its mm per pixel there."""
    seen = np.zeros(len(points), dtype=bool)
    mm = np.full(len(points), np.nan)
    rotation = frame.pose.rotation()
    local = _product(points - frame.pose.position(), rotation)
    ahead = np.flatnonzero((local[:, 2] >= near) & (local[:, 2] <= far))
    if ahead.size == 0:
        return seen, mm
    intrinsics = frame.intrinsics
    pixels, jacobian = projectPoints(local[ahead], intrinsics, distortion)
    column = np.floor(pixels[:, 0] + 0.5)
    row = np.floor(pixels[:, 1] + 0.5)
    inside = (column >= 0) & (column < intrinsics.width) & (row >= 0) & (row < intrinsics.height)
    if any(distortion):
        drawn = local[ahead, :2] / local[ahead, 2:]
        normalised = (pixels - intrinsics[4:6]) / intrinsics[2:4]
        back = undistortPoints(normalised, distortion)
        inside &= np.all(np.abs(back - drawn) < _ROUND_TRIP, axis=1)
    ahead, jacobian = ahead[inside], jacobian[inside]
    depth = frame.depth[row[inside].astype(np.intp), column[inside].astype(np.intp)]
    z = local[ahead, 2]
    # NaN (nothing drawn there) hides nothing.
    visible = ~(depth < z * (1.0 - DEPTH_TOLERANCE))
    ahead, jacobian = ahead[visible], jacobian[visible]
    seen[ahead] = True
    # d(u, v) / d(s, t) along the face's axes, then its smaller singular value.
    on_face = _product(jacobian, rotation.T @ face_axes)
    a, b = on_face[:, 0, 0], on_face[:, 0, 1]
    c, d = on_face[:, 1, 0], on_face[:, 1, 1]
    squares = a * a + b * b + c * c + d * d
    determinant = np.abs(a * d - b * c)
    largest = np.sqrt(0.5 * (squares + np.sqrt(np.maximum(squares**2 - 4 * determinant**2, 0))))
    with np.errstate(divide="ignore"):
        mm[ahead] = 1000.0 * largest / determinant
    return seen, mm


# Per project: the thread that made its renderer, and the renderer.
_renderers = weakref.WeakKeyDictionary()


def _frames(project, names):
    """One frame per camera, drawn without labels.

    A project keeps its renderer while it lives, for the next call on the same thread:
    making a window costs about as much as drawing the cameras. Between calls the
    renderer holds an empty project, so that it does not keep the project alive.
    """
    from marnox.project import Project
    from marnox.viewer import CameraRenderer

    kept = _renderers.get(project)
    if kept is not None and kept[0] == threading.get_ident():
        renderer = kept[1]
        renderer.setProject(project)
    else:
        renderer = CameraRenderer(project, labels=False)
        _renderers[project] = (threading.get_ident(), renderer)
    try:
        return renderer.render(names)
    finally:
        renderer.setProject(Project())


def _planes():
    from marnox.viewer import CameraRenderer

    parameters = inspect.signature(CameraRenderer).parameters
    return parameters["near"].default, parameters["far"].default


def coverage(project, step=0.01, cameras=None, regions=None):
    """Which points of each task region's top face each camera sees, and how finely.

    Args:
        project: a Project (anything with ``workspace()``).
        step: the grid's spacing in metres: each side of a face gets
            ``ceil(side / step)`` equal cells, a point at each cell's centre.
        cameras: camera names, in the order wanted; None for all, in the workspace's order.
        regions: task-region names; None for all.

    A camera sees a point when the point projects into its image (OpenCV's model with
    the camera's distortion, as ``CameraRenderer`` draws), lies between the renderer's
    near and far planes along +z, and nothing the camera draws hides it: the camera's
    depth image at that pixel is not nearer than the point by more than
    ``DEPTH_TOLERANCE`` of its distance. Task regions are drawn translucent and so hide
    nothing; a camera does not see its own body. See the module's docstring for
    millimetres per pixel.

    Returns:
        A dict from region name to ``RegionCoverage``, in the order asked for.

    Raises:
        ValueError: an unknown camera or region, a step that is not a positive finite
            number or makes more than ``MAX_POINTS`` points, or a camera that cannot be
            drawn.

    Example::

        result = coverage(project, step=0.005)
        zone = result["place_zone"]
        print(zone.fraction(minCameras=2, maxMmPerPixel=1.5))
    """
    if isinstance(step, bool) or not isinstance(step, numbers.Real):
        raise ValueError(f"step must be a positive finite number of metres, got {step!r}")
    if not (math.isfinite(step) and step > 0):
        raise ValueError(f"step must be a positive finite number of metres, got {step!r}")
    workspace = project.workspace()
    all_cameras = workspace.getCameras()
    all_regions = workspace.getTaskRegions()
    camera_names = _chosen(all_cameras, cameras, "camera")
    region_names = _chosen(all_regions, regions, "task region")
    total = sum(
        _cells(size[0], step) * _cells(size[1], step)
        for size in (all_regions[name].size() for name in region_names)
    )
    if total > MAX_POINTS:
        raise ValueError(f"step {step!r} makes {total:.3g} points; at most {MAX_POINTS} are drawn")
    grids = {name: _grid(all_regions[name], step) for name in region_names}
    frames = _frames(project, camera_names) if camera_names else []
    near, far = _planes()
    result = {}
    for name, (face, size, cells, points) in grids.items():
        face_axes = face.rotation()[:, :2]
        seen = np.zeros((len(points), len(frames)), dtype=bool)
        mm = np.full((len(points), len(frames)), np.nan)
        for column, frame in enumerate(frames):
            distortion = all_cameras[frame.name].distortion()
            seen[:, column], mm[:, column] = _sees(frame, distortion, points, face_axes, near, far)
        result[name] = RegionCoverage(points, camera_names, seen, mm, face, size, cells)
    return result

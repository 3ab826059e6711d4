"""A fiducial's plate showing a marker of one of OpenCV's predefined dictionaries."""

from __future__ import annotations

import functools

import numpy as np
from vtkmodules.util import numpy_support
from vtkmodules.vtkCommonCore import vtkPoints, vtkUnsignedCharArray
from vtkmodules.vtkCommonDataModel import vtkCellArray, vtkPolyData

from marnox.visual import VisualElement, _pipelines

# White cells around the marker's black border, as OpenCV's detectors need a quiet zone.
MARGIN_CELLS = 1
WHITE, BLACK = (0.95, 0.95, 0.95), (0.05, 0.05, 0.05)

_NEEDS_OPENCV = "fiducial dictionaries need OpenCV 4.7 or newer: pip install 'marnox[markers]'"


def _aruco():
    try:
        import cv2
    except ImportError as error:
        raise ImportError(_NEEDS_OPENCV) from error
    aruco = getattr(cv2, "aruco", None)
    if aruco is None or not hasattr(aruco.Dictionary, "generateImageMarker"):
        raise ImportError(_NEEDS_OPENCV)
    return aruco


def markerCells(dictionary, marker_id):
    """Marker ``marker_id`` of OpenCV's dictionary named ``dictionary`` (``"DICT_4X4_50"``).

    Returns a square uint8 array, 1 for white and 0 for black, one entry per
    cell with the black border included, row 0 the marker image's top row.
    ImportError without OpenCV; ValueError for an unknown dictionary or an id
    it does not have.
    """
    if not isinstance(dictionary, str):
        raise TypeError(f"dictionary must be a str or None, got {type(dictionary).__name__}")
    aruco = _aruco()
    constant = getattr(aruco, dictionary, None) if dictionary.startswith("DICT_") else None
    if not isinstance(constant, int):
        raise ValueError(f"unknown marker dictionary {dictionary!r}: not one of OpenCV's DICT_*")
    markers = aruco.getPredefinedDictionary(constant)
    count = markers.bytesList.shape[0]
    if marker_id >= count:
        raise ValueError(f"{dictionary} has marker ids 0 to {count - 1}, not {marker_id}")
    cells = markers.markerSize + 2
    return (markers.generateImageMarker(marker_id, cells, borderBits=1) > 127).astype(np.uint8)


class _FlatPieces:
    """Flat pieces of surface gathered into one ``vtkPolyData`` of triangles.

    Each piece brings its points, its triangles, its normal and, per
    triangle, 1 for white or 0 for black.
    """

    def __init__(self):
        self._points, self._normals, self._triangles, self._white = [], [], [], []
        self._count = 0

    def add(self, points, triangles, normal, white):
        points, triangles = np.asarray(points, dtype=float), np.asarray(triangles)
        a, b, c = (points[triangles[:, k]] for k in range(3))
        # VTK lights a triangle seen from behind with its normal turned round:
        # wind each one counter-clockwise as seen from where its normal points.
        backwards = (np.cross(b - a, c - a) @ normal < 0)[:, None]
        self._triangles.append(
            np.where(backwards, triangles[:, [0, 2, 1]], triangles) + self._count
        )
        self._points.append(points)
        self._normals.append(np.tile(normal, (len(points), 1)))
        self._white.append(np.broadcast_to(white, len(triangles)))
        self._count += len(points)

    def polydata(self):
        surface = vtkPolyData()
        surface.SetPoints(vtkPoints())
        surface.GetPoints().SetData(numpy_support.numpy_to_vtk(np.vstack(self._points), deep=True))
        ids = np.vstack(self._triangles).astype(np.int64).ravel()
        surface.SetPolys(vtkCellArray())
        surface.GetPolys().SetData(3, numpy_support.numpy_to_vtkIdTypeArray(ids, deep=True))
        normals = numpy_support.numpy_to_vtk(np.vstack(self._normals), deep=True)
        surface.GetPointData().SetNormals(normals)
        palette = np.rint(255 * np.array([BLACK, WHITE])).astype(np.uint8)
        colors = numpy_support.numpy_to_vtk(
            palette[np.concatenate(self._white)],
            deep=True,
            array_type=vtkUnsignedCharArray().GetDataType(),
        )
        surface.GetCellData().SetScalars(colors)
        return surface


@functools.cache
def _unitPlate(dictionary, marker_id):
    """The plate showing the marker, for a marker edge of 1 and a thickness of 1.

    The face, margin included, is at z = 0: two triangles per cell on a shared
    grid of points, so that every edge is as sharp as the pixels allow at any
    distance. The white sides and back reach down to z = -1.
    """
    marker = np.pad(markerCells(dictionary, marker_id), MARGIN_CELLS, constant_values=1)
    count = marker.shape[0]
    half = 0.5 * count / (count - 2 * MARGIN_CELLS)
    ticks = np.linspace(-half, half, count + 1)
    # Columns run along +x, rows down from +y: the image's top edge is at +y.
    x, y = np.meshgrid(ticks, ticks[::-1])
    face = np.column_stack([x.ravel(), y.ravel(), np.zeros(x.size)])
    corner = (np.arange(count)[:, None] * (count + 1) + np.arange(count)).ravel()
    below = corner + count + 1
    cells = np.stack([corner, below, below + 1, corner, below + 1, corner + 1], axis=1)
    plate = _FlatPieces()
    plate.add(face, cells.reshape(-1, 3), (0.0, 0.0, 1.0), np.repeat(marker.ravel(), 2))
    grid = face.reshape(count + 1, count + 1, 3)
    unitZ = np.array([0.0, 0.0, 1.0])
    for edge in (grid[0], grid[:, -1], grid[-1], grid[:, 0]):
        # A fan from a bottom corner through every point of the face's edge: the
        # side meets the face's cells vertex to vertex, leaving no crack.
        last = len(edge) - 1
        fan = [(last + 1, i + 1, i) for i in range(last)] + [(last + 1, last + 2, last)]
        middle = (edge[0] + edge[last]) / 2
        outward = middle / np.linalg.norm(middle)
        plate.add(np.vstack([edge, edge[[0, last]] - unitZ]), fan, outward, 1)
    back = grid[[0, 0, -1, -1], [0, -1, -1, 0]] - unitZ
    plate.add(back, [(0, 1, 2), (0, 2, 3)], -unitZ, 1)
    return plate.polydata()


class VisualMarkerPlate(VisualElement):
    """A white plate of thickness ``thickness`` showing marker ``marker_id`` of ``dictionary``.

    The face is its frame's z = 0 plane, facing +z: the marker, whose black
    border is ``size`` on each edge, inside a white margin of ``MARGIN_CELLS``
    cells. The image's columns run along +x and its top row lies at +y. The
    plate reaches back to z = -``thickness``.
    """

    def __init__(self, dictionary, marker_id, size, thickness, offset=None):
        """Check the marker against OpenCV's dictionary; see the class docstring."""
        super().__init__(offset)
        markerCells(dictionary, marker_id)
        self._dictionary = dictionary
        self._markerId = marker_id
        self._size = size
        self._thickness = thickness

    def _createActor(self):
        surface = _unitPlate(self._dictionary, self._markerId)
        actor = _pipelines().scaledActor(surface, (self._size, self._size, self._thickness))
        mapper = actor.GetMapper()
        mapper.SetScalarModeToUseCellData()
        mapper.SetColorModeToDirectScalars()
        return actor

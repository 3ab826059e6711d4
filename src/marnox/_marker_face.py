"""A fiducial's face drawn as a marker of one of OpenCV's predefined dictionaries."""

from __future__ import annotations

import functools

import numpy as np
from vtkmodules.util import numpy_support
from vtkmodules.vtkCommonCore import vtkPoints, vtkUnsignedCharArray
from vtkmodules.vtkCommonDataModel import vtkCellArray, vtkPolyData

from marnox.visual import VisualElement, _scaledActor

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


@functools.cache
def _unitFace(dictionary, marker_id):
    """The face of edge 1 from marker border to border, margin included, at z = 0.

    One quad per cell on a shared grid of points, so that cells meet without
    cracks and every edge is as sharp as the pixels allow at any distance.
    """
    marker = np.pad(markerCells(dictionary, marker_id), MARGIN_CELLS, constant_values=1)
    count = marker.shape[0]
    half = 0.5 * count / (count - 2 * MARGIN_CELLS)
    ticks = np.linspace(-half, half, count + 1)
    # Columns run along +x, rows down from +y: the image's top edge is at +y.
    x, y = np.meshgrid(ticks, ticks[::-1])
    points = np.column_stack([x.ravel(), y.ravel(), np.zeros(x.size)])
    corner = (np.arange(count)[:, None] * (count + 1) + np.arange(count)).ravel()
    quads = np.column_stack([corner + count + 1, corner + count + 2, corner + 1, corner])
    surface = vtkPolyData()
    surface.SetPoints(vtkPoints())
    surface.GetPoints().SetData(numpy_support.numpy_to_vtk(points, deep=True))
    surface.SetPolys(vtkCellArray())
    surface.GetPolys().SetData(4, numpy_support.numpy_to_vtkIdTypeArray(quads.ravel(), deep=True))
    normals = numpy_support.numpy_to_vtk(np.tile([0.0, 0.0, 1.0], (len(points), 1)), deep=True)
    surface.GetPointData().SetNormals(normals)
    palette = np.rint(255 * np.array([BLACK, WHITE])).astype(np.uint8)
    rgb = palette[marker.ravel()]
    colors = numpy_support.numpy_to_vtk(
        rgb, deep=True, array_type=vtkUnsignedCharArray().GetDataType()
    )
    surface.GetCellData().SetScalars(colors)
    return surface


class VisualMarkerFace(VisualElement):
    """The face of a fiducial showing marker ``marker_id`` of ``dictionary``.

    A flat square in its frame's z = 0 plane facing +z: the marker, whose
    black border is ``size`` on each edge, inside a white margin of
    ``MARGIN_CELLS`` cells. The image's columns run along +x and its top row
    lies at +y.
    """

    def __init__(self, dictionary, marker_id, size, offset=None):
        """Check the marker against OpenCV's dictionary; see the class docstring."""
        super().__init__(offset)
        self._cellCount = len(markerCells(dictionary, marker_id))
        self._dictionary = dictionary
        self._markerId = marker_id
        self._size = size

    def _createActor(self):
        actor = _scaledActor(_unitFace(self._dictionary, self._markerId), (self._size,) * 3)
        mapper = actor.GetMapper()
        mapper.SetScalarModeToUseCellData()
        mapper.SetColorModeToDirectScalars()
        return actor

    def edge(self):
        """Edge of the whole face, margin included."""
        count = self._cellCount
        return self._size * (count + 2 * MARGIN_CELLS) / count

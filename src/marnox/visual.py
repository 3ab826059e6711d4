"""VTK actors for the workspace: simple shapes, frames, trajectories, point clouds.

Every element owns exactly one ``vtkActor`` for its whole life, so a viewer
can add it to a renderer once and only ever see it move or change data. The
actor is built when first asked for.
"""

from __future__ import annotations

import os

import numpy as np
from vtkmodules.util import numpy_support
from vtkmodules.vtkCommonCore import vtkPoints, vtkUnsignedCharArray
from vtkmodules.vtkCommonDataModel import vtkCellArray, vtkPolyData

from marnox import _checks
from marnox.constants import DEFAULT_GREY
from marnox.meshes import readMesh
from marnox.pose import _IDENTITY

_EMPTY_IDS = np.zeros(0, dtype=np.int64)


def _pipelines():
    # The actor-building module loads with the first actor, so that reading
    # or saving a cell never loads VTK's rendering (see marnox._actors).
    from marnox import _actors

    return _actors


# The least length a shape is drawn with. VTK's sources made a shape with a zero
# or negative length flat, and it still is; but a scale of exactly zero would
# leave VTK no inverse to turn the normals with, and a flat box would draw black.
_FLAT = 1e-12


def _lengths(*values):
    return tuple(max(value, _FLAT) for value in values)


def _idArray(ids):
    return numpy_support.numpy_to_vtkIdTypeArray(ids, deep=True)


def _asPoints(values, name, columns):
    array = np.asarray(values, dtype=float)
    if array.size == 0:
        return np.zeros((0, columns[0]))
    if array.ndim != 2 or array.shape[1] not in columns:
        raise ValueError("{} must be an (N, {}) array".format(name, " or ".join(map(str, columns))))
    return np.ascontiguousarray(array)


class VisualElement:
    """Base of everything a viewer draws: one VTK actor placed by a pose.

    ``offset`` is the element's fixed pose relative to the frame it is
    attached to; ``setPose`` moves that frame. The actor and its pipeline are
    built by the first ``_getActor`` call, at the pose set last, so that
    elements nobody draws (a project loaded only to be saved, say) cost no
    VTK objects. Subclasses build them in ``_createActor``.
    """

    def __init__(self, offset=None):
        """Create the element; ``offset`` defaults to the identity."""
        self._offset = _IDENTITY if offset is None else offset
        self._frame = _IDENTITY
        self._actor = None
        self._matrix = None

    def _getActor(self):
        """The element's actor, built on the first call; always the same object."""
        if self._actor is None:
            actor = self._createActor()
            self._matrix = self.pose().toVtkMatrix()
            actor.SetUserMatrix(self._matrix)
            self._actor = actor
        return self._actor

    def _createActor(self):
        raise NotImplementedError

    def offset(self):
        """Pose of the element relative to the frame it is attached to."""
        return self._offset

    def setPose(self, pose):
        """Place the attachment frame at ``pose`` (world); the actor goes to ``pose * offset``."""
        self._frame = pose
        if self._matrix is not None:
            (pose * self._offset).toVtkMatrix(self._matrix)

    def pose(self):
        """World pose of the actor as last placed (including the offset)."""
        return self._frame * self._offset


class VisualShape(VisualElement):
    """A solid of one colour: a unit surface scaled to size; base of box, cylinder, sphere."""

    def __init__(self, color, opacity, offset):
        super().__init__(offset)
        r, g, b = color
        self._color = (float(r), float(g), float(b))
        self._opacity = float(opacity)

    def _createActor(self):
        actor = _pipelines().scaledActor(self._unitSurface(), self._unitScale())
        prop = actor.GetProperty()
        prop.SetColor(*self._color)
        prop.SetOpacity(self._opacity)
        return actor

    def _unitSurface(self):
        raise NotImplementedError

    def _unitScale(self):
        raise NotImplementedError

    def color(self):
        """RGB colour, each channel 0..1."""
        return self._color

    def opacity(self):
        """Opacity 0 (invisible) .. 1 (solid)."""
        return self._opacity


class VisualBox(VisualShape):
    """A box of edge lengths ``size = (x, y, z)`` centred on its frame."""

    def __init__(self, size, color=DEFAULT_GREY, opacity=1.0, offset=None):
        """Create a box; see the class docstring."""
        super().__init__(color, opacity, offset)
        self._size = _checks.finiteVector(size, "size")

    def _unitSurface(self):
        return _pipelines().unitCube()

    def _unitScale(self):
        return _lengths(*self._size)

    def size(self):
        """Edge lengths ``(x, y, z)``."""
        return self._size


class VisualCylinder(VisualShape):
    """A cylinder centred on its frame with its axis along the frame's z."""

    def __init__(self, radius, height, color=DEFAULT_GREY, opacity=1.0, offset=None):
        """Create a cylinder; see the class docstring."""
        super().__init__(color, opacity, offset)
        self._radius = _checks.finite(radius, "radius")
        self._height = _checks.finite(height, "height")

    def _unitSurface(self):
        return _pipelines().unitCylinder()

    def _unitScale(self):
        return _lengths(self._radius, self._radius, self._height)

    def radius(self):
        """Cylinder radius."""
        return self._radius

    def height(self):
        """Length along the axis."""
        return self._height


class VisualSphere(VisualShape):
    """A sphere centred on its frame."""

    def __init__(self, radius, color=DEFAULT_GREY, opacity=1.0, offset=None):
        """Create a sphere; see the class docstring."""
        super().__init__(color, opacity, offset)
        self._radius = _checks.finite(radius, "radius")

    def _unitSurface(self):
        return _pipelines().unitSphere()

    def _unitScale(self):
        return _lengths(self._radius, self._radius, self._radius)

    def radius(self):
        """Sphere radius."""
        return self._radius


class VisualMesh(VisualShape):
    """A surface read from a mesh file: STL, OBJ, PLY, glTF/GLB or Collada (.dae).

    The file is read here, once per file however many elements show it: every
    element's mapper shares one ``vtkPolyData``. ``scale`` multiplies the
    file's coordinates along the shape frame's axes. ``color=None`` keeps the
    file's own colours (grey where it has none); a colour given replaces them.
    A missing file raises FileNotFoundError; an unreadable one, or an unknown
    ending, ValueError naming the file and what is wrong.

    Example::

        VisualMesh("fixture.stl", scale=(0.001, 0.001, 0.001), color=(0.2, 0.4, 0.8))
    """

    def __init__(self, path, scale=(1.0, 1.0, 1.0), color=None, opacity=1.0, offset=None):
        """Read ``path`` (or take it from the cache); see the class docstring."""
        super().__init__(DEFAULT_GREY if color is None else color, opacity, offset)
        if color is None:
            self._color = None
        self._path = str(path)
        # Kept apart from the path as given, so that a later change of the
        # working folder cannot change which file a saved project names.
        self._file = os.path.abspath(self._path)
        self._scale = _checks.finiteVector(scale, "scale")
        self._polydata = readMesh(self._path)

    def _createActor(self):
        actor = _pipelines().scaledActor(self._polydata, self._scale)
        mapper = actor.GetMapper()
        mapper.SetScalarVisibility(self._color is None)
        mapper.SetColorModeToDirectScalars()
        prop = actor.GetProperty()
        prop.SetColor(*(DEFAULT_GREY if self._color is None else self._color))
        prop.SetOpacity(self._opacity)
        return actor

    def path(self):
        """The mesh file's path as given."""
        return self._path

    def absolutePath(self):
        """The mesh file's absolute path, as of when the element was made."""
        return self._file

    def scale(self):
        """Scale factors ``(x, y, z)`` applied to the file's coordinates."""
        return self._scale

    def color(self):
        """RGB colour given, each channel 0..1, or None for the file's own colours."""
        return self._color

    def polydata(self):
        """The shared surface read from the file; do not change it."""
        return self._polydata


class VisualCoordinate(VisualElement):
    """A coordinate frame: red x, green y and blue z axes of length ``scale``.

    The axes are tubes in a single ``vtkActor`` coloured per cell.
    """

    def __init__(self, scale=0.2, offset=None):
        """Create axes of length ``scale``."""
        super().__init__(offset)
        self._scale = _checks.finite(scale, "scale")

    def _createActor(self):
        lines = vtkPolyData()
        lines.SetPoints(vtkPoints())
        lines.GetPoints().SetData(
            numpy_support.numpy_to_vtk(
                np.vstack([np.zeros((1, 3)), np.eye(3) * self._scale]), deep=True
            )
        )
        connectivity = _idArray(np.array([0, 1, 0, 2, 0, 3], dtype=np.int64))
        lines.SetLines(vtkCellArray())
        lines.GetLines().SetData(2, connectivity)
        colors = numpy_support.numpy_to_vtk(
            np.array([[230, 40, 40], [40, 200, 40], [50, 80, 240]], dtype=np.uint8), deep=True
        )
        lines.GetCellData().SetScalars(colors)
        actor = _pipelines().tubeActor(lines, self._scale * 0.03)
        actor.GetMapper().SetScalarModeToUseCellData()
        return actor

    def scale(self):
        """Length of each axis."""
        return self._scale


class VisualTrajectory(VisualElement):
    """A polyline through tool positions, updated in place by ``setPositions``."""

    def __init__(self, color=(1.0, 0.75, 0.1), width=3.0):
        """Create an empty trajectory line."""
        super().__init__()
        r, g, b = color
        self._color = (float(r), float(g), float(b))
        self._width = float(width)
        self._polydata = vtkPolyData()
        self._polydata.SetPoints(vtkPoints())
        self._polydata.SetLines(vtkCellArray())
        self.setPositions(positions=np.zeros((0, 3)))

    def _createActor(self):
        actor = _pipelines().polydataActor(self._polydata)
        prop = actor.GetProperty()
        prop.SetColor(*self._color)
        prop.SetLineWidth(self._width)
        prop.RenderLinesAsTubesOn()
        return actor

    def setPositions(self, positions):
        """Replace the polyline's points with an (N, 3) array; N may be 0 or 1."""
        points = _asPoints(positions, "positions", (3,))
        count = len(points)
        self._polydata.GetPoints().SetData(numpy_support.numpy_to_vtk(points, deep=True))
        ids = np.arange(count, dtype=np.int64) if count >= 2 else _EMPTY_IDS
        self._polydata.GetLines().SetData(max(len(ids), 1), _idArray(ids))
        self._polydata.Modified()

    def numberOfPoints(self):
        """How many positions the line currently has."""
        return self._polydata.GetNumberOfPoints()


class VisualPointcloud(VisualElement):
    """Points drawn as dots, updated in place by ``setPoints``.

    Accepts an (N, 3) array of positions, or (N, 6) with RGB 0..1 in the last
    three columns; uncoloured points use the element's default colour.
    """

    def __init__(self, color=(0.85, 0.85, 0.85), pointSize=3.0):
        """Create an empty point cloud."""
        super().__init__()
        r, g, b = color
        self._color = (float(r), float(g), float(b))
        self._pointSize = float(pointSize)
        self._polydata = vtkPolyData()
        self._polydata.SetPoints(vtkPoints())
        self._polydata.SetVerts(vtkCellArray())
        self.setPoints(pointcloud=np.zeros((0, 3)))

    def _createActor(self):
        actor = _pipelines().polydataActor(self._polydata)
        actor.GetMapper().SetScalarModeToUsePointData()
        prop = actor.GetProperty()
        prop.SetColor(*self._color)
        prop.SetPointSize(self._pointSize)
        prop.RenderPointsAsSpheresOn()
        return actor

    def setPoints(self, pointcloud):
        """Replace the points with an (N, 3) or (N, 6) array; N may be 0."""
        cloud = _asPoints(pointcloud, "pointcloud", (3, 6))
        positions = np.ascontiguousarray(cloud[:, :3])
        self._polydata.GetPoints().SetData(numpy_support.numpy_to_vtk(positions, deep=True))
        self._polydata.GetVerts().SetData(1, _idArray(np.arange(len(cloud), dtype=np.int64)))
        pointData = self._polydata.GetPointData()
        if cloud.shape[1] == 6:
            rgb = np.clip(cloud[:, 3:] * 255.0 + 0.5, 0, 255).astype(np.uint8)
            colors = numpy_support.numpy_to_vtk(
                rgb, deep=True, array_type=vtkUnsignedCharArray().GetDataType()
            )
            pointData.SetScalars(colors)
        else:
            pointData.SetScalars(None)
        self._polydata.Modified()

    def numberOfPoints(self):
        """How many points the cloud currently has."""
        return self._polydata.GetNumberOfPoints()


class VisualGroup:
    """An ordered collection of visual elements shown together."""

    def __init__(self, elements=()):
        """Create a group holding ``elements`` in order."""
        self._elements = []
        for element in elements:
            self.add(element)

    def add(self, element):
        """Append ``element`` (a ``VisualElement``) and return it."""
        if not isinstance(element, VisualElement):
            raise TypeError(f"expected a VisualElement, got {type(element).__name__!r}")
        self._elements.append(element)
        return element

    def elements(self):
        """The elements in the order they were added."""
        return tuple(self._elements)

    def __len__(self):
        return len(self._elements)

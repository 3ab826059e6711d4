"""VTK actors for the workspace: simple shapes, frames, trajectories, point clouds.

Every element owns exactly one VTK prop for its whole life (a ``vtkActor``; a
point cloud's is an assembly of actors), so a viewer can add it to a renderer
once and only ever see it move or change data. The prop is built when first
asked for.
"""

from __future__ import annotations

import os
import weakref

import numpy as np
from vtkmodules.util import numpy_support
from vtkmodules.vtkCommonCore import vtkPoints
from vtkmodules.vtkCommonDataModel import vtkCellArray, vtkPolyData

from marnox import _checks, _cloud
from marnox.constants import DEFAULT_GREY
from marnox.meshes import readMesh
from marnox.pose import _IDENTITY
from marnox.system import _isFrozen

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


# How a cloud is drawn. "points": squares of ``pointSize`` pixels straight from the point
# array, unlit in the cloud's own colours; on a software rasteriser this costs what a plain
# VTK cloud of vertices does, without the vertex list. "spheres": lit sphere impostors
# through a vertex list, several times the cost without a GPU.
POINTCLOUD_MODES = ("points", "spheres")
# While the view moves, at most this many points are drawn (an even subsample): a Mesa
# software rasteriser draws them in a few hundredths of a second at the web view's moving
# resolution, so a frame stays interactive however large the cloud.
MOVING_POINTS = 100_000
# A larger cloud is drawn in pieces of this many points, each finished by the window before
# the next is sent. Mesa's software rasteriser bins a draw faster than its threads raster it
# and keeps every bin it needed until the context goes, about 150 bytes a point drawn at
# once; finished pieces reuse the bins of one piece.
_PIECE_POINTS = 1 << 19


class VisualPointcloud(VisualElement):
    """A point cloud, updated in place by ``setPoints`` and thinned while the view moves.

    Accepts an (N, 3) array of positions, or (N, 6) with RGB 0..1 in the last three
    columns; uncoloured points use the element's default colour. Positions stay in the
    cloud's float type (float32 is not widened); colours are kept as bytes.

    ``mode`` says how points are drawn: ``"points"`` (the default) draws squares of
    ``pointSize`` pixels straight from the point array, unlit, so a point shows exactly
    its colour; ``"spheres"`` draws lit sphere impostors, which cost several times as
    much on a renderer without a GPU. :meth:`setMode` changes it later.

    While :meth:`setMoving` says the view moves, at most ``movingPoints`` points are drawn,
    every k-th of the cloud; at rest the whole cloud. A viewer's on-screen mouse drives
    this by itself (its interactor style's StartInteraction and EndInteraction events);
    other views call :meth:`setMoving`.

    The element's prop is a ``vtkAssembly``: a large cloud is drawn in pieces of a few
    hundred thousand points, one actor each, so that a software rasteriser's memory stays
    that of one piece.

    Example::

        cloud = VisualPointcloud(pointSize=2, mode="spheres")
        cloud.setPoints(pointcloud=np.random.default_rng(0).random((1000, 6)))
    """

    def __init__(
        self,
        color=(0.85, 0.85, 0.85),
        pointSize=3.0,
        *,
        mode="points",
        movingPoints=MOVING_POINTS,
    ):
        """Create an empty point cloud; see the class docstring."""
        super().__init__()
        _checkMode(mode)
        if isinstance(movingPoints, bool) or not isinstance(movingPoints, int) or movingPoints < 1:
            raise ValueError(f"movingPoints must be a positive integer, not {movingPoints!r}")
        r, g, b = color
        self._color = (float(r), float(g), float(b))
        self._pointSize = float(pointSize)
        self._mode = mode
        self._movingPoints = movingPoints
        self._moving = False
        self._source = None
        self._polydata = _cloudPolydata()
        self._thin = _cloudPolydata()
        self._pieces = _Pieces()
        self._pieceSize = _PIECE_POINTS
        self._property = None
        self._parts = []
        self._followed = None
        self._setMovingWeakly = weakref.WeakMethod(self.setMoving)
        self._pieceDrawnWeakly = weakref.WeakMethod(self._pieceDrawn)
        self.setPoints(pointcloud=_cloud.rows((), "pointcloud"))

    def _createActor(self):
        pipelines = _pipelines()
        self._property = pipelines.pointProperty(
            self._color, self._pointSize, self._mode == "spheres"
        )
        assembly = pipelines.emptyAssembly()
        self._showParts(assembly)
        return assembly

    def setMode(self, mode):
        """Draw the points as ``mode`` (``"points"`` or ``"spheres"``, see the class
        docstring) from the next frame on; a viewer's overlay is changed so, e.g.
        ``viewer._pointcloud.setMode("spheres")``."""
        _checkMode(mode)
        if mode == self._mode:
            return
        self._mode = mode
        _setVertexList(self._thin, mode == "spheres")
        self._thin.Modified()
        self._pieces = _Pieces()
        if self._actor is not None:
            self._property.SetRenderPointsAsSpheres(mode == "spheres")
            while self._parts:
                self._actor.RemovePart(self._parts.pop())
            self._showParts(self._actor)

    def setPoints(self, pointcloud):
        """Replace the points with an (N, 3) or (N, 6) array; N may be 0.

        The same read-only array again (the system's own copy, which it never changes)
        costs nothing; anything else is copied into the arrays VTK draws from.
        """
        self._follow()
        if pointcloud is self._source:
            return
        cloud = _cloud.rows(pointcloud, "pointcloud")
        self._source = None
        data = self._polydata
        points = data.GetPoints()
        points.SetData(_cloud.fill_positions(points.GetData(), cloud))
        pointData = data.GetPointData()
        if cloud.shape[1] == 6:
            pointData.SetScalars(_cloud.fill_colours(pointData.GetScalars(), cloud[:, 3:]))
        else:
            pointData.SetScalars(None)
        data.Modified()
        self._updateThin()
        if _isFrozen(pointcloud):
            self._source = pointcloud

    def setMoving(self, moving):
        """Draw an even subsample of at most ``movingPoints`` points while ``moving`` is
        true (the view's camera moves), the whole cloud again once it is false."""
        moving = bool(moving)
        if moving == self._moving:
            return
        self._moving = moving
        self._updateThin()

    def moving(self):
        """Whether the element draws for a moving view (see :meth:`setMoving`)."""
        return self._moving

    def mode(self):
        """How points are drawn: ``"points"`` or ``"spheres"``."""
        return self._mode

    def numberOfPoints(self):
        """How many points the cloud currently has."""
        return self._polydata.GetNumberOfPoints()

    def _drawsThin(self):
        return self._moving and self.numberOfPoints() > self._movingPoints

    def _updateThin(self):
        if self._drawsThin():
            count = self.numberOfPoints()
            stride = -(-count // self._movingPoints)
            full, part = self._polydata, self._thin
            points = part.GetPoints()
            points.SetData(_cloud.thinned(points.GetData(), full.GetPoints().GetData(), stride))
            colours = full.GetPointData().GetScalars()
            kept = part.GetPointData().GetScalars()
            part.GetPointData().SetScalars(
                None if colours is None else _cloud.thinned(kept, colours, stride)
            )
            _setVertexList(part, self._mode == "spheres")
            part.Modified()
        if self._actor is not None:
            self._showParts(self._actor)

    def _showParts(self, assembly):
        """Give ``assembly`` a part for the subsample, then one per piece of the cloud; the
        subsample's is shown while the view moves, the pieces' otherwise, so that neither
        is rebuilt (nor its buffers uploaded again) when the view starts or stops moving."""
        spheres = self._mode == "spheres"
        drawn = [self._thin, *self._pieces.of(self._polydata, self._pieceSize, spheres)]
        pipelines = _pipelines()
        while len(self._parts) > len(drawn):
            assembly.RemovePart(self._parts.pop())
        for index, piece in enumerate(drawn):
            if index == len(self._parts):
                part = pipelines.pieceActor(piece, self._property, spheres, self._pieceDrawnWeakly)
                self._parts.append(part)
                assembly.AddPart(part)
            mapper = self._parts[index].GetMapper()
            if mapper.GetInput() is not piece:
                mapper.SetInputData(piece)
        thin = self._drawsThin()
        for index, part in enumerate(self._parts):
            part.SetVisibility((index == 0) == thin)

    def _pieceDrawn(self):
        # Only a cloud drawn in several pieces waits: one piece finishes with the frame.
        if len(self._parts) > 2 and not self._drawsThin():
            _pipelines().finishDrawing(self._actor)

    def _follow(self):
        # The window's interactor can be replaced (init() again), so it is looked up on
        # every frame; that costs a few VTK calls.
        if self._actor is not None:
            self._followed = _pipelines().followInteraction(
                self._actor, self._followed, self._setMovingWeakly
            )


class _Pieces:
    """A cloud's polydata cut into pieces that share its arrays' memory, kept while the
    cloud's arrays are the same objects (refilled in place) and marked changed with them."""

    def __init__(self):
        self._arrays = None
        self._pieces = []
        self._vertexLists = {}

    def of(self, data, size, spheres):
        """``data`` in pieces of at most ``size`` points, with vertex lists for ``spheres``;
        ``data`` itself when it fits one."""
        count = data.GetNumberOfPoints()
        _setVertexList(data, spheres and count <= size)
        if count <= size:
            self._arrays, self._pieces = None, []
            return [data]
        arrays = (data.GetPoints().GetData(), data.GetPointData().GetScalars())
        if self._arrays is None or any(
            a is not b for a, b in zip(arrays, self._arrays, strict=True)
        ):
            self._arrays = arrays
            self._pieces = [
                self._piece(arrays, start, size, spheres) for start in range(0, count, size)
            ]
        elif max(array.GetMTime() for array in arrays if array is not None) > min(
            piece.GetMTime() for piece in self._pieces
        ):
            for piece in self._pieces:
                _markChanged(piece)
        return self._pieces

    def _piece(self, arrays, start, size, spheres):
        piece = _cloudPolydata()
        positions, colours = (
            None if array is None else numpy_support.vtk_to_numpy(array)[start : start + size]
            for array in arrays
        )
        piece.GetPoints().SetData(numpy_support.numpy_to_vtk(positions))
        if colours is not None:
            piece.GetPointData().SetScalars(numpy_support.numpy_to_vtk(colours))
        if spheres:
            count = len(positions)
            if count not in self._vertexLists:
                self._vertexLists[count] = _vertexList(count)
            piece.SetVerts(self._vertexLists[count])
        return piece


def _markChanged(piece):
    piece.GetPoints().GetData().Modified()
    colours = piece.GetPointData().GetScalars()
    if colours is not None:
        colours.Modified()
    piece.Modified()


def _checkMode(mode):
    if mode not in POINTCLOUD_MODES:
        raise ValueError(f"mode must be one of {POINTCLOUD_MODES}, not {mode!r}")


def _cloudPolydata():
    data = vtkPolyData()
    data.SetPoints(vtkPoints())
    return data


def _vertexList(count):
    verts = vtkCellArray()
    verts.SetData(1, _idArray(np.arange(count, dtype=np.int64)))
    return verts


def _setVertexList(data, wanted):
    """One vertex cell per point of ``data`` if ``wanted``, kept while the number of points
    is; else none."""
    count = data.GetNumberOfPoints() if wanted else 0
    verts = data.GetVerts()
    if verts is None or verts.GetNumberOfCells() != count:
        data.SetVerts(_vertexList(count) if count else vtkCellArray())


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

"""Collada, which VTK cannot read: trimesh and pycollada, colours from the materials."""

from __future__ import annotations

import errno

import numpy as np
from vtkmodules.util import numpy_support
from vtkmodules.vtkCommonCore import vtkPoints
from vtkmodules.vtkCommonDataModel import vtkCellArray, vtkPolyData
from vtkmodules.vtkFiltersCore import vtkAppendPolyData

from marnox.meshes._reading import MeshError, readBytes, setCellColors


def readCollada(path):
    """The triangles of a Collada file's scene, in their materials' colours."""
    # Imported here: trimesh and pycollada take a while to load and only Collada needs them.
    import trimesh

    readBytes(path)
    try:
        scene = trimesh.load(path, file_type="dae", force="scene", resolver=_noTextures())
    except Exception as error:  # pycollada and lxml raise many kinds for malformed files
        raise MeshError(f"not a readable Collada file ({type(error).__name__}: {error})") from error
    pieces = vtkAppendPolyData()
    for mesh in scene.dump():
        if isinstance(mesh, trimesh.Trimesh) and len(mesh.faces):
            pieces.AddInputData(_trimeshPolydata(mesh))
    if pieces.GetNumberOfInputConnections(0) == 0:
        # A scene whose material bindings are broken (a missing texture, say)
        # loses its nodes; its geometries are still there, at the file's origin.
        for vertices, triangles in _geometries(path):
            pieces.AddInputData(_trimeshPolydata(trimesh.Trimesh(vertices, triangles)))
    if pieces.GetNumberOfInputConnections(0) == 0:
        raise MeshError("the Collada file holds no triangles")
    pieces.Update()
    return pieces.GetOutput()


def _noTextures():
    """A trimesh resolver that reads no texture: a surface takes its material's
    colour, not its texture's, and a texture named after a FIFO or a device
    would block the read."""
    import trimesh.resolvers

    class NoTextures(trimesh.resolvers.Resolver):
        def __init__(self):
            pass

        def get(self, name):
            raise FileNotFoundError(errno.ENOENT, "textures are not read", name)

        def write(self, name, data):
            raise OSError(errno.EROFS, "textures are not written", name)

        def namespaced(self, namespace):
            return self

        def keys(self):
            return []

    return NoTextures()


def _geometries(path):
    """(vertices, triangles) of each triangle primitive; lines and points have none."""
    import collada
    from collada.common import DaeBrokenRefError, DaeUnsupportedError
    from collada.triangleset import TriangleSet

    try:
        document = collada.Collada(path, ignore=[DaeBrokenRefError, DaeUnsupportedError])
    except Exception as error:  # pycollada and lxml raise many kinds for malformed files
        raise MeshError(f"not a readable Collada file ({type(error).__name__}: {error})") from error
    for geometry in document.geometries:
        for primitive in geometry.primitives:
            if hasattr(primitive, "triangleset"):
                primitive = primitive.triangleset()
            if not isinstance(primitive, TriangleSet) or primitive.vertex is None:
                continue
            indices = primitive.vertex_index
            if indices is not None and len(indices):
                vertices = np.asarray(primitive.vertex, dtype=float)
                indices = np.asarray(indices, dtype=np.int64).reshape(-1, 3)
                if indices.min() < 0 or indices.max() >= len(vertices):
                    raise MeshError("Collada triangles name vertices the file does not hold")
                yield vertices, indices


def _trimeshPolydata(mesh):
    polydata = vtkPolyData()
    points = vtkPoints()
    points.SetData(
        numpy_support.numpy_to_vtk(np.ascontiguousarray(mesh.vertices, dtype=float), deep=True)
    )
    polydata.SetPoints(points)
    faces = np.ascontiguousarray(mesh.faces, dtype=np.int64).ravel()
    if faces.size and (faces.min() < 0 or faces.max() >= len(mesh.vertices)):
        raise MeshError("Collada triangles name vertices the file does not hold")
    polys = vtkCellArray()
    polys.SetData(3, numpy_support.numpy_to_vtkIdTypeArray(faces, deep=True))
    polydata.SetPolys(polys)
    colors = _colors(mesh)
    if colors is not None:
        setCellColors(polydata, colors)
    return polydata


def _colors(mesh):
    visual = mesh.visual
    if visual.kind in ("face", "vertex"):
        return np.asarray(visual.face_colors)[:, :3]
    material = getattr(visual, "material", None)
    color = getattr(material, "main_color", None)
    if color is None:
        return None
    return np.tile(np.asarray(color)[:3], (len(mesh.faces), 1))

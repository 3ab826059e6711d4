"""Mesh files read once into a ``vtkPolyData`` that every element showing them shares.

STL, OBJ (with its MTL colours), PLY (with vertex colours) and glTF/GLB go
through VTK's readers, after ``_mesh_checks`` has made sure the file holds
what it declares. Collada, which VTK cannot read, goes through trimesh and
pycollada. A file's own colours end up as unsigned-char RGB cell or point
scalars of the polydata.

The cache is keyed by the resolved path, size and modification time, so a
file changed on disk is read again, and holds the polydata weakly: it lives
as long as some element uses it.
"""

from __future__ import annotations

import ctypes
import errno
import os
import re
import stat
import weakref

import numpy as np
from vtkmodules.util import numpy_support
from vtkmodules.vtkCommonCore import VTK_STRING, VTK_UNSIGNED_CHAR, vtkCommand, vtkPoints
from vtkmodules.vtkCommonDataModel import vtkCellArray, vtkPolyData
from vtkmodules.vtkFiltersCore import vtkAppendPolyData
from vtkmodules.vtkIOGeometry import vtkGLTFReader, vtkOBJReader, vtkSTLReader
from vtkmodules.vtkIOPLY import vtkPLYReader

from marnox import _mesh_checks
from marnox._mesh_checks import MeshError
from marnox.constants import DEFAULT_GREY

MESH_ENDINGS = (".stl", ".obj", ".ply", ".gltf", ".glb", ".dae")

_cache = weakref.WeakValueDictionary()
_ESCAPES = re.compile(r"\x1b\[[0-9;]*m")


def _fileKey(path):
    resolved = os.path.realpath(path)
    try:
        info = os.stat(resolved)
    except FileNotFoundError:
        raise FileNotFoundError(errno.ENOENT, "mesh file not found", path) from None
    if not stat.S_ISREG(info.st_mode):
        raise ValueError(f"{path}: not a mesh file (not a regular file)")
    return resolved, info.st_size, info.st_mtime_ns


def readMesh(path):
    """The shared polydata of the mesh file ``path``; callers must not change it.

    Raises FileNotFoundError for a missing file and ValueError (or OSError) naming the
    file and what is wrong for anything that cannot be read.
    """
    path = os.fspath(path)
    ending = os.path.splitext(path)[1].lower()
    if ending not in MESH_ENDINGS:
        raise ValueError(
            f"{path}: unknown mesh file ending {ending!r} (known: {', '.join(MESH_ENDINGS)})"
        )
    key = _fileKey(path)
    polydata = _cache.get(key)
    if polydata is None:
        try:
            polydata = _READERS[ending](key[0])
        except MeshError as error:
            raise ValueError(f"{path}: {error}") from None
        if polydata.GetNumberOfCells() == 0:
            raise ValueError(f"{path}: the file holds no surface")
        if polydata.GetActualMemorySize() >= _TRIM_KIB:
            _releaseFreedMemory()
        _cache[key] = polydata
    return polydata


def _loadMallocTrim():
    try:
        return ctypes.CDLL(None).malloc_trim
    except (OSError, AttributeError):
        return None


# A reader's scratch memory (VTK's STL reader merges points through a locator)
# is freed when it finishes, but glibc keeps it resident; after a large mesh,
# hand it back so that the process grows by about the mesh alone.
_TRIM_KIB = 16 * 1024
_mallocTrim = _loadMallocTrim()


def _releaseFreedMemory():
    if _mallocTrim is not None:
        _mallocTrim(0)


def _bytes(path):
    with open(path, "rb") as stream:
        data = stream.read()
    if not data:
        raise MeshError("empty file")
    return data


class _Errors:
    """Collects the errors a VTK reader reports instead of letting VTK print them."""

    def __init__(self, algorithm):
        self.messages = []
        algorithm.AddObserver(vtkCommand.ErrorEvent, self._record)
        # The executive repeats the reader's failure; that copy adds nothing.
        algorithm.GetExecutive().AddObserver(vtkCommand.ErrorEvent, self._ignore)
        # Warnings (an odd line an OBJ reader skips, say) do not stop a read;
        # observing them keeps VTK from printing them.
        algorithm.AddObserver(vtkCommand.WarningEvent, self._ignore)

    def _record(self, caller, event, message):
        # VTK's text carries terminal colour codes and the object's address.
        text = _ESCAPES.sub("", str(message)).strip().splitlines()[-1]
        self.messages.append(text.split("): ", 1)[-1])

    _record.CallDataType = VTK_STRING

    def _ignore(self, caller, event, message=None):
        pass


def _run(reader, path):
    reader.SetFileName(path)
    errors = _Errors(reader)
    reader.Update()
    if errors.messages:
        raise MeshError(errors.messages[0])
    return reader.GetOutput()


def _readStl(path):
    # The header and the size tell a consistent binary STL; an ASCII one's
    # first facet lies near its start.
    with open(path, "rb") as stream:
        head = stream.read(4096)
        size = os.fstat(stream.fileno()).st_size
    _mesh_checks.checkStl(head, size)
    return _run(vtkSTLReader(), path)


def _readPly(path):
    _mesh_checks.checkPly(_bytes(path))
    return _run(vtkPLYReader(), path)


def _readObj(path):
    data = _bytes(path)
    polydata = _run(vtkOBJReader(), path)
    _colorObjMaterials(polydata, data, os.path.dirname(path))
    return polydata


def _readGltf(path):
    data = _bytes(path)
    document = _mesh_checks.checkGltf(
        data, os.path.dirname(path), binary=path.lower().endswith(".glb")
    )
    reader = vtkGLTFReader()
    reader.SetFileName(path)
    errors = _Errors(reader)
    reader.Update()
    if errors.messages:
        raise MeshError(errors.messages[0])
    pieces = list(_gltfPrimitives(reader.GetOutput()))
    colors = [_gltfColor(document, mesh, primitive) for mesh, primitive, _ in pieces]
    append = vtkAppendPolyData()
    for (_, _, polydata), color in zip(pieces, colors, strict=True):
        # Every piece gets colours or none does: appending keeps only the
        # arrays that all pieces have.
        if any(c is not None for c in colors):
            _setCellColor(polydata, DEFAULT_GREY if color is None else color)
        append.AddInputData(polydata)
    if not pieces:
        raise MeshError("glTF scene shows no mesh")
    append.Update()
    return append.GetOutput()


def _gltfPrimitives(blocks, mesh=None):
    """``(mesh index, primitive index, polydata)`` for each surface the reader made.

    The reader nests a block "Mesh_<m>" in each node that shows mesh m, and in
    it one surface per primitive, in the file's order.
    """
    for index in range(blocks.GetNumberOfBlocks()):
        block = blocks.GetBlock(index)
        if block is None:
            continue
        if block.IsA("vtkPolyData"):
            if mesh is not None:
                polydata = vtkPolyData()
                polydata.ShallowCopy(block)
                yield mesh, index, polydata
            continue
        name = blocks.GetMetaData(index).Get(blocks.NAME()) if blocks.HasMetaData(index) else ""
        found = re.fullmatch(r"Mesh_(\d+)", name or "")
        yield from _gltfPrimitives(block, int(found.group(1)) if found else None)


def _gltfColor(document, mesh, primitive):
    """The base colour of a primitive's material, or None."""
    try:
        material = document["meshes"][mesh]["primitives"][primitive]["material"]
        factor = document["materials"][material]["pbrMetallicRoughness"]["baseColorFactor"]
    except (KeyError, IndexError, TypeError):
        return None
    if isinstance(factor, list) and len(factor) == 4:
        return [float(v) for v in factor[:3]]
    return None


def _readCollada(path):
    # Imported here: trimesh and pycollada take a while to load and only Collada needs them.
    import trimesh

    _bytes(path)
    try:
        scene = trimesh.load(path, file_type="dae", force="scene", resolver=_noTextures())
    except Exception as error:  # pycollada and lxml raise many kinds for malformed files
        raise MeshError(f"not a readable Collada file ({type(error).__name__}: {error})") from None
    pieces = vtkAppendPolyData()
    for mesh in scene.dump():
        if isinstance(mesh, trimesh.Trimesh) and len(mesh.faces):
            pieces.AddInputData(_trimeshPolydata(mesh))
    if pieces.GetNumberOfInputConnections(0) == 0:
        # A scene whose material bindings are broken (a missing texture, say)
        # loses its nodes; its geometries are still there, at the file's origin.
        for vertices, triangles in _colladaGeometries(path):
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


def _colladaGeometries(path):
    import collada
    from collada.common import DaeBrokenRefError, DaeUnsupportedError

    try:
        document = collada.Collada(path, ignore=[DaeBrokenRefError, DaeUnsupportedError])
    except Exception as error:  # pycollada and lxml raise many kinds for malformed files
        raise MeshError(f"not a readable Collada file ({type(error).__name__}: {error})") from None
    for geometry in document.geometries:
        for primitive in geometry.primitives:
            if hasattr(primitive, "triangleset"):
                primitive = primitive.triangleset()
            indices = getattr(primitive, "vertex_index", None)
            if indices is not None and len(indices) and primitive.vertex is not None:
                vertices = np.asarray(primitive.vertex, dtype=float)
                indices = np.asarray(indices, dtype=np.int64).reshape(-1, 3)
                if indices.min() < 0 or indices.max() >= len(vertices):
                    raise MeshError("Collada triangles name vertices the file does not hold")
                yield vertices, indices


def _trimeshPolydata(mesh):
    polydata = vtkPolyData()
    points = numpy_support.numpy_to_vtk(np.ascontiguousarray(mesh.vertices, dtype=float), deep=True)
    polydata.SetPoints(_points(points))
    faces = np.ascontiguousarray(mesh.faces, dtype=np.int64).ravel()
    polys = vtkCellArray()
    polys.SetData(3, numpy_support.numpy_to_vtkIdTypeArray(faces, deep=True))
    polydata.SetPolys(polys)
    colors = _trimeshColors(mesh)
    if colors is not None:
        _setCellColors(polydata, colors)
    return polydata


def _trimeshColors(mesh):
    visual = mesh.visual
    if visual.kind in ("face", "vertex"):
        return np.asarray(visual.face_colors)[:, :3]
    material = getattr(visual, "material", None)
    color = getattr(material, "main_color", None)
    if color is None:
        return None
    return np.tile(np.asarray(color)[:3], (len(mesh.faces), 1))


def _points(array):
    points = vtkPoints()
    points.SetData(array)
    return points


def _setCellColors(polydata, rgb):
    array = numpy_support.numpy_to_vtk(
        np.ascontiguousarray(rgb, dtype=np.uint8), deep=True, array_type=VTK_UNSIGNED_CHAR
    )
    array.SetName("Colors")
    polydata.GetCellData().SetScalars(array)


def _setCellColor(polydata, color):
    rgb = np.clip(np.asarray(color[:3], dtype=float) * 255.0 + 0.5, 0, 255)
    _setCellColors(polydata, np.tile(rgb, (polydata.GetNumberOfCells(), 1)))


def _mtlColors(data, folder):
    colors = {}
    for line in data.splitlines():
        words = line.split()
        if len(words) >= 2 and words[0] == b"mtllib":
            for name in words[1:]:
                library = os.path.join(folder, name.decode("utf-8", "replace"))
                if os.path.isfile(library):
                    with open(library, "rb") as stream:
                        colors.update(_parseMtl(stream.read()))
    return colors


def _parseMtl(data):
    colors, current = {}, None
    for line in data.splitlines():
        words = line.split()
        if len(words) >= 2 and words[0] == b"newmtl":
            current = words[1].decode("utf-8", "replace")
        elif len(words) >= 4 and words[0] == b"Kd" and current is not None:
            try:
                colors[current] = [float(v) for v in words[1:4]]
            except ValueError:
                continue
    return colors


def _objFaceMaterials(data):
    """The material name in force at each face (``f``) line, in file order."""
    current, faces = None, []
    for line in data.splitlines():
        words = line.split(None, 2)
        if not words:
            continue
        if words[0] == b"f":
            faces.append(current)
        elif words[0] == b"usemtl":
            current = words[1].decode("utf-8", "replace") if len(words) > 1 else None
    return faces


def _colorObjMaterials(polydata, data, folder):
    """Cell colours from the diffuse colours of the materials the faces use.

    The faces' materials are taken from the file itself: VTK's reader numbers
    them wrongly when a material is chosen before the first face.
    """
    colors = _mtlColors(data, folder)
    if not colors:
        return
    faces = _objFaceMaterials(data)
    # Only when every face became one cell do the lines map onto the cells.
    if len(faces) != polydata.GetNumberOfCells() or len(faces) != polydata.GetNumberOfPolys():
        return
    table = {name: np.clip(np.asarray(rgb) * 255.0 + 0.5, 0, 255) for name, rgb in colors.items()}
    grey = np.array(DEFAULT_GREY) * 255.0 + 0.5
    _setCellColors(polydata, np.array([table.get(name, grey) for name in faces]))


_READERS = {
    ".stl": _readStl,
    ".obj": _readObj,
    ".ply": _readPly,
    ".gltf": _readGltf,
    ".glb": _readGltf,
    ".dae": _readCollada,
}

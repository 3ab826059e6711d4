"""Mesh files read once into a ``vtkPolyData`` that every element showing them shares.

Each format has its module, which checks a file holds what it declares,
reads it and takes its colours: STL, OBJ (with its MTL colours), PLY (with
vertex colours) and glTF/GLB go through VTK's readers, Collada, which VTK
cannot read, through trimesh and pycollada. A file's own colours end up as
unsigned-char RGB cell or point scalars of the polydata.

The cache is keyed by the resolved path, size, modification and change times
and the inode, so a file changed on disk is read again, and holds the polydata
weakly: it lives as long as some element uses it. Formats that are slow to
read are also kept on disk, converted (see ``marnox.meshes.disk_cache``).
"""

from __future__ import annotations

import ctypes
import importlib
import os
import weakref
from typing import NamedTuple, Optional

from marnox._files import requireRegularFile
from marnox.meshes import disk_cache
from marnox.meshes._reading import MeshError, checkCells


class _Format(NamedTuple):
    """How one mesh file ending is read."""

    # The module in marnox.meshes that reads the format, and its reader.
    module: str
    reader: str
    # Whether the converted polydata is kept on disk (see disk_cache).
    kept: bool = False
    # The module's function listing the files besides the mesh that its colours come
    # from, which an entry on disk must be keyed by too.
    linked: Optional[str] = None


# Reading Collada and OBJ takes a hundred times as long as reading the kept
# copy, STL and PLY ten times; glTF is read about as fast as the copy, and
# draws on buffer files the key would have to follow.
_FORMATS = {
    ".stl": _Format("stl", "readStl", kept=True),
    ".obj": _Format("obj", "readObj", kept=True, linked="materialLibraries"),
    ".ply": _Format("ply", "readPly", kept=True),
    ".gltf": _Format("gltf", "readGltf"),
    ".glb": _Format("gltf", "readGltf"),
    ".dae": _Format("collada", "readCollada", kept=True),
}
MESH_ENDINGS = tuple(_FORMATS)

_cache = weakref.WeakValueDictionary()


def _fileKey(path):
    info = requireRegularFile(path, "mesh file")
    resolved = os.path.realpath(path)
    # The change time and the inode, which no copy or unpacking keeps, tell a file
    # rewritten to its old size with its old modification time kept.
    return resolved, info.st_size, info.st_mtime_ns, info.st_ctime_ns, info.st_dev, info.st_ino


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
        entry = _diskEntry(key, ending)
        polydata = disk_cache.load(entry) if entry else None
        if polydata is None:
            polydata = _readFile(path, ending, key[0])
            if entry:
                disk_cache.store(entry, polydata)
        _cache[key] = polydata
    return polydata


def _readFile(path, ending, resolved):
    try:
        fileFormat = _FORMATS[ending]
        polydata = _formatFunction(fileFormat, fileFormat.reader)(resolved)
        checkCells(polydata)
    except MeshError as error:
        raise ValueError(f"{path}: {error}") from error
    if polydata.GetNumberOfCells() == 0:
        raise ValueError(f"{path}: the file holds no surface")
    if polydata.GetActualMemorySize() >= _TRIM_KIB:
        _releaseFreedMemory()
    return polydata


def _diskEntry(key, ending):
    """The disk cache's name for the mesh, or None for a format not kept there."""
    fileFormat = _FORMATS[ending]
    if not fileFormat.kept:
        return None
    try:
        names = _formatFunction(fileFormat, fileFormat.linked)(key[0]) if fileFormat.linked else ()
        linked = [_fileKey(name) for name in names]
    except (OSError, ValueError):
        return None
    return disk_cache.entryName(key, linked)


def _loadMallocTrim():
    try:
        return ctypes.CDLL(None).malloc_trim
    except (OSError, AttributeError):
        return None


# A reader's scratch memory (VTK's STL reader merges points through a locator)
# is freed when it finishes, but glibc keeps it resident: after a large mesh the
# process would stay hundreds of MiB larger than the mesh it keeps. Handing that
# memory back lets a user show a large mesh and keep only its own size resident.
_TRIM_KIB = 16 * 1024
_mallocTrim = _loadMallocTrim()


def _releaseFreedMemory():
    if _mallocTrim is not None:
        _mallocTrim(0)


def _formatFunction(fileFormat, function):
    # A format's module, and the VTK readers it needs, load with the first
    # file of that format: a robot whose meshes all come from the disk cache
    # loads none, which would take longer than reading the cached robot.
    return getattr(importlib.import_module("marnox.meshes." + fileFormat.module), function)

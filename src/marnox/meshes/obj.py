"""OBJ: VTK's reader, its indices checked first, cell colours from the MTL libraries it names."""

from __future__ import annotations

import os
import re

import numpy as np
from vtkmodules.vtkIOGeometry import vtkOBJReader

from marnox.constants import DEFAULT_GREY
from marnox.meshes._reading import (
    MeshError,
    colorBytes,
    readBytes,
    readLinked,
    runReader,
    setCellColors,
)

_LEADING_INTEGER = re.compile(rb"[+-]?\d+")
# What the parts of a corner "v/vt/vn" name, and the lines that declare them.
_CORNER_PARTS = ((b"v", "vertices"), (b"vt", "texture coordinates"), (b"vn", "normals"))
_ELEMENTS = (b"f", b"l", b"p")


def _checkCorner(corner, declared, total, number):
    """One corner of a face, line or point: each index names a declared value.

    A positive index counts from the file's first value (VTK takes values
    declared later too), a negative one back from the last one declared so far.
    """
    for part, (kind, what) in zip(corner.split(b"/"), _CORNER_PARTS, strict=False):
        found = _LEADING_INTEGER.match(part)
        if found is None:
            continue
        index = int(found.group())
        if not (0 < index <= total[kind] or 0 < -index <= declared[kind]):
            raise MeshError(
                f"OBJ line {number} names {what} index {index} outside the {total[kind]} {what}"
            )


def _scan(data):
    """Checks every index against the values declared, and returns the
    material in force at each face (``f``) line, in file order."""
    lines = data.splitlines()
    total = dict.fromkeys((kind for kind, _ in _CORNER_PARTS), 0)
    for line in lines:
        keyword = line.split(None, 1)[:1]
        if keyword and keyword[0] in total:
            total[keyword[0]] += 1
    declared = dict.fromkeys(total, 0)
    current, faces = None, []
    for number, line in enumerate(lines, 1):
        words = line.split()
        if not words:
            continue
        if words[0] in declared:
            declared[words[0]] += 1
        elif words[0] in _ELEMENTS:
            for corner in words[1:]:
                _checkCorner(corner, declared, total, number)
            if words[0] == b"f":
                faces.append(current)
        elif words[0] == b"usemtl":
            current = words[1].decode("utf-8", "replace") if len(words) > 1 else None
    return faces


def _mtlColors(data, folder):
    colors = {}
    for line in data.splitlines():
        words = line.split()
        if len(words) >= 2 and words[0] == b"mtllib":
            for name in words[1:]:
                library = os.path.join(folder, name.decode("utf-8", "replace"))
                if os.path.isfile(library):
                    colors.update(_parseMtl(readLinked(library, "material library")))
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


def _colorMaterials(polydata, faces, colors):
    """Cell colours from the diffuse colours of the materials the faces use.

    The faces' materials are taken from the file itself: VTK's reader numbers
    them wrongly when a material is chosen before the first face.
    """
    # Only when every face became one cell do the lines map onto the cells.
    if len(faces) != polydata.GetNumberOfCells() or len(faces) != polydata.GetNumberOfPolys():
        return
    table = {name: colorBytes(rgb) for name, rgb in colors.items()}
    grey = colorBytes(DEFAULT_GREY)
    setCellColors(polydata, np.array([table.get(name, grey) for name in faces]))


def readObj(path):
    """The surface of an OBJ file, in the colours of its MTL materials."""
    data = readBytes(path)
    faces = _scan(data)
    colors = _mtlColors(data, os.path.dirname(path))
    polydata = runReader(vtkOBJReader(), path)
    if colors:
        _colorMaterials(polydata, faces, colors)
    return polydata

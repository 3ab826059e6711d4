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

# What the parts of a corner "v/vt/vn" name, and the lines that declare them.
_CORNER_PARTS = ((b"v", "vertices"), (b"vt", "texture coordinates"), (b"vn", "normals"))
_DECLARATION = re.compile(rb"^[ \t]*(vt|vn|v)[ \t]", re.MULTILINE)
_ELEMENT = re.compile(rb"^[ \t]*[flp][ \t]([^\n#]*)", re.MULTILINE)


def _cornerColumns(corners):
    """Each corner's v, vt and vn indices, by part: ``[(part number, int64 values)]``."""
    tokens = np.array(corners)
    slashes = (tokens.view(np.uint8).reshape(len(tokens), -1) == ord("/")).sum(axis=1)
    if slashes.max() > 2:
        raise MeshError("OBJ corner with more than v/vt/vn")
    columns = []
    for count in range(3):
        rows = tokens[slashes == count]
        if not rows.size:
            continue
        parts = np.array(b"\n".join(rows.tolist()).replace(b"/", b"\n").split(b"\n"))
        for number, values in enumerate(parts.reshape(-1, count + 1).T):
            # Only "v//vn" leaves a part out.
            if number == 1 and count == 2:
                values = values[values != b""]
            try:
                columns.append((number, values.astype(np.int64)))
            except (ValueError, OverflowError):
                raise MeshError("OBJ corner that is not v, v/vt, v//vn or v/vt/vn") from None
    return columns


def _checkIndices(data):
    """Every corner of a face, line or point names values the file declares.

    A positive index counts from the file's first value (VTK takes values
    declared later too), a negative one back from the last one declared before
    its line.
    """
    kinds = _DECLARATION.findall(data)
    total = [kinds.count(kind) for kind, _ in _CORNER_PARTS]
    corners = b" ".join(_ELEMENT.findall(data)).split()
    if not corners:
        return
    relative = False
    for number, values in _cornerColumns(corners):
        what = _CORNER_PARTS[number][1]
        wrong = (values == 0) | (values > total[number]) | (values < -total[number])
        if wrong.any():
            raise MeshError(
                f"OBJ {what} index {values[wrong][0]} outside the {total[number]} {what}"
            )
        relative = relative or bool((values < 0).any())
    if relative:
        _checkRelative(data)


def _checkRelative(data):
    """Negative indices count back from the values declared so far."""
    declared = dict.fromkeys((kind for kind, _ in _CORNER_PARTS), 0)
    for line in data.splitlines():
        words = line.split(b"#", 1)[0].split()
        if words and words[0] in declared:
            declared[words[0]] += 1
        elif words and words[0] in (b"f", b"l", b"p"):
            for corner in words[1:]:
                for part, (kind, what) in zip(corner.split(b"/"), _CORNER_PARTS, strict=False):
                    if part and -int(part) > declared[kind]:
                        raise MeshError(
                            f"OBJ {what} index {int(part)} outside the {declared[kind]} {what} "
                            "declared before it"
                        )


def _faceMaterials(data):
    """The material in force at each face (``f``) line, in file order."""
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


def _libraries(data, folder):
    """The MTL libraries an OBJ file names that exist beside it."""
    found = []
    for line in data.splitlines():
        words = line.split()
        if len(words) >= 2 and words[0] == b"mtllib":
            for name in words[1:]:
                library = os.path.join(folder, name.decode("utf-8", "replace"))
                if os.path.isfile(library):
                    found.append(library)
    return found


def materialLibraries(path):
    """The files besides ``path`` that its colours come from."""
    return _libraries(readBytes(path), os.path.dirname(path))


def _mtlColors(data, folder):
    colors = {}
    for library in _libraries(data, folder):
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


def _colorMaterials(polydata, data, colors):
    """Cell colours from the diffuse colours of the materials the faces use.

    The faces' materials are taken from the file itself: VTK's reader numbers
    them wrongly when a material is chosen before the first face.
    """
    faces = _faceMaterials(data)
    # Only when every face became one cell do the lines map onto the cells.
    if len(faces) != polydata.GetNumberOfCells() or len(faces) != polydata.GetNumberOfPolys():
        return
    table = {name: colorBytes(rgb) for name, rgb in colors.items()}
    grey = colorBytes(DEFAULT_GREY)
    setCellColors(polydata, np.array([table.get(name, grey) for name in faces]))


def readObj(path):
    """The surface of an OBJ file, in the colours of its MTL materials."""
    data = readBytes(path)
    _checkIndices(data)
    colors = _mtlColors(data, os.path.dirname(path))
    polydata = runReader(vtkOBJReader(), path)
    if colors:
        _colorMaterials(polydata, data, colors)
    return polydata

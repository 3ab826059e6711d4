"""PLY: checks that keep a lying file away from VTK's reader, which keeps vertex and face colours.

VTK's PLY reader trusts the counts a file declares and the kinds of the
properties it reads by name: a face whose indices are a single value, a
negative list count or an index outside the vertices makes it write or read
outside its buffers. The checks here read what the header declares, compare
it with what the file holds and raise ``MeshError`` saying what is wrong.
"""

from __future__ import annotations

import numpy as np
from vtkmodules.vtkIOPLY import vtkPLYReader

from marnox.meshes._reading import MeshError, readBytes, runReader

_TYPES = {
    "char": "i1",
    "int8": "i1",
    "uchar": "u1",
    "uint8": "u1",
    "short": "i2",
    "int16": "i2",
    "ushort": "u2",
    "uint16": "u2",
    "int": "i4",
    "int32": "i4",
    "uint": "u4",
    "uint32": "u4",
    "float": "f4",
    "float32": "f4",
    "double": "f8",
    "float64": "f8",
}
_ENDIAN = {"binary_little_endian": "<", "binary_big_endian": ">", "ascii": None}
# The properties VTK's reader takes from the vertex and face elements, by kind.
_READ_AS_LISTS = {"vertex_indices", "vertex_index", "texcoord"}
_READ_AS_VALUES = {
    *("x", "y", "z", "nx", "ny", "nz", "u", "v", "s", "t", "texture_u", "texture_v"),
    *("red", "green", "blue", "diffuse_red", "diffuse_green", "diffuse_blue"),
    *("alpha", "intensity"),
}
_INDICES = ("vertex_indices", "vertex_index")


def _header(data):
    end = data.find(b"end_header")
    if not data.startswith(b"ply") or end < 0:
        raise MeshError("not a PLY file (no 'ply' ... 'end_header' header)")
    body = data.find(b"\n", end) + 1
    if body == 0:
        raise MeshError("PLY header does not end with a line break")
    elements, fmt = [], None
    for raw in data[:end].split(b"\n")[1:]:
        words = raw.decode("ascii", "replace").split()
        if not words or words[0] in ("comment", "obj_info"):
            continue
        if words[0] == "format" and len(words) >= 2 and words[1] in _ENDIAN:
            fmt = words[1]
        elif words[0] == "element" and len(words) == 3 and words[2].isdigit():
            if any(words[1] == name for name, _, _ in elements):
                raise MeshError(f"PLY declares element {words[1]!r} twice")
            elements.append((words[1], int(words[2]), []))
        elif words[0] == "property" and elements and len(words) == 3 and words[1] in _TYPES:
            elements[-1][2].append((words[2], _TYPES[words[1]], None))
        elif (
            words[0] == "property"
            and elements
            and len(words) == 5
            and words[1] == "list"
            and words[2] in _TYPES
            and words[3] in _TYPES
            and not _TYPES[words[2]].startswith("f")
        ):
            elements[-1][2].append((words[4], _TYPES[words[3]], _TYPES[words[2]]))
        else:
            raise MeshError(f"unreadable PLY header line {raw[:60]!r}")
    if fmt is None:
        raise MeshError("PLY header names no known format")
    return fmt, elements, body


def _checkKinds(elements):
    for name, _, properties in elements:
        if name not in ("vertex", "face"):
            continue
        for pname, kind, countType in properties:
            # VTK's reader takes a float index's bits for an integer's.
            if pname in _INDICES and kind[0] == "f":
                raise MeshError(f"PLY {name} property {pname} holds floats, not integer indices")
            if pname in _READ_AS_LISTS and countType is None:
                raise MeshError(f"PLY {name} property {pname} is a single value, not a list")
            if pname in _READ_AS_VALUES and countType is not None:
                raise MeshError(f"PLY {name} property {pname} is a list, not a single value")


def _checkIndices(values, vertices):
    inside = (values >= 0) & (values < vertices)
    if not inside.all():
        raise MeshError(f"PLY face index {values[~inside].flat[0]} outside the {vertices} vertices")


def _checkFace(lists, vertices):
    """The lists of one face (or of rows of faces alike), by property name."""
    for pname in _INDICES:
        if pname in lists:
            _checkIndices(lists[pname], vertices)
            texcoords = lists.get("texcoord")
            if texcoords is not None and texcoords.shape[-1] < 2 * lists[pname].shape[-1]:
                raise MeshError("PLY face has fewer texture coordinates than corners")


def _checkCount(name, length):
    if length < 0:
        raise MeshError(f"PLY {name} list count {length} is negative")


def _asciiLists(name, words, properties):
    """One ASCII row's lists, by property name (as arrays for a face); None if the row is short."""
    lists, width = {}, 0
    for pname, kind, countType in properties:
        if countType is None:
            width += 1
            continue
        if width >= len(words):
            return None
        try:
            length = int(words[width])
        except ValueError:
            return None
        _checkCount(name, length)
        values = words[width + 1 : width + 1 + length]
        if name == "face":
            try:
                values = np.array([float(w) if kind[0] == "f" else int(w) for w in values])
            except ValueError:
                raise MeshError(f"PLY face list value in {values[:3]!r} is not a number") from None
        lists[pname] = values
        width += 1 + length
    return lists if width <= len(words) else None


def _checkAscii(data, body, elements, vertices):
    filled = [line for line in data[body:].split(b"\n") if line.strip()]
    rows = sum(count for _, count, _ in elements)
    if len(filled) < rows:
        raise MeshError(f"PLY declares {rows} rows but holds {len(filled)}")
    position = 0
    for name, count, properties in elements:
        for line in filled[position : position + count]:
            words = line.split()
            lists = _asciiLists(name, words, properties)
            if lists is None:
                raise MeshError(f"PLY {name} row {line[:60]!r} is short")
            if name == "face":
                _checkFace(lists, vertices)
        position += count


def _binaryRowType(data, offset, endian, name, properties):
    """The dtype of the row at ``offset``, its lists as long as this row's."""
    row = []
    for pname, kind, countType in properties:
        if countType is None:
            row.append((pname, endian + kind))
            offset += np.dtype(kind).itemsize
            continue
        if offset + np.dtype(countType).itemsize > len(data):
            raise MeshError(f"PLY {name} data runs past the end of the file")
        length = int(np.frombuffer(data, endian + countType, 1, offset)[0])
        _checkCount(name, length)
        row.append((pname + "#", endian + countType))
        row.append((pname, endian + kind, (length,)))
        offset += np.dtype(countType).itemsize + length * np.dtype(kind).itemsize
    return np.dtype(row)


def _checkBinary(data, offset, endian, name, count, properties, vertices):
    """Checks one element's rows; returns the offset after them."""
    if count == 0:
        return offset
    if all(countType is None for _, _, countType in properties):
        size = count * sum(np.dtype(kind).itemsize for _, kind, _ in properties)
        if offset + size > len(data):
            raise MeshError(f"PLY {name} data runs past the end of the file")
        return offset + size
    # Lists of one length throughout (triangles, say) are checked as one array.
    row = _binaryRowType(data, offset, endian, name, properties)
    lists = [pname for pname, _, countType in properties if countType is not None]
    if offset + count * row.itemsize <= len(data):
        table = np.frombuffer(data, row, count, offset)
        if all((table[p + "#"] == row[p].shape[0]).all() for p in lists):
            if name == "face":
                _checkFace({p: table[p] for p in lists}, vertices)
            return offset + count * row.itemsize
    for _ in range(count):
        row = _binaryRowType(data, offset, endian, name, properties)
        if offset + row.itemsize > len(data):
            raise MeshError(f"PLY {name} data runs past the end of the file")
        if name == "face":
            values = np.frombuffer(data, row, 1, offset)[0]
            _checkFace({p: values[p] for p in lists}, vertices)
        offset += row.itemsize
    return offset


def checkPly(data):
    """Every element the header declares must be in the file, faces naming real vertices."""
    fmt, elements, body = _header(data)
    vertices = next((count for name, count, _ in elements if name == "vertex"), 0)
    if not vertices:
        raise MeshError("PLY file has no vertices")
    _checkKinds(elements)
    if fmt == "ascii":
        _checkAscii(data, body, elements, vertices)
        return
    offset = body
    for name, count, properties in elements:
        offset = _checkBinary(data, offset, _ENDIAN[fmt], name, count, properties, vertices)


def readPly(path):
    """The surface of a PLY file, with its vertex or face colours."""
    checkPly(readBytes(path))
    return runReader(vtkPLYReader(), path)

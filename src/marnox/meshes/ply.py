"""PLY: checks that keep a lying file away from VTK's reader, which keeps vertex and face colours.

VTK's PLY reader trusts the counts a file declares and the kinds of the
properties it reads by name: a face whose indices are a single value, a
negative list count or an index outside the vertices makes it write or read
outside its buffers. The checks here read what the header declares, compare
it with what the file holds and raise ``MeshError`` saying what is wrong.
"""

from __future__ import annotations

import re
import struct

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
_HEADER_END = re.compile(rb"\nend_header[ \t\r]*\n")
# The characters of plain numbers, as VTK reads them, by whether they are real.
_NUMBER_CHARACTERS = {False: b"0123456789+- ", True: b"0123456789+-.eE "}
# VTK reads "010" as the two numbers 0 and 10.
_LEADING_ZERO = re.compile(rb"(?<!\S)[+-]?0\d")
_CONTROL = re.compile(rb"[\x00-\x08\x0b\x0c\x0e-\x1f\x7f]")


def _header(data):
    found = _HEADER_END.search(data)
    if not data.startswith(b"ply") or found is None:
        raise MeshError("not a PLY file (no 'ply' ... 'end_header' header)")
    end, body = found.start() + 1, found.end()
    # VTK's reader reads the header as C strings: a control character would
    # end a line where this check does not.
    if _CONTROL.search(data, 0, end):
        raise MeshError("PLY header holds control characters")
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
        if name == "face" and not any(pname in _INDICES for pname, _, _ in properties):
            raise MeshError("PLY face element has no vertex_indices")
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
    """Faces' lists by property name, as ``(values, length of each face's list)``."""
    for pname in _INDICES:
        if pname in lists:
            values, lengths = lists[pname]
            if values is not None:
                _checkIndices(values, vertices)
            texcoords = lists.get("texcoord")
            if texcoords is not None and np.any(texcoords[1] < 2 * lengths):
                raise MeshError("PLY face has fewer texture coordinates than corners")


def _checkCount(name, length):
    if length < 0:
        raise MeshError(f"PLY {name} list count {length} is negative")


def _checkNumbers(name, tokens, kind):
    """VTK reads an ASCII body as one stream of numbers: a word that is not a
    number of its property's type would shift every value read after it."""
    if not tokens:
        return
    real = kind[0] == "f"
    text = b" ".join(tokens)
    try:
        if text.translate(None, _NUMBER_CHARACTERS[real]) or (
            not real and _LEADING_ZERO.search(text)
        ):
            raise ValueError
        np.array(tokens, dtype=bytes).astype(np.float64 if real else np.int64)
    except (ValueError, OverflowError):
        raise MeshError(
            f"PLY {name} holds a value that is not a {'' if real else 'whole '}number"
        ) from None


def _short(name):
    return MeshError(f"PLY declares more {name} rows than the file holds")


def _listLength(name, token):
    """A list's count as VTK reads it: digits alone, with no leading zero."""
    if token[:1] == b"-" and token[1:].isdigit():
        _checkCount(name, int(token))
    if not token.isdigit() or (token[:1] == b"0" and len(token) > 1):
        raise MeshError(f"PLY {name} list count {token[:20]!r} is not a whole number")
    return int(token)


def _asciiRow(name, tokens, position, properties, found):
    """Walks the row at ``position``, adding where each property's values
    start and how many there are to ``found``; returns where the next row starts."""
    for pname, _, countType in properties:
        if position >= len(tokens):
            raise _short(name)
        if countType is None:
            found[pname].append((position, 1))
            position += 1
            continue
        length = _listLength(name, tokens[position])
        if position + 1 + length > len(tokens):
            raise _short(name)
        found[pname].append((position + 1, length))
        position += 1 + length
    return position


def _integers(tokens):
    try:
        return np.array(tokens, dtype=bytes).astype(np.int64)
    except (ValueError, OverflowError):
        raise MeshError("PLY face index too large") from None


def _checkAsciiElement(name, count, properties, tokens, position, vertices):
    """Checks one element's rows; returns where the next element starts."""
    if count == 0:
        return position
    found = {pname: [] for pname, _, _ in properties}
    end = _asciiRow(name, tokens, position, properties, found)
    first = {pname: spans[0] for pname, spans in found.items()}
    lists = {pname: first[pname] for pname, _, countType in properties if countType is not None}
    width = end - position
    table = tokens[position : position + width * count]
    # Rows whose lists have the first row's lengths throughout (triangles, say)
    # are checked a column at a time.
    if len(table) == width * count and all(
        len(set(table[start - 1 - position :: width])) == 1 for start, _ in lists.values()
    ):
        kinds = []
        for pname, kind, countType in properties:
            kinds += [kind] if countType is None else [countType] + [kind] * first[pname][1]
        for column, kind in enumerate(kinds):
            _checkNumbers(name, table[column::width], kind)
        if name == "face":
            faces = {}
            for pname, (start, length) in lists.items():
                columns = [table[start - position + k :: width] for k in range(length)]
                values = _integers(columns) if pname in _INDICES and length else None
                faces[pname] = (values, length)
            _checkFace(faces, vertices)
        return position + width * count
    position = end
    for _ in range(count - 1):
        position = _asciiRow(name, tokens, position, properties, found)
    values = {
        pname: [t for start, length in found[pname] for t in tokens[start : start + length]]
        for pname, _, _ in properties
    }
    for pname, kind, _ in properties:
        _checkNumbers(name, values[pname], kind)
    if name == "face":
        faces = {}
        for pname, _, countType in properties:
            if countType is not None:
                lengths = np.array([length for _, length in found[pname]])
                faces[pname] = (_integers(values[pname]) if pname in _INDICES else None, lengths)
        _checkFace(faces, vertices)
    return position


def _checkAscii(data, body, elements, vertices):
    tokens = data[body:].split()
    position = 0
    for name, count, properties in elements:
        position = _checkAsciiElement(name, count, properties, tokens, position, vertices)


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


def _gather(data, starts, lengths, dtype):
    """The values of lists that start at byte offsets ``starts``, one after another."""
    lengths = np.asarray(lengths, np.int64)
    total = int(lengths.sum())
    within = np.arange(total) - np.repeat(np.cumsum(lengths) - lengths, lengths)
    positions = np.repeat(np.asarray(starts, np.int64), lengths) + within * dtype.itemsize
    raw = np.frombuffer(data, np.uint8)[positions[:, None] + np.arange(dtype.itemsize)]
    return raw.view(dtype).ravel()


def _walkRows(data, offset, endian, name, count, properties):
    """Steps through rows whose lists differ in length; returns the offset after
    them and, for each list property, where each row's list starts and its length."""
    steps = []
    for _, kind, countType in properties:
        size = np.dtype(kind).itemsize
        if countType is None:
            steps.append((None, size, None))
        else:
            code = {"i1": "b", "u1": "B", "i2": "h", "u2": "H", "i4": "i", "u4": "I"}[countType]
            steps.append((struct.Struct(endian + code), size, ([], [])))
    for _ in range(count):
        for counter, size, found in steps:
            if counter is None:
                offset += size
                continue
            if offset + counter.size > len(data):
                raise MeshError(f"PLY {name} data runs past the end of the file")
            (length,) = counter.unpack_from(data, offset)
            _checkCount(name, length)
            offset += counter.size
            found[0].append(offset)
            found[1].append(length)
            offset += length * size
    if offset > len(data):
        raise MeshError(f"PLY {name} data runs past the end of the file")
    places = {p[0]: found for p, (_, _, found) in zip(properties, steps, strict=True) if found}
    return offset, places


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
                _checkFace({p: (table[p], row[p].shape[0]) for p in lists}, vertices)
            return offset + count * row.itemsize
    end, places = _walkRows(data, offset, endian, name, count, properties)
    if name == "face":
        kinds = {pname: np.dtype(endian + kind) for pname, kind, _ in properties}
        found = {
            p: (_gather(data, starts, lengths, kinds[p]), np.asarray(lengths))
            for p, (starts, lengths) in places.items()
            if p in _INDICES or p == "texcoord"
        }
        _checkFace(found, vertices)
    return end


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

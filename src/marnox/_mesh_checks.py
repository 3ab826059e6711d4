"""Checks that keep malformed mesh files away from VTK's readers.

VTK's readers trust the counts and offsets a file declares and read past
their buffers when those lie. Each check here reads only what the file
declares, compares it with what the file holds, and raises ``ValueError``
saying what is wrong, so that a reader only ever sees a consistent file.
"""

from __future__ import annotations

import base64
import json
import os
import struct

import numpy as np

_PLY_TYPES = {
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
_PLY_ENDIAN = {"binary_little_endian": "<", "binary_big_endian": ">", "ascii": None}
_GLTF_COMPONENTS = {5120: 1, 5121: 1, 5122: 2, 5123: 2, 5125: 4, 5126: 4}
_GLTF_INDEX_TYPES = {5121: "<u1", 5123: "<u2", 5125: "<u4"}
_GLTF_WIDTHS = {"SCALAR": 1, "VEC2": 2, "VEC3": 3, "VEC4": 4, "MAT2": 4, "MAT3": 9, "MAT4": 16}
_GLB_MAGIC = b"glTF"


class MeshError(ValueError):
    """A mesh file that cannot be read safely, with the reason."""


def checkStl(head, size):
    """A binary STL must hold exactly the triangles its header counts.

    ``head`` is the start of the file (at least 84 bytes, or all of it),
    ``size`` its length; a binary file's triangles need not be read for this.
    """
    if size == 0:
        raise MeshError("empty file")
    if size >= 84:
        (count,) = struct.unpack_from("<I", head, 80)
        if size == 84 + 50 * count:
            if count == 0:
                raise MeshError("binary STL with no triangles")
            return
    if not head.lstrip()[:5].lower() == b"solid":
        if size < 84:
            raise MeshError(f"too short for a binary STL ({size} bytes)")
        raise MeshError(
            f"binary STL header counts {count} triangles ({84 + 50 * count} bytes) "
            f"but the file holds {size} bytes"
        )
    if b"facet" not in head or b"vertex" not in head:
        raise MeshError("ASCII STL with no facets")


def _plyHeader(data):
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
        if words[0] == "format" and len(words) >= 2 and words[1] in _PLY_ENDIAN:
            fmt = words[1]
        elif words[0] == "element" and len(words) == 3 and words[2].isdigit():
            elements.append((words[1], int(words[2]), []))
        elif words[0] == "property" and elements and len(words) == 3 and words[1] in _PLY_TYPES:
            elements[-1][2].append((words[2], _PLY_TYPES[words[1]], None))
        elif (
            words[0] == "property"
            and elements
            and len(words) == 5
            and words[1] == "list"
            and words[2] in _PLY_TYPES
            and words[3] in _PLY_TYPES
            and not _PLY_TYPES[words[2]].startswith("f")
        ):
            elements[-1][2].append((words[4], _PLY_TYPES[words[3]], _PLY_TYPES[words[2]]))
        else:
            raise MeshError(f"unreadable PLY header line {raw[:60]!r}")
    if fmt is None:
        raise MeshError("PLY header names no known format")
    return fmt, elements, body


def _plyAsciiRows(data, body, elements):
    lines = data[body:].split(b"\n")
    rows = sum(count for _, count, _ in elements)
    filled = [line for line in lines if line.strip()]
    if len(filled) < rows:
        raise MeshError(f"PLY declares {rows} rows but holds {len(filled)}")
    position = 0
    vertices = 0
    for name, count, properties in elements:
        for line in filled[position : position + count]:
            words = line.split()
            needed = _plyAsciiWidth(words, properties)
            if needed is None or needed > len(words):
                raise MeshError(f"PLY {name} row {line[:60]!r} is short")
            if name == "face" and vertices is not None:
                _checkIndices(words, properties, vertices)
        if name == "vertex":
            vertices = count
        position += count


def _plyAsciiWidth(words, properties):
    width = 0
    for _, _, countType in properties:
        if countType is None:
            width += 1
            continue
        if width >= len(words):
            return None
        try:
            width += 1 + int(words[width])
        except ValueError:
            return None
    return width


def _checkIndices(words, properties, vertices):
    width = 0
    for name, _, countType in properties:
        if countType is None:
            width += 1
            continue
        count = int(words[width])
        if name in ("vertex_indices", "vertex_index"):
            for word in words[width + 1 : width + 1 + count]:
                try:
                    index = int(word)
                except ValueError:
                    raise MeshError(f"PLY face index {word[:20]!r} is not a number") from None
                if not 0 <= index < vertices:
                    raise MeshError(f"PLY face index {index} outside the {vertices} vertices")
        width += 1 + count


def _plyBinaryElement(data, offset, endian, name, count, properties, vertices):
    if all(countType is None for _, _, countType in properties):
        size = count * sum(np.dtype(kind).itemsize for _, kind, _ in properties)
        if offset + size > len(data):
            raise MeshError(f"PLY {name} data runs past the end of the file")
        return offset + size
    # Lists of one length throughout (triangles, say) are checked as one array.
    first = offset
    row = []
    for pname, kind, countType in properties:
        if countType is None:
            row.append((pname, endian + kind))
            first += np.dtype(kind).itemsize
            continue
        if first + np.dtype(countType).itemsize > len(data):
            raise MeshError(f"PLY {name} data runs past the end of the file")
        length = int(np.frombuffer(data, endian + countType, 1, first)[0])
        row.append((pname + "#", endian + countType))
        row.append((pname, endian + kind, (length,)) if length else (pname, endian + kind, (0,)))
        first += np.dtype(countType).itemsize + length * np.dtype(kind).itemsize
    dtype = np.dtype(row)
    if count and offset + count * dtype.itemsize <= len(data):
        table = np.frombuffer(data, dtype, count, offset)
        if all(
            (table[pname + "#"] == table.dtype[pname].shape[0]).all()
            for pname, _, countType in properties
            if countType is not None
        ):
            for pname, _, countType in properties:
                if countType is not None and pname in ("vertex_indices", "vertex_index"):
                    values = table[pname]
                    if values.size and (values.min() < 0 or values.max() >= vertices):
                        raise MeshError(f"PLY face index outside the {vertices} vertices")
            return offset + count * dtype.itemsize
    return _plyBinaryRows(data, offset, endian, name, count, properties, vertices)


def _plyBinaryRows(data, offset, endian, name, count, properties, vertices):
    for _ in range(count):
        for pname, kind, countType in properties:
            if countType is None:
                offset += np.dtype(kind).itemsize
                continue
            if offset + np.dtype(countType).itemsize > len(data):
                raise MeshError(f"PLY {name} data runs past the end of the file")
            length = int(np.frombuffer(data, endian + countType, 1, offset)[0])
            offset += np.dtype(countType).itemsize
            size = length * np.dtype(kind).itemsize
            if length < 0 or offset + size > len(data):
                raise MeshError(f"PLY {name} data runs past the end of the file")
            if pname in ("vertex_indices", "vertex_index") and length:
                values = np.frombuffer(data, endian + kind, length, offset)
                if values.min() < 0 or values.max() >= vertices:
                    raise MeshError(f"PLY face index outside the {vertices} vertices")
            offset += size
    return offset


def checkPly(data):
    """Every element the header declares must be in the file, faces naming real vertices."""
    fmt, elements, body = _plyHeader(data)
    if not any(name == "vertex" and count for name, count, _ in elements):
        raise MeshError("PLY file has no vertices")
    if fmt == "ascii":
        _plyAsciiRows(data, body, elements)
        return
    offset, vertices = body, 0
    for name, count, properties in elements:
        offset = _plyBinaryElement(
            data, offset, _PLY_ENDIAN[fmt], name, count, properties, vertices
        )
        if name == "vertex":
            vertices = count


def _glbChunks(data):
    if len(data) < 20:
        raise MeshError("GLB file too short for its header")
    magic, _, length = struct.unpack_from("<4sII", data, 0)
    if magic != _GLB_MAGIC or length != len(data):
        raise MeshError(f"GLB header says {length} bytes, the file holds {len(data)}")
    chunks, offset = [], 12
    while offset < len(data):
        if offset + 8 > len(data):
            raise MeshError("GLB chunk header runs past the end of the file")
        size, kind = struct.unpack_from("<I4s", data, offset)
        if offset + 8 + size > len(data):
            raise MeshError("GLB chunk runs past the end of the file")
        chunks.append((kind, data[offset + 8 : offset + 8 + size]))
        offset += 8 + size
    if not chunks or chunks[0][0] != b"JSON":
        raise MeshError("GLB file has no JSON chunk first")
    binary = next((chunk for kind, chunk in chunks[1:] if kind == b"BIN\0"), None)
    return chunks[0][1], binary


def _gltfBuffer(buffer, folder, binary):
    uri = buffer.get("uri")
    if uri is None:
        if binary is None:
            raise MeshError("glTF buffer has no data")
        return binary
    if not isinstance(uri, str):
        raise MeshError("glTF buffer URI is not a string")
    if uri.startswith("data:"):
        try:
            return base64.b64decode(uri.split(",", 1)[1], validate=True)
        except (IndexError, ValueError):
            raise MeshError("glTF buffer holds a malformed data URI") from None
    path = os.path.join(folder, uri)
    if not os.path.isfile(path):
        raise MeshError(f"glTF buffer file {path} not found")
    with open(path, "rb") as stream:
        return stream.read()


def _gltfView(document, index, buffers):
    views = document.get("bufferViews", [])
    if not isinstance(index, int) or not 0 <= index < len(views):
        raise MeshError(f"glTF names buffer view {index!r} it does not have")
    view = views[index]
    buffer = view.get("buffer")
    if not isinstance(buffer, int) or not 0 <= buffer < len(buffers):
        raise MeshError(f"glTF buffer view names buffer {buffer!r} it does not have")
    start, length = view.get("byteOffset", 0), view.get("byteLength", 0)
    if not all(isinstance(v, int) and v >= 0 for v in (start, length)):
        raise MeshError("glTF buffer view has a bad offset or length")
    if start + length > len(buffers[buffer]):
        raise MeshError("glTF buffer view runs past the end of its buffer")
    return buffers[buffer][start : start + length], view.get("byteStride")


def _gltfAccessor(document, index, buffers):
    accessors = document.get("accessors", [])
    if not isinstance(index, int) or not 0 <= index < len(accessors):
        raise MeshError(f"glTF names accessor {index!r} it does not have")
    accessor = accessors[index]
    if "sparse" in accessor:
        raise MeshError("glTF sparse accessors are not supported")
    count, offset = accessor.get("count", 0), accessor.get("byteOffset", 0)
    component = _GLTF_COMPONENTS.get(accessor.get("componentType"))
    width = _GLTF_WIDTHS.get(accessor.get("type"))
    if component is None or width is None:
        raise MeshError("glTF accessor has an unknown component type")
    if not all(isinstance(v, int) and v >= 0 for v in (count, offset)):
        raise MeshError("glTF accessor has a bad count or offset")
    if "bufferView" not in accessor:
        raise MeshError("glTF accessors without a buffer view are not supported")
    view, stride = _gltfView(document, accessor["bufferView"], buffers)
    element = component * width
    stride = stride if isinstance(stride, int) and stride > 0 else element
    if count and offset + stride * (count - 1) + element > len(view):
        raise MeshError("glTF accessor runs past the end of its buffer view")
    return accessor, view, offset, count


def checkGltf(data, folder, binary=False):
    """Every accessor a mesh uses must lie inside its buffers, indices inside the vertices."""
    text, chunk = _glbChunks(data) if binary else (data, None)
    try:
        document = json.loads(text)
    except (ValueError, UnicodeDecodeError) as error:
        raise MeshError(f"glTF JSON is malformed ({error})") from None
    if not isinstance(document, dict):
        raise MeshError("glTF document is not a JSON object")
    buffers = [_gltfBuffer(b, folder, chunk) for b in document.get("buffers", [])]
    # The reader also loads animations, skins and textures: every accessor
    # must fit, and every image be data or a regular file (a FIFO would hang).
    for index in range(len(document.get("accessors", []))):
        _gltfAccessor(document, index, buffers)
    for image in document.get("images", []):
        uri = image.get("uri") if isinstance(image, dict) else None
        if uri is not None and not (
            isinstance(uri, str)
            and (uri.startswith("data:") or os.path.isfile(os.path.join(folder, uri)))
        ):
            raise MeshError(f"glTF image {uri!r} is not a readable file")
    primitives = [p for mesh in document.get("meshes", []) for p in mesh.get("primitives", [])]
    if not primitives:
        raise MeshError("glTF file has no mesh")
    for primitive in primitives:
        attributes = primitive.get("attributes", {})
        if "POSITION" not in attributes:
            raise MeshError("glTF primitive without positions")
        vertices = None
        for name, index in attributes.items():
            _, _, _, count = _gltfAccessor(document, index, buffers)
            if vertices is not None and count != vertices:
                raise MeshError(f"glTF attribute {name} has {count} values for {vertices} vertices")
            vertices = count
        for target in primitive.get("targets", []):
            for index in target.values():
                _gltfAccessor(document, index, buffers)
        if "indices" in primitive:
            accessor, view, offset, count = _gltfAccessor(document, primitive["indices"], buffers)
            kind = _GLTF_INDEX_TYPES.get(accessor.get("componentType"))
            if kind is None or accessor.get("type") != "SCALAR":
                raise MeshError("glTF indices are not unsigned integers")
            indices = np.frombuffer(view, kind, count, offset)
            if count and int(indices.max()) >= vertices:
                raise MeshError(f"glTF index {int(indices.max())} outside the {vertices} vertices")
    return document

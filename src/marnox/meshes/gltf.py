"""glTF and GLB: the document checked whole, read by VTK's reader, coloured by its materials.

VTK's glTF reader trusts much of what a document says: the indices that tie
nodes, meshes, materials, skins, textures and accessors together, the
accessors' extents, the node tree's shape, a primitive's mode. A lie in any of
them makes it read outside its buffers or recurse without end. The checks
here go through every one of them, with the JSON types, and raise
``MeshError`` saying what is wrong.
"""

from __future__ import annotations

import base64
import json
import math
import os
import re
import struct

import numpy as np
from vtkmodules.vtkCommonDataModel import vtkPolyData
from vtkmodules.vtkFiltersCore import vtkAppendPolyData
from vtkmodules.vtkIOGeometry import vtkGLTFReader

from marnox.constants import DEFAULT_GREY
from marnox.meshes._reading import (
    MeshError,
    readBytes,
    readLinked,
    runReader,
    setCellColor,
)

_COMPONENTS = {5120: "i1", 5121: "u1", 5122: "<i2", 5123: "<u2", 5125: "<u4", 5126: "<f4"}
_INDEX_TYPES = (5121, 5123, 5125)
_WIDTHS = {"SCALAR": 1, "VEC2": 2, "VEC3": 3, "VEC4": 4, "MAT2": 4, "MAT3": 9, "MAT4": 16}
_GLB_MAGIC = b"glTF"
_FLOAT = 5126
# The accessor types and component types glTF allows for the attributes a reader uses.
_ATTRIBUTES = {
    "POSITION": ({"VEC3"}, {_FLOAT}),
    "NORMAL": ({"VEC3"}, {_FLOAT}),
    "TANGENT": ({"VEC4"}, {_FLOAT}),
    "TEXCOORD": ({"VEC2"}, {_FLOAT, 5121, 5123}),
    "COLOR": ({"VEC3", "VEC4"}, {_FLOAT, 5121, 5123}),
    "JOINTS": ({"VEC4"}, {5121, 5123}),
    "WEIGHTS": ({"VEC4"}, {_FLOAT, 5121, 5123}),
}
_TARGET_ATTRIBUTES = {"POSITION", "NORMAL", "TANGENT"}
# Points, lines, line loop, line strip, triangles, triangle strip, triangle fan:
# how many corners a primitive of each mode needs at least, and in what multiple.
_MODES = {0: (1, 1), 1: (2, 2), 2: (2, 1), 3: (2, 1), 4: (3, 3), 5: (3, 1), 6: (3, 1)}
_PATHS = {"translation": 3, "rotation": 4, "scale": 3, "weights": None}
_INTERPOLATIONS = {"LINEAR": 1, "STEP": 1, "CUBICSPLINE": 3}
_TEXTURE_INFOS = (
    "normalTexture",
    "occlusionTexture",
    "emissiveTexture",
    "baseColorTexture",
    "metallicRoughnessTexture",
)


def _where(place):
    return f"glTF {place}"


def _objects(owner, key, place):
    """The list of objects ``owner[key]`` (empty when absent)."""
    value = owner.get(key, [])
    if not isinstance(value, list) or not all(isinstance(v, dict) for v in value):
        raise MeshError(f"{_where(place)}.{key} is not a list of objects")
    return value


def _object(owner, key, place):
    value = owner.get(key, {})
    if not isinstance(value, dict):
        raise MeshError(f"{_where(place)}.{key} is not an object")
    return value


def _isInteger(value):
    return isinstance(value, int) and not isinstance(value, bool)


def _isKey(value, table):
    """Whether a JSON value is one of ``table``'s keys (a list or an object never is)."""
    return isinstance(value, (int, str)) and not isinstance(value, bool) and value in table


def _index(value, items, place):
    """``value`` must name one of ``items`` (a list, or its length)."""
    count = items if _isInteger(items) else len(items)
    if not _isInteger(value) or not 0 <= value < count:
        raise MeshError(f"{_where(place)} names {value!r}, not one of its {count}")
    return value


def _optionalIndex(owner, key, items, place):
    if key in owner:
        _index(owner[key], items, f"{place}.{key}")


def _indices(owner, key, items, place):
    value = owner.get(key, [])
    if not isinstance(value, list):
        raise MeshError(f"{_where(place)}.{key} is not a list")
    return [_index(v, items, f"{place}.{key}") for v in value]


def _numbers(owner, key, length, place):
    """``owner[key]``, if there, must be ``length`` finite numbers (any number for None)."""
    value = owner.get(key)
    if value is None and key not in owner:
        return
    if (
        not isinstance(value, list)
        or (length is not None and len(value) != length)
        or not all(_isNumber(v) for v in value)
    ):
        wanted = "numbers" if length is None else f"{length} numbers"
        raise MeshError(f"{_where(place)}.{key} is not a list of {wanted}")


def _isNumber(value):
    return isinstance(value, (int, float)) and not isinstance(value, bool) and math.isfinite(value)


def _number(owner, key, place):
    if key in owner and not _isNumber(owner[key]):
        raise MeshError(f"{_where(place)}.{key} is not a number")


def _typed(owner, key, kind, place, choices=None):
    if key in owner:
        value = owner[key]
        if not isinstance(value, kind) or (choices is not None and value not in choices):
            raise MeshError(f"{_where(place)}.{key} has the wrong value {value!r}")


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


def _linkedFile(uri, folder, what):
    """The path a URI names beside the document; it must be a regular file (a FIFO would hang)."""
    path = os.path.join(folder, uri)
    if not os.path.isfile(path):
        raise MeshError(f"glTF {what} {uri!r} is not a readable file")
    return path


def _buffer(index, buffer, folder, binary):
    place = f"buffers[{index}]"
    uri = buffer.get("uri")
    if uri is None:
        if binary is None:
            raise MeshError("glTF buffer has no data")
        data = binary
    elif not isinstance(uri, str):
        raise MeshError("glTF buffer URI is not a string")
    elif uri.startswith("data:"):
        try:
            data = base64.b64decode(uri.split(",", 1)[1], validate=True)
        except (IndexError, ValueError):
            raise MeshError("glTF buffer holds a malformed data URI") from None
    else:
        path = os.path.join(folder, uri)
        if not os.path.isfile(path):
            raise MeshError(f"glTF buffer file {path} not found")
        data = readLinked(path, "glTF buffer file")
    length = buffer.get("byteLength", len(data))
    if not _isInteger(length) or not 0 <= length <= len(data):
        raise MeshError(
            f"{_where(place)}.byteLength {length!r} is not within its {len(data)} bytes"
        )
    return data


def _view(document, index, buffers, place):
    views = document["bufferViews"]
    view = views[_index(index, views, place)]
    where = f"bufferViews[{index}]"
    buffer = _index(view.get("buffer"), buffers, f"{where}.buffer")
    start, length = view.get("byteOffset", 0), view.get("byteLength", 0)
    if not all(_isInteger(v) and v >= 0 for v in (start, length)):
        raise MeshError("glTF buffer view has a bad offset or length")
    if start + length > len(buffers[buffer]):
        raise MeshError("glTF buffer view runs past the end of its buffer")
    stride = view.get("byteStride")
    if stride is not None and not (_isInteger(stride) and 4 <= stride <= 252):
        raise MeshError(f"{_where(where)}.byteStride {stride!r} is not 4 to 252")
    return buffers[buffer][start : start + length], stride


class _Accessor:
    """An accessor checked to lie inside its buffer view, its values readable."""

    def __init__(self, document, index, buffers):
        accessors = document["accessors"]
        place = f"accessors[{_index(index, accessors, 'accessor')}]"
        accessor = accessors[index]
        if "sparse" in accessor:
            raise MeshError("glTF sparse accessors are not supported")
        self.count, offset = accessor.get("count", 0), accessor.get("byteOffset", 0)
        self.componentType, self.type = accessor.get("componentType"), accessor.get("type")
        if not (_isKey(self.componentType, _COMPONENTS) and _isKey(self.type, _WIDTHS)):
            raise MeshError("glTF accessor has an unknown component type")
        if not all(_isInteger(v) and v >= 0 for v in (self.count, offset)):
            raise MeshError("glTF accessor has a bad count or offset")
        if "bufferView" not in accessor:
            raise MeshError("glTF accessors without a buffer view are not supported")
        width = _WIDTHS[self.type]
        for bound in ("min", "max"):
            _numbers(accessor, bound, width, place)
        _typed(accessor, "normalized", bool, place)
        view, stride = _view(document, accessor["bufferView"], buffers, f"{place}.bufferView")
        self._dtype = np.dtype(_COMPONENTS[self.componentType])
        element = self._dtype.itemsize * width
        stride = stride or element
        if self.count and offset + stride * (self.count - 1) + element > len(view):
            raise MeshError("glTF accessor runs past the end of its buffer view")
        self._layout = (view, offset, stride, width)

    def values(self):
        """The accessor's values, one row per element."""
        view, offset, stride, width = self._layout
        return np.ndarray(
            (self.count, width),
            self._dtype,
            buffer=view,
            offset=offset,
            strides=(stride, self._dtype.itemsize),
        )


def _checkTree(document):
    """Nodes, the scenes made of them, each node a child of one parent at most, no cycles."""
    nodes = document["nodes"]
    parents = {}
    for index, node in enumerate(nodes):
        for child in _indices(node, "children", nodes, f"nodes[{index}]"):
            if child in parents or child == index:
                raise MeshError(f"glTF node {child} is a child twice or of itself")
            parents[child] = index
    for index in range(len(nodes)):
        seen, current = {index}, index
        while current in parents:
            current = parents[current]
            if current in seen:
                raise MeshError(f"glTF node {index} is its own ancestor")
            seen.add(current)
    for index, scene in enumerate(document["scenes"]):
        _indices(scene, "nodes", nodes, f"scenes[{index}]")
    _optionalIndex(document, "scene", document["scenes"], "document")


def _checkNodes(document):
    lights = _objects(
        _object(_object(document, "extensions", "document"), "KHR_lights_punctual", "extensions"),
        "lights",
        "KHR_lights_punctual",
    )
    for index, node in enumerate(document["nodes"]):
        place = f"nodes[{index}]"
        for key, kind in (("mesh", "meshes"), ("skin", "skins"), ("camera", "cameras")):
            _optionalIndex(node, key, document[kind], place)
        for key, length in (("matrix", 16), ("translation", 3), ("rotation", 4), ("scale", 3)):
            _numbers(node, key, length, place)
        _numbers(node, "weights", None, place)
        punctual = _object(_object(node, "extensions", place), "KHR_lights_punctual", place)
        _optionalIndex(punctual, "light", lights, f"{place}.KHR_lights_punctual")


def _checkAttributes(document, attributes, buffers, place, allowed):
    """Every attribute's accessor, of the type glTF allows; returns (count, accessors by name)."""
    if not attributes:
        raise MeshError(f"{_where(place)} has no attributes")
    found, count = {}, None
    for name, index in attributes.items():
        accessor = _Accessor(document, index, buffers)
        types = allowed.get(re.sub(r"_\d+$", "", name))
        if types is not None and (
            accessor.type not in types[0] or accessor.componentType not in types[1]
        ):
            raise MeshError(f"{_where(place)} attribute {name} has the wrong accessor type")
        if count is not None and accessor.count != count:
            raise MeshError(
                f"glTF attribute {name} has {accessor.count} values for {count} vertices"
            )
        count = accessor.count
        found[name] = accessor
    return count, found


def _checkPrimitive(document, primitive, buffers, place):
    """Returns the primitive's accessors by attribute name."""
    attributes = _object(primitive, "attributes", place)
    if "POSITION" not in attributes:
        raise MeshError("glTF primitive without positions")
    vertices, accessors = _checkAttributes(document, attributes, buffers, place, _ATTRIBUTES)
    for number, target in enumerate(_objects(primitive, "targets", place)):
        allowed = {name: _ATTRIBUTES[name] for name in _TARGET_ATTRIBUTES}
        count, _ = _checkAttributes(
            document, target, buffers, f"{place}.targets[{number}]", allowed
        )
        if count != vertices:
            raise MeshError(f"{_where(place)} morph target {number} has {count} values")
    _optionalIndex(primitive, "material", document["materials"], place)
    mode = primitive.get("mode", 4)
    if not _isInteger(mode) or mode not in _MODES:
        raise MeshError(f"{_where(place)}.mode {mode!r} is not one of glTF's seven")
    corners = vertices
    if "indices" in primitive:
        indices = _Accessor(document, primitive["indices"], buffers)
        if indices.componentType not in _INDEX_TYPES or indices.type != "SCALAR":
            raise MeshError("glTF indices are not unsigned integers")
        values = indices.values()
        if values.size and int(values.max()) >= vertices:
            raise MeshError(f"glTF index {int(values.max())} outside the {vertices} vertices")
        corners = indices.count
    least, multiple = _MODES[mode]
    if corners < least or corners % multiple:
        raise MeshError(f"{_where(place)} has {corners} corners, too few or odd for mode {mode}")
    return accessors


def _checkMeshes(document, buffers):
    """Returns, per mesh, its primitives' accessors by attribute name."""
    meshes = []
    for index, mesh in enumerate(document["meshes"]):
        place = f"meshes[{index}]"
        primitives = _objects(mesh, "primitives", place)
        if not primitives:
            raise MeshError(f"{_where(place)} has no primitives")
        meshes.append(
            [
                _checkPrimitive(document, p, buffers, f"{place}.primitives[{n}]")
                for n, p in enumerate(primitives)
            ]
        )
        targets = {len(p.get("targets", [])) for p in primitives}
        if len(targets) > 1:
            raise MeshError(f"{_where(place)} primitives have different numbers of morph targets")
        _numbers(mesh, "weights", targets.pop(), place)
    return meshes


def _checkSkins(document, buffers, meshes):
    nodes = document["nodes"]
    for index, skin in enumerate(document["skins"]):
        place = f"skins[{index}]"
        joints = _indices(skin, "joints", nodes, place)
        if not joints or len(set(joints)) != len(joints):
            raise MeshError(f"{_where(place)}.joints are not one or more different nodes")
        _optionalIndex(skin, "skeleton", nodes, place)
        if "inverseBindMatrices" in skin:
            matrices = _Accessor(document, skin["inverseBindMatrices"], buffers)
            if matrices.type != "MAT4" or matrices.componentType != _FLOAT:
                raise MeshError(f"{_where(place)}.inverseBindMatrices are not 4x4 float matrices")
            if matrices.count < len(joints):
                raise MeshError(f"{_where(place)} has fewer inverse bind matrices than joints")
    # The reader moves joints by the transforms of the scene it walks.
    for scene in document["scenes"] or [{"nodes": range(len(nodes))}]:
        walked, waiting = set(), list(scene.get("nodes", []))
        while waiting:
            walked.add(waiting[-1])
            waiting.extend(nodes[waiting.pop()].get("children", []))
        for index in walked:
            skin = nodes[index].get("skin")
            outside = set() if skin is None else set(document["skins"][skin]["joints"]) - walked
            if outside:
                raise MeshError(
                    f"glTF node {index}'s joints {sorted(outside)} are not in its scene"
                )
    # A skinned vertex's joint numbers name the joints of the node's skin.
    for index, node in enumerate(nodes):
        if "skin" in node and "mesh" in node:
            joints = len(document["skins"][node["skin"]]["joints"])
            for primitive in meshes[node["mesh"]]:
                if not {"JOINTS_0", "WEIGHTS_0"} <= primitive.keys():
                    raise MeshError(f"glTF node {index} has a skin, its mesh no joints and weights")
                for name, accessor in primitive.items():
                    values = accessor.values() if name.startswith("JOINTS_") else None
                    if values is not None and values.size and int(values.max()) >= joints:
                        raise MeshError(
                            f"glTF node {index} names joint {int(values.max())} of {joints}"
                        )


def _checkAnimations(document, buffers):
    for index, animation in enumerate(document["animations"]):
        place = f"animations[{index}]"
        samplers = _objects(animation, "samplers", place)
        for number, sampler in enumerate(samplers):
            where = f"{place}.samplers[{number}]"
            _typed(sampler, "interpolation", str, where, _INTERPOLATIONS)
            times = _Accessor(document, sampler.get("input"), buffers)
            if times.type != "SCALAR" or times.componentType != _FLOAT:
                raise MeshError(f"{_where(where)}.input is not of float times")
            values = _Accessor(document, sampler.get("output"), buffers)
            needed = times.count * _INTERPOLATIONS[sampler.get("interpolation", "LINEAR")]
            if values.count < needed:
                raise MeshError(f"{_where(where)} has fewer outputs than inputs")
        for number, channel in enumerate(_objects(animation, "channels", place)):
            where = f"{place}.channels[{number}]"
            _index(channel.get("sampler"), samplers, f"{where}.sampler")
            target = _object(channel, "target", where)
            _optionalIndex(target, "node", document["nodes"], f"{where}.target")
            _typed(target, "path", str, f"{where}.target", _PATHS)
            if not _isKey(target.get("path"), _PATHS):
                raise MeshError(f"{_where(where)}.target has no path")


def _checkMaterials(document):
    textures = document["textures"]
    for index, material in enumerate(document["materials"]):
        place = f"materials[{index}]"
        pbr = _object(material, "pbrMetallicRoughness", place)
        _numbers(pbr, "baseColorFactor", 4, f"{place}.pbrMetallicRoughness")
        _numbers(material, "emissiveFactor", 3, place)
        for owner, where in ((material, place), (pbr, f"{place}.pbrMetallicRoughness")):
            for key in ("metallicFactor", "roughnessFactor", "alphaCutoff"):
                _number(owner, key, where)
            for key in _TEXTURE_INFOS:
                info = _object(owner, key, where)
                if key in owner:
                    _index(info.get("index"), textures, f"{where}.{key}.index")
                    if not _isInteger(info.get("texCoord", 0)) or info.get("texCoord", 0) < 0:
                        raise MeshError(f"{_where(where)}.{key}.texCoord is not a set number")
                    for factor in ("scale", "strength"):
                        _number(info, factor, f"{where}.{key}")
        _typed(material, "alphaMode", str, place, {"OPAQUE", "MASK", "BLEND"})
        _typed(material, "doubleSided", bool, place)
    for index, texture in enumerate(textures):
        _optionalIndex(texture, "source", document["images"], f"textures[{index}]")
        _optionalIndex(texture, "sampler", document["samplers"], f"textures[{index}]")
    for index, sampler in enumerate(document["samplers"]):
        for key in ("magFilter", "minFilter", "wrapS", "wrapT"):
            _typed(sampler, key, int, f"samplers[{index}]")


def _checkImages(document, folder):
    for index, image in enumerate(document["images"]):
        place = f"images[{index}]"
        uri = image.get("uri")
        if uri is not None and not (isinstance(uri, str) and uri.startswith("data:")):
            if not isinstance(uri, str):
                raise MeshError(f"glTF image {uri!r} is not a readable file")
            _linkedFile(uri, folder, "image")
        _optionalIndex(image, "bufferView", document["bufferViews"], place)
        _typed(image, "mimeType", str, place)


def _checkCameras(document):
    for index, camera in enumerate(document["cameras"]):
        place = f"cameras[{index}]"
        kind = camera.get("type")
        if kind not in ("perspective", "orthographic"):
            raise MeshError(f"{_where(place)}.type {kind!r} is not a camera type")
        projection = _object(camera, kind, place)
        for key, value in projection.items():
            if not _isNumber(value):
                raise MeshError(f"{_where(place)}.{kind}.{key} is not a number")


def checkGltf(data, folder, binary=False):
    """The document, once every index, count, type and mode a reader trusts is checked."""
    text, chunk = _glbChunks(data) if binary else (data, None)
    try:
        document = json.loads(text)
    except (ValueError, UnicodeDecodeError) as error:
        raise MeshError(f"glTF JSON is malformed ({error})") from None
    if not isinstance(document, dict):
        raise MeshError("glTF document is not a JSON object")
    for key in (
        *("accessors", "animations", "buffers", "bufferViews", "cameras", "images"),
        *("materials", "meshes", "nodes", "samplers", "scenes", "skins", "textures"),
    ):
        document[key] = _objects(document, key, "document")
    buffers = [_buffer(n, b, folder, chunk) for n, b in enumerate(document["buffers"])]
    # The reader also loads animations, skins and textures: every accessor must fit.
    for index in range(len(document["accessors"])):
        _Accessor(document, index, buffers)
    _checkImages(document, folder)
    if not document["meshes"]:
        raise MeshError("glTF file has no mesh")
    _checkTree(document)
    _checkNodes(document)
    _checkMaterials(document)
    _checkCameras(document)
    meshes = _checkMeshes(document, buffers)
    _checkSkins(document, buffers, meshes)
    _checkAnimations(document, buffers)
    return document


def _primitives(blocks, mesh=None):
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
        yield from _primitives(block, int(found.group(1)) if found else None)


def _baseColor(document, mesh, primitive):
    """The base colour of a primitive's material, or None."""
    try:
        material = document["meshes"][mesh]["primitives"][primitive]["material"]
        factor = document["materials"][material]["pbrMetallicRoughness"]["baseColorFactor"]
    except (KeyError, IndexError, TypeError):
        return None
    return [float(v) for v in factor[:3]]


def readGltf(path):
    """The surfaces of a glTF or GLB file's scene, each in its material's base colour."""
    document = checkGltf(
        readBytes(path), os.path.dirname(path), binary=path.lower().endswith(".glb")
    )
    pieces = list(_primitives(runReader(vtkGLTFReader(), path)))
    colors = [_baseColor(document, mesh, primitive) for mesh, primitive, _ in pieces]
    append = vtkAppendPolyData()
    for (_, _, polydata), color in zip(pieces, colors, strict=True):
        # Every piece gets colours or none does: appending keeps only the
        # arrays that all pieces have.
        if any(c is not None for c in colors):
            setCellColor(polydata, DEFAULT_GREY if color is None else color)
        append.AddInputData(polydata)
    if not pieces:
        raise MeshError("glTF scene shows no mesh")
    append.Update()
    return append.GetOutput()

"""VisualMesh: reading each mesh format, the shared cache, and hostile files."""

import base64
import io
import json
import os
import re
import struct

import numpy as np
import pytest
import trimesh
from hypothesis import given
from hypothesis import strategies as st
from vtkmodules.util.numpy_support import vtk_to_numpy

from marnox.meshes import readMesh
from marnox.visual import VisualMesh

RED = (200, 30, 30)


def _box():
    box = trimesh.creation.box((1.0, 2.0, 3.0))
    box.visual.face_colors = RED + (255,)
    return box


def _obj(folder):
    (folder / "paint.mtl").write_text("newmtl paint\nKd 0.784 0.118 0.118\n")
    box = _box()
    lines = ["mtllib paint.mtl", "usemtl paint"]
    lines += ["v {} {} {}".format(*v) for v in box.vertices]
    lines += ["f {} {} {}".format(*(f + 1)) for f in box.faces]
    path = folder / "box.obj"
    path.write_text("\n".join(lines) + "\n")
    return path


def _gltf(folder, binary):
    box = _box()
    points = box.vertices.astype("<f4").tobytes()
    indices = box.faces.astype("<u4").tobytes()
    data = points + indices
    document = {
        "asset": {"version": "2.0"},
        "buffers": [{"byteLength": len(data)}],
        "bufferViews": [
            {"buffer": 0, "byteOffset": 0, "byteLength": len(points)},
            {"buffer": 0, "byteOffset": len(points), "byteLength": len(indices)},
        ],
        "accessors": [
            {
                "bufferView": 0,
                "componentType": 5126,
                "count": len(box.vertices),
                "type": "VEC3",
                "min": box.vertices.min(axis=0).tolist(),
                "max": box.vertices.max(axis=0).tolist(),
            },
            {"bufferView": 1, "componentType": 5125, "count": box.faces.size, "type": "SCALAR"},
        ],
        "materials": [{"pbrMetallicRoughness": {"baseColorFactor": [0.784, 0.118, 0.118, 1]}}],
        "meshes": [{"primitives": [{"attributes": {"POSITION": 0}, "indices": 1, "material": 0}]}],
        "nodes": [{"mesh": 0}],
        "scenes": [{"nodes": [0]}],
        "scene": 0,
    }
    if not binary:
        encoded = base64.b64encode(data).decode()
        document["buffers"][0]["uri"] = "data:application/octet-stream;base64," + encoded
        path = folder / "box.gltf"
        path.write_text(json.dumps(document))
        return path
    text = json.dumps(document).encode()
    text += b" " * (-len(text) % 4)
    data += b"\0" * (-len(data) % 4)
    chunks = struct.pack("<I4s", len(text), b"JSON") + text
    chunks += struct.pack("<I4s", len(data), b"BIN\0") + data
    path = folder / "box.glb"
    path.write_bytes(struct.pack("<4sII", b"glTF", 2, 12 + len(chunks)) + chunks)
    return path


def _export(folder, name, file_type, **options):
    path = folder / name
    data = _box().export(file_type=file_type, **options)
    path.write_bytes(data.encode() if isinstance(data, str) else data)
    return path


MAKERS = {
    "stl-binary": lambda d: _export(d, "box.stl", "stl"),
    "stl-ascii": lambda d: _export(d, "box_ascii.stl", "stl_ascii"),
    "obj": _obj,
    "ply-binary": lambda d: _export(d, "box.ply", "ply"),
    "ply-ascii": lambda d: _export(d, "box_ascii.ply", "ply", encoding="ascii"),
    "gltf": lambda d: _gltf(d, binary=False),
    "glb": lambda d: _gltf(d, binary=True),
    "dae": lambda d: _export(d, "box.dae", "dae"),
}
# STL has no colours.
COLOURED = set(MAKERS) - {"stl-binary", "stl-ascii"}


def _scalars(polydata):
    for data in (polydata.GetCellData(), polydata.GetPointData()):
        if data.GetScalars() is not None:
            return vtk_to_numpy(data.GetScalars())
    return None


@pytest.mark.parametrize("kind", MAKERS)
def test_each_format_reads_the_surface_and_its_colours(tmp_path, kind):
    path = MAKERS[kind](tmp_path)
    mesh = VisualMesh(str(path), scale=(2.0, 1.0, 1.0))
    polydata = mesh.polydata()
    assert polydata.GetNumberOfCells() == 12
    assert np.allclose(polydata.GetBounds(), (-0.5, 0.5, -1.0, 1.0, -1.5, 1.5), atol=1e-6)
    actor = mesh._getActor()
    assert actor.GetMapper().GetInput() is polydata
    assert np.allclose(actor.GetBounds()[:2], (-1.0, 1.0), atol=1e-6)
    colours = _scalars(polydata)
    if kind in COLOURED:
        assert colours is not None and np.abs(colours[:, :3] - RED).max() <= 2
        assert actor.GetMapper().GetScalarVisibility()
    else:
        assert colours is None
    painted = VisualMesh(str(path), color=(0.0, 0.0, 1.0))
    assert painted.polydata() is polydata
    assert not painted._getActor().GetMapper().GetScalarVisibility()
    assert painted._getActor().GetProperty().GetColor() == (0.0, 0.0, 1.0)


def test_gltf_primitives_keep_their_own_materials_and_node_placements(tmp_path):
    path = MAKERS["gltf"](tmp_path)
    document = json.loads(path.read_text())
    document["materials"].append({"pbrMetallicRoughness": {"baseColorFactor": [0, 0, 1, 1]}})
    primitive = document["meshes"][0]["primitives"][0]
    document["meshes"].append({"primitives": [dict(primitive, material=1), primitive]})
    document["nodes"] = [{"mesh": 0, "children": [1]}, {"mesh": 1, "translation": [3, 0, 0]}]
    path.write_text(json.dumps(document))
    polydata = readMesh(str(path))
    assert polydata.GetBounds()[:2] == (-0.5, 3.5)
    colours, counts = np.unique(_scalars(polydata), axis=0, return_counts=True)
    assert colours.tolist() == [[0, 0, 255], list(RED)] and counts.tolist() == [12, 24]


def test_one_file_is_read_once_until_it_changes(tmp_path):
    path = MAKERS["stl-binary"](tmp_path)
    first, second = VisualMesh(str(path)), VisualMesh(str(tmp_path / "." / "box.stl"))
    assert first.polydata() is second.polydata()
    # A changed file (another size) is read again; elements made before keep theirs.
    box = trimesh.creation.box((1.0, 1.0, 1.0))
    path.write_bytes(trimesh.util.concatenate([box, box.copy()]).export(file_type="stl"))
    third = VisualMesh(str(path))
    assert third.polydata() is not first.polydata()
    assert third.polydata().GetNumberOfCells() == 24
    assert first.polydata().GetNumberOfCells() == 12


def _bad_stl_count(data):
    return data[:80] + struct.pack("<I", 1_000_000) + data[84:]


def _bad_ply_count(data):
    return data.replace(b"element vertex 8", b"element vertex 80000000", 1)


def _bad_ply_index(data):
    header, _, body = data.partition(b"end_header\n")
    faces = body[8 * 12 :]
    # The first face's first index points far past the eight vertices.
    broken = faces[:1] + struct.pack("<i", 1 << 30) + faces[5:]
    return header + b"end_header\n" + body[: 8 * 12] + broken


def _bad_gltf_count(data):
    document = json.loads(data)
    document["accessors"][0]["count"] = 300000
    return json.dumps(document).encode()


def _bad_gltf_index(data):
    document = json.loads(data)
    raw = bytearray(base64.b64decode(document["buffers"][0]["uri"].split(",")[1]))
    raw[-4:] = struct.pack("<I", 99999)
    document["buffers"][0]["uri"] = "data:," + base64.b64encode(bytes(raw)).decode()
    return json.dumps(document).encode()


@pytest.mark.parametrize(
    "kind, corrupt, reason",
    [
        ("stl-binary", _bad_stl_count, "1000000 triangles"),
        ("stl-binary", lambda d: d[: len(d) // 2], "triangles"),
        ("ply-binary", _bad_ply_count, "past the end"),
        ("ply-binary", _bad_ply_index, "outside the 8 vertices"),
        ("ply-ascii", lambda d: d[: len(d) // 2], "rows"),
        ("gltf", _bad_gltf_count, "past the end of its buffer view"),
        ("gltf", _bad_gltf_index, "outside the 8 vertices"),
        ("glb", lambda d: d[: len(d) - 40], "GLB header"),
        ("dae", lambda d: d[: len(d) // 2], "Collada"),
        ("obj", lambda d: b"\0\xff" * 100, "no surface"),
        ("stl-ascii", lambda d: b"", "empty file"),
    ],
)
def test_lying_files_raise_value_errors_naming_file_and_fault(
    tmp_path, read_in_child, kind, corrupt, reason
):
    path = MAKERS[kind](tmp_path)
    path.write_bytes(corrupt(path.read_bytes()))
    outcome = read_in_child(str(path))
    assert outcome.startswith("ValueError: " + str(path)), outcome
    assert reason in outcome


def test_a_gltf_image_that_is_a_fifo_is_refused_not_waited_for(tmp_path, read_in_child):
    path = MAKERS["gltf"](tmp_path)
    os.mkfifo(tmp_path / "texture.png")
    document = json.loads(path.read_text())
    document["images"] = [{"uri": "texture.png"}]
    document["textures"] = [{"source": 0}]
    document["materials"][0]["pbrMetallicRoughness"]["baseColorTexture"] = {"index": 0}
    path.write_text(json.dumps(document))
    assert "image 'texture.png' is not a readable file" in read_in_child(str(path), timeout=20)


@pytest.mark.parametrize(
    "name, error, reason",
    [
        ("missing.stl", "FileNotFoundError", "mesh file not found"),
        ("folder.stl", "ValueError", "not a regular file"),
        ("box.step", "ValueError", "unknown mesh file ending '.step'"),
    ],
)
def test_files_that_are_not_meshes(tmp_path, name, error, reason):
    (tmp_path / "folder.stl").mkdir()
    (tmp_path / "box.step").write_text("ISO-10303-21;")
    with pytest.raises(Exception) as raised:
        VisualMesh(str(tmp_path / name))
    assert type(raised.value).__name__ == error
    assert reason in str(raised.value) and name in str(raised.value)


_MUTATIONS = st.one_of(
    st.tuples(st.just("truncate"), st.floats(0.0, 1.0)),
    st.tuples(st.just("overwrite"), st.floats(0.0, 1.0), st.binary(min_size=1, max_size=16)),
    st.tuples(st.just("insert"), st.floats(0.0, 1.0), st.binary(min_size=1, max_size=64)),
    st.tuples(st.just("count"), st.floats(0.0, 1.0), st.integers(0, 2**32 - 1)),
    st.tuples(st.just("number"), st.floats(0.0, 1.0), st.integers(-(2**40), 2**40)),
    st.tuples(st.just("random"), st.binary(max_size=512)),
)


def _mutate(data, mutation):
    kind, *args = mutation
    if kind == "random":
        return args[0]
    at = int(args[0] * len(data))
    if kind == "truncate":
        return data[:at]
    if kind == "overwrite":
        return data[:at] + args[1] + data[at + len(args[1]) :]
    if kind == "insert":
        return data[:at] + args[1] + data[at:]
    if kind == "count":
        # A binary count or offset that lies.
        return data[:at] + struct.pack("<I", args[1]) + data[at + 4 :]
    # A number written in the text (a header's count, an index, an offset) that lies.
    starts = [m.start() for m in re.finditer(rb"\d+", data)]
    if not starts:
        return data
    start = starts[int(args[0] * (len(starts) - 1))]
    end = re.match(rb"\d+", data[start:]).end() + start
    return data[:start] + str(args[1]).encode() + data[end:]


@given(kind=st.sampled_from(sorted(MAKERS)), mutation=_MUTATIONS)
def test_corrupt_files_raise_errors_and_never_crash(
    tmp_path_factory, read_in_child, kind, mutation
):
    folder = tmp_path_factory.mktemp("corrupt")
    path = MAKERS[kind](folder)
    path.write_bytes(_mutate(path.read_bytes(), mutation))
    outcome = read_in_child(str(path))
    if outcome != "ok":
        assert str(path) in outcome


def _ply(faces, vertices=3, index="int", count="uchar", binary=True, as_list=True):
    """A PLY of ``vertices`` points and ``faces`` (lists of indices), of the given types."""
    kinds = {"uchar": "B", "char": "b", "int": "i", "uint": "I", "float": "f", "double": "d"}
    face = (
        f"property list {count} {index} vertex_indices"
        if as_list
        else f"property {index} vertex_indices"
    )
    head = [
        "ply",
        "format " + ("binary_little_endian 1.0" if binary else "ascii 1.0"),
        f"element vertex {vertices}",
        *(f"property float {axis}" for axis in "xyz"),
        f"element face {len(faces)}",
        face,
        "end_header",
    ]
    points = np.eye(3, dtype="<f4")[np.arange(vertices) % 3]
    if not binary:
        rows = [" ".join(map(str, p)) for p in points]
        rows += [" ".join(map(str, ([len(f)] if as_list else []) + list(f))) for f in faces]
        return "\n".join(head + rows).encode() + b"\n"
    body = points.tobytes()
    for f in faces:
        body += struct.pack("<" + kinds[count], len(f)) if as_list else b""
        body += struct.pack(f"<{len(f)}{kinds[index]}", *f)
    return "\n".join(head).encode() + b"\n" + body


def _gltf_with(**changes):
    """The glTF box with parts of its document replaced: ``changes`` map a path such
    as ``nodes`` or ``meshes.0.primitives.0.mode`` to its new value."""

    def change(data):
        document = json.loads(data)
        for path, value in changes.items():
            *parents, last = path.split(".")
            owner = document
            try:
                for key in parents:
                    owner = owner[int(key) if key.isdigit() else key]
                owner[int(last) if last.isdigit() else last] = value
            except (KeyError, IndexError, TypeError):
                continue  # an earlier change took away this value's place
        return json.dumps(document).encode()

    return change


def _obj_lines(*lines):
    return lambda data: b"v 0 0 0\nv 1 0 0\nv 0 1 0\n" + "\n".join(lines).encode() + b"\n"


def _collada_lines(data):
    import collada

    document = collada.Collada()
    source = collada.source.FloatSource("v", np.eye(3).ravel(), ("X", "Y", "Z"))
    geometry = collada.geometry.Geometry(document, "g", "g", [source])
    inputs = collada.source.InputList()
    inputs.addInput(0, "VERTEX", "#v")
    geometry.primitives.append(geometry.createLineSet(np.array([0, 1, 1, 2]), inputs, "m"))
    document.geometries.append(geometry)
    node = collada.scene.Node("n", children=[collada.scene.GeometryNode(geometry, [])])
    document.scenes.append(collada.scene.Scene("s", [node]))
    document.scene = document.scenes[0]
    stream = io.BytesIO()
    document.write(stream)
    return stream.getvalue()


@pytest.mark.parametrize(
    "kind, corrupt, reason",
    [
        (
            "ply-ascii",
            lambda d: _ply([[0, 1, 2]] * 2, binary=False).replace(
                b"\n3 0 1 2\n", b"\n-3 0 1 2\n", 1
            ),
            "count -3 is negative",
        ),
        ("ply-binary", lambda d: _ply([[0, 1, 2]], as_list=False), "not a list"),
        ("ply-binary", lambda d: d.replace(b"vertex_indices", b"vertex_indexes"), "no vertex_"),
        # VTK's ASCII reader reads "00" as two numbers, and colours as corners from there on.
        ("ply-ascii", lambda d: d.replace(b"2 200 30 30", b"2 200 30 00", 1), "not a whole number"),
        (
            "ply-binary",
            lambda d: _ply([[0, 1, float("nan")]], index="float"),
            "floats, not integer indices",
        ),
        (
            "ply-binary",
            lambda d: _ply([[0, 1, 2]], count="char").replace(b"\3\0", b"\xfb\0"),
            "count -5",
        ),
        ("gltf", _gltf_with(nodes=[{"mesh": 0, "children": [0]}]), "child twice or of itself"),
        ("gltf", _gltf_with(nodes=[{"mesh": 0, "children": [1]}, {"children": [0]}]), "ancestor"),
        ("gltf", _gltf_with(**{"meshes.0.primitives.0.material": 5}), "material names 5"),
        ("gltf", _gltf_with(**{"nodes.0.skin": 3}), "skin names 3"),
        ("gltf", _gltf_with(skins=[{"joints": [7]}], **{"nodes.0.skin": 0}), "joints names 7"),
        ("glb", _gltf_with(skins=[{"joints": [7]}], **{"nodes.0.skin": 0}), "joints names 7"),
        ("gltf", _gltf_with(**{"meshes.0.primitives.0.mode": 9}), "not one of glTF's seven"),
        ("gltf", _gltf_with(meshes={"primitives": []}), "meshes is not a list of objects"),
        ("gltf", _gltf_with(**{"accessors.0.count": "8"}), "bad count"),
        ("gltf", _gltf_with(**{"nodes.0.children": 1}), "children is not a list"),
        ("gltf", _gltf_with(**{"accessors.0.min": [0]}), "min is not a list of 3 numbers"),
        ("obj", _obj_lines("f 1 2 500000000"), "index 500000000 outside the 3 vertices"),
        ("obj", _obj_lines("f -4 -2 -1"), "index -4 outside"),
        ("obj", _obj_lines("vt 0 0", "f 1/1 2/2 3/1"), "texture coordinates index 2"),
        ("obj", _obj_lines("mtllib /proc/self/mem", "f 1 2 3"), "/proc/self/mem cannot be read"),
        ("dae", _collada_lines, "holds no triangles"),
    ],
)
def test_hostile_files_raise_value_errors_naming_file_and_fault(
    tmp_path, read_in_child, kind, corrupt, reason
):
    path = MAKERS[kind](tmp_path)
    if kind == "glb":
        path = _gltf(tmp_path, binary=False)
        path.write_bytes(corrupt(path.read_bytes()))
        path = _glb_of(path)
    else:
        path.write_bytes(corrupt(path.read_bytes()))
    outcome = read_in_child(str(path))
    assert outcome.startswith("ValueError: " + str(path)), outcome
    assert reason in outcome, outcome


def _glb_of(gltf):
    """The GLB holding the same document as ``gltf``, its data URI moved into the binary chunk."""
    document = json.loads(gltf.read_text())
    data = base64.b64decode(document["buffers"][0].pop("uri").split(",")[1])
    text = json.dumps(document).encode()
    text += b" " * (-len(text) % 4)
    data += b"\0" * (-len(data) % 4)
    chunks = struct.pack("<I4s", len(text), b"JSON") + text
    chunks += struct.pack("<I4s", len(data), b"BIN\0") + data
    path = gltf.with_suffix(".glb")
    path.write_bytes(struct.pack("<4sII", b"glTF", 2, 12 + len(chunks)) + chunks)
    return path


_INDICES = st.one_of(
    st.integers(-5, 8), st.integers(-(2**31), 2**31 - 1), st.sampled_from([float("nan"), 1e30, 2.5])
)


@st.composite
def _ply_files(draw):
    index = draw(st.sampled_from(["char", "uchar", "int", "uint", "float", "double"]))
    faces = draw(st.lists(st.lists(_INDICES, min_size=0, max_size=5), min_size=1, max_size=4))
    if index not in ("float", "double"):
        bits = {"char": 8, "uchar": 8, "int": 32, "uint": 32}[index]
        low = -(2 ** (bits - 1)) if index[0] != "u" else 0
        faces = [
            [int(v) % 2**bits + low if v == v and abs(v) < 2**62 else 0 for v in f] for f in faces
        ]
    return _ply(
        faces,
        vertices=draw(st.integers(1, 4)),
        index=index,
        count=draw(st.sampled_from(["uchar", "char"])),
        binary=draw(st.booleans()),
        as_list=draw(st.booleans()),
    )


_JSON_VALUES = st.recursive(
    st.none() | st.booleans() | st.integers(-3, 12) | st.floats() | st.text(max_size=4),
    lambda inner: (
        st.lists(inner, max_size=3) | st.dictionaries(st.text(max_size=4), inner, max_size=3)
    ),
    max_leaves=6,
)
# The places where a glTF document ties its parts together, and a few of its types.
_GLTF_PLACES = [
    "scene",
    "nodes.0.children",
    "nodes.0.mesh",
    "nodes.0.skin",
    "nodes.0.camera",
    "nodes.0.matrix",
    "nodes.0.translation",
    "meshes.0.primitives.0.material",
    "meshes.0.primitives.0.mode",
    "meshes.0.primitives.0.indices",
    "meshes.0.primitives.0.attributes",
    "meshes.0.primitives.0.targets",
    "meshes.0.weights",
    "materials.0.pbrMetallicRoughness",
    "materials.0.pbrMetallicRoughness.baseColorFactor",
    "accessors.1.componentType",
    "accessors.0.type",
    "accessors.0.count",
    "bufferViews.0.byteStride",
    "buffers.0.byteLength",
    "skins",
    "cameras",
    "textures",
    "animations",
    "scenes.0.nodes",
]


@st.composite
def _gltf_changes(draw):
    places = draw(st.lists(st.sampled_from(_GLTF_PLACES), min_size=1, max_size=3, unique=True))
    changes = {place: draw(_JSON_VALUES) for place in places}
    if draw(st.booleans()):
        # References to parts that exist, or to the parts around them.
        changes["skins"] = [{"joints": draw(st.lists(st.integers(-1, 3), max_size=3))}]
        changes["nodes"] = [
            {
                "mesh": 0,
                "skin": draw(st.integers(-1, 1)),
                "children": draw(st.lists(st.integers(-1, 2), max_size=3)),
            },
            {"children": draw(st.lists(st.integers(-1, 2), max_size=2))},
        ]
    return _gltf_with(**changes)


@st.composite
def _obj_files(draw):
    corner = st.lists(st.integers(-6, 6) | st.integers(-(2**40), 2**40), min_size=1, max_size=3)
    faces = draw(st.lists(st.lists(corner, min_size=1, max_size=4), min_size=1, max_size=3))
    lines = ["vt 0 0", "vn 0 0 1"] * draw(st.integers(0, 1))
    lines += [
        draw(st.sampled_from("flp")) + " " + " ".join("/".join(map(str, c)) for c in face)
        for face in faces
    ]
    return _obj_lines(*lines)(b"")


@given(
    made=st.one_of(
        st.tuples(st.just("ply"), _ply_files()),
        st.tuples(st.just("obj"), _obj_files()),
        st.tuples(st.just("gltf"), _gltf_changes()),
        st.tuples(st.just("glb"), _gltf_changes()),
    )
)
def test_lying_structures_raise_errors_and_never_crash(tmp_path_factory, read_in_child, made):
    kind, content = made
    folder = tmp_path_factory.mktemp("lying")
    path = folder / f"made.{kind}"
    if kind in ("gltf", "glb"):
        # The glTF box with references, counts and types that lie; a GLB holds the same.
        gltf = MAKERS["gltf"](folder)
        gltf.write_bytes(content(gltf.read_bytes()))
        path = _glb_of(gltf) if kind == "glb" else gltf
    else:
        path.write_bytes(content)
    outcome = read_in_child(str(path))
    if outcome != "ok":
        assert str(path) in outcome

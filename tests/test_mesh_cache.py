"""Meshes kept on disk: the same polydata as a fresh read, refreshed when anything changes."""

import os
import re
import struct
import subprocess
import sys
import zlib

import numpy as np
import pytest
import trimesh
from vtkmodules.util.numpy_support import vtk_to_numpy

from marnox import meshes
from marnox.meshes import _entry_header, disk_cache, readMesh


def _box(folder, name):
    box = trimesh.creation.box((1.0, 2.0, 3.0))
    box.visual.face_colors = (200, 30, 30, 255)
    path = folder / name
    if name.endswith(".obj"):
        (folder / "paint.mtl").write_text("newmtl paint\nKd 0.8 0.1 0.1\n")
        lines = ["mtllib paint.mtl", "usemtl paint"]
        lines += ["v {} {} {}".format(*v) for v in box.vertices]
        lines += ["f {} {} {}".format(*(f + 1)) for f in box.faces]
        path.write_text("\n".join(lines) + "\n")
    else:
        path.write_bytes(box.export(file_type=name.rsplit(".", 1)[1]))
    return path


def _arrays(polydata):
    """Everything a reader gives, as named NumPy arrays."""
    found = {"points": vtk_to_numpy(polydata.GetPoints().GetData())}
    for kind in ("Verts", "Lines", "Polys", "Strips"):
        cells = getattr(polydata, "Get" + kind)()
        found[kind] = vtk_to_numpy(cells.GetConnectivityArray())
        found[kind + " offsets"] = vtk_to_numpy(cells.GetOffsetsArray())
    for where, data in (("point", polydata.GetPointData()), ("cell", polydata.GetCellData())):
        for index in range(data.GetNumberOfArrays()):
            found[f"{where} {data.GetArrayName(index)}"] = vtk_to_numpy(data.GetArray(index))
        scalars = data.GetScalars()
        found[f"{where} scalars"] = None if scalars is None else scalars.GetName()
    return found


def _assert_same(first, second):
    first, second = _arrays(first), _arrays(second)
    assert first.keys() == second.keys()
    for name, array in first.items():
        if isinstance(array, np.ndarray):
            assert array.dtype == second[name].dtype and np.array_equal(array, second[name]), name
        else:
            assert array == second[name], name


def _read_again(path, monkeypatch, fresh):
    """Reads ``path`` as a new process would; ``fresh`` says whether a reader may run."""
    meshes._cache.clear()
    with monkeypatch.context() as patch:
        if not fresh:
            patch.setattr(meshes, "_readFile", pytest.fail)
        return readMesh(str(path))


def _entries(folder):
    return sorted(name for name in os.listdir(folder) if name.endswith(".vtp"))


@pytest.fixture
def cache(tmp_path, monkeypatch):
    folder = tmp_path / "cache"
    monkeypatch.setenv("MARNOX_MESH_CACHE", str(folder))
    return folder


@pytest.mark.parametrize("name", ["box.stl", "box.ply", "box.obj", "box.dae"])
def test_a_kept_mesh_is_the_polydata_a_fresh_read_gives(tmp_path, cache, monkeypatch, name):
    path = _box(tmp_path, name)
    fresh = readMesh(str(path))
    assert len(_entries(cache)) == 1
    _assert_same(fresh, _read_again(path, monkeypatch, fresh=False))


def _change_mesh(path):
    path.write_bytes(path.read_bytes().replace(b"0.5", b"0.6"))


def _change_material(path):
    (path.parent / "paint.mtl").write_text("newmtl paint\nKd 0.1 0.1 0.8\n")


def _change_conversion(path, monkeypatch):
    monkeypatch.setattr(disk_cache, "CONVERSION_VERSION", disk_cache.CONVERSION_VERSION + 1)


@pytest.mark.parametrize(
    "change", [_change_mesh, _change_material, _change_conversion], ids=lambda c: c.__name__
)
def test_a_change_to_the_file_its_materials_or_the_conversion_reads_afresh(
    tmp_path, cache, monkeypatch, change
):
    path = _box(tmp_path, "box.obj")
    # Files rewritten at once may keep their times; these are from long ago.
    for file in (path, tmp_path / "paint.mtl"):
        os.utime(file, ns=(1, 1))
    readMesh(str(path))
    if change is _change_conversion:
        change(path, monkeypatch)
    else:
        change(path)
    changed = _read_again(path, monkeypatch, fresh=True)
    assert len(_entries(cache)) == 2
    _assert_same(changed, _read_again(path, monkeypatch, fresh=False))


@pytest.mark.parametrize(
    "damage",
    [lambda data: data[: len(data) // 2], lambda data: data[:-200] + b"\x7f" + data[-199:]],
    ids=["truncated", "corrupt"],
)
def test_a_damaged_entry_is_read_afresh_and_replaced(tmp_path, cache, monkeypatch, damage):
    path = _box(tmp_path, "box.dae")
    fresh = readMesh(str(path))
    (entry,) = _entries(cache)
    kept = (cache / entry).read_bytes()
    (cache / entry).write_bytes(damage(kept))
    _assert_same(fresh, _read_again(path, monkeypatch, fresh=True))
    assert (cache / entry).read_bytes() == kept


@pytest.mark.parametrize("where", ["under a file", "/proc/marnox-mesh-cache"])
def test_a_folder_that_cannot_be_written_is_passed_over_and_reported_once(
    tmp_path, monkeypatch, caplog, where
):
    (tmp_path / "file").write_text("")
    folder = tmp_path / "file" / "cache" if where == "under a file" else where
    monkeypatch.setenv("MARNOX_MESH_CACHE", str(folder))
    monkeypatch.setattr(disk_cache, "_unwritable", set())
    for name in ("box.dae", "box.stl"):
        assert readMesh(str(_box(tmp_path, name))).GetNumberOfCells() == 12
    # trimesh may log its own warnings (no SciPy, say); only ours count here.
    (record,) = [record for record in caplog.records if record.name == "marnox.meshes"]
    assert record.levelname == "WARNING" and str(folder) in record.getMessage()


def test_a_file_rewritten_to_its_size_and_time_is_read_afresh(tmp_path, cache, monkeypatch):
    path = _box(tmp_path, "box.stl")
    kept = readMesh(str(path))
    before = os.stat(path)
    path.write_bytes(path.read_bytes().replace(struct.pack("<f", 0.5), struct.pack("<f", 0.75)))
    # As an unpacked archive or cp -p leaves it; the change time moves by the clock's tick.
    while os.stat(path).st_ctime_ns == before.st_ctime_ns:
        os.utime(path, ns=(before.st_atime_ns, before.st_mtime_ns))
    os.utime(path, ns=(before.st_atime_ns, before.st_mtime_ns))
    changed = readMesh(str(path))
    assert (_arrays(changed)["points"] == 0.75).any()
    assert not (_arrays(kept)["points"] == 0.75).any()
    _assert_same(changed, _read_again(path, monkeypatch, fresh=False))


def test_the_oldest_entries_leave_when_the_folder_outgrows_its_limit(tmp_path, cache, monkeypatch):
    paths = [_box(tmp_path, f"box{index}.stl") for index in range(3)]
    readMesh(str(paths[0]))
    (first,) = _entries(cache)
    os.utime(cache / first, ns=(1, 1))
    monkeypatch.setattr(disk_cache, "SIZE_LIMIT", 2 * os.path.getsize(cache / first))
    for path in paths[1:]:
        readMesh(str(path))
    assert len(_entries(cache)) == 2 and first not in _entries(cache)


# Loads a robot; prints which of the libraries only a fresh read or a drawing needs it imported.
_CHILD = """
import sys
from marnox.robot import Robot
Robot.fromURDF(sys.argv[1])
print(sorted({"trimesh", "collada", "vtkmodules.vtkRenderingOpenGL2"} & set(sys.modules)))
"""


def test_processes_filling_one_entry_at_once_leave_it_whole(tmp_path, cache, monkeypatch):
    path = _box(tmp_path, "box.dae")
    robot = tmp_path / "robot.urdf"
    robot.write_text(
        "<robot name='r'><link name='a'><visual><geometry>"
        "<mesh filename='box.dae'/></geometry></visual></link></robot>"
    )
    environment = dict(os.environ, MARNOX_MESH_CACHE=str(cache))

    def start():
        return subprocess.Popen(
            [sys.executable, "-c", _CHILD, str(robot)],
            stdout=subprocess.PIPE,
            text=True,
            env=environment,
        )

    children = [start() for _ in range(3)]
    for child in children:
        child.communicate(timeout=120)
    assert [child.returncode for child in children] == [0, 0, 0]
    assert sorted(os.listdir(cache)) == _entries(cache) and len(_entries(cache)) == 1
    _assert_same(readMesh(str(path)), _read_again(path, monkeypatch, fresh=False))
    # Once the entry is there, loading the robot imports neither the Collada libraries nor VTK's
    # rendering: they take longer to load than the cached robot takes to read.
    assert start().communicate(timeout=120)[0].strip() == "[]"


def _resealed(entry, change):
    """The entry with ``change`` made to its XML and its arrays, its checksum made anew."""
    data = change(entry[: entry.rindex(b"\n<!-- marnox mesh")])
    return data + b"\n<!-- marnox mesh %d %08x -->\n" % (len(data), zlib.crc32(data))


def _set_value(section, name, index, value):
    """Writes ``value`` into the ``index``-th value of a cell array of the entry."""

    def change(data):
        start = data.index(_entry_header.APPENDED) + len(_entry_header.APPENDED)
        head = data[:start].decode()
        array = re.search(f'<{section}>.*?Name="{name}".*?offset="(\\d+)"', head, re.S)
        data = bytearray(data)
        struct.pack_into("<q", data, start + int(array.group(1)) + 8 + 8 * index, value)
        return bytes(data)

    return change


def _declare_points(data):
    return re.sub(rb'NumberOfPoints="8 *"', b'NumberOfPoints="80000000000000"', data)


# Reads the mesh as a new process would, draws on every cell, prints what it found.
_READ_EVERY_CELL = """
import sys
from vtkmodules.vtkCommonCore import vtkIdList
from marnox.meshes import readMesh
polydata = readMesh(sys.argv[1])
ids = vtkIdList()
for cell in range(polydata.GetNumberOfCells()):
    polydata.GetCellPoints(cell, ids)
    polydata.GetCell(cell).GetBounds()
print(polydata.GetNumberOfPoints(), polydata.GetNumberOfCells())
"""


def _rewritten(change):
    def tamper(entry):
        entry.write_bytes(_resealed(entry.read_bytes(), change))

    return tamper


def _replaced(make):
    def tamper(entry):
        entry.unlink()
        make(entry)

    return tamper


@pytest.mark.parametrize(
    "tamper",
    [
        _rewritten(_set_value("Polys", "connectivity", 0, 50_000_000)),
        _rewritten(_set_value("Polys", "offsets", 11, 10**15)),
        _rewritten(_declare_points),
        _replaced(os.mkfifo),
        _replaced(lambda entry: os.symlink("/dev/zero", entry)),
    ],
    ids=["a point beyond", "connectivity beyond memory", "points beyond memory", "FIFO", "zeros"],
)
def test_a_tampered_entry_is_read_afresh_and_replaced(tmp_path, cache, tamper):
    path = _box(tmp_path, "box.stl")
    readMesh(str(path))
    (name,) = _entries(cache)
    kept = (cache / name).read_bytes()
    tamper(cache / name)
    child = subprocess.run(
        [sys.executable, "-c", _READ_EVERY_CELL, str(path)],
        capture_output=True,
        text=True,
        env=dict(os.environ, MARNOX_MESH_CACHE=str(cache)),
        timeout=120,
    )
    assert (child.returncode, child.stdout) == (0, "8 12\n"), child.stderr
    assert (cache / name).read_bytes() == kept

"""Project files with meshes and joints: paths relative to the file's folder, missing meshes."""

import json
import shutil
import subprocess
import sys

import pytest
import trimesh

from marnox.dynamics import Link
from marnox.item import Item
from marnox.project import Project
from marnox.robot import Robot
from marnox.visual import VisualMesh


def _mesh(path):
    path.parent.mkdir(parents=True, exist_ok=True)
    path.write_bytes(trimesh.creation.box((1, 1, 1)).export(file_type="stl"))
    return str(path)


def _cell(inside, outside):
    project = Project()
    item = Item("fixture")
    item.addShape(VisualMesh(inside, scale=(0.5, 0.5, 0.5)))
    item.addShape(VisualMesh(outside, color=(0.1, 0.2, 0.3), opacity=0.5))
    project.workspace().addItem(item)
    slide = Link("slide", axis=(1, 0, 0), jointType="prismatic", limits=(0, 1), position=0.2)
    spin = Link("spin", axis=(0, 0, 1), jointType="continuous", jointName="spinner")
    follow = Link("follow", axis=(0, 0, 1), mimic=("spinner", 2.0, 0.1), children=[])
    project.workspace().addRobot(
        Robot("rig", base_link=Link("base", children=[slide, spin, follow]))
    )
    return project


def test_a_cell_folder_moves_with_its_meshes(tmp_path):
    inside = _mesh(tmp_path / "cell" / "meshes" / "part.stl")
    outside = _mesh(tmp_path / "library" / "tool.stl")
    _cell(inside, outside).save(str(tmp_path / "cell" / "cell.mxproj"))
    shapes = json.loads((tmp_path / "cell" / "cell.mxproj").read_text())["workspace"]["items"][0]
    assert [s["mesh"]["path"] for s in shapes["shapes"]] == ["meshes/part.stl", outside]
    shutil.move(tmp_path / "cell", tmp_path / "moved")
    project = Project()
    project.load(str(tmp_path / "moved" / "cell.mxproj"))
    part, tool = project.workspace().getItems()["fixture"].shapes()
    assert part.path() == str(tmp_path / "moved" / "meshes" / "part.stl")
    assert (part.scale(), part.color(), tool.color(), tool.opacity()) == (
        (0.5, 0.5, 0.5),
        None,
        (0.1, 0.2, 0.3),
        0.5,
    )
    rig = project.workspace().getRobots()["rig"]
    slide, spin, follow = rig.baseLink().children()
    assert (slide.jointType(), slide.limits(), slide.position()) == ("prismatic", (0.0, 1.0), 0.2)
    assert (spin.jointType(), spin.jointName()) == ("continuous", "spinner")
    assert (follow.jointType(), follow.jointName(), follow.mimic()) == (
        "revolute",
        "follow",
        ("spinner", 2.0, 0.1),
    )


def test_a_missing_mesh_fails_the_load_and_keeps_the_project(tmp_path):
    inside = _mesh(tmp_path / "cell" / "meshes" / "part.stl")
    file = str(tmp_path / "cell" / "cell.mxproj")
    _cell(inside, _mesh(tmp_path / "tool.stl")).save(file)
    project = Project()
    project.workspace().addItem(Item("kept"))
    (tmp_path / "cell" / "meshes" / "part.stl").unlink()
    with pytest.raises(FileNotFoundError) as raised:
        project.load(file)
    assert inside in str(raised.value) and file in str(raised.value)
    assert list(project.workspace().getItems()) == ["kept"]


def test_render_of_a_project_whose_gltf_lies_ends_with_one_line_and_status_2(tmp_path):
    files = trimesh.exchange.gltf.export_gltf(trimesh.creation.box(), embed_buffers=True)
    mesh = tmp_path / "box.gltf"
    mesh.write_bytes(files["model.gltf"])
    item = Item("fixture")
    item.addShape(VisualMesh(str(mesh)))
    project = Project()
    project.workspace().addItem(item)
    project.save(str(tmp_path / "cell.mxproj"))
    document = json.loads(mesh.read_text())
    document["meshes"][0]["primitives"][0]["attributes"] = ["POSITION"]
    mesh.write_text(json.dumps(document))
    result = subprocess.run(
        [sys.executable, "-m", "marnox", "render", str(tmp_path / "cell.mxproj")],
        capture_output=True,
        text=True,
        cwd=tmp_path,
        timeout=300,
    )
    assert result.returncode == 2 and result.stderr.count("\n") == 1, result.stderr
    assert "attributes is not an object" in result.stderr

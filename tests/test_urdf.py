"""Robot.fromURDF: malformed files, mesh lookups, joints set by name, long chains."""

import json
import math
import os
import subprocess
import sys

import pytest
import trimesh

from marnox.cli import main
from marnox.dynamics import Link
from marnox.item import Item
from marnox.pose import Pose
from marnox.project import Project
from marnox.robot import Robot

TWO_LINKS = """<robot name="r">
  <link name="base"/>
  <link name="tip"><visual><geometry>{geometry}</geometry></visual></link>
  <joint name="j" type="revolute"><parent link="base"/><child link="tip"/></joint>
</robot>"""


JOINT = """<robot name="r"><link name="base"/><link name="tip"/>
  <joint name="j" type="revolute"><parent link="base"/><child link="tip"/>{}</joint>
</robot>"""

# Joint name to the joint it mimics: a joint alone, a pair, three and one following them.
MIMIC_CYCLES = {
    "joint 'a' mimics itself": {"a": "a"},
    "joints 'a' -> 'b' -> 'a' mimic each other in a cycle": {"a": "b", "b": "a"},
    "joints 'a' -> 'b' -> 'c' -> 'a' mimic each other in a cycle": {
        "a": "b",
        "b": "c",
        "c": "a",
        "d": "a",
    },
}


def _mimics(leaders):
    joints = "".join(
        f"<link name='{name}'/><joint name='{name}' type='revolute'><parent link='base'/>"
        f"<child link='{name}'/><mimic joint='{leader}'/></joint>"
        for name, leader in leaders.items()
    )
    return f"<robot name='r'><link name='base'/>{joints}</robot>"


def _chain(count, mimics=False):
    """Links l0..l<count-1>, each 0.01 above the last on a joint about x; with
    ``mimics`` every joint follows the one above it, listed last first."""
    joints = [
        f"<joint name='j{i}' type='revolute'><parent link='l{i - 1}'/><child link='l{i}'/>"
        f"<origin xyz='0 0 0.01'/><axis xyz='1 0 0'/>"
        + (f"<mimic joint='j{i - 1}'/>" if mimics and i > 1 else "")
        + "</joint>"
        for i in range(1, count)
    ]
    links = "".join(f"<link name='l{i}'/>" for i in range(count))
    return f"<robot name='chain'>{links}{''.join(reversed(joints))}</robot>"


def _urdf(folder, text, name="robot.urdf"):
    path = folder / name
    path.parent.mkdir(parents=True, exist_ok=True)
    path.write_text(text)
    return str(path)


@pytest.mark.parametrize(
    "text, error, reason",
    [
        ("<robot name='r'><link name='a'>", ValueError, "not well-formed XML"),
        ("<model name='r'/>", ValueError, "not <robot>"),
        ("<robot name='r'/>", ValueError, "no root link"),
        (
            "<robot name='r'><link name='a'/><joint name='j' type='fixed'>"
            "<parent link='a'/><child link='b'/></joint></robot>",
            ValueError,
            "joint 'j' names child link 'b'",
        ),
        (
            "<robot name='r'><link name='a'/><link name='b'/><link name='c'/>"
            "<joint name='ab' type='fixed'><parent link='a'/><child link='b'/></joint>"
            "<joint name='cb' type='fixed'><parent link='c'/><child link='b'/></joint></robot>",
            ValueError,
            "link 'b' is the child of joints 'ab' and 'cb'",
        ),
        (
            "<robot name='r'><link name='a'/><link name='b'/><link name='c'/>"
            "<joint name='ab' type='fixed'><parent link='a'/><child link='b'/></joint>"
            "<joint name='bc' type='fixed'><parent link='b'/><child link='c'/></joint>"
            "<joint name='ca' type='fixed'><parent link='c'/><child link='a'/></joint></robot>",
            ValueError,
            "no root link (the joints form a cycle)",
        ),
        (
            "<robot name='r'><link name='a'/><link name='b'/><link name='c'/>"
            "<joint name='bc' type='fixed'><parent link='b'/><child link='c'/></joint>"
            "<joint name='cb' type='fixed'><parent link='c'/><child link='b'/></joint></robot>",
            ValueError,
            "links b, c form a cycle cut off from the root",
        ),
        (
            "<robot name='r'><link name='a'/><link name='b'/></robot>",
            ValueError,
            "root links: a, b",
        ),
        (
            TWO_LINKS.format(geometry="<mesh filename='package://parts/arm.stl'/>"),
            FileNotFoundError,
            "link 'tip': mesh 'package://parts/arm.stl' not found",
        ),
        (
            JOINT.format("<limit lower='nan' upper='1' effort='1' velocity='1'/>"),
            ValueError,
            "joint 'j': limits must be finite",
        ),
        (JOINT.format("<axis xyz='1e39 0 0'/>"), ValueError, "joint 'j': axis must be finite"),
        (JOINT.format("<origin xyz='0 inf 0'/>"), ValueError, "joint 'j': origin must be finite"),
        (TWO_LINKS.format(geometry="<box size='1 nan 1'/>"), ValueError, "'tip': size must be"),
        (
            TWO_LINKS.format(geometry="<cylinder radius='1e39' length='1'/>"),
            ValueError,
            "link 'tip': radius must be finite",
        ),
        *[(_mimics(leaders), ValueError, reason) for reason, leaders in MIMIC_CYCLES.items()],
        (TWO_LINKS.format(geometry="<mesh/>"), ValueError, "<mesh> has no filename"),
        (TWO_LINKS.format(geometry=""), ValueError, "<geometry> holds no shape"),
        (
            JOINT.format("").replace("<parent link=", "<parent name="),
            ValueError,
            "<parent> has no link",
        ),
        (
            TWO_LINKS.format(geometry="<box size='1 1 1'/>").replace("geometry>", "frame>"),
            ValueError,
            "<visual> has no <geometry>",
        ),
        (
            _chain(3).replace("name='j2'", "name='j1'"),
            ValueError,
            "joint 'j1' is defined twice",
        ),
    ],
)
def test_broken_urdfs_name_the_file_and_the_element(tmp_path, text, error, reason):
    path = _urdf(tmp_path, text)
    with pytest.raises(error) as raised:
        Robot.fromURDF(path)
    assert reason in str(raised.value) and path in str(raised.value)


def test_an_external_entity_is_refused_unread(tmp_path):
    # lxml before 5 read the file (a FIFO there hangs the load); lxml 5 refuses the entity.
    secret = tmp_path / "secret.txt"
    secret.write_text("SECRET")
    text = f"<!DOCTYPE robot [<!ENTITY leak SYSTEM '{secret.as_uri()}'>]>"
    path = _urdf(tmp_path, text + "<robot name='r'><link name='a'>&leak;</link></robot>")
    with pytest.raises(ValueError, match="Entity 'leak' not defined"):
        Robot.fromURDF(path)


@pytest.mark.parametrize("where", ["package dir", "package itself", "ROS_PACKAGE_PATH", "above"])
def test_package_uris_are_found(tmp_path, monkeypatch, where):
    shared = tmp_path / "share"
    (shared / "parts" / "meshes").mkdir(parents=True)
    mesh = shared / "parts" / "meshes" / "arm.stl"
    mesh.write_bytes(trimesh.creation.box((1, 1, 1)).export(file_type="stl"))
    geometry = "<mesh filename='package://parts/meshes/arm.stl' scale='2 2 2'/>"
    folder = shared / "parts" / "urdf" if where == "above" else tmp_path / "elsewhere"
    path = _urdf(folder, TWO_LINKS.format(geometry=geometry))
    monkeypatch.delenv("ROS_PACKAGE_PATH", raising=False)
    dirs = {"package dir": [shared], "package itself": [shared / "parts"]}.get(where, [])
    if where == "ROS_PACKAGE_PATH":
        monkeypatch.setenv("ROS_PACKAGE_PATH", str(shared))
    shape = Robot.fromURDF(path, packageDirs=dirs).link("tip").shapes()[0]
    assert shape.path() == str(mesh) and shape.scale() == (2.0, 2.0, 2.0)


@pytest.mark.parametrize("form", ["relative", "absolute", "file://"])
def test_plain_mesh_filenames(tmp_path, form):
    mesh = tmp_path / "meshes" / "arm.stl"
    mesh.parent.mkdir()
    mesh.write_bytes(trimesh.creation.box((1, 1, 1)).export(file_type="stl"))
    name = {"relative": "meshes/arm.stl", "absolute": str(mesh), "file://": "file://" + str(mesh)}
    path = _urdf(tmp_path, TWO_LINKS.format(geometry=f"<mesh filename='{name[form]}'/>"))
    shape = Robot.fromURDF(path).link("tip").shapes()[0]
    assert shape.polydata().GetNumberOfCells() == 12


GRIPPER = """<robot name="gripper">
  <material name="steel"><color rgba="0.5 0.5 0.6 1"/></material>
  <link name="palm"><visual><geometry><box size="0.1 0.1 0.02"/></geometry>
    <material name="steel"/></visual></link>
  <link name="left"/><link name="right"/>
  <joint name="open" type="prismatic"><parent link="palm"/><child link="left"/>
    <origin xyz="0 0.05 0"/><axis xyz="0 1 0"/>
    <limit lower="0" upper="0.04" effort="1" velocity="1"/>
  </joint>
  <joint name="mirror" type="prismatic"><parent link="palm"/><child link="right"/>
    <origin xyz="0 -0.05 0"/><axis xyz="0 1 0"/>
    <limit lower="-0.04" upper="0" effort="1" velocity="1"/>
    <mimic joint="open" multiplier="-1" offset="0"/>
  </joint>
</robot>"""


def test_joints_are_set_by_name_and_mimics_follow(tmp_path):
    robot = Robot.fromURDF(_urdf(tmp_path, GRIPPER))
    assert robot.link("palm").shapes()[0].color() == (0.5, 0.5, 0.6)
    assert robot.jointPositions() == {"open": 0.0}
    assert robot.link("left").limits() == (0.0, 0.04)
    robot.setJointPositions({"open": 0.03})
    assert robot.link("right").worldPose().position() == pytest.approx((0, -0.08, 0))
    assert robot.link("left").worldPose().position() == pytest.approx((0, 0.08, 0))
    # Link names keep working; a mimic joint or an unknown name moves nothing.
    robot.setJointPositions({"left": 0.01})
    for wrong, error in [
        ({"left": 0.02, "mirror": 0.0}, ValueError),
        ({"nope": 1}, KeyError),
        ({"open": 0.02, "left": math.nan}, ValueError),
        ({"open": 0.02, "left": math.inf}, ValueError),
    ]:
        with pytest.raises(error):
            robot.setJointPositions(wrong)
        assert robot.jointPositions() == {"open": 0.01}


@pytest.mark.parametrize("reason", MIMIC_CYCLES)
def test_project_files_with_mimic_cycles_are_refused_and_change_nothing(tmp_path, reason):
    leaders = MIMIC_CYCLES[reason]
    project = Project()
    joints = [Link(name, axis=(0, 0, 1)) for name in leaders]
    project.workspace().addRobot(Robot("r", base_link=Link("base", children=joints)))
    file = tmp_path / "cell.mxproj"
    project.save(str(file))
    text = json.loads(file.read_text())
    for link in text["workspace"]["robots"][0]["baseLink"]["children"]:
        link["mimic"] = {"joint": leaders[link["name"]]}
    file.write_text(json.dumps(text))
    target = Project()
    target.workspace().addItem(Item("kept"))
    with pytest.raises(ValueError, match=f"robot 'r': {reason}"):
        target.load(str(file))
    assert list(target.workspace().getItems()) == ["kept"] and not target.workspace().getRobots()


def test_a_mesh_without_a_file_is_refused_by_the_demo_in_one_line(tmp_path, capsys):
    path = _urdf(tmp_path, TWO_LINKS.format(geometry="<mesh/>"))
    assert main(["demo", "--out", str(tmp_path / "out"), "--robot", path]) == 2
    err = capsys.readouterr().err
    assert err.count("\n") == 1 and "<mesh> has no filename" in err


def test_a_long_chain_loads_moves_and_is_refused_by_the_demo_in_one_line(tmp_path, capsys):
    path = _urdf(tmp_path, _chain(1500))
    robot = Robot.fromURDF(path)
    robot.setJointPositions({"j1": math.pi / 2})
    # Turning the first joint a quarter about x lays the rest of the chain along -y.
    assert robot.link("l1499").worldPose().position() == pytest.approx((0, -14.98, 0.01))
    assert main(["demo", "--out", str(tmp_path / "out"), "--robot", path]) == 2
    err = capsys.readouterr().err
    assert err.count("\n") == 1 and "link 'l100' is 101 levels deep" in err


def test_a_long_mimic_chain_listed_last_first_follows_its_leader(tmp_path):
    robot = Robot.fromURDF(_urdf(tmp_path, _chain(1500, mimics=True)))
    assert list(robot.jointPositions()) == ["j1"]
    robot.setJointPositions({"j1": 0.001})
    assert robot.link("l1499").position() == 0.001
    # The 1,499 joints each add their turn: 1.499 rad about x at the tip.
    tip = Pose.fromAxisAngle((1, 0, 0), 1.499)
    assert robot.link("l1499").worldPose().orientation() == pytest.approx(tip.orientation())


@pytest.mark.parametrize("how", ["Robot.fromURDF", "demo --robot"])
def test_a_fifo_as_the_urdf_is_refused_at_once(tmp_path, how):
    fifo = tmp_path / "robot.urdf"
    os.mkfifo(fifo)
    command = {
        "Robot.fromURDF": ["-c", f"from marnox.robot import Robot; Robot.fromURDF({str(fifo)!r})"],
        "demo --robot": ["-m", "marnox", "demo", "--out", str(tmp_path), "--robot", str(fifo)],
    }[how]
    result = subprocess.run([sys.executable, *command], capture_output=True, text=True, timeout=60)
    assert result.returncode != 0
    assert f"{fifo}: not a URDF file (not a regular file)" in result.stderr
    if how == "demo --robot":
        assert result.returncode == 2 and result.stderr.count("\n") == 1

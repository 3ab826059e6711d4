"""URDF robots from example-robot-data, a set of real robots that no one here wrote."""

import importlib.metadata
import math
import os
import pathlib
import shutil
import xml.etree.ElementTree as ElementTree

import numpy as np
import pytest
from vtkmodules.util.numpy_support import vtk_to_numpy
from vtkmodules.vtkIOImage import vtkPNGReader

from marnox.item import Item
from marnox.pose import Pose
from marnox.project import Project
from marnox.robot import Robot
from marnox.viewer import WorkspaceViewer
from marnox.visual import VisualMesh

# Found through the distribution's own record, so a virtual environment that sees the
# system's site-packages finds it too.
try:
    ROBOTS = pathlib.Path(
        importlib.metadata.distribution("example-robot-data").locate_file(
            "cmeel.prefix/share/example-robot-data/robots"
        )
    )
except importlib.metadata.PackageNotFoundError:
    pytest.skip("example-robot-data is not installed", allow_module_level=True)

URDFS = sorted(str(path.relative_to(ROBOTS)) for path in ROBOTS.rglob("*.urdf"))

# The files that cannot be shown, with the error that says why.
NOT_LOADING = {
    # An empty <robot/>: no links at all.
    "ur_description/urdf/ur3.urdf": (ValueError, "no root link"),
    # Ogre .mesh files at an absolute path of the authors' machine.
    "romeo_description/urdf/romeo_laas_small.urdf": (FileNotFoundError, "TrunkYaw.mesh"),
}

# One robot per mesh format, between them every joint type and a mimic joint.
HANDFUL = {
    "dae": "panda_description/urdf/panda.urdf",
    "stl": "xarm_description/urdf/xarm7.urdf",
    "obj": "solo_description/robots/solo.urdf",
    "continuous": "double_pendulum_description/urdf/double_pendulum_continuous.urdf",
}


def test_the_robot_set_is_there():
    assert len(URDFS) > 60
    assert set(NOT_LOADING) | set(HANDFUL.values()) <= set(URDFS)


@pytest.mark.parametrize("name", URDFS)
def test_every_urdf_loads_or_fails_for_its_listed_reason(name):
    path = str(ROBOTS / name)
    if name in NOT_LOADING:
        error, reason = NOT_LOADING[name]
        with pytest.raises(error) as raised:
            Robot.fromURDF(path)
        assert reason in str(raised.value) and path in str(raised.value)
        return
    robot = Robot.fromURDF(path)
    tree = ElementTree.parse(path).getroot()
    assert {link.name() for link in robot.links()} == {e.get("name") for e in tree.iter("link")}
    visuals = sum(1 for link in tree.iter("link") for _ in link.iter("visual"))
    assert sum(len(link.shapes()) for link in robot.links()) == visuals


def _rotation(axis, angle):
    x, y, z = np.asarray(axis, dtype=float) / np.linalg.norm(axis)
    k = np.array([[0, -z, y], [z, 0, -x], [-y, x, 0]])
    return np.eye(3) + math.sin(angle) * k + (1 - math.cos(angle)) * k @ k


def _origin(joint):
    element = joint.find("origin")
    xyz = (
        [0.0, 0.0, 0.0]
        if element is None
        else [float(v) for v in element.get("xyz", "0 0 0").split()]
    )
    rpy = (
        [0.0, 0.0, 0.0]
        if element is None
        else [float(v) for v in element.get("rpy", "0 0 0").split()]
    )
    matrix = np.eye(4)
    matrix[:3, :3] = (
        _rotation((0, 0, 1), rpy[2]) @ _rotation((0, 1, 0), rpy[1]) @ _rotation((1, 0, 0), rpy[0])
    )
    matrix[:3, 3] = xyz
    return matrix


def _forward_kinematics(path, positions):
    """World matrix of every link for joint positions by joint name, from the URDF's numbers."""
    tree = ElementTree.parse(path).getroot()
    joints = [j for j in tree.findall("joint")]
    values = dict(positions)
    for joint in joints:
        mimic = joint.find("mimic")
        if mimic is not None:
            leader = values.get(mimic.get("joint"), 0.0)
            values[joint.get("name")] = float(mimic.get("multiplier", 1)) * leader + float(
                mimic.get("offset", 0)
            )
    by_child = {j.find("child").get("link"): j for j in joints}
    poses = {}

    def pose(link):
        if link not in poses:
            joint = by_child.get(link)
            if joint is None:
                poses[link] = np.eye(4)
                return poses[link]
            motion = np.eye(4)
            kind, q = joint.get("type"), values.get(joint.get("name"), 0.0)
            axis_element = joint.find("axis")
            axis = (
                [1.0, 0, 0]
                if axis_element is None
                else [float(v) for v in axis_element.get("xyz").split()]
            )
            if kind in ("revolute", "continuous"):
                motion[:3, :3] = _rotation(axis, q)
            elif kind == "prismatic":
                motion[:3, 3] = np.asarray(axis) / np.linalg.norm(axis) * q
            poses[link] = pose(joint.find("parent").get("link")) @ _origin(joint) @ motion
        return poses[link]

    return {link.get("name"): pose(link.get("name")) for link in tree.findall("link")}


@pytest.mark.parametrize("name", HANDFUL.values(), ids=HANDFUL.keys())
def test_moving_joints_moves_links_as_forward_kinematics_says(name):
    path = str(ROBOTS / name)
    robot = Robot.fromURDF(path)
    rng = np.random.default_rng(11)
    positions = {joint: float(rng.uniform(-1.0, 1.0)) for joint in robot.jointPositions()}
    robot.setJointPositions(positions)
    expected = _forward_kinematics(path, positions)
    for link in robot.links():
        assert np.allclose(link.worldPose().matrix(), expected[link.name()], atol=1e-9), link.name()


def _pixels(path):
    reader = vtkPNGReader()
    reader.SetFileName(str(path))
    reader.Update()
    image = reader.GetOutput()
    width, height, _ = image.GetDimensions()
    return vtk_to_numpy(image.GetPointData().GetScalars()).reshape(height, width, -1)[..., :3]


@pytest.mark.parametrize("name", HANDFUL.values(), ids=HANDFUL.keys())
def test_screenshot_shows_the_robot(tmp_path, name):
    project = Project()
    robot = Robot.fromURDF(str(ROBOTS / name))
    project.workspace().addRobot(robot)
    viewer = WorkspaceViewer(size=(320, 240))
    viewer.setProject(project)
    viewer.init(offscreen=True)
    viewer.render()
    viewer.screenshot(str(tmp_path / "robot.png"))
    for shape in robot._getVisualGroup().elements():
        shape._getActor().VisibilityOff()
    viewer.render()
    viewer.screenshot(str(tmp_path / "empty.png"))
    viewer.stop()
    changed = np.abs(
        _pixels(tmp_path / "robot.png").astype(int) - _pixels(tmp_path / "empty.png")
    ).max(axis=2)
    # The camera fits the robot; even the thin double pendulum covers over 2 %.
    assert (changed > 30).mean() > 0.015


def _shape_key(shape):
    key = (
        type(shape).__name__,
        shape.color(),
        shape.opacity(),
        shape.offset().matrix().round(12).tobytes(),
    )
    if isinstance(shape, VisualMesh):
        return key + (str(pathlib.Path(shape.path()).resolve()), shape.scale())
    return key


@pytest.mark.parametrize("name", HANDFUL.values(), ids=HANDFUL.keys())
def test_save_and_load_keep_link_poses_and_shapes(tmp_path, name):
    project = Project()
    robot = Robot.fromURDF(str(ROBOTS / name), pose=Pose((0.1, 0.2, 0.3)))
    robot.setJointPositions({joint: 0.3 for joint in robot.jointPositions()})
    project.workspace().addRobot(robot)
    project.workspace().addItem(Item("marker"))
    file = tmp_path / "cell.mxproj"
    project.save(str(file))
    again = Project()
    again.load(str(file))
    loaded = again.workspace().getRobots()[robot.name()]
    assert [link.name() for link in loaded.links()] == [link.name() for link in robot.links()]
    for before, after in zip(robot.links(), loaded.links(), strict=True):
        assert after.worldPose().isClose(before.worldPose(), 1e-12), before.name()
        assert (after.jointType(), after.jointName(), after.limits(), after.mimic()) == (
            before.jointType(),
            before.jointName(),
            before.limits(),
            before.mimic(),
        )
        assert [_shape_key(s) for s in after.shapes()] == [_shape_key(s) for s in before.shapes()]


def test_a_collada_texture_that_is_a_fifo_does_not_block(tmp_path, read_in_child):
    # Textures are never read: surfaces take their materials' colours.
    shutil.copy(ROBOTS / "anymal_c_simple_description/meshes/hatch.dae", tmp_path)
    os.mkfifo(tmp_path / "hatch.jpg")
    assert read_in_child(str(tmp_path / "hatch.dae"), timeout=60) == "ok"

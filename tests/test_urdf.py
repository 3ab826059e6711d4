"""Robot.fromURDF: malformed files, mesh lookups and joints set by name."""

import pytest
import trimesh

from marnox.robot import Robot

TWO_LINKS = """<robot name="r">
  <link name="base"/>
  <link name="tip"><visual><geometry>{geometry}</geometry></visual></link>
  <joint name="j" type="revolute"><parent link="base"/><child link="tip"/></joint>
</robot>"""


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
    ],
)
def test_broken_urdfs_name_the_file_and_the_element(tmp_path, text, error, reason):
    path = _urdf(tmp_path, text)
    with pytest.raises(error) as raised:
        Robot.fromURDF(path)
    assert reason in str(raised.value) and path in str(raised.value)


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
    for wrong, error in [({"left": 0.02, "mirror": 0.0}, ValueError), ({"nope": 1}, KeyError)]:
        with pytest.raises(error):
            robot.setJointPositions(wrong)
        assert robot.jointPositions() == {"open": 0.01}

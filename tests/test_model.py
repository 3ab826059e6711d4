"""Tests of the pure-Python model that the compiled modules drive."""

import math

import numpy as np
import pytest
from google.protobuf import json_format
from vtkmodules.util import numpy_support
from vtkmodules.vtkRenderingCore import (
    vtkActor,
    vtkRenderer,
    vtkRenderWindow,
    vtkWindowToImageFilter,
)

from marnox import _actors, constants
from marnox.behavior import Behavior
from marnox.dynamics import Link, _Chain
from marnox.item import Item
from marnox.pose import Pose
from marnox.sample import build_sample_cell
from marnox.system import System
from marnox.visual import (
    VisualBox,
    VisualCoordinate,
    VisualCylinder,
    VisualPointcloud,
    VisualSphere,
    VisualTrajectory,
)
from marnox.workspace import Camera, Fiducial, Intrinsics, Robot, TaskRegion, Workspace
from orvane.api import project_pb2


class FakeProject:
    """Just enough of a project for build_sample_cell."""

    def __init__(self):
        self._workspace = Workspace()
        self._system = System()
        self.behaviors = {}

    def workspace(self):
        return self._workspace

    def system(self):
        return self._system

    def addBehavior(self, behavior):
        self.behaviors[behavior.name()] = behavior


@pytest.fixture(scope="module")
def sample():
    project = FakeProject()
    build_sample_cell(project)
    return project


def userMatrix(element):
    m = element._getActor().GetUserMatrix()
    return np.array([[m.GetElement(i, j) for j in range(4)] for i in range(4)])


@pytest.fixture
def builtActors(monkeypatch):
    """Every vtkActor the visual elements create from now on, in order."""
    built = []

    def countingActor():
        actor = vtkActor()
        built.append(actor)
        return actor

    monkeypatch.setattr(_actors, "vtkActor", countingActor)
    return built


def allNodes(workspace):
    stack = list(workspace.nodes())
    while stack:
        node = stack.pop()
        yield node
        stack.extend(node._getChildren())


def test_constants():
    assert constants.MX_PROJECT_FILE_EXT == ".mxproj"
    assert constants.MX_IMAGE_FILE_EXT == ".png"


# Pose


POSES = [
    Pose(),
    Pose((1, 2, 3)),
    Pose.fromAxisAngle((0, 0, 1), math.pi / 2, (0.5, 0, 0)),
    Pose.fromEuler(0.3, -1.1, 2.5, (-1, 0.2, 4)),
    Pose((0, 0, 0), (-0.2, 0.9, 0.1, -0.3)),
]


@pytest.mark.parametrize("a", POSES)
@pytest.mark.parametrize("b", POSES)
def test_pose_composition_matches_matrices(a, b):
    assert np.allclose((a * b).matrix(), a.matrix() @ b.matrix())
    assert (a * a.inverse()).isClose(Pose())
    assert (a.inverse() * a).isClose(Pose())


@pytest.mark.parametrize("pose", POSES)
def test_pose_matrix_conversions_round_trip(pose):
    assert Pose.fromMatrix(pose.matrix()).isClose(pose)
    assert Pose.fromMatrix(pose.toVtkMatrix()).isClose(pose)


def test_pose_rotations_follow_the_right_hand_rule():
    quarter = Pose.fromAxisAngle((0, 0, 2), math.pi / 2)
    assert np.allclose(quarter.transformPoints((1, 0, 0)), (0, 1, 0))
    yaw_then_pitch = Pose.fromEuler(pitch=math.pi / 2, yaw=math.pi / 2)
    assert np.allclose(yaw_then_pitch.transformPoints((0, 0, 1)), (0, 1, 0))


def test_pose_defaults_and_degenerate_input():
    assert Pose().position() == (0, 0, 0) and Pose().orientation() == (1, 0, 0, 0)
    assert Pose((0, 0, 0), (0, 0, 0, 0)).isClose(Pose())
    with pytest.raises(ValueError):
        Pose((math.nan, 0, 0))
    with pytest.raises(ValueError):
        Pose.fromAxisAngle((0, 0, 0), 1.0)


@pytest.mark.parametrize(
    "orientation",
    [(2, 0, 0, 0), (1, -0.0, 0, 0), (-1, 0, 0, 0), (0.3, -0.2, 0.9, 0.1), (0.5, 0.5, 0.5, 0.5)],
)
def test_pose_normalises_exactly_like_numpy(orientation):
    # Saved files hold these numbers: they must not move by a bit between versions.
    q = np.array(orientation, dtype=float)
    q = q / np.linalg.norm(q)
    expected = tuple((-q if q[0] < 0 else q).tolist())
    assert repr(Pose((0, 0, 0), orientation).orientation()) == repr(expected)


def test_look_at_gives_an_optical_frame():
    pose = Pose.lookAt((1, -2, 3), (1, 0, 3))
    r = pose.rotation()
    assert np.allclose(r[:, 2], (0, 1, 0))  # +z towards the target
    assert np.allclose(r[:, 1], (0, 0, -1))  # +y down
    assert np.allclose(r[:, 0], (1, 0, 0))  # +x to the right


# Visual elements


@pytest.mark.parametrize("count", [0, 1, 2, 500])
def test_trajectory_updates_in_place(count):
    trajectory = VisualTrajectory()
    actor, data = trajectory._getActor(), trajectory._polydata
    trajectory.setPositions(positions=np.random.default_rng(1).random((count, 3)))
    assert trajectory._getActor() is actor and trajectory._polydata is data
    assert trajectory.numberOfPoints() == count
    assert data.GetNumberOfLines() == (1 if count >= 2 else 0)


@pytest.mark.parametrize("count", [0, 1, 1000])
@pytest.mark.parametrize("width", [3, 6])
def test_pointcloud_updates_in_place(count, width):
    cloud = VisualPointcloud()
    actor = cloud._getActor()
    cloud.setPoints(pointcloud=np.full((10, 6), 0.5))
    cloud.setPoints(pointcloud=np.random.default_rng(2).random((count, width)))
    assert cloud._getActor() is actor
    assert cloud.numberOfPoints() == count
    scalars = cloud._polydata.GetPointData().GetScalars()
    assert (scalars is not None) == (width == 6 and count > 0)


def test_pointcloud_colours_map_to_bytes():
    cloud = VisualPointcloud()
    cloud.setPoints(pointcloud=[[0, 0, 0, 1.0, 0.5, 0.0]])
    assert cloud._polydata.GetPointData().GetScalars().GetTuple3(0) == (255, 128, 0)


@pytest.mark.parametrize("bad", [np.zeros((4, 2)), np.zeros(6), np.zeros((2, 3, 3))])
def test_visual_data_rejects_wrong_shapes(bad):
    with pytest.raises(ValueError):
        VisualPointcloud().setPoints(pointcloud=bad)
    with pytest.raises(ValueError):
        VisualTrajectory().setPositions(positions=bad)


def test_coordinate_frame_renders_its_three_axis_colours():
    renderer = vtkRenderer()
    renderer.AddActor(VisualCoordinate(scale=0.5)._getActor())
    renderer.GetActiveCamera().SetPosition(1, 1, 1)
    renderer.ResetCamera()
    window = vtkRenderWindow()
    window.OffScreenRenderingOn()
    window.SetSize(160, 160)
    window.AddRenderer(renderer)
    window.Render()
    grab = vtkWindowToImageFilter()
    grab.SetInput(window)
    grab.Update()
    rgb = numpy_support.vtk_to_numpy(grab.GetOutput().GetPointData().GetScalars())
    rgb = rgb[:, :3].astype(int)
    for channel in range(3):
        others = [c for c in range(3) if c != channel]
        dominant = (rgb[:, channel] > 100) & (rgb[:, others].max(axis=1) < rgb[:, channel] / 2)
        assert dominant.sum() > 20, "no pixels of axis {}".format("xyz"[channel])


def _firstActor(element):
    """The element's actor; a point cloud's prop is an assembly of pieces that share a look,
    and its first shown part stands for it."""
    actor = element._getActor()
    if not actor.IsA("vtkAssembly"):
        return actor
    parts = actor.GetParts()
    shown = (parts.GetItemAsObject(i) for i in range(parts.GetNumberOfItems()))
    return next(part for part in shown if part.GetVisibility())


@pytest.mark.parametrize(
    "make, check",
    [
        (
            lambda: VisualSphere(0.3, (0.1, 0.2, 0.3), 0.4),
            lambda prop: prop.GetColor() == (0.1, 0.2, 0.3) and prop.GetOpacity() == 0.4,
        ),
        (
            lambda: TaskRegion("zone")._getVisualGroup().elements()[0],
            lambda prop: prop.GetEdgeVisibility() and prop.GetOpacity() == 0.35,
        ),
        (
            lambda: VisualTrajectory((0, 1, 0), width=5),
            lambda prop: prop.GetColor() == (0, 1, 0) and prop.GetLineWidth() == 5,
        ),
        (
            lambda: VisualPointcloud((1, 0, 0), pointSize=7),
            lambda prop: prop.GetColor() == (1, 0, 0) and prop.GetPointSize() == 7,
        ),
    ],
    ids=["shape", "task-region", "trajectory", "pointcloud"],
)
def test_late_actors_get_the_elements_style(make, check, builtActors):
    element = make()
    assert builtActors == []
    assert check(_firstActor(element).GetProperty())


@pytest.mark.parametrize(
    "element, fill",
    [
        (VisualTrajectory, lambda e, n: e.setPositions(positions=np.ones((n, 3)))),
        (VisualPointcloud, lambda e, n: e.setPoints(pointcloud=np.ones((n, 6)))),
    ],
    ids=["trajectory", "pointcloud"],
)
def test_late_actors_draw_the_data_set_before(element, fill):
    overlay = element()
    fill(overlay, 40)
    mapper = _firstActor(overlay).GetMapper()
    mapper.Update()
    assert mapper.GetInput().GetNumberOfPoints() == 40


@pytest.mark.parametrize(
    "make, halfExtents",
    [
        (lambda k: VisualBox((0.2 * k, 0.4 * k, 0.6 * k)), (0.1, 0.2, 0.3)),
        (lambda k: VisualCylinder(0.1 * k, 0.6 * k), (0.1, 0.1, 0.3)),
        (lambda k: VisualSphere(0.3 * k), (0.3, 0.3, 0.3)),
    ],
    ids=["box", "cylinder", "sphere"],
)
def test_shapes_of_a_kind_share_one_surface_sized_by_their_actor(make, halfExtents):
    # A surface per shape made taking down a window's buffers quadratic in the shape count.
    small, large = (make(k)._getActor() for k in (1, 2))
    assert small.GetMapper().GetInput() is large.GetMapper().GetInput()
    for k, actor in ((1, small), (2, large)):
        bounds = np.array(actor.GetBounds()).reshape(3, 2)
        # The sphere's facets reach its radius only at the poles.
        np.testing.assert_allclose(bounds[:, 1], np.multiply(halfExtents, k), rtol=0.01)
        np.testing.assert_allclose(bounds[:, 0], -bounds[:, 1])


# Items and links


def test_item_tree_keeps_actors_in_world_coordinates():
    cup = VisualBox((0.1, 0.1, 0.1), offset=Pose((0, 0, 0.05)))
    table = Item("table", Pose((1, 0, 0)))
    tray = table.addChild(Item("tray", Pose.fromAxisAngle((0, 0, 1), math.pi / 2, (0, 0, 0.5))))
    tray.addChild(Item("cup", Pose((0.2, 0, 0)), [cup]))
    actor = cup._getActor()
    assert np.allclose(userMatrix(cup)[:3, 3], (1, 0.2, 0.55))
    table.setPose(Pose((0, 0, 1)))
    assert cup._getActor() is actor
    assert np.allclose(userMatrix(cup)[:3, 3], (0, 0.2, 1.55))


@pytest.mark.parametrize(
    "child",
    [Camera("c"), Robot("r")],
)
def test_only_plain_items_can_be_children(child):
    with pytest.raises(TypeError):
        Item("parent").addChild(child)


def test_item_tree_rejects_cycles_and_duplicates():
    a, b = Item("a"), Item("b")
    a.addChild(b)
    with pytest.raises(ValueError):
        b.addChild(a)
    with pytest.raises(ValueError):
        a.addChild(Item("b"))
    with pytest.raises(ValueError):
        Item("other").addChild(b)


def twoJointArm():
    tip = VisualBox((0.05, 0.05, 0.05), offset=Pose((0, 0, 0.5)))
    forearm = Link("forearm", Pose((0, 0, 1)), axis=(0, 1, 0), shapes=[tip])
    upper = Link("upper", Pose((0, 0, 0.2)), axis=(0, 0, 1), children=[forearm])
    return Robot("arm", Pose((1, 0, 0)), Link("base", children=[upper])), tip


def test_chain_update_moves_link_shapes_in_place():
    robot, tip = twoJointArm()
    workspace = Workspace()
    workspace.addRobot(robot)
    actor = tip._getActor()
    assert np.allclose(userMatrix(tip)[:3, 3], (1, 0, 1.7))
    robot.link("forearm").setPosition(math.pi / 2)
    robot.link("upper").setPosition(math.pi / 2)
    assert np.allclose(userMatrix(tip)[:3, 3], (1, 0, 1.7)), "moved before the update"
    _Chain._updateVisualElementsRecursive(link=workspace._getOriginLink(), base_pose=Pose())
    assert tip._getActor() is actor
    # Pitched about y then yawed about z: the 0.5 m tip now points along +y.
    assert np.allclose(userMatrix(tip)[:3, 3], (1, 0.5, 1.2))
    assert tip in robot._getVisualGroup().elements()


def placedScene(askFirst):
    """A robot and an item tree moved about; actors asked for before or after the moves."""
    robot, tip = twoJointArm()
    cup = VisualBox((0.1, 0.1, 0.1), offset=Pose.fromEuler(0.2, 0, 0, (0, 0, 0.05)))
    table = Item("table", Pose((1, 0, 0)))
    table.addChild(Item("cup", Pose.fromAxisAngle((0, 0, 1), 0.7, (0.2, 0, 0.5)), [cup]))
    actors = [tip._getActor(), cup._getActor()] if askFirst else None
    workspace = Workspace()
    workspace.addRobot(robot)
    workspace.addItem(table)
    robot.link("forearm").setPosition(math.pi / 2)
    robot.link("upper").setPosition(math.pi / 2)
    _Chain._updateVisualElementsRecursive(link=workspace._getOriginLink(), base_pose=Pose())
    table.setPose(Pose.fromAxisAngle((1, 0, 0), 0.3, (0, 2, 1)))
    assert actors is None or actors == [tip._getActor(), cup._getActor()]
    return [userMatrix(tip), userMatrix(cup)]


def test_actors_start_where_their_elements_were_placed():
    early, late = placedScene(askFirst=True), placedScene(askFirst=False)
    assert np.allclose(late[0][:3, 3], (1, 0.5, 1.2))
    assert all(np.allclose(a, b, atol=1e-12) for a, b in zip(early, late, strict=True))


def test_fixed_links_ignore_their_position_and_robot_pose_moves_links():
    robot, tip = twoJointArm()
    robot.link("base").setPosition(1.0)
    robot.setPose(Pose((0, 2, 0)))
    assert np.allclose(userMatrix(tip)[:3, 3], (0, 2, 1.7))
    assert robot.jointPositions() == {"upper": 0.0, "forearm": 0.0}


# Workspace


def test_workspace_rejects_duplicate_names_across_kinds():
    workspace = Workspace()
    workspace.addItem(Item("thing"))
    with pytest.raises(ValueError):
        workspace.addCamera(Camera("thing"))
    with pytest.raises(TypeError):
        workspace.addItem(Camera("cam"))


def test_sample_cell_contents(sample):
    ws = sample.workspace()
    assert len(ws.getRobots()) == 1 and len(ws.getCameras()) == 2
    assert len(ws.getFiducials()) == 3 and len(ws.getTaskRegions()) == 1
    assert len(ws.find("table").children()) >= 3
    assert all(c.intrinsics()[:2] == (640, 480) for c in ws.getCameras().values())
    assert [step.kind for step in sample.behaviors["pick"].steps()][:2] == ["move", "grasp"]
    assert set(sample.behaviors) == {"pick", "place"}
    text = str(ws)
    assert text.endswith("\n") and "robot arm at" in text and "    item red_box at" in text


def test_sample_scene_fits_the_cell(sample):
    ws = sample.workspace()
    _Chain._updateVisualElementsRecursive(link=ws._getOriginLink(), base_pose=Pose())
    bounds = np.array(
        [e._getActor().GetBounds() for n in allNodes(ws) for e in n._getVisualGroup().elements()]
    )
    assert bounds[:, [0, 2]].min() > -1.1 and bounds[:, [1, 3]].max() < 1.1
    assert bounds[:, 4].min() > -0.01 and bounds[:, 5].max() < 1.5


def test_sample_data_formats(sample):
    system = sample.system()
    cloud = system.pointcloud()
    assert cloud.shape[1] == 6 and len(cloud) > 1000
    assert cloud[:, 3:].min() >= 0 and cloud[:, 3:].max() <= 1
    assert system.trajectory().shape == (50, 3)
    images = system.images()
    assert [(i.shape, i.dtype) for i in images] == [
        ((480, 640, 3), np.uint8),
        ((480, 640, 1), np.uint16),
    ] * 2
    assert images[1].max() <= 255


def geometry(shape):
    if isinstance(shape, VisualBox):
        return shape.size()
    if isinstance(shape, VisualCylinder):
        return (shape.radius(), shape.height())
    return shape.radius()


def describe(node):
    """Everything a node round trip must keep, with poses as matrices."""
    shapes = [
        (geometry(s), s.color(), s.opacity(), s.offset().matrix().round(9).tolist())
        for s in node.shapes()
    ]
    extra = {
        "camera": lambda: node.intrinsics(),
        "fiducial": lambda: (node.markerId(), node.size()),
        "task_region": lambda: node.size(),
        "robot": lambda: [
            (link.name(), link.axis(), link.position(), len(link.shapes()), len(link.children()))
            for link in node.links()
        ],
    }.get(node.kind(), lambda: None)()
    return (
        node.kind(),
        node.name(),
        node.pose().matrix().round(9).tolist(),
        shapes,
        extra,
        [describe(child) for child in node.children()],
    )


def test_snapshot_round_trips_through_json(sample):
    original = sample.workspace()
    text = json_format.MessageToJson(original._getSnapshot())
    assert '"taskRegions"' in text and '"jointPosition"' in text
    restored = Workspace()
    restored._setSnapshot(json_format.Parse(text, project_pb2.WorkspaceModel()))
    assert [describe(n) for n in restored.nodes()] == [describe(n) for n in original.nodes()]
    assert str(restored) == str(original)
    origin = restored._getOriginLink()
    _Chain._updateVisualElementsRecursive(link=origin, base_pose=Pose())
    before = [e for n in allNodes(original) for e in n._getVisualGroup().elements()]
    after = [e for n in allNodes(restored) for e in n._getVisualGroup().elements()]
    assert len(before) == len(after)
    assert all(
        np.allclose(userMatrix(a), userMatrix(b)) for a, b in zip(before, after, strict=True)
    )


def test_restored_workspace_builds_actors_only_when_asked(sample, builtActors):
    restored = Workspace()
    restored._setSnapshot(sample.workspace()._getSnapshot())
    assert builtActors == []
    elements = [e for n in allNodes(restored) for e in n._getVisualGroup().elements()]
    actors = [e._getActor() for e in elements]
    assert len(builtActors) == len(elements)
    assert all(e._getActor() is actor for e, actor in zip(elements, actors, strict=True))
    assert len(builtActors) == len(elements)


def test_saving_a_loaded_workspace_writes_the_same_text(sample):
    workspace = Workspace()
    workspace._setSnapshot(sample.workspace()._getSnapshot())
    signed = Pose((0.0, -0.0, 1.0), (1.0, -0.0, 0.0, 0.0))
    unmoved = Pose((-0.0, 0.0, 0.0), (1.0, 0.0, 0.0, -0.0))
    workspace.addItem(Item("signed", signed, [VisualBox((1, 1, 1), offset=unmoved)]))
    text = json_format.MessageToJson(workspace._getSnapshot())
    assert '"y": -0.0' in text and '"x": -0.0' in text and '"z": -0.0' in text
    restored = Workspace()
    restored._setSnapshot(json_format.Parse(text, project_pb2.WorkspaceModel()))
    assert json_format.MessageToJson(restored._getSnapshot()) == text


@pytest.mark.parametrize(
    "shape",
    [
        lambda: VisualSphere(0.3, (0.1, 0.2, 0.3), 0.4, Pose((1, 2, 3))),
        lambda: VisualCylinder(0.1, 0.5, opacity=0.0, offset=Pose.fromEuler(1, 2, 3)),
        lambda: VisualBox((1, 2, 3), (1, 0, 0)),
    ],
    ids=["sphere", "cylinder", "box"],
)
def test_each_shape_kind_round_trips(shape):
    workspace = Workspace()
    workspace.addItem(Item("holder", shapes=[shape()]))
    restored = Workspace()
    restored._setSnapshot(workspace._getSnapshot())
    assert describe(restored.find("holder")) == describe(workspace.find("holder"))
    assert type(restored.find("holder").shapes()[0]) is type(workspace.find("holder").shapes()[0])


def test_set_snapshot_replaces_contents_in_place(sample):
    workspace = Workspace()
    workspace.addItem(Item("stale"))
    workspace.addRobot(Robot("old_robot"))
    origin = workspace._getOriginLink()
    workspace._setSnapshot(sample.workspace()._getSnapshot())
    assert workspace._getOriginLink() is origin
    assert workspace.find("stale") is None and "old_robot" not in workspace.getRobots()
    assert [link.name() for link in origin.children()] == list(workspace.getRobots())
    assert len(workspace.getCameras()) == 2


def test_bad_snapshot_leaves_workspace_untouched():
    workspace = Workspace()
    workspace.addItem(Item("keep"))
    message = project_pb2.WorkspaceModel()
    message.items.add(name="twin")
    message.cameras.add().node.name = "twin"
    with pytest.raises(ValueError, match="twin"):
        workspace._setSnapshot(message)
    assert list(workspace.getItems()) == ["keep"]


def test_snapshot_defaults_decode_sensibly():
    message = project_pb2.WorkspaceModel()
    message.items.add(name="bare").shapes.add().box.size.x = 1.0
    message.cameras.add().node.name = "cam"
    workspace = Workspace()
    workspace._setSnapshot(message)
    assert workspace.find("bare").pose().isClose(Pose())
    assert workspace.find("bare").shapes()[0].opacity() == 1.0
    assert workspace.find("cam").intrinsics()[:2] == (640, 480)


@pytest.mark.parametrize(
    "make",
    [lambda: Fiducial("f", size=0.0), lambda: TaskRegion("t", size=(1, 0, 1))],
    ids=["fiducial", "region"],
)
def test_sized_nodes_reject_empty_sizes(make):
    with pytest.raises(ValueError):
        make()


INF, NAN = float("inf"), float("nan")


@pytest.mark.parametrize(
    "make, field",
    [
        (lambda: VisualBox((INF, 1, 1)), "size"),
        (lambda: VisualBox((1, 1e300, 1)), "size"),
        (lambda: VisualCylinder(NAN, 1), "radius"),
        (lambda: VisualCylinder(1, -INF), "height"),
        (lambda: VisualSphere(NAN), "radius"),
        (lambda: VisualCoordinate(scale=INF), "scale"),
        (lambda: TaskRegion("t", size=(NAN, 1, 1)), "size"),
        (lambda: Fiducial("f", size=NAN), "size"),
        (lambda: Link("l", axis=(NAN, 0, 1)), "axis"),
        (lambda: Link("l", axis=(INF, 0, 0)), "axis"),
        (lambda: Link("l", axis=(0, 1)), "axis"),
        (lambda: Link("l", axis=(0, 0, 1), position=NAN), "position"),
        (lambda: Link("l").setPosition(INF), "position"),
    ],
)
def test_geometry_must_be_finite(make, field):
    with pytest.raises(ValueError, match=f"^{field} must"):
        make()


def intrinsics(**fields):
    values = dict(width=640, height=480, fx=500.0, fy=500.0, cx=320.0, cy=240.0)
    values.update(fields)
    return values


@pytest.mark.parametrize(
    "make, error, field",
    [
        (lambda: Fiducial("f", marker_id=-1), ValueError, "marker_id"),
        (lambda: Fiducial("f", marker_id=2**32), ValueError, "marker_id"),
        (lambda: Fiducial("f", marker_id=1.5), TypeError, "marker_id"),
        (lambda: Intrinsics(**intrinsics(width=-1)), ValueError, "width"),
        (lambda: Intrinsics(**intrinsics(height=480.0)), TypeError, "height"),
        (lambda: Intrinsics(**intrinsics(fy=NAN)), ValueError, "fy"),
        (lambda: Intrinsics(**intrinsics())._replace(cx=INF), ValueError, "cx"),
        (lambda: Camera("c", intrinsics=(640, -480, 1, 1, 1, 1)), ValueError, "height"),
        (lambda: Camera("c").setIntrinsics((-640, 480, 1, 1, 1, 1)), ValueError, "width"),
        (lambda: Item("i", pose=(1, 2, 3)), TypeError, "pose"),
        (lambda: Item("i").setPose(None), TypeError, "pose"),
        (lambda: Link("l", origin=(0, 0, 0)), TypeError, "origin"),
    ],
)
def test_values_a_project_file_cannot_hold_are_refused_where_made(make, error, field):
    with pytest.raises(error, match=f"^{field} must"):
        make()


def test_checked_values_keep_their_meaning():
    assert Fiducial("f", marker_id=np.uint8(7)).markerId() == 7
    camera = Camera("c", intrinsics=tuple(intrinsics().values()))
    assert camera.intrinsics() == Intrinsics(**intrinsics())
    assert Link("l", axis=(0, 0, 0)).isFixed()
    assert Link("l", axis=np.array([0, 0, 2.0])).axis() == (0.0, 0.0, 1.0)


# Behavior and system


@pytest.mark.parametrize("steps", [[], [("move", "box"), ("wait", "")]])
def test_behavior_round_trip(steps):
    behavior = Behavior("pick", steps)
    text = json_format.MessageToJson(Behavior._ToModel(behavior))
    restored = Behavior._FromModel(json_format.Parse(text, project_pb2.BehaviorModel()))
    assert restored.name() == "pick" and restored.steps() == behavior.steps()


@pytest.mark.parametrize(
    "fill",
    [lambda m: m.steps.add(kind="", target="box"), lambda m: m.ClearField("name")],
    ids=["step-kind", "name"],
)
def test_behavior_from_model_rejects_missing_names(fill):
    message = Behavior._ToModel(Behavior("pick", [("move", "box")]))
    fill(message)
    with pytest.raises(ValueError):
        Behavior._FromModel(message)


def test_behavior_text_indents_by_level():
    text = Behavior("place", [("release", "box")])._str(2)
    assert text == "    behavior place (1 step)\n      1. release box\n"


def test_system_defaults_and_copies():
    system = System()
    assert system.pointcloud().shape == (0, 3) and system.trajectory().shape == (0, 3)
    assert system.images() == []
    points = np.ones((4, 3))
    system.setPointcloud(points)
    points[:] = 7
    assert system.pointcloud().max() == 1
    system.setImages([np.zeros((2, 3), np.uint16)])
    assert system.images()[0].shape == (2, 3, 1)
    with pytest.raises(ValueError):
        system.setTrajectory(np.zeros((3, 6)))

"""The workspace viewer's scene: lights, background, scene rebuild and per-frame overlays."""

import sys

import numpy as np
import pytest
from vtkmodules.vtkRenderingCore import vtkActor

import marnox.viewer
from marnox.pose import Pose
from marnox.project import Project
from marnox.sample import build_sample_cell
from marnox.viewer import WorkspaceViewer
from marnox.visual import VisualCoordinate

HOOKS = [
    "_updateVisualFrames",
    "_updatePointCloud",
    "_updateGraspableItems",
    "_updatePlacementRegions",
    "_updateGoalCandidates",
    "_updateToolTrajectories",
    "_updateToolForces",
]
COLLECTIONS = ["getRobots", "getItems", "getCameras", "getFiducials", "getTaskRegions"]


class Element:
    """A visual element with a real actor."""

    def __init__(self, actor=None):
        self.actor = actor or vtkActor()

    def _getActor(self):
        return self.actor


class Group:
    def __init__(self, elements):
        self._elements = list(elements)

    def elements(self):
        return self._elements


class Node:
    def __init__(self, n_elements=1, children=()):
        self.group = Group(Element() for _ in range(n_elements))
        self.children = list(children)

    def _getVisualGroup(self):
        return self.group

    def _getChildren(self):
        return self.children

    def actors(self):
        """This node's actors, then its subtree's, depth first."""
        own = [element.actor for element in self.group.elements()]
        return own + [actor for child in self.children for actor in child.actors()]


class Workspace:
    def __init__(self, **collections):
        self.collections = {name: collections.get(name, {}) for name in COLLECTIONS}
        self.origin_link = object()
        self.calls = []

    def __getattr__(self, name):
        if name not in COLLECTIONS:
            raise AttributeError(name)

        def accessor():
            self.calls.append(name)
            return self.collections[name]

        return accessor

    def _getOriginLink(self):
        self.calls.append("_getOriginLink")
        return self.origin_link


class System:
    def __init__(self):
        self.cloud = np.zeros((2, 3))
        self.positions = np.ones((3, 3))
        self.calls = []

    def pointcloud(self):
        self.calls.append("pointcloud")
        return self.cloud

    def trajectory(self):
        self.calls.append("trajectory")
        return self.positions


class FakeProject:
    def __init__(self, workspace=None):
        self.ws = workspace or Workspace()
        self.sys = System()
        self.system_calls = 0

    def workspace(self):
        return self.ws

    def system(self):
        self.system_calls += 1
        return self.sys


class Overlay:
    """Records the keyword calls an overlay receives."""

    def __init__(self):
        self.calls = []

    def setPoints(self, **kwargs):
        self.calls.append(("setPoints", kwargs))

    def setPositions(self, **kwargs):
        self.calls.append(("setPositions", kwargs))


class Chain:
    """Stands in for _Chain; records the keyword calls made on the class."""

    calls = []

    @staticmethod
    def _updateVisualElementsRecursive(**kwargs):
        Chain.calls.append(kwargs)


@pytest.fixture
def chain(monkeypatch):
    Chain.calls = []
    monkeypatch.setattr(marnox.viewer, "_Chain", Chain)
    return Chain


def scene_props(viewer):
    props = viewer._ren.GetViewProps()
    return [props.GetItemAsObject(i) for i in range(props.GetNumberOfItems())]


def lights_of(viewer):
    lights = viewer._ren.GetLights()
    return [lights.GetItemAsObject(i) for i in range(lights.GetNumberOfItems())]


def background_of(viewer):
    ren = viewer._ren
    return ren.GetGradientBackground(), ren.GetBackground(), ren.GetBackground2()


# Lights and background


def test_thirty_six_dim_white_lights_row_by_row():
    lights = lights_of(WorkspaceViewer())
    expected = [(x, y, 3.0) for y in range(-15, 15, 5) for x in range(-15, 15, 5)]
    assert [light.GetPosition() for light in lights] == expected
    for light in lights:
        assert light.GetIntensity() == pytest.approx(0.1)
        assert light.GetDiffuseColor() == (1.0, 1.0, 1.0)


def test_gradient_background():
    assert background_of(WorkspaceViewer()) == (True, (0.45, 0.5, 0.55), (0.9, 0.95, 1.0))


def test_binding_and_rendering_leave_lights_and_background_alone():
    viewer = WorkspaceViewer(trajectory=True, pointcloud=True)
    lights, background = lights_of(viewer), background_of(viewer)
    project = Project()
    build_sample_cell(project)
    viewer.setProject(project)
    viewer.render()
    assert lights_of(viewer) == lights
    assert background_of(viewer) == background


# Scene


def test_scene_order_is_collection_by_collection_depth_first_with_the_origin_last():
    robot = Node(1, [Node(1), Node(1)])
    item = Node(2, [Node(1, [Node(1)])])
    nodes = {"r": robot, "i": item, "c": Node(1), "f": Node(0), "t": Node(3)}
    workspace = Workspace(
        getRobots={"r": robot},
        getItems={"i": item},
        getCameras={"c": nodes["c"]},
        getFiducials={"f": nodes["f"]},
        getTaskRegions={"t": nodes["t"]},
    )
    viewer = WorkspaceViewer()
    viewer.setProject(FakeProject(workspace))
    expected = [actor for key in "ricft" for actor in nodes[key].actors()]
    assert viewer._actors[:-1] == expected
    assert len(viewer._actors) == len(expected) + 1
    assert scene_props(viewer) == viewer._actors
    assert workspace.calls == COLLECTIONS


def test_empty_workspace_gives_only_the_origin_frame(monkeypatch):
    made = []

    def coordinate(**kwargs):
        made.append(kwargs)
        return VisualCoordinate(**kwargs)

    monkeypatch.setattr(marnox.viewer, "VisualCoordinate", coordinate)
    viewer = WorkspaceViewer()
    viewer.setProject(FakeProject())
    assert made == [{"scale": 0.2}]
    assert len(viewer._actors) == 1
    assert scene_props(viewer) == viewer._actors


def test_rebuild_removes_exactly_the_tracked_actors_never_the_overlays():
    viewer = WorkspaceViewer(trajectory=True, pointcloud=True)
    overlays = scene_props(viewer)
    project = FakeProject(Workspace(getItems={"a": Node(2), "b": Node(1)}))
    extra = Element()
    viewer.addElement(extra)
    viewer.setProject(project)
    first = list(viewer._actors)
    viewer.setProject(project)
    props = scene_props(viewer)
    assert props[:2] == overlays
    assert props[2:] == viewer._actors
    assert len(viewer._actors) == len(first) == 4
    assert extra.actor not in props
    assert first[-1] not in props


def test_subclass_overrides_receive_each_call_by_keyword():
    calls = []

    class Recording(WorkspaceViewer):
        def _addItems(self, **kwargs):
            calls.append(("_addItems", kwargs))
            super()._addItems(**kwargs)

        def addGroup(self, **kwargs):
            calls.append(("addGroup", kwargs))
            super().addGroup(**kwargs)

        def addElement(self, **kwargs):
            calls.append(("addElement", kwargs))
            super().addElement(**kwargs)

    child = Node(1)
    robot = Node(1, [child])
    viewer = Recording()
    viewer.setProject(FakeProject(Workspace(getRobots={"r": robot})))
    origin = calls[-1][1]["element"]
    assert calls == [
        ("_addItems", {"item": robot}),
        ("addGroup", {"group": robot.group}),
        ("addElement", {"element": robot.group.elements()[0]}),
        ("_addItems", {"item": child}),
        ("addGroup", {"group": child.group}),
        ("addElement", {"element": child.group.elements()[0]}),
        ("addElement", {"element": origin}),
    ]
    assert type(origin) is VisualCoordinate


def test_an_element_added_twice_is_tracked_and_added_twice():
    viewer = WorkspaceViewer()
    element = Element()
    viewer.addGroup(Group([element, element]))
    viewer.addGroup(Group([]))
    assert viewer._actors == [element.actor, element.actor]


def test_model_errors_propagate_unchanged_and_keep_what_was_added():
    error = ValueError("no actor")

    class Broken(Element):
        def _getActor(self):
            raise error

    node = Node(1)
    node.group.elements().append(Broken())
    viewer = WorkspaceViewer()
    with pytest.raises(ValueError) as caught:
        viewer.setProject(FakeProject(Workspace(getRobots={"r": node})))
    assert caught.value is error
    assert viewer._actors == [node.group.elements()[0].actor]


def test_an_actor_that_is_no_prop_is_refused_before_it_is_tracked():
    class NotAnActor:
        def _getActor(self):
            return "actor"

    viewer = WorkspaceViewer()
    with pytest.raises(TypeError, match=r"_getActor\(\) must return a vtkProp, not str"):
        viewer.addElement(element=NotAnActor())
    assert viewer._actors == []
    viewer.setProject(Project())
    assert len(viewer._actors) == 1


def test_a_cyclic_node_tree_raises_recursion_error():
    node = Node(0)
    node.children.append(node)
    viewer = WorkspaceViewer()
    # At the interpreter's own limit: importing IPython (the notebook tests do) raises it
    # to 3000, deeper than a sanitizer build's C stack holds.
    limit = sys.getrecursionlimit()
    sys.setrecursionlimit(1000)
    try:
        with pytest.raises(RecursionError):
            viewer.setProject(FakeProject(Workspace(getItems={"loop": node})))
    finally:
        sys.setrecursionlimit(limit)


# Per-frame overlays


def test_render_runs_the_seven_hooks_in_order():
    calls = []

    def recorder(name):
        def hook(self):
            calls.append(name)

        return hook

    Recording = type("Recording", (WorkspaceViewer,), {name: recorder(name) for name in HOOKS})
    viewer = Recording()
    viewer.render()
    viewer.render()
    assert calls == HOOKS + HOOKS


def test_link_frames_get_the_origin_link_and_a_new_pose_every_frame(chain):
    project = FakeProject()
    viewer = WorkspaceViewer()
    viewer.setProject(project)
    viewer.render()
    viewer.render()
    assert [sorted(call) for call in chain.calls] == [["base_pose", "link"]] * 2
    assert all(call["link"] is project.ws.origin_link for call in chain.calls)
    first, second = (call["base_pose"] for call in chain.calls)
    assert type(first) is Pose and type(second) is Pose and first is not second
    assert project.ws.calls.count("_getOriginLink") == 2


def test_no_overlays_never_ask_for_the_system(chain):
    project = FakeProject()
    viewer = WorkspaceViewer()
    viewer.setProject(project)
    viewer.render()
    assert project.system_calls == 0


@pytest.mark.parametrize(
    "flag, field, method, keyword, fetch",
    [
        ("pointcloud", "_pointcloud", "setPoints", "pointcloud", "cloud"),
        ("trajectory", "_trajectory", "setPositions", "positions", "positions"),
    ],
)
def test_overlay_gets_the_system_value_unchanged_once_per_frame(
    chain, flag, field, method, keyword, fetch
):
    project = FakeProject()
    viewer = WorkspaceViewer(**{flag: True})
    viewer.setProject(project)
    overlay = Overlay()
    setattr(viewer, field, overlay)
    viewer.render()
    viewer.render()
    assert overlay.calls == [(method, {keyword: getattr(project.sys, fetch)})] * 2
    assert all(call[1][keyword] is getattr(project.sys, fetch) for call in overlay.calls)
    assert project.system_calls == 2 and len(project.sys.calls) == 2


def test_a_failing_link_update_ends_the_frame_with_the_same_error(monkeypatch):
    error = RuntimeError("broken chain")

    class BrokenChain:
        @staticmethod
        def _updateVisualElementsRecursive(**kwargs):
            raise error

    monkeypatch.setattr(marnox.viewer, "_Chain", BrokenChain)
    project = FakeProject()
    viewer = WorkspaceViewer(trajectory=True, pointcloud=True)
    viewer.setProject(project)
    viewer._trajectory, viewer._pointcloud = Overlay(), Overlay()
    with pytest.raises(RuntimeError) as caught:
        viewer.render()
    assert caught.value is error
    assert project.system_calls == 0
    assert viewer._trajectory.calls == [] and viewer._pointcloud.calls == []


def test_sample_cell_overlays_follow_the_system():
    project = Project()
    build_sample_cell(project)
    viewer = WorkspaceViewer(trajectory=True, pointcloud=True)
    viewer.setProject(project)
    viewer.render()
    system = project.system()
    assert viewer._pointcloud.numberOfPoints() == len(system.pointcloud())
    assert viewer._trajectory.numberOfPoints() == len(system.trajectory())
    system.setTrajectory(np.zeros((5, 3)))
    viewer.render()
    assert viewer._trajectory.numberOfPoints() == 5

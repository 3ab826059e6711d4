"""The viewer's calls to its own methods and reads of its own fields, across later changes.

render() and the scene rebuild remember what their lookups on the viewer found; every change a
Python program can make afterwards (on the class, a subclass, the instance, its __dict__ or
its __class__) must take effect at the next call, exactly as a fresh lookup would.
"""

import numpy as np
import pytest
from vtkmodules.vtkRenderingCore import vtkActor

import marnox.viewer
from marnox.viewer import WorkspaceViewer

HOOKS = [
    "_updateVisualFrames",
    "_updatePointCloud",
    "_updateGraspableItems",
    "_updatePlacementRegions",
    "_updateGoalCandidates",
    "_updateToolTrajectories",
    "_updateToolForces",
]


class Chain:
    calls = []

    @staticmethod
    def _updateVisualElementsRecursive(link, base_pose):
        Chain.calls.append(link)


class Workspace:
    def __init__(self, nodes=()):
        self.nodes = {f"n{i}": node for i, node in enumerate(nodes)}

    def _getOriginLink(self):
        return "origin"

    def getRobots(self):
        return self.nodes

    def getItems(self):
        return {}

    getCameras = getFiducials = getTaskRegions = getItems


class System:
    def __init__(self, cloud=None):
        self.cloud = np.zeros((2, 3)) if cloud is None else cloud

    def pointcloud(self):
        return self.cloud

    def trajectory(self):
        return self.cloud


class Project:
    def __init__(self, nodes=(), cloud=None):
        self.ws = Workspace(nodes)
        self.sys = System(cloud)

    def workspace(self):
        return self.ws

    def system(self):
        return self.sys


class Overlay:
    def __init__(self):
        self.received = []

    def setPoints(self, pointcloud):
        self.received.append(pointcloud)

    def setPositions(self, positions):
        self.received.append(positions)


class Element:
    def __init__(self):
        self.actor = vtkActor()

    def _getActor(self):
        return self.actor


class Group:
    def __init__(self, elements):
        self._elements = elements

    def elements(self):
        return self._elements


class Node:
    def __init__(self, elements=1):
        self.group = Group([Element() for _ in range(elements)])

    def _getVisualGroup(self):
        return self.group

    def _getChildren(self):
        return []


class Interactor:
    def __init__(self):
        self.calls = []

    def ProcessEvents(self):
        self.calls.append("ProcessEvents")

    def Render(self):
        self.calls.append("Render")

    def TerminateApp(self):
        pass


class Window:
    def Finalize(self):
        pass


@pytest.fixture(autouse=True)
def chain(monkeypatch):
    Chain.calls = []
    monkeypatch.setattr(marnox.viewer, "_Chain", Chain)


def viewer_with_overlay(cls=WorkspaceViewer, project=None):
    viewer = cls(pointcloud=True)
    viewer._pointcloud = Overlay()
    viewer.setProject(project or Project())
    viewer.render()
    return viewer


def recording(calls, label):
    def hook(self):
        calls.append((label, self))

    return hook


# Keyword calls


def test_keywords_in_declaration_order_and_out_of_it_bind_alike():
    in_order = WorkspaceViewer(size=(64, 48), trajectory=True, pointcloud=False)
    reversed_order = WorkspaceViewer(pointcloud=False, trajectory=True, size=(64, 48))
    mixed = WorkspaceViewer((64, 48), pointcloud=False, trajectory=True)
    for viewer in (in_order, reversed_order, mixed):
        assert viewer._size == (64, 48)
        assert viewer._trajectory is not None and viewer._pointcloud is None
    element = Element()
    WorkspaceViewer.addElement(self=in_order, element=element)
    assert in_order._actors == [element.actor]


@pytest.mark.parametrize(
    "call, message",
    [
        (lambda v, e: v.addElement(e, element=e), "got multiple values for argument 'element'"),
        (lambda v, e: v.addElement(elements=e), "got an unexpected keyword argument 'elements'"),
        (lambda v, e: WorkspaceViewer.addElement(element=e), "missing 1 required positional"),
        (lambda v, e: v.zoom(2, factor=2), "got multiple values for argument 'factor'"),
    ],
)
def test_keyword_errors_are_still_the_interpreters(call, message):
    with pytest.raises(TypeError, match=message):
        call(WorkspaceViewer(), Element())


# Hooks


@pytest.mark.parametrize("hook", HOOKS)
def test_a_hook_assigned_on_a_subclass_after_renders_runs_from_the_next_render(hook):
    class Later(WorkspaceViewer):
        pass

    viewer = Later()
    viewer.render()
    viewer.render()
    calls = []
    setattr(Later, hook, recording(calls, hook))
    viewer.render()
    assert calls == [(hook, viewer)]
    delattr(Later, hook)
    viewer.render()
    assert calls == [(hook, viewer)]


def test_a_python_override_replaced_after_renders_gives_way_to_its_successor():
    calls = []

    class Override(WorkspaceViewer):
        _updatePointCloud = recording(calls, "first")

    class Deeper(Override):
        pass

    viewer = Deeper()
    viewer.render()
    viewer.render()
    Override._updatePointCloud = recording(calls, "second")
    viewer.render()
    Deeper._updatePointCloud = recording(calls, "third")
    viewer.render()
    assert [label for label, _ in calls] == ["first", "first", "second", "third"]
    assert all(called is viewer for _, called in calls)


def test_a_hook_replaced_on_the_class_itself_runs_for_every_viewer(monkeypatch):
    first, second = WorkspaceViewer(), WorkspaceViewer()
    first.render()
    calls = []
    monkeypatch.setattr(WorkspaceViewer, "_updateToolForces", recording(calls, "forces"))
    first.render()
    second.render()
    assert calls == [("forces", first), ("forces", second)]


def test_an_instance_attribute_shadows_the_hook_until_deleted():
    viewer = viewer_with_overlay()
    calls = []
    viewer._updatePointCloud = lambda: calls.append("instance")
    viewer.render()
    assert calls == ["instance"]
    assert len(viewer._pointcloud.received) == 1
    del viewer._updatePointCloud
    viewer.render()
    assert calls == ["instance"]
    assert len(viewer._pointcloud.received) == 2


def test_viewers_with_and_without_an_override_alternate_correctly():
    plain, shadowed = viewer_with_overlay(), viewer_with_overlay()
    calls = []
    shadowed._updatePointCloud = lambda: calls.append("shadowed")
    for _ in range(3):
        plain.render()
        shadowed.render()
    assert calls == ["shadowed"] * 3
    assert len(plain._pointcloud.received) == 4
    assert len(shadowed._pointcloud.received) == 1


def test_changing_the_class_of_a_viewer_changes_its_hooks():
    calls = []

    class Other(WorkspaceViewer):
        _updateGoalCandidates = recording(calls, "other")

    viewer = WorkspaceViewer()
    viewer.render()
    viewer.__class__ = Other
    viewer.render()
    viewer.__class__ = WorkspaceViewer
    viewer.render()
    assert calls == [("other", viewer)]


def test_a_hook_that_is_no_method_is_called_as_the_attribute_it_is():
    calls = []

    class Static(WorkspaceViewer):
        pass

    viewer = Static()
    viewer.render()
    Static._updateToolForces = staticmethod(lambda: calls.append("static"))
    viewer.render()
    Static._updateToolForces = classmethod(lambda cls: calls.append(cls))
    viewer.render()
    assert calls == ["static", Static]


def test_a_hook_of_another_signature_gets_the_interpreters_type_error():
    class Taking(WorkspaceViewer):
        pass

    viewer = Taking()
    viewer.render()
    Taking._updateToolForces = WorkspaceViewer.addElement
    with pytest.raises(TypeError, match="missing 1 required positional argument: 'element'"):
        viewer.render()


def test_a_hook_replaced_during_a_frame_runs_in_its_new_form_later_in_that_frame():
    calls = []

    class Patching(WorkspaceViewer):
        def _updateGraspableItems(self):
            calls.append("graspable")
            type(self)._updateToolForces = recording(calls, "forces")

    viewer = Patching()
    viewer.render()
    assert calls == ["graspable", ("forces", viewer)]


# Scene methods


def test_scene_methods_assigned_after_a_rebuild_run_in_the_next():
    class Later(WorkspaceViewer):
        pass

    project = Project([Node(2), Node(1)])
    viewer = Later()
    viewer.setProject(project)
    calls = []

    def add_group(self, group):
        calls.append(group)
        WorkspaceViewer.addGroup(self, group=group)

    Later.addGroup = add_group
    viewer.setProject(project)
    assert calls == [node.group for node in project.ws.nodes.values()]
    assert len(viewer._actors) == 4


def test_an_instance_add_element_sees_every_element_of_the_next_rebuild():
    project = Project([Node(2)])
    viewer = WorkspaceViewer()
    viewer.setProject(project)
    seen = []
    viewer.addElement = lambda element: seen.append(element)
    viewer.setProject(project)
    assert seen[:2] == project.ws.nodes["n0"].group.elements()
    assert len(seen) == 3
    assert viewer._actors == []


# Fields


def test_a_new_project_bound_as_an_attribute_is_read_at_the_next_render():
    viewer = viewer_with_overlay()
    cloud = np.ones((4, 3))
    viewer._project = Project(cloud=cloud)
    viewer.render()
    assert viewer._pointcloud.received[-1] is cloud


def test_an_overlay_removed_after_renders_is_no_longer_fed():
    viewer = viewer_with_overlay()
    overlay = viewer._pointcloud
    viewer._pointcloud = None
    viewer.render()
    assert len(overlay.received) == 1


def test_a_deleted_field_raises_attribute_error_at_the_next_render():
    viewer = viewer_with_overlay()
    del viewer._project
    with pytest.raises(
        AttributeError, match="'WorkspaceViewer' object has no attribute '_project'"
    ):
        viewer.render()


def test_a_replaced_instance_dict_is_read_at_the_next_render():
    viewer = viewer_with_overlay()
    state = dict(vars(viewer))
    state["_pointcloud"] = Overlay()
    viewer.__dict__ = state
    viewer.render()
    assert len(state["_pointcloud"].received) == 1


def test_a_property_defined_later_on_a_subclass_takes_precedence_over_the_field():
    class Later(WorkspaceViewer):
        pass

    viewer = viewer_with_overlay(Later)
    cloud = np.full((1, 3), 7.0)
    Later._project = property(lambda self: Project(cloud=cloud))
    viewer.render()
    assert viewer._pointcloud.received[-1] is cloud


def test_a_class_attribute_stopped_set_after_renders_stops_drawing():
    class Later(WorkspaceViewer):
        pass

    viewer = Later()
    viewer._interactor = Interactor()
    viewer.render()
    Later._stopped = True
    viewer.render()
    del Later._stopped
    viewer.render()
    assert viewer._interactor.calls == ["ProcessEvents", "Render"] * 2


def test_stop_after_renders_ends_drawing_and_a_falsy_stopped_resumes_it():
    viewer = WorkspaceViewer()
    viewer._interactor = Interactor()
    viewer.render()
    viewer._window = Window()
    viewer.stop()
    viewer.render()
    assert viewer._interactor.calls == ["ProcessEvents", "Render"]
    viewer._stopped = 0
    viewer.render()
    assert viewer._interactor.calls == ["ProcessEvents", "Render"] * 2


def test_an_interactor_attached_after_renders_is_drawn_with():
    viewer = WorkspaceViewer()
    viewer.render()
    viewer._interactor = Interactor()
    viewer.render()
    assert viewer._interactor.calls == ["ProcessEvents", "Render"]


def test_actors_replaced_by_another_sequence_get_its_own_append():
    class Tracked(list):
        def append(self, actor):
            super().append(("tracked", actor))

    viewer = WorkspaceViewer()
    viewer.addElement(Element())
    viewer._actors = Tracked()
    element = Element()
    viewer.addElement(element)
    assert viewer._actors == [("tracked", element.actor)]


def test_a_renderer_replaced_after_a_rebuild_receives_the_next_actors():
    project = Project([Node(1)])
    viewer = WorkspaceViewer()
    viewer.setProject(project)
    added = []

    class Renderer:
        def __getattr__(self, name):
            return lambda *args: added.append((name, *args))

    viewer._ren = Renderer()
    element = Element()
    viewer.addElement(element)
    assert added == [("AddActor", element.actor)]


# Module-level names


def test_module_names_rebound_after_renders_are_used_from_the_next_render(monkeypatch):
    viewer = WorkspaceViewer()
    viewer.setProject(Project())
    viewer.render()
    poses = []

    class Pose:
        def __init__(self):
            poses.append(self)

    class Other:
        links = []

        @staticmethod
        def _updateVisualElementsRecursive(link, base_pose):
            Other.links.append((link, base_pose))

    monkeypatch.setattr(marnox.viewer, "Pose", Pose)
    viewer.render()
    monkeypatch.setattr(marnox.viewer, "_Chain", Other)
    viewer.render()
    assert len(poses) == 2 and Other.links == [("origin", poses[1])]
    monkeypatch.delattr(marnox.viewer, "Pose")
    with pytest.raises(NameError, match="name 'Pose' is not defined"):
        viewer.render()

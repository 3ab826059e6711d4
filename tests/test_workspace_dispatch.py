"""The viewer's calls to its own methods, fields and module names, looked up at each call.

render() and the scene rebuild reach the viewer's hooks, scene methods and fields through
`self`, and module-level names through the module namespace, so whatever a program changes
between frames takes effect at the next one.
"""

import numpy as np
import pytest
from vtkmodules.vtkRenderingCore import vtkActor

import marnox.viewer
from marnox.viewer import WorkspaceViewer


class Chain:
    calls = []

    @staticmethod
    def _updateVisualElementsRecursive(link, base_pose):
        Chain.calls.append(link)


class Workspace:
    def _getOriginLink(self):
        return "origin"

    def getRobots(self):
        return {}

    getItems = getCameras = getFiducials = getTaskRegions = getRobots


class System:
    def __init__(self):
        self.cloud = np.zeros((2, 3))

    def pointcloud(self):
        return self.cloud

    def trajectory(self):
        return self.cloud


class Project:
    def __init__(self):
        self.ws = Workspace()
        self.sys = System()

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
    def IsA(self, name):
        return False

    def Finalize(self):
        pass


@pytest.fixture(autouse=True)
def chain(monkeypatch):
    Chain.calls = []
    monkeypatch.setattr(marnox.viewer, "_Chain", Chain)


def viewer_with_overlay():
    viewer = WorkspaceViewer(pointcloud=True)
    viewer._pointcloud = Overlay()
    viewer.setProject(Project())
    viewer.render()
    return viewer


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


# Hooks


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


# Fields


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

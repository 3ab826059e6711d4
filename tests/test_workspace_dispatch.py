"""The viewer's calls to its own methods and reads of its own fields, across later changes.

render() and the scene rebuild remember what their lookups on the viewer found; every change a
Python program can make afterwards (on the class, a subclass, the instance, its __dict__ or
its __class__) must take effect at the next call, exactly as a fresh lookup would.
"""

import marnox.viewer
import numpy as np
import pytest
from marnox.viewer import WorkspaceViewer
from vtkmodules.vtkRenderingCore import vtkActor

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

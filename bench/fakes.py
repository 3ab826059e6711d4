"""Model stand-ins whose calls return at once, so benchmarks time only the viewer."""

import numpy as np
from vtkmodules.vtkRenderingCore import vtkActor

POINTS = np.zeros((100, 3))
POSITIONS = np.zeros((10, 3))


class InstantChain:
    @staticmethod
    def _updateVisualElementsRecursive(link, base_pose):
        pass


class InstantPose:
    pass


class InstantOverlay:
    def setPoints(self, pointcloud):
        pass

    def setPositions(self, positions):
        pass


class InstantElement:
    def __init__(self):
        self._actor = vtkActor()

    def _getActor(self):
        return self._actor


class InstantCoordinate(InstantElement):
    def __init__(self, scale):
        super().__init__()


class InstantGroup:
    def __init__(self, elements):
        self._elements = tuple(elements)

    def elements(self):
        return self._elements


class InstantNode:
    def __init__(self, elements=2, children=()):
        self._group = InstantGroup(InstantElement() for _ in range(elements))
        self._children = tuple(children)

    def _getVisualGroup(self):
        return self._group

    def _getChildren(self):
        return self._children


class InstantSystem:
    def pointcloud(self):
        return POINTS

    def trajectory(self):
        return POSITIONS


class InstantWorkspace:
    """Nodes split evenly over the five collections, each node a leaf with two elements."""

    def __init__(self, nodes=0):
        kinds = [{} for _ in range(5)]
        for index in range(nodes):
            kinds[index % 5][f"node{index}"] = InstantNode()
        self._robots, self._items, self._cameras, self._fiducials, self._regions = kinds

    def getRobots(self):
        return self._robots

    def getItems(self):
        return self._items

    def getCameras(self):
        return self._cameras

    def getFiducials(self):
        return self._fiducials

    def getTaskRegions(self):
        return self._regions

    def _getOriginLink(self):
        return None


class InstantProject:
    def __init__(self, nodes=0):
        self._workspace = InstantWorkspace(nodes)
        self._system = InstantSystem()

    def workspace(self):
        return self._workspace

    def system(self):
        return self._system


def patch_model(*modules):
    """Points the model names of the viewer modules at the instant stand-ins."""
    for module in modules:
        module._Chain = InstantChain
        module.Pose = InstantPose
        module.VisualCoordinate = InstantCoordinate

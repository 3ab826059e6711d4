"""Model stand-ins whose calls return at once, so benchmarks time only the viewer."""

import contextlib
import functools
import itertools
from types import SimpleNamespace

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


# The same model made of C callables: no call into it enters the interpreter, so a benchmark
# with it times the viewer's own dispatch alone. Objects are SimpleNamespaces whose attributes
# are the callables, looked up on the instance by both viewers alike.


def _returning(value):
    """A C callable of no arguments that returns `value`."""
    return itertools.repeat(value).__next__


def _taking_keywords():
    """A C callable that takes any keyword arguments and returns None."""
    return {}.update


def _builtin_element():
    return SimpleNamespace(_getActor=_returning(vtkActor()))


def _builtin_node(elements=2):
    group = SimpleNamespace(elements=_returning(tuple(_builtin_element() for _ in range(elements))))
    return SimpleNamespace(_getVisualGroup=_returning(group), _getChildren=_returning(()))


def builtin_overlay():
    return SimpleNamespace(setPoints=_taking_keywords(), setPositions=_taking_keywords())


def builtin_project(nodes=0):
    """Like InstantProject: nodes split evenly over the five collections."""
    kinds = [{} for _ in range(5)]
    for index in range(nodes):
        kinds[index % 5][f"node{index}"] = _builtin_node()
    workspace = SimpleNamespace(
        getRobots=_returning(kinds[0]),
        getItems=_returning(kinds[1]),
        getCameras=_returning(kinds[2]),
        getFiducials=_returning(kinds[3]),
        getTaskRegions=_returning(kinds[4]),
        _getOriginLink=_returning(None),
    )
    system = SimpleNamespace(pointcloud=_returning(POINTS), trajectory=_returning(POSITIONS))
    return SimpleNamespace(workspace=_returning(workspace), system=_returning(system))


def patch_builtin_model(*modules):
    """Points the model names of the viewer modules at C callables."""
    for module in modules:
        module._Chain = SimpleNamespace(_updateVisualElementsRecursive=_taking_keywords())
        module.Pose = object
        module.VisualCoordinate = functools.partial(
            SimpleNamespace, _getActor=_returning(vtkActor())
        )


# The module-level names that patch_model and patch_builtin_model replace.
PATCHED_NAMES = ("_Chain", "Pose", "VisualCoordinate")


class Model:
    """One kind of stand-in model: how to patch the viewer modules and make its objects."""

    def __init__(self, patch, overlay, project):
        self.patch = patch
        self.overlay = overlay
        self.project = project

    @contextlib.contextmanager
    def patched(self, *modules):
        """The viewer modules use this model inside the block and the real one after it."""
        saved = [
            (module, name, getattr(module, name)) for module in modules for name in PATCHED_NAMES
        ]
        self.patch(*modules)
        try:
            yield
        finally:
            for module, name, value in saved:
                setattr(module, name, value)


MODELS = {
    "python": Model(patch_model, InstantOverlay, InstantProject),
    "builtin": Model(patch_builtin_model, builtin_overlay, builtin_project),
}

"""The workspace: every robot, item, camera, fiducial and task region of a cell."""

from __future__ import annotations

from collections import Counter
from types import MappingProxyType

from marnox import _messages
from marnox.camera import Camera, Intrinsics
from marnox.dynamics import Link
from marnox.fiducial import Fiducial
from marnox.item import Item
from marnox.robot import Robot
from marnox.task_region import TaskRegion

__all__ = ["Workspace", "Item", "Robot", "Camera", "Intrinsics", "Fiducial", "TaskRegion"]

# Snapshot field, node class and plural label of each kind, in display order.
_KINDS = (
    ("robots", Robot, "robot", "robots"),
    ("items", Item, "item", "items"),
    ("cameras", Camera, "camera", "cameras"),
    ("fiducials", Fiducial, "fiducial", "fiducials"),
    ("task_regions", TaskRegion, "task region", "task regions"),
)


class Workspace:
    """All nodes of a robot cell, each kind keyed by node name.

    Top-level node names are unique across kinds. Robots' link trees hang
    below a fixed origin link (see ``_getOriginLink``).
    """

    def __init__(self):
        """Create an empty workspace."""
        self._origin = Link("origin")
        self._nodes = {field: {} for field, _, _, _ in _KINDS}

    def addRobot(self, robot):
        """Add a ``Robot``; returns it."""
        return self._add("robots", robot)

    def addItem(self, item):
        """Add a plain ``Item`` (with its children); returns it."""
        return self._add("items", item)

    def addCamera(self, camera):
        """Add a ``Camera``; returns it."""
        return self._add("cameras", camera)

    def addFiducial(self, fiducial):
        """Add a ``Fiducial``; returns it."""
        return self._add("fiducials", fiducial)

    def addTaskRegion(self, region):
        """Add a ``TaskRegion``; returns it."""
        return self._add("task_regions", region)

    def getRobots(self):
        """Read-only mapping of robot name to ``Robot``."""
        return MappingProxyType(self._nodes["robots"])

    def getItems(self):
        """Read-only mapping of item name to top-level ``Item``."""
        return MappingProxyType(self._nodes["items"])

    def getCameras(self):
        """Read-only mapping of camera name to ``Camera``."""
        return MappingProxyType(self._nodes["cameras"])

    def getFiducials(self):
        """Read-only mapping of fiducial name to ``Fiducial``."""
        return MappingProxyType(self._nodes["fiducials"])

    def getTaskRegions(self):
        """Read-only mapping of region name to ``TaskRegion``."""
        return MappingProxyType(self._nodes["task_regions"])

    def nodes(self):
        """All top-level nodes: robots, items, cameras, fiducials, then task regions."""
        return [node for field, _, _, _ in _KINDS for node in self._nodes[field].values()]

    def find(self, name):
        """The node called ``name`` anywhere in the tree, or None."""
        stack = list(reversed(self.nodes()))
        while stack:
            node = stack.pop()
            if node.name() == name:
                return node
            stack.extend(reversed(node.children()))
        return None

    def clear(self):
        """Remove every node; the origin link object stays the same."""
        self._origin.clearChildren()
        for nodes in self._nodes.values():
            nodes.clear()

    def _getOriginLink(self):
        """Root of the link tree: a fixed link at the world origin, robots' mounts below it."""
        return self._origin

    def _getSnapshot(self):
        """The whole workspace as a ``WorkspaceModel`` message."""
        message = _messages.project_pb2.WorkspaceModel()
        for field, cls, _, _ in _KINDS:
            add = getattr(message, field).add
            for node in self._nodes[field].values():
                cls._ToModel(node, add())
        return message

    def _setSnapshot(self, message):
        """Replace this workspace's contents with those of a ``WorkspaceModel``.

        The message is decoded completely before anything is replaced, so a
        bad message leaves the workspace as it was.
        """
        decoded = [
            (field, [cls._FromModel(m) for m in getattr(message, field)])
            for field, cls, _, _ in _KINDS
        ]
        names = [node.name() for _, nodes in decoded for node in nodes]
        if len(set(names)) < len(names):
            duplicates = sorted(name for name, count in Counter(names).items() if count > 1)
            raise ValueError("duplicate node names: {}".format(", ".join(duplicates)))
        self.clear()
        # The decoded nodes are new, of their field's kind and uniquely named,
        # so they skip the checks of _add.
        for field, nodes in decoded:
            self._nodes[field].update((node.name(), node) for node in nodes)
        for robot in self._nodes["robots"].values():
            self._origin.addChild(robot._mountLink())

    def _add(self, field, node):
        cls = next(cls for f, cls, _, _ in _KINDS if f == field)
        if not isinstance(node, cls) or node.kind() != cls.KIND:
            raise TypeError(f"expected a {cls.__name__}, got {type(node).__name__}")
        if node.parent() is not None:
            raise ValueError(f"node {node.name()!r} is a child of another item")
        if any(node.name() in nodes for nodes in self._nodes.values()):
            raise ValueError(f"duplicate node name {node.name()!r}")
        self._nodes[field][node.name()] = node
        if field == "robots":
            self._origin.addChild(node._mountLink())
        return node

    def __str__(self):
        counts = []
        for field, _, singular, plural in _KINDS:
            n = len(self._nodes[field])
            counts.append(f"{n} {singular if n == 1 else plural}")
        lines = ["Workspace: " + ", ".join(counts)]
        for node in self.nodes():
            lines.extend(node._describe(1))
        return "\n".join(lines) + "\n"

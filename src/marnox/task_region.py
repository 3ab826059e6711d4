"""Task regions: boxes of space where a task happens, e.g. a place zone."""

from __future__ import annotations

from marnox import _checks, _messages
from marnox.item import Item
from marnox.visual import VisualBox


class _OutlinedBox(VisualBox):
    """A box whose actor also draws its edges."""

    def _createActor(self):
        actor = super()._createActor()
        prop = actor.GetProperty()
        prop.EdgeVisibilityOn()
        prop.SetEdgeColor(0.1, 0.6, 0.2)
        prop.SetLineWidth(2.0)
        return actor


class TaskRegion(Item):
    """A box of edge lengths ``size = (x, y, z)`` centred on the region's frame.

    Drawn as a translucent green box with its edges outlined.
    """

    KIND = "task_region"

    def __init__(self, name, pose=None, size=(0.3, 0.3, 0.02), shapes=(), children=()):
        """Create a task region; see the class docstring."""
        size = _checks.finiteVector(size, "size")
        if min(size) <= 0:
            raise ValueError("task region size must be positive")
        super().__init__(name, pose, shapes, children)
        self._size = size
        self._attach(_OutlinedBox(self._size, (0.2, 0.85, 0.35), opacity=0.35))

    def size(self):
        """Edge lengths ``(x, y, z)``."""
        return self._size

    @staticmethod
    def _ToModel(region, target=None):
        """A ``TaskRegionModel`` message describing ``region``.

        Fills ``target`` in place when given (see ``Item._ToModel``).
        """
        message = _messages.project_pb2.TaskRegionModel() if target is None else target
        region._toNodeModel(message.node)
        size = message.size
        size.x, size.y, size.z = region._size
        return message

    @staticmethod
    def _FromModel(message):
        """A new ``TaskRegion`` from a ``TaskRegionModel`` message."""
        pose = _messages.poseFromModel(message.node.pose)
        region = TaskRegion(message.node.name, pose, _messages.vectorFromModel(message.size))
        region._fillFromNodeModel(message.node)
        return region

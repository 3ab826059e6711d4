"""Fiducials: square markers with an id."""

from __future__ import annotations

from marnox import _checks, _messages
from marnox.item import Item
from marnox.pose import Pose
from marnox.visual import VisualBox

_THICKNESS = 0.004


class Fiducial(Item):
    """A square marker of edge ``size`` and id ``marker_id`` (0 to 2**32 - 1).

    The frame is at the centre of the marker face with +z out of it. The
    marker is drawn as a thin white plate with a black square whose white
    corner notch sits in the -x/+y quadrant, so its orientation shows.
    """

    KIND = "fiducial"

    def __init__(self, name, pose=None, marker_id=0, size=0.1, shapes=(), children=()):
        """Create a fiducial; see the class docstring."""
        size = _checks.finite(size, "size")
        if size <= 0:
            raise ValueError("fiducial size must be positive")
        marker_id = _checks.uint32(marker_id, "marker_id")
        super().__init__(name, pose, shapes, children)
        self._markerId = marker_id
        self._size = size
        s, t = self._size, _THICKNESS
        self._attach(VisualBox((s, s, t), (0.95, 0.95, 0.95), offset=Pose((0, 0, -t / 2))))
        self._attach(
            VisualBox((0.75 * s, 0.75 * s, t / 4), (0.05, 0.05, 0.05), offset=Pose((0, 0, t / 8)))
        )
        notch = Pose((-0.2 * s, 0.2 * s, t / 4))
        self._attach(VisualBox((0.2 * s, 0.2 * s, t / 4), (0.95, 0.95, 0.95), offset=notch))

    def markerId(self):
        """The marker's id."""
        return self._markerId

    def size(self):
        """Edge length of the marker."""
        return self._size

    @staticmethod
    def _ToModel(fiducial, target=None):
        """A ``FiducialModel`` message describing ``fiducial``.

        Fills ``target`` in place when given (see ``Item._ToModel``).
        """
        message = _messages.project_pb2.FiducialModel() if target is None else target
        fiducial._toNodeModel(message.node)
        message.marker_id = fiducial._markerId
        message.size = fiducial._size
        return message

    @staticmethod
    def _FromModel(message):
        """A new ``Fiducial`` from a ``FiducialModel`` message."""
        pose = _messages.poseFromModel(message.node.pose)
        fiducial = Fiducial(message.node.name, pose, message.marker_id, message.size)
        fiducial._fillFromNodeModel(message.node)
        return fiducial

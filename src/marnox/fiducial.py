"""Fiducials: square markers with an id."""

from __future__ import annotations

from marnox import _checks, _marker_face, _messages
from marnox.item import Item
from marnox.pose import Pose
from marnox.visual import VisualBox

_THICKNESS = 0.004
_WHITE, _BLACK = _marker_face.WHITE, _marker_face.BLACK


class Fiducial(Item):
    """A square marker of edge ``size`` and id ``marker_id`` (0 to 2**32 - 1).

    The frame is at the centre of the marker face with +z out of it.

    Without a ``dictionary`` the marker is drawn as a thin white plate with a
    black square whose white corner notch sits in the -x/+y quadrant, so its
    orientation shows.

    ``dictionary`` names one of OpenCV's predefined marker dictionaries by its
    OpenCV name, ``"DICT_4X4_50"`` to ``"DICT_APRILTAG_36h11"``. The face then
    shows that dictionary's marker ``marker_id`` as OpenCV draws it, with
    ``size`` the edge of its outer black square (what OpenCV's detectors and
    ``solvePnP`` measure), on a white plate with a margin of one marker cell.
    It needs OpenCV (``pip install 'marnox[markers]'``; ImportError without
    it); an unknown dictionary, or an id the dictionary does not have, raises
    ValueError.

    The marker image lies in the face with its columns along +x and its top
    row at +y, as in OpenCV's marker frame: the marker's corners in OpenCV's
    order (top-left, top-right, bottom-right, bottom-left) are at
    (-s/2, s/2, 0), (s/2, s/2, 0), (s/2, -s/2, 0) and (-s/2, -s/2, 0) with
    s = ``size``, so the pose that ``solvePnP`` finds from them in a camera's
    image is this fiducial's pose in the camera's frame.

    Example::

        Fiducial("tag_3", Pose((0.4, 0.0, 0.8)), marker_id=3, size=0.08,
                 dictionary="DICT_APRILTAG_36h11")
    """

    KIND = "fiducial"

    def __init__(
        self, name, pose=None, marker_id=0, size=0.1, dictionary=None, shapes=(), children=()
    ):
        """Create a fiducial; see the class docstring."""
        size = _checks.finite(size, "size")
        if size <= 0:
            raise ValueError("fiducial size must be positive")
        marker_id = _checks.uint32(marker_id, "marker_id")
        plate = None
        if dictionary is not None:
            plate = _marker_face.VisualMarkerPlate(dictionary, marker_id, size, _THICKNESS)
        super().__init__(name, pose, shapes, children)
        self._markerId = marker_id
        self._size = size
        self._dictionary = dictionary
        if plate is None:
            self._attachNotchedSquare()
        else:
            self._attach(plate)

    def _attachNotchedSquare(self):
        s, t = self._size, _THICKNESS
        self._attach(VisualBox((s, s, t), _WHITE, offset=Pose((0, 0, -t / 2))))
        self._attach(VisualBox((0.75 * s, 0.75 * s, t / 4), _BLACK, offset=Pose((0, 0, t / 8))))
        notch = Pose((-0.2 * s, 0.2 * s, t / 4))
        self._attach(VisualBox((0.2 * s, 0.2 * s, t / 4), _WHITE, offset=notch))

    def markerId(self):
        """The marker's id."""
        return self._markerId

    def size(self):
        """Edge length of the marker."""
        return self._size

    def dictionary(self):
        """The OpenCV dictionary the marker is drawn from, or None for the plain drawing."""
        return self._dictionary

    @staticmethod
    def _ToModel(fiducial, target=None):
        """A ``FiducialModel`` message describing ``fiducial``.

        Fills ``target`` in place when given (see ``Item._ToModel``).
        """
        message = _messages.project_pb2.FiducialModel() if target is None else target
        fiducial._toNodeModel(message.node)
        message.marker_id = fiducial._markerId
        message.size = fiducial._size
        if fiducial._dictionary is not None:
            message.dictionary = fiducial._dictionary
        return message

    @staticmethod
    def _FromModel(message):
        """A new ``Fiducial`` from a ``FiducialModel`` message."""
        pose = _messages.poseFromModel(message.node.pose)
        dictionary = message.dictionary or None
        fiducial = Fiducial(message.node.name, pose, message.marker_id, message.size, dictionary)
        fiducial._fillFromNodeModel(message.node)
        return fiducial

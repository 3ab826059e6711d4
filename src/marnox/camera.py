"""Cameras: workspace nodes with pinhole intrinsics."""

from __future__ import annotations

import math
from typing import NamedTuple

from marnox import _checks, _messages
from marnox.item import Item


class _IntrinsicsFields(NamedTuple):
    width: int
    height: int
    fx: float
    fy: float
    cx: float
    cy: float


class Intrinsics(_IntrinsicsFields):
    """Pinhole intrinsics in pixels: image size, focal lengths and principal point.

    ``width`` and ``height`` are integers from 0 to 2**32 - 1 and the others
    finite numbers; anything else raises TypeError or ValueError naming the field.
    """

    __slots__ = ()

    def __new__(cls, width, height, fx, fy, cx, cy):
        """Check and convert the fields; see the class docstring."""
        return super().__new__(
            cls,
            _checks.uint32(width, "width"),
            _checks.uint32(height, "height"),
            _checks.finite(fx, "fx"),
            _checks.finite(fy, "fy"),
            _checks.finite(cx, "cx"),
            _checks.finite(cy, "cy"),
        )

    @classmethod
    def _make(cls, iterable):
        # _replace and copies come through here; they get the same checks.
        return cls(*iterable)

    @classmethod
    def fromFieldOfView(cls, width, height, fov=60.0):
        """Square-pixel intrinsics from a vertical field of view in degrees."""
        if width <= 0 or height <= 0 or not 0.0 < fov < 180.0:
            raise ValueError("need a positive image size and 0 < fov < 180 degrees")
        f = 0.5 * height / math.tan(math.radians(fov) / 2.0)
        return cls(int(width), int(height), f, f, width / 2.0, height / 2.0)

    def fieldOfView(self):
        """Vertical field of view in degrees."""
        return math.degrees(2.0 * math.atan2(0.5 * self.height, self.fy))


def _intrinsics(values):
    return values if isinstance(values, Intrinsics) else Intrinsics(*values)


class Camera(Item):
    """A camera node. Its frame is the optical frame: +z looks into the scene,
    +x is the image's right and +y its down (see ``Pose.lookAt``).
    Intrinsics default to 640x480 pixels with a 60 degree vertical field of view;
    any six values are taken as ``Intrinsics`` fields and checked.
    """

    KIND = "camera"

    def __init__(self, name, pose=None, intrinsics=None, shapes=(), children=()):
        """Create a camera; see the class docstring."""
        super().__init__(name, pose, shapes, children)
        self._intrinsics = (
            Intrinsics.fromFieldOfView(640, 480) if intrinsics is None else _intrinsics(intrinsics)
        )

    def intrinsics(self):
        """The camera's ``Intrinsics``."""
        return self._intrinsics

    def setIntrinsics(self, intrinsics):
        """Replace the camera's ``Intrinsics`` (any six values, checked as ``Intrinsics``)."""
        self._intrinsics = _intrinsics(intrinsics)

    @staticmethod
    def _ToModel(camera, target=None):
        """A ``CameraModel`` message describing ``camera``.

        Fills ``target`` in place when given (see ``Item._ToModel``).
        """
        message = _messages.project_pb2.CameraModel() if target is None else target
        camera._toNodeModel(message.node)
        i, m = camera._intrinsics, message.intrinsics
        m.width, m.height, m.fx, m.fy, m.cx, m.cy = i
        return message

    @staticmethod
    def _FromModel(message):
        """A new ``Camera`` from a ``CameraModel`` message."""
        i = message.intrinsics
        intrinsics = None
        if message.HasField("intrinsics"):
            intrinsics = Intrinsics(i.width, i.height, i.fx, i.fy, i.cx, i.cy)
        camera = Camera(message.node.name, _messages.poseFromModel(message.node.pose), intrinsics)
        camera._fillFromNodeModel(message.node)
        return camera

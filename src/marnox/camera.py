"""Cameras: workspace nodes with pinhole intrinsics."""

from __future__ import annotations

import math
from typing import NamedTuple

import numpy as np

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


_NO_DISTORTION = (0.0, 0.0, 0.0, 0.0, 0.0)


def _distortion(coefficients):
    """OpenCV's ``(k1, k2, p1, p2[, k3])`` as five floats."""
    if isinstance(coefficients, (str, bytes)):
        raise TypeError("distortion must be a sequence of four or five numbers, got str")
    values = tuple(coefficients)
    if len(values) not in (4, 5):
        raise ValueError(f"distortion must have four or five coefficients, got {len(values)}")
    padded = values + (0.0,) * (5 - len(values))
    return tuple(_checks.finite(value, "distortion") for value in padded)


class CameraFrame(NamedTuple):
    """What a camera sees, as ``marnox.viewer.CameraRenderer.render`` draws it.

    ``color`` is a (height, width, 3) uint8 RGB image, row 0 at the top;
    ``depth`` (height, width) float32 metres along the camera's +z, NaN where
    nothing is; ``labels`` (height, width) int32 indices into the renderer's
    ``labelNames()``, -1 where nothing is, or None; ``intrinsics`` and ``pose``
    (world) are the camera's when drawn.
    """

    name: str
    color: object
    depth: object
    labels: object
    intrinsics: Intrinsics
    pose: object


def depthImage(depth):
    """A depth image for showing: uint8 (height, width, 1), near bright, far dark, nothing black.

    The nearest and farthest depths of the image span the grey levels 255 to 40.
    """
    depth = np.asarray(depth, dtype=np.float32)
    image = np.zeros(depth.shape + (1,), dtype=np.uint8)
    seen = np.isfinite(depth)
    if seen.any():
        near, far = float(depth[seen].min()), float(depth[seen].max())
        span = max(far - near, 1e-9)
        image[seen, 0] = np.rint(255.0 - 215.0 * (depth[seen] - near) / span).astype(np.uint8)
    return image


def imagesFromFrames(frames):
    """The image grid's images for ``frames``: each camera's colour, then its depth image.

    ``system.setImages(imagesFromFrames(renderer.render()))`` shows what the
    cameras see in an ``ImageViewer``.
    """
    images = []
    for frame in frames:
        images.extend([frame.color, depthImage(frame.depth)])
    return images


class Camera(Item):
    """A camera node. Its frame is the optical frame: +z looks into the scene,
    +x is the image's right and +y its down (see ``Pose.lookAt``).
    Intrinsics default to 640x480 pixels with a 60 degree vertical field of view;
    any six values are taken as ``Intrinsics`` fields and checked. Lens distortion
    (``setDistortion``) is none until set.
    """

    KIND = "camera"

    def __init__(self, name, pose=None, intrinsics=None, shapes=(), children=()):
        """Create a camera; see the class docstring."""
        super().__init__(name, pose, shapes, children)
        self._intrinsics = (
            Intrinsics.fromFieldOfView(640, 480) if intrinsics is None else _intrinsics(intrinsics)
        )
        self._distortion = _NO_DISTORTION

    def intrinsics(self):
        """The camera's ``Intrinsics``."""
        return self._intrinsics

    def setIntrinsics(self, intrinsics):
        """Replace the camera's ``Intrinsics`` (any six values, checked as ``Intrinsics``)."""
        self._intrinsics = _intrinsics(intrinsics)

    def distortion(self):
        """OpenCV's distortion coefficients ``(k1, k2, p1, p2, k3)``; all zero for none."""
        return self._distortion

    def setDistortion(self, coefficients):
        """Set OpenCV's ``(k1, k2, p1, p2[, k3])``: four or five finite numbers.

        Four leave ``k3`` at zero. Raises TypeError for anything but a sequence
        of numbers and ValueError for another count or a value that is not finite.
        """
        self._distortion = _distortion(coefficients)

    @staticmethod
    def _ToModel(camera, target=None):
        """A ``CameraModel`` message describing ``camera``.

        Fills ``target`` in place when given (see ``Item._ToModel``).
        """
        message = _messages.project_pb2.CameraModel() if target is None else target
        camera._toNodeModel(message.node)
        i, m = camera._intrinsics, message.intrinsics
        m.width, m.height, m.fx, m.fy, m.cx, m.cy = i
        del message.distortion[:]
        if camera._distortion != _NO_DISTORTION:
            message.distortion.extend(camera._distortion)
        return message

    @staticmethod
    def _FromModel(message):
        """A new ``Camera`` from a ``CameraModel`` message."""
        i = message.intrinsics
        intrinsics = None
        if message.HasField("intrinsics"):
            intrinsics = Intrinsics(i.width, i.height, i.fx, i.fy, i.cx, i.cy)
        camera = Camera(message.node.name, _messages.poseFromModel(message.node.pose), intrinsics)
        if message.distortion:
            camera.setDistortion(message.distortion)
        camera._fillFromNodeModel(message.node)
        return camera

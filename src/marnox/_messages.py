"""Conversions between model objects and the orvane.api protobuf messages."""

from __future__ import annotations

import struct

from marnox.pose import Pose
from marnox.visual import VisualBox, VisualCylinder, VisualSphere
from orvane.api import project_pb2

# Levels of a node tree (a top-level node and the items below it) or of a
# robot's link tree that a project file holds. Project.load parses messages
# nested 128 deep: such a tree, the messages around it and those below a node.
MAX_TREE_DEPTH = 100

_IDENTITY = Pose()
_POSE_VALUES = struct.Struct("7d")
_IDENTITY_VALUES = (0.0, 0.0, 0.0, 1.0, 0.0, 0.0, 0.0)
_IDENTITY_BITS = _POSE_VALUES.pack(*_IDENTITY_VALUES)


def checkTreeDepth(depth, kind, name):
    """Refuse to store a node or link ``depth`` levels down, naming it, past ``MAX_TREE_DEPTH``."""
    if depth > MAX_TREE_DEPTH:
        raise ValueError(
            f"{kind} {name!r} is {depth} levels deep; a project file holds {MAX_TREE_DEPTH}"
        )


def poseToModel(pose, message):
    """Fill a ``PoseModel`` message from ``pose``."""
    p = message.position
    p.x, p.y, p.z = pose.position()
    o = message.orientation
    o.w, o.x, o.y, o.z = pose.orientation()


def poseFromModel(message):
    """A ``Pose`` from a ``PoseModel``; unset fields give the identity."""
    p, o = message.position, message.orientation
    values = (p.x, p.y, p.z, o.w, o.x, o.y, o.z)
    # Most shape offsets are the identity, and poses are immutable, so those
    # share one. Bit for bit, so that a -0.0 read comes back as -0.0.
    if values == _IDENTITY_VALUES and _POSE_VALUES.pack(*values) == _IDENTITY_BITS:
        return _IDENTITY
    return Pose(values[:3], values[3:])


def vectorFromModel(message):
    """A ``(x, y, z)`` tuple from a ``Vector3``."""
    return (message.x, message.y, message.z)


def shapeToModel(shape, message):
    """Fill a ``ShapeModel`` from a box, cylinder or sphere element."""
    poseToModel(shape.offset(), message.pose)
    color = message.color
    color.r, color.g, color.b = shape.color()
    color.opacity = shape.opacity()
    if isinstance(shape, VisualBox):
        size = message.box.size
        size.x, size.y, size.z = shape.size()
    elif isinstance(shape, VisualCylinder):
        message.cylinder.radius = shape.radius()
        message.cylinder.height = shape.height()
    elif isinstance(shape, VisualSphere):
        message.sphere.radius = shape.radius()
    else:
        raise TypeError(f"cannot store {type(shape).__name__} in a model")


def shapeFromModel(message):
    """A new box, cylinder or sphere element from a ``ShapeModel``."""
    geometry = message.WhichOneof("geometry")
    if geometry is None:
        raise ValueError("shape has no geometry")
    c = message.color
    color = (c.r, c.g, c.b)
    opacity = c.opacity if c.HasField("opacity") else 1.0
    offset = poseFromModel(message.pose)
    if geometry == "box":
        return VisualBox(vectorFromModel(message.box.size), color, opacity, offset)
    if geometry == "cylinder":
        cylinder = message.cylinder
        return VisualCylinder(cylinder.radius, cylinder.height, color, opacity, offset)
    return VisualSphere(message.sphere.radius, color, opacity, offset)


__all__ = [
    "MAX_TREE_DEPTH",
    "checkTreeDepth",
    "poseToModel",
    "poseFromModel",
    "vectorFromModel",
    "shapeToModel",
    "shapeFromModel",
    "project_pb2",
]

"""Conversions between model objects and the orvane.api protobuf messages."""

from __future__ import annotations

from marnox.pose import Pose
from marnox.visual import VisualBox, VisualCylinder, VisualSphere
from orvane.api import project_pb2


def poseToModel(pose, message):
    """Fill a ``PoseModel`` message from ``pose``."""
    x, y, z = pose.position()
    message.position.x, message.position.y, message.position.z = x, y, z
    o = message.orientation
    o.w, o.x, o.y, o.z = pose.orientation()


def poseFromModel(message):
    """A ``Pose`` from a ``PoseModel``; unset fields give the identity."""
    p, o = message.position, message.orientation
    return Pose((p.x, p.y, p.z), (o.w, o.x, o.y, o.z))


def vectorFromModel(message):
    """A ``(x, y, z)`` tuple from a ``Vector3``."""
    return (message.x, message.y, message.z)


def shapeToModel(shape, message):
    """Fill a ``ShapeModel`` from a box, cylinder or sphere element."""
    poseToModel(shape.offset(), message.pose)
    message.color.r, message.color.g, message.color.b = shape.color()
    message.color.opacity = shape.opacity()
    if isinstance(shape, VisualBox):
        message.box.size.x, message.box.size.y, message.box.size.z = shape.size()
    elif isinstance(shape, VisualCylinder):
        message.cylinder.radius = shape.radius()
        message.cylinder.height = shape.height()
    elif isinstance(shape, VisualSphere):
        message.sphere.radius = shape.radius()
    else:
        raise TypeError(f"cannot store {type(shape).__name__} in a model")


def shapeFromModel(message):
    """A new box, cylinder or sphere element from a ``ShapeModel``."""
    c = message.color
    style = dict(
        color=(c.r, c.g, c.b),
        opacity=c.opacity if c.HasField("opacity") else 1.0,
        offset=poseFromModel(message.pose),
    )
    geometry = message.WhichOneof("geometry")
    if geometry == "box":
        return VisualBox(vectorFromModel(message.box.size), **style)
    if geometry == "cylinder":
        return VisualCylinder(message.cylinder.radius, message.cylinder.height, **style)
    if geometry == "sphere":
        return VisualSphere(message.sphere.radius, **style)
    raise ValueError("shape has no geometry")


__all__ = [
    "poseToModel",
    "poseFromModel",
    "vectorFromModel",
    "shapeToModel",
    "shapeFromModel",
    "project_pb2",
]

"""Conversions between model objects and the orvane.api protobuf messages."""

from __future__ import annotations

import contextvars
import errno
import os
import struct

from marnox.pose import _IDENTITY, Pose
from marnox.visual import VisualBox, VisualCylinder, VisualMesh, VisualSphere
from orvane.api import project_pb2

# Levels of a node tree (a top-level node and the items below it) or of a
# robot's link tree that a project file holds. Project.load parses messages
# nested 128 deep: such a tree, the messages around it and those below a node.
MAX_TREE_DEPTH = 100

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


# The project file being saved or loaded, set by Project.save and
# Project.load around their model calls: mesh paths are stored relative to
# its folder.
_projectFile = contextvars.ContextVar("marnox_project_file", default=None)


def _enterProjectFile(file):
    """Make ``file`` the project file that mesh paths refer to; returns a token."""
    return _projectFile.set(os.path.abspath(file))


def _leaveProjectFile(token):
    """Undo the ``_enterProjectFile`` call that returned ``token``."""
    _projectFile.reset(token)


def meshPathToModel(path):
    """``path`` as a project file stores it: relative to the file's folder when below it."""
    absolute = os.path.abspath(path)
    file = _projectFile.get()
    if file is not None:
        folder = os.path.dirname(file)
        if os.path.commonpath([folder, absolute]) == folder:
            return os.path.relpath(absolute, folder).replace(os.sep, "/")
    return absolute


def meshPathFromModel(path):
    """The file a stored mesh path names: relative ones lie below the project file's folder."""
    file = _projectFile.get()
    if file is None or os.path.isabs(path):
        return path
    return os.path.join(os.path.dirname(file), path)


def vectorFromModel(message):
    """A ``(x, y, z)`` tuple from a ``Vector3``."""
    return (message.x, message.y, message.z)


def shapeToModel(shape, message):
    """Fill a ``ShapeModel`` from a box, cylinder, sphere or mesh element."""
    poseToModel(shape.offset(), message.pose)
    color = message.color
    if shape.color() is not None:
        color.r, color.g, color.b = shape.color()
    color.opacity = shape.opacity()
    if isinstance(shape, VisualMesh):
        mesh = message.mesh
        mesh.path = meshPathToModel(shape.absolutePath())
        scale = mesh.scale
        scale.x, scale.y, scale.z = shape.scale()
        mesh.file_colors = shape.color() is None
    elif isinstance(shape, VisualBox):
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
    """A new box, cylinder, sphere or mesh element from a ``ShapeModel``."""
    geometry = message.WhichOneof("geometry")
    if geometry is None:
        raise ValueError("shape has no geometry")
    c = message.color
    color = (c.r, c.g, c.b)
    opacity = c.opacity if c.HasField("opacity") else 1.0
    offset = poseFromModel(message.pose)
    if geometry == "box":
        return VisualBox(vectorFromModel(message.box.size), color, opacity, offset)
    if geometry == "mesh":
        return _meshFromModel(
            message.mesh, None if message.mesh.file_colors else color, opacity, offset
        )
    if geometry == "cylinder":
        cylinder = message.cylinder
        return VisualCylinder(cylinder.radius, cylinder.height, color, opacity, offset)
    return VisualSphere(message.sphere.radius, color, opacity, offset)


def _meshFromModel(mesh, color, opacity, offset):
    scale = vectorFromModel(mesh.scale) if mesh.HasField("scale") else (1.0, 1.0, 1.0)
    path = meshPathFromModel(mesh.path)
    file = _projectFile.get()
    try:
        return VisualMesh(path, scale, color, opacity, offset)
    except FileNotFoundError:
        if file is None:
            raise
        raise FileNotFoundError(
            errno.ENOENT, f"mesh file not found (named in project file {file})", path
        ) from None
    except ValueError as error:
        if file is None:
            raise
        raise ValueError(f"{error} (named in project file {file})") from error


__all__ = [
    "MAX_TREE_DEPTH",
    "checkTreeDepth",
    "poseToModel",
    "poseFromModel",
    "vectorFromModel",
    "shapeToModel",
    "shapeFromModel",
    "meshPathToModel",
    "meshPathFromModel",
    "project_pb2",
]

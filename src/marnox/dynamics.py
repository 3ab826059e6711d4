"""Kinematic link trees: links joined by fixed or revolute joints."""

from __future__ import annotations

import numpy as np

from marnox import _checks
from marnox.pose import Pose
from marnox.visual import VisualShape


class Link:
    """One rigid link and the joint that attaches it to its parent link.

    The link frame sits at ``origin`` (relative to the parent link's frame)
    rotated by ``position`` radians about ``axis``. ``axis=None`` (or a zero
    axis) makes a fixed joint whose position is ignored. A non-finite axis or
    position raises ValueError. Shapes are ``VisualShape`` elements whose
    offsets are relative to the link frame.
    """

    def __init__(self, name, origin=None, axis=None, position=0.0, shapes=(), children=()):
        """Create a link; see the class docstring."""
        if not name:
            raise ValueError("a link needs a name")
        self._name = str(name)
        self._origin = Pose() if origin is None else _checks.instance(origin, Pose, "origin")
        self._axis = None
        axis = None if axis is None else _checks.finiteVector(axis, "axis")
        if axis is not None and np.linalg.norm(axis) > 0.0:
            a = np.asarray(axis, dtype=float)
            self._axis = tuple(float(v) for v in a / np.linalg.norm(a))
        self._position = _checks.finite(position, "position")
        self._shapes = []
        self._children = []
        self._worldPose = Pose()
        for shape in shapes:
            self.addShape(shape)
        for child in children:
            self.addChild(child)

    def name(self):
        """The link's name."""
        return self._name

    def origin(self):
        """Joint frame relative to the parent link at zero joint position."""
        return self._origin

    def setOrigin(self, pose):
        """Move the joint frame relative to the parent link."""
        self._origin = _checks.instance(pose, Pose, "origin")

    def axis(self):
        """Unit revolute axis ``(x, y, z)`` in the link frame, or None for a fixed joint."""
        return self._axis

    def isFixed(self):
        """True when the joint cannot move."""
        return self._axis is None

    def position(self):
        """Joint angle in radians."""
        return self._position

    def setPosition(self, position):
        """Set the joint angle in radians; call ``_Chain`` to move the visuals."""
        self._position = _checks.finite(position, "position")

    def jointPose(self):
        """Rotation contributed by the joint at its current position."""
        if self._axis is None:
            return Pose()
        return Pose.fromAxisAngle(self._axis, self._position)

    def worldPose(self):
        """Link frame in world coordinates as of the last chain update."""
        return self._worldPose

    def shapes(self):
        """Shapes attached to this link, in order."""
        return tuple(self._shapes)

    def addShape(self, shape):
        """Attach a ``VisualShape``; returns it."""
        if not isinstance(shape, VisualShape):
            raise TypeError("links carry VisualShape elements")
        self._shapes.append(shape)
        shape.setPose(self._worldPose)
        return shape

    def children(self):
        """Links attached to this one, in order."""
        return tuple(self._children)

    def addChild(self, link):
        """Attach ``link`` below this one; returns it."""
        if link is self or link in _Chain.links(link=self) or self in _Chain.links(link=link):
            raise ValueError(f"link {link.name()!r} is already in this tree")
        self._children.append(link)
        return link

    def removeChild(self, link):
        """Detach a direct child link."""
        self._children.remove(link)

    def clearChildren(self):
        """Detach all child links."""
        self._children = []


class _Chain:
    """Forward kinematics over a link tree."""

    @staticmethod
    def links(link):
        """``link`` and every link below it, depth first."""
        stack = [link]
        while stack:
            current = stack.pop()
            yield current
            stack.extend(reversed(current.children()))

    @staticmethod
    def _updateVisualElementsRecursive(link, base_pose):
        """Place ``link`` below a parent frame at ``base_pose``, then its descendants.

        Each link's world pose is ``base_pose * origin * joint rotation``; its
        shapes are moved (same actors) and the children follow.
        """
        pose = base_pose * link.origin() * link.jointPose()
        link._worldPose = pose
        for shape in link.shapes():
            shape.setPose(pose)
        for child in link.children():
            _Chain._updateVisualElementsRecursive(link=child, base_pose=pose)

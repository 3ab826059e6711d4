"""Kinematic link trees: links joined by fixed, revolute, continuous or prismatic joints."""

from __future__ import annotations

import numpy as np

from marnox import _checks
from marnox.pose import _IDENTITY, Pose
from marnox.visual import VisualShape

JOINT_TYPES = ("fixed", "revolute", "continuous", "prismatic")


class Link:
    """One rigid link and the joint that attaches it to its parent link.

    The link frame sits at ``origin`` (relative to the parent link's frame)
    moved by the joint: rotated by ``position`` radians about ``axis`` for a
    "revolute" or "continuous" joint, translated by ``position`` metres along
    it for a "prismatic" one. ``axis=None`` (or a zero axis) makes a fixed
    joint whose position is ignored. ``jointType=None`` means "revolute" when
    there is an axis and "fixed" otherwise. A non-finite axis, position or
    limit raises ValueError. Shapes are ``VisualShape`` elements whose
    offsets are relative to the link frame.

    ``jointName`` defaults to the link's name. ``limits`` is ``(lower,
    upper)`` or None, kept as data: positions outside it are shown as given.
    ``mimic`` is ``(jointName, multiplier, offset)`` or None: the joint then
    follows the named joint of its robot at ``multiplier * position + offset``
    (and moves on its own if the robot has no joint of that name); a robot
    refuses mimic joints that follow one another in a cycle.

    Example::

        slide = Link("carriage", axis=(1, 0, 0), jointType="prismatic", limits=(0.0, 0.5))
    """

    def __init__(
        self,
        name,
        origin=None,
        axis=None,
        position=0.0,
        shapes=(),
        children=(),
        jointType=None,
        jointName=None,
        limits=None,
        mimic=None,
    ):
        """Create a link; see the class docstring."""
        if not name:
            raise ValueError("a link needs a name")
        self._name = str(name)
        self._origin = _IDENTITY if origin is None else _checks.instance(origin, Pose, "origin")
        self._axis = None
        axis = None if axis is None else _checks.finiteVector(axis, "axis")
        if axis is not None and np.linalg.norm(axis) > 0.0:
            a = np.asarray(axis, dtype=float)
            self._axis = tuple(float(v) for v in a / np.linalg.norm(a))
        if jointType is None:
            jointType = "fixed" if self._axis is None else "revolute"
        if jointType not in JOINT_TYPES:
            raise ValueError(f"link {self._name!r}: unknown joint type {jointType!r}")
        if jointType != "fixed" and self._axis is None:
            raise ValueError(f"link {self._name!r}: a {jointType} joint needs a non-zero axis")
        if jointType == "fixed":
            self._axis = None
        self._jointType = jointType
        self._jointName = self._name if not jointName else str(jointName)
        self._limits = None
        if limits is not None:
            if len(limits) != 2:
                raise ValueError(f"link {self._name!r}: limits are (lower, upper)")
            self._limits = tuple(_checks.finite(v, "limits") for v in limits)
        self._mimic = None
        if mimic is not None:
            followed, multiplier, offset = mimic
            self._mimic = (
                str(followed),
                _checks.finite(multiplier, "mimic multiplier"),
                _checks.finite(offset, "mimic offset"),
            )
        self._position = _checks.finite(position, "position")
        self._shapes = []
        self._children = []
        self._worldPose = _IDENTITY
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
        """Unit joint axis ``(x, y, z)`` in the link frame, or None for a fixed joint."""
        return self._axis

    def isFixed(self):
        """True when the joint cannot move."""
        return self._axis is None

    def jointType(self):
        """ "fixed", "revolute", "continuous" or "prismatic"."""
        return self._jointType

    def jointName(self):
        """The joint's name; the link's name unless one was given."""
        return self._jointName

    def limits(self):
        """``(lower, upper)`` joint limits, or None; not enforced."""
        return self._limits

    def mimic(self):
        """``(jointName, multiplier, offset)`` of the joint this one follows, or None."""
        return self._mimic

    def position(self):
        """Joint position: radians for a turning joint, metres for a prismatic one."""
        return self._position

    def setPosition(self, position):
        """Set the joint position; call ``_Chain`` to move the visuals."""
        self._position = _checks.finite(position, "position")

    def jointPose(self):
        """Rotation or translation contributed by the joint at its current position."""
        if self._axis is None:
            return _IDENTITY
        if self._jointType == "prismatic":
            return Pose(tuple(v * self._position for v in self._axis))
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
        # A stack rather than recursion, so that a chain of any length can be placed.
        pending = [(link, base_pose)]
        while pending:
            current, parentPose = pending.pop()
            pose = parentPose * current.origin() * current.jointPose()
            current._worldPose = pose
            for shape in current.shapes():
                shape.setPose(pose)
            pending.extend((child, pose) for child in reversed(current.children()))

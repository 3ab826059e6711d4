"""Robots: workspace nodes that carry a kinematic link tree."""

from __future__ import annotations

import os

from marnox import _checks, _messages
from marnox.dynamics import JOINT_TYPES, Link, _Chain
from marnox.item import Item
from marnox.pose import Pose
from marnox.visual import VisualGroup

# The message's enum spells each joint type as JOINT_TYPE_<NAME>.
_JOINT_TYPES_FROM_MODEL = {_messages.project_pb2.JOINT_TYPE_UNSPECIFIED: None} | {
    _messages.project_pb2.JointType.Value("JOINT_TYPE_" + name.upper()): name
    for name in JOINT_TYPES
}
_JOINT_TYPES_TO_MODEL = {
    name: value for value, name in _JOINT_TYPES_FROM_MODEL.items() if name is not None
}


def _jointTypeFromModel(message):
    if message.joint_type not in _JOINT_TYPES_FROM_MODEL:
        raise ValueError(f"link {message.name!r}: unknown joint type {message.joint_type}")
    return _JOINT_TYPES_FROM_MODEL[message.joint_type]


def _linkToModel(root, target):
    # A stack rather than recursion, in the order recursion would take.
    pending = [(root, target, 1)]
    while pending:
        link, message, depth = pending.pop()
        _messages.checkTreeDepth(depth, "link", link.name())
        message.name = link.name()
        _messages.poseToModel(link.origin(), message.origin)
        if link.axis() is not None:
            axis = message.axis
            axis.x, axis.y, axis.z = link.axis()
        message.joint_position = link.position()
        # Revolute and fixed joints are told by their axis alone, as in older files.
        if link.jointType() in ("continuous", "prismatic"):
            message.joint_type = _JOINT_TYPES_TO_MODEL[link.jointType()]
        if link.jointName() != link.name():
            message.joint_name = link.jointName()
        if link.limits() is not None:
            message.limits.lower, message.limits.upper = link.limits()
        if link.mimic() is not None:
            mimic = message.mimic
            mimic.joint, mimic.multiplier, mimic.offset = link.mimic()
        for shape in link.shapes():
            _messages.shapeToModel(shape, message.shapes.add())
        children = [(child, message.children.add(), depth + 1) for child in link.children()]
        pending.extend(reversed(children))


def _oneLinkFromModel(message):
    mimic = None
    if message.HasField("mimic"):
        mimic = (message.mimic.joint, message.mimic.multiplier, message.mimic.offset)
    return Link(
        message.name,
        origin=_messages.poseFromModel(message.origin),
        axis=_messages.vectorFromModel(message.axis),
        position=message.joint_position,
        shapes=[_messages.shapeFromModel(shape) for shape in message.shapes],
        jointType=_jointTypeFromModel(message),
        jointName=message.joint_name or None,
        limits=(message.limits.lower, message.limits.upper) if message.HasField("limits") else None,
        mimic=mimic,
    )


def _linkFromModel(rootMessage):
    # A stack rather than recursion; a link's children are attached before
    # theirs, so that attaching never walks a grown subtree.
    root = _oneLinkFromModel(rootMessage)
    pending = [(root, rootMessage)]
    while pending:
        link, message = pending.pop()
        for child in message.children:
            pending.append((link.addChild(_oneLinkFromModel(child)), child))
    return root


def _mimicOrder(robotName, links):
    """``(link, leader)`` of the mimic links, leaders first (None for a leader the robot
    lacks); ValueError naming the joints of a cycle."""
    byJoint = {link.jointName(): link for link in links}
    ordered, placed = [], set()
    for start in links:
        # Follow the leaders up to one that is placed or follows nobody, then
        # place the links met on the way, leader first.
        path, onPath = [], {}
        link = start
        while link is not None and link.mimic() is not None and link not in placed:
            if link in onPath:
                cycle = [each.jointName() for each in path[onPath[link] :]]
                if len(cycle) == 1:
                    raise ValueError(f"robot {robotName!r}: joint {cycle[0]!r} mimics itself")
                names = " -> ".join(repr(name) for name in [*cycle, cycle[0]])
                raise ValueError(f"robot {robotName!r}: joints {names} mimic each other in a cycle")
            onPath[link] = len(path)
            path.append(link)
            link = byJoint.get(link.mimic()[0])
        ordered.extend(reversed(path))
        placed.update(path)
    return [(link, byJoint.get(link.mimic()[0])) for link in ordered]


class Robot(Item):
    """A robot: a top-level node whose ``base_link`` tree hangs from its frame.

    Internally the robot owns a fixed mount link, named after the robot and
    placed at the robot's pose, with the base link as its only child; the
    workspace hangs that mount below its origin link.
    """

    KIND = "robot"

    def __init__(self, name, pose=None, base_link=None, shapes=(), children=()):
        """Create a robot; ``base_link`` defaults to an empty fixed link."""
        super().__init__(name, pose, shapes, children)
        self._baseLink = Link(self._name + "_base") if base_link is None else base_link
        self._mount = Link(self._name, origin=self._pose, children=[self._baseLink])
        self.updateLinks()

    @classmethod
    def fromURDF(cls, path, name=None, pose=None, packageDirs=()):
        """A robot built from the URDF file ``path``.

        The link tree takes every joint's origin, axis, type, limits and mimic,
        and each link's visual boxes, cylinders, spheres and meshes (with their
        scale) at their origins, coloured by inline or robot-level named
        materials; meshes without a material keep the file's colours.
        Collision geometry, inertia and transmissions are ignored. Planar and
        floating joints are shown as fixed.

        Mesh filenames may be relative to the URDF, absolute, ``file://`` or
        ``package://PKG/...``; the last is looked up in ``packageDirs``
        (folders holding PKG, or PKG itself), then ``ROS_PACKAGE_PATH``, then
        the URDF's folder and the folders above it.

        ``name`` defaults to the URDF's robot name. Raises ValueError for a
        malformed URDF, a missing root link, a joint naming a missing link or
        a cycle, and FileNotFoundError for a missing file or mesh, each naming
        the file and the element. ValueError also refuses a path that is not a
        regular file (a FIFO, say), a number that is not finite in single
        precision, and mimic joints that follow one another in a cycle.

        Example::

            arm = Robot.fromURDF("ur5.urdf", pose=Pose((0, 0, 0.8)), packageDirs=["~/ws/src"])
        """
        from marnox.urdf import linkTreeFromUrdf

        robotName, root = linkTreeFromUrdf(path, packageDirs)
        try:
            return cls(name or robotName, pose, base_link=root)
        except ValueError as error:
            raise ValueError(f"{os.fspath(path)}: {error}") from error

    def baseLink(self):
        """Root of the robot's own link tree (relative to the robot frame)."""
        return self._baseLink

    def links(self):
        """All links of the robot, base first, depth first."""
        return tuple(_Chain.links(link=self._baseLink))

    def link(self, name):
        """The link called ``name``; raises KeyError if there is none."""
        for link in _Chain.links(link=self._baseLink):
            if link.name() == name:
                return link
        raise KeyError(name)

    def joint(self, name):
        """The link whose joint is called ``name`` (or, failing that, the link called
        ``name``); raises KeyError if there is none."""
        links = self.links()
        for link in links:
            if link.jointName() == name:
                return link
        for link in links:
            if link.name() == name:
                return link
        raise KeyError(name)

    def jointPositions(self):
        """Positions of the joints that move on their own (not fixed, not following
        another), keyed by joint name, in tree order."""
        followers = self._followers()
        return {
            link.jointName(): link.position()
            for link in self.links()
            if not link.isFixed() and link not in followers
        }

    def _followers(self):
        # A mimic joint whose leader the robot lacks (a misspelt name in a
        # URDF, say) moves on its own instead of never.
        names = {link.jointName() for link in self.links()}
        return {link for link in self.links() if link.mimic() and link.mimic()[0] in names}

    def setJointPositions(self, positions):
        """Set joints from a ``{joint or link name: position}`` mapping and move the visuals.

        Positions are radians for turning joints and metres for prismatic ones;
        a fixed joint keeps the value but does not move. Mimic joints follow
        their leaders; naming one raises ValueError, and an unknown name
        KeyError, both before anything moves. So does a position that is not
        finite (ValueError).
        """
        targets = []
        followers = self._followers()
        for name, value in positions.items():
            link = self.joint(name)
            if link in followers:
                raise ValueError(
                    f"joint {name!r} of robot {self._name!r} follows {link.mimic()[0]!r}"
                )
            targets.append((link, _checks.finite(value, "position")))
        for link, value in targets:
            link.setPosition(value)
        self.updateLinks()

    def _followMimics(self):
        # Leaders come first, so a mimic of a mimic sees its final position.
        for link, leader in _mimicOrder(self._name, self.links()):
            if leader is not None:
                _, multiplier, offset = link.mimic()
                link.setPosition(multiplier * leader.position() + offset)

    def updateLinks(self):
        """Recompute link poses from the robot pose and joint positions; moves their shapes.

        Mimic joints are set from the joints they follow first.
        """
        self._followMimics()
        _Chain._updateVisualElementsRecursive(link=self._mount, base_pose=Pose())

    def _getVisualGroup(self):
        """The robot's own shapes followed by every link's shapes, in world coordinates."""
        group = VisualGroup(super()._getVisualGroup().elements())
        for link in _Chain.links(link=self._baseLink):
            for shape in link.shapes():
                group.add(shape)
        return group

    def _mountLink(self):
        return self._mount

    def _place(self, world=None):
        super()._place(world)
        self._mount.setOrigin(self.worldPose())
        self.updateLinks()

    @staticmethod
    def _ToModel(robot, target=None):
        """A ``RobotModel`` message describing ``robot``.

        Fills ``target`` in place when given (see ``Item._ToModel``).
        """
        message = _messages.project_pb2.RobotModel() if target is None else target
        robot._toNodeModel(message.node)
        _linkToModel(robot._baseLink, message.base_link)
        return message

    @staticmethod
    def _FromModel(message):
        """A new ``Robot`` from a ``RobotModel`` message."""
        robot = Robot(
            message.node.name,
            _messages.poseFromModel(message.node.pose),
            base_link=_linkFromModel(message.base_link) if message.HasField("base_link") else None,
        )
        robot._fillFromNodeModel(message.node)
        return robot

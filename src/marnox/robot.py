"""Robots: workspace nodes that carry a kinematic link tree."""

from __future__ import annotations

from marnox import _messages
from marnox.dynamics import Link, _Chain
from marnox.item import Item
from marnox.pose import Pose
from marnox.visual import VisualGroup


def _linkToModel(link, message, depth=1):
    _messages.checkTreeDepth(depth, "link", link.name())
    message.name = link.name()
    _messages.poseToModel(link.origin(), message.origin)
    if link.axis() is not None:
        axis = message.axis
        axis.x, axis.y, axis.z = link.axis()
    message.joint_position = link.position()
    for shape in link.shapes():
        _messages.shapeToModel(shape, message.shapes.add())
    for child in link.children():
        _linkToModel(child, message.children.add(), depth + 1)


def _linkFromModel(message):
    return Link(
        message.name,
        origin=_messages.poseFromModel(message.origin),
        axis=_messages.vectorFromModel(message.axis),
        position=message.joint_position,
        shapes=[_messages.shapeFromModel(shape) for shape in message.shapes],
        children=[_linkFromModel(child) for child in message.children],
    )


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

    def jointPositions(self):
        """Positions of the movable joints, keyed by link name, in tree order."""
        return {link.name(): link.position() for link in self.links() if not link.isFixed()}

    def setJointPositions(self, positions):
        """Set joint angles from a ``{link name: radians}`` mapping and move the visuals."""
        for name, value in positions.items():
            self.link(name).setPosition(value)
        self.updateLinks()

    def updateLinks(self):
        """Recompute link poses from the robot pose and joint angles; moves their shapes."""
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

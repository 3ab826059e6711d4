"""The generic workspace node: a named frame with simple shapes and child items."""

from __future__ import annotations

from marnox import _checks, _messages
from marnox.pose import Pose
from marnox.visual import VisualGroup, VisualShape


class Item:
    """A named node of the workspace.

    Its ``pose`` is relative to the parent item (or the world for top-level
    nodes). Shapes are ``VisualShape`` elements whose offsets are relative to
    the item's frame; children are plain items carried along with it. The
    actors of an item's visual group are kept in world coordinates.
    """

    KIND = "item"

    def __init__(self, name, pose=None, shapes=(), children=()):
        """Create an item; see the class docstring."""
        if not name:
            raise ValueError("a workspace node needs a name")
        self._name = str(name)
        self._pose = Pose() if pose is None else _checks.instance(pose, Pose, "pose")
        self._parent = None
        self._shapes = []
        self._children = []
        self._placed = []
        for shape in shapes:
            self.addShape(shape)
        for child in children:
            self.addChild(child)

    def name(self):
        """The node's name."""
        return self._name

    def kind(self):
        """Node kind: "item", "robot", "camera", "fiducial" or "task_region"."""
        return self.KIND

    def pose(self):
        """Pose relative to the parent item, or the world at top level."""
        return self._pose

    def setPose(self, pose):
        """Move the node (and its children) to ``pose`` relative to its parent."""
        self._pose = _checks.instance(pose, Pose, "pose")
        self._place()

    def parent(self):
        """The item this one is attached to, or None."""
        return self._parent

    def worldPose(self):
        """The node's frame in world coordinates."""
        if self._parent is None:
            return self._pose
        return self._parent.worldPose() * self._pose

    def shapes(self):
        """The node's shapes, in order."""
        return tuple(self._shapes)

    def addShape(self, shape):
        """Attach a ``VisualShape`` (its offset relative to this node); returns it."""
        if not isinstance(shape, VisualShape):
            raise TypeError("items carry VisualShape elements")
        self._shapes.append(shape)
        return self._attach(shape)

    def children(self):
        """Child items, in order."""
        return tuple(self._children)

    def addChild(self, item):
        """Attach a plain ``Item`` below this one; returns it."""
        if not isinstance(item, Item) or item.kind() != Item.KIND:
            raise TypeError("only plain items can be children")
        if item._parent is not None:
            raise ValueError(f"item {item.name()!r} already has a parent")
        ancestor = self
        while ancestor is not None:
            if ancestor is item:
                raise ValueError(f"item {item.name()!r} cannot contain itself")
            ancestor = ancestor._parent
        if any(child.name() == item.name() for child in self._children):
            raise ValueError(f"duplicate child name {item.name()!r}")
        item._parent = self
        self._children.append(item)
        item._place()
        return item

    def _getChildren(self):
        """Child nodes, for viewers walking the tree."""
        return self.children()

    def _getVisualGroup(self):
        """This node's own elements (not its children's), placed in world coordinates."""
        return VisualGroup(self._placed)

    def _attach(self, element):
        # Elements attached here follow the node's frame.
        self._placed.append(element)
        element.setPose(self.worldPose())
        return element

    def _place(self, world=None):
        # Children get their world pose from here rather than walking up to the
        # root each, which made placing a deep tree cubic in its depth.
        if world is None:
            world = self.worldPose()
        for element in self._placed:
            element.setPose(world)
        for child in self._children:
            child._place(world * child._pose)

    def _describe(self, indent):
        x, y, z = self.worldPose().position()
        lines = [
            "{}{} {} at ({:.3f}, {:.3f}, {:.3f})".format(
                "  " * indent, self.kind(), self._name, x, y, z
            )
        ]
        for child in self._children:
            lines.extend(child._describe(indent + 1))
        return lines

    def _toNodeModel(self, message, depth=1):
        _messages.checkTreeDepth(depth, self.kind(), self._name)
        message.name = self._name
        _messages.poseToModel(self._pose, message.pose)
        add = message.shapes.add
        for shape in self._shapes:
            _messages.shapeToModel(shape, add())
        for child in self._children:
            child._toNodeModel(message.children.add(), depth + 1)

    def _fillFromNodeModel(self, message):
        for shape in message.shapes:
            self.addShape(_messages.shapeFromModel(shape))
        # Most nodes are leaves, and testing is cheaper than iterating.
        if message.children:
            for child in message.children:
                self.addChild(Item._FromModel(child))

    @staticmethod
    def _ToModel(item, target=None):
        """A ``NodeModel`` message describing ``item`` and its children.

        Fills ``target`` in place when given, e.g. a new element of a
        repeated field, which saves building a message only to copy it.
        """
        message = _messages.project_pb2.NodeModel() if target is None else target
        item._toNodeModel(message)
        return message

    @staticmethod
    def _FromModel(message):
        """A new ``Item`` tree from a ``NodeModel`` message."""
        item = Item(message.name, _messages.poseFromModel(message.pose))
        item._fillFromNodeModel(message)
        return item

"""Picks and edits that browsers send, applied on the web view's owner thread.

Everything here touches the model or VTK, so it runs inside ``WebView.update()`` only.
"""

from __future__ import annotations

import collections
import json
import logging
import math
import os

import numpy as np

from marnox.picking import nodeAt, pick
from marnox.pose import Pose
from marnox.visual import VisualCoordinate
from marnox.web.messages import MAX_POSITION

LOG = logging.getLogger("marnox.web")

DEGREES_PER_NOTCH = 5.0
# Picks kept for an owner that does not collect them; older ones are dropped.
MAX_PICKS = 1000
# Steps the undo history keeps; each is one node's pose or one robot's joints.
MAX_UNDO = 1000
# The selected node's frame, in metres: visible beside a box on the table.
FRAME_SCALE = 0.15
# A drag whose ray meets the plane at a grazing angle would throw the node to the horizon.
MIN_RAY_SLOPE = 1e-3


def euler(pose):
    """``(roll, pitch, yaw)``, radians, of ``pose``'s rotation, as ``Pose.fromEuler`` takes them."""
    r = pose.rotation()
    pitch = math.asin(max(-1.0, min(1.0, -r[2, 0])))
    if abs(r[2, 0]) < 1.0 - 1e-9:
        return math.atan2(r[2, 1], r[2, 2]), pitch, math.atan2(r[1, 0], r[0, 0])
    # Pitched straight up or down, roll and yaw turn about one axis: all of it goes to yaw.
    return 0.0, pitch, math.atan2(-r[0, 1], r[1, 1])


def _parent_pose(node):
    parent = node.parent()
    return Pose() if parent is None else parent.worldPose()


def _move_world(node, delta):
    """Move ``node`` by ``delta`` (world metres), keeping its orientation."""
    world = node.worldPose()
    position = np.add(world.position(), delta)
    if not np.all(np.abs(position) <= MAX_POSITION):
        return False
    node.setPose(_parent_pose(node).inverse() * Pose(position, world.orientation()))
    return True


def _turn_world(node, degrees):
    """Turn ``node`` about the vertical through its origin."""
    world = node.worldPose()
    turn = Pose.fromAxisAngle((0.0, 0.0, 1.0), math.radians(degrees))
    turned = Pose(world.position(), (turn * Pose(orientation=world.orientation())).orientation())
    node.setPose(_parent_pose(node).inverse() * turned)


def _joint_ranges(robot):
    """``[name, value, low, high]`` of each joint that moves on its own, in tree order."""
    ranges = []
    for name, value in robot.jointPositions().items():
        link = robot.joint(name)
        limits = link.limits()
        if limits is None:
            limits = (-math.pi, math.pi) if link.jointType() != "prismatic" else (-1.0, 1.0)
        ranges.append([name, value, *limits])
    return ranges


def _overlay(viewer, actor):
    """A renderer that draws ``actor`` over ``viewer``'s scene, seen by the same camera: a
    node's frame would be hidden inside the node."""
    from vtkmodules.vtkRenderingCore import vtkRenderer

    window = viewer._window
    window.SetNumberOfLayers(max(window.GetNumberOfLayers(), 2))
    renderer = vtkRenderer()
    renderer.SetLayer(1)
    renderer.InteractiveOff()
    renderer.SetActiveCamera(viewer._cam)
    renderer.AddActor(actor)
    return renderer


class Editor:
    """The owner-thread side of picking and editing in a web view.

    ``apply`` takes what :class:`~marnox.web.edits.PendingEdits` queued, in order: picks
    select a node and are kept for :meth:`WebView.picks`; edits (which the server lets
    through only from browsers holding the token of a view that edits) move nodes, turn
    joints, undo and save. ``notes()`` gives the texts to send browsers afterwards.
    """

    def __init__(self, project, viewer, path=None, editable=False):
        self._project = project
        self._viewer = viewer
        self._path = path
        self.editable = editable
        self._picks = collections.deque(maxlen=MAX_PICKS)
        self._selected = None
        self._label = None
        self._point = None
        self._undo = []
        self._notes = []
        # The selection text browsers were sent last; None after a pick, which is always told.
        self._shown = ""
        self._frame = None

    # Requests.

    def apply(self, requests):
        """Apply picks and edits in order; returns whether a node moved under the mouse."""
        moving = False
        for request in requests:
            kind = request[0]
            if kind == "pick":
                self._pick(*request[1:])
            elif not self.editable:
                continue
            elif kind == "undo":
                self._take_back()
            elif kind == "save":
                self._save()
            else:
                node = self._node(request[1])
                if node is not None and self._edit(node, request):
                    moving |= kind != "pose"
        return moving

    def picks(self):
        """The picks since the last call (the last :data:`MAX_PICKS`)."""
        picks = list(self._picks)
        self._picks.clear()
        return picks

    def _pick(self, fx, fy):
        width, height = self._viewer._window.GetSize()
        hit = pick(self._viewer, fx * width - 0.5, fy * height - 0.5)
        self._selected = None
        self._label = self._point = None
        if hit is not None:
            self._picks.append(hit)
            self._label, self._point = hit
            self._selected = nodeAt(self._project.workspace(), hit.path)
        # Sent even when unchanged: the page answers every click.
        self._shown = None

    def _node(self, path):
        return nodeAt(self._project.workspace(), path)

    def _edit(self, node, request):
        kind = request[0]
        if kind == "joint":
            return self._set_joint(node, *request[2:])
        if kind != "drag" or request[5]:
            self._remember(node, "pose")
        if kind == "pose":
            _, _, position, angles = request
            roll, pitch, yaw = (math.radians(angle) for angle in angles)
            node.setPose(Pose.fromEuler(roll, pitch, yaw, position))
            return True
        if kind == "turn":
            _turn_world(node, DEGREES_PER_NOTCH * request[2])
            return True
        _, _, start, end, vertical, _ = request
        delta = self._drag_delta(node, start, end, vertical)
        return delta is not None and _move_world(node, delta)

    def _set_joint(self, robot, joint, value, start):
        if robot.kind() != "robot" or joint not in robot.jointPositions():
            return False
        if start:
            self._remember(robot, "joints")
        limits = robot.joint(joint).limits()
        if limits is not None:
            value = min(max(value, limits[0]), limits[1])
        robot.setJointPositions({joint: value})
        return True

    def _remember(self, node, kind):
        before = node.pose() if kind == "pose" else node.jointPositions()
        self._undo.append((node, kind, before))
        del self._undo[:-MAX_UNDO]

    def _take_back(self):
        if not self._undo:
            return
        node, kind, before = self._undo.pop()
        if kind == "pose":
            node.setPose(before)
        else:
            node.setJointPositions(before)

    def _save(self):
        if self._path is None:
            self._note("saved", ok=False, text="this view was opened without a file to save to")
            return
        try:
            self._project.save(self._path)
        except Exception as error:  # noqa: BLE001 - the page shows it; the edits stay in memory
            LOG.warning("saving %s failed: %s", self._path, error)
            self._note("saved", ok=False, text=f"not saved: {error}")
            return
        self._note("saved", ok=True, text=f"saved {os.path.basename(self._path)}")

    # Drags.

    def _ray(self, fx, fy):
        """The world points where the view's ray through (fx, fy) meets the near and far planes."""
        renderer = self._viewer._ren
        width, height = self._viewer._window.GetSize()
        ends = []
        for depth in (0.0, 1.0):
            renderer.SetDisplayPoint(fx * width, (1.0 - fy) * height, depth)
            renderer.DisplayToWorld()
            x, y, z, w = renderer.GetWorldPoint()
            ends.append(np.array((x, y, z)) / w)
        return ends

    def _plane_hit(self, fx, fy, origin, normal):
        near, far = self._ray(fx, fy)
        direction = far - near
        slope = direction.dot(normal)
        if abs(slope) < MIN_RAY_SLOPE * np.linalg.norm(direction):
            return None
        return near + direction * ((origin - near).dot(normal) / slope)

    def _drag_delta(self, node, start, end, vertical):
        """World motion of the node for the mouse's move from ``start`` to ``end``."""
        origin = np.array(node.worldPose().position())
        if vertical:
            # The vertical plane through the origin that faces the camera best.
            sight = np.array(self._viewer._cam.GetDirectionOfProjection())
            normal = np.array((sight[0], sight[1], 0.0))
            if np.linalg.norm(normal) < 1e-6:
                return None
            normal /= np.linalg.norm(normal)
        else:
            normal = np.array((0.0, 0.0, 1.0))
        hits = [self._plane_hit(*point, origin, normal) for point in (start, end)]
        if hits[0] is None or hits[1] is None:
            return None
        delta = hits[1] - hits[0]
        return (0.0, 0.0, delta[2]) if vertical else (delta[0], delta[1], 0.0)

    # What browsers are told.

    def _note(self, kind, **fields):
        self._notes.append((kind, json.dumps({"type": kind, **fields})))

    def selection(self):
        """The selection as the page reads it."""
        message = {"type": "selection", "path": self._label, "point": self._point}
        node = self._selected
        if self.editable and node is not None:
            pose = node.pose()
            angles = [math.degrees(angle) for angle in euler(pose)]
            message["pose"] = [*pose.position(), *angles]
            message["joints"] = _joint_ranges(node) if node.kind() == "robot" else []
        return json.dumps(message)

    def notes(self):
        """``(kind, text)`` for every browser since the last call: the selection when it
        changed (picked, or its node moved by anyone), then save results."""
        notes, self._notes = self._notes, []
        if self._selected is not None or self._shown is None:
            text = self.selection()
            if text != self._shown:
                self._shown = text
                notes.insert(0, ("selection", text))
        return notes

    def place_frame(self):
        """Show the selected node's frame in the workspace view, where it is now."""
        if not self.editable:
            return
        node = self._selected
        if node is not None and self._node_gone(node):
            self._selected = None
            node = None
        if self._frame is None:
            if node is None:
                return
            self._frame = VisualCoordinate(FRAME_SCALE)
            self._viewer._window.AddRenderer(_overlay(self._viewer, self._frame._getActor()))
        actor = self._frame._getActor()
        actor.SetVisibility(node is not None)
        if node is not None:
            self._frame.setPose(node.worldPose())

    def _node_gone(self, node):
        root = node
        while root.parent() is not None:
            root = root.parent()
        return all(root is not other for other in self._project.workspace().nodes())

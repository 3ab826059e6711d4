"""A ready-made demo cell: a robot arm beside a table, cameras, markers and data."""

from __future__ import annotations

import math

import numpy as np

from marnox.behavior import Behavior
from marnox.camera import Camera, Intrinsics
from marnox.dynamics import Link
from marnox.fiducial import Fiducial
from marnox.item import Item
from marnox.pose import Pose
from marnox.robot import Robot
from marnox.task_region import TaskRegion
from marnox.visual import VisualBox, VisualCylinder

TABLE_CENTER = (0.35, 0.0)
TABLE_SIZE = (0.8, 1.2)
TABLE_HEIGHT = 0.5
PLACE_ZONE_CENTER = (0.6, -0.3)

_ORANGE = (1.0, 0.45, 0.05)
_GREY = (0.3, 0.32, 0.35)
_DARK = (0.15, 0.15, 0.17)
_WOOD = (0.72, 0.55, 0.35)

# Objects on the table, in table coordinates: name, kind, dimensions, colour, (x, y), yaw.
_OBJECTS = (
    ("red_box", "box", (0.12, 0.09, 0.08), (0.85, 0.12, 0.1), (-0.05, 0.22), 0.4),
    ("blue_cylinder", "cylinder", (0.045, 0.16), (0.1, 0.3, 0.9), (0.2, 0.35), 0.0),
    ("yellow_box", "box", (0.16, 0.1, 0.05), (0.95, 0.8, 0.1), (0.05, -0.05), -0.3),
    ("green_cylinder", "cylinder", (0.035, 0.1), (0.15, 0.75, 0.2), (-0.2, -0.3), 0.0),
)


# Where the robot stands: on top of the pedestal.
ROBOT_POSE = Pose((-0.45, 0.0, 0.4))

PICK_SECONDS = 4.0
PICK_RATE = 10
# The arm's joints at the steps of its pick: above the red box, down to it, lifted, over
# the place zone, down to release.
_PICK = (
    {"turret": 0.29, "shoulder": 0.77, "elbow": 1.02, "wrist_2": 1.35},
    {"turret": 0.2, "shoulder": 1.05, "elbow": 1.2, "wrist_2": 0.9},
    {"turret": 0.2, "shoulder": 0.75, "elbow": 1.0, "wrist_2": 1.4},
    {"turret": -0.35, "shoulder": 0.75, "elbow": 1.0, "wrist_2": 1.4},
    {"turret": -0.35, "shoulder": 0.95, "elbow": 1.15, "wrist_2": 1.0},
)
_GRASP_STEP = 1


def build_sample_cell(project, robot=None):
    """Fill ``project`` with the demo cell, its behaviors and synthetic sensor data.

    ``project`` needs ``workspace()``, ``system()`` and ``addBehavior(behavior)``.
    ``robot`` replaces the built-in arm; place it at ``ROBOT_POSE``.
    """
    workspace = project.workspace()
    workspace.addItem(_pedestal())
    workspace.addRobot(_robot() if robot is None else robot)
    workspace.addItem(_table())
    cameras = []
    for index, side in enumerate((-1.0, 1.0)):
        eye = (0.85, 0.85 * side, 1.3)
        workspace.addItem(_pole(f"camera_pole_{index + 1}", eye))
        cameras.append(workspace.addCamera(_camera(f"camera_{index + 1}", eye)))
    # Where both cameras see every marker whole, for OpenCV to find.
    for marker_id, (x, y) in enumerate(((0.25, -0.52), (0.45, -0.52), (0.05, 0.45))):
        workspace.addFiducial(_fiducial(marker_id, Pose((x, y, TABLE_HEIGHT + 0.004))))
    zone = Pose((PLACE_ZONE_CENTER[0], PLACE_ZONE_CENTER[1], TABLE_HEIGHT + 0.01))
    workspace.addTaskRegion(TaskRegion("place_zone", zone, (0.28, 0.28, 0.02)))

    project.addBehavior(
        Behavior("pick", [("move", "red_box"), ("grasp", "red_box"), ("lift", "red_box")])
    )
    project.addBehavior(
        Behavior("place", [("move", "place_zone"), ("release", "red_box"), ("retreat", "")])
    )

    system = project.system()
    system.setPointcloud(_pointcloud(np.random.default_rng(7)))
    system.setTrajectory(_trajectory())
    images = []
    for index in range(len(cameras)):
        images.extend([_colorImage(index), _depthImage(index)])
    system.setImages(images)


def _pedestal():
    return Item(
        "pedestal",
        Pose((-0.45, 0.0, 0.0)),
        [VisualBox((0.3, 0.3, 0.4), _GREY, offset=Pose((0, 0, 0.2)))],
    )


def _robot():
    def at(z):
        return Pose((0, 0, z))

    def across(radius, length, color):
        # A joint housing: a short cylinder along the link's y axis.
        return VisualCylinder(
            radius, length, color, offset=Pose.fromAxisAngle((1, 0, 0), math.pi / 2)
        )

    gripper = Link(
        "flange",
        origin=at(0.07),
        axis=(0, 0, 1),
        position=0.5,
        shapes=[
            VisualCylinder(0.035, 0.02, _DARK, offset=at(0.01)),
            VisualBox((0.1, 0.03, 0.025), _DARK, offset=at(0.03)),
            VisualBox((0.015, 0.02, 0.07), _GREY, offset=Pose((-0.035, 0, 0.075))),
            VisualBox((0.015, 0.02, 0.07), _GREY, offset=Pose((0.035, 0, 0.075))),
        ],
    )
    wrist_2 = Link(
        "wrist_2",
        origin=at(0.1),
        axis=(0, 1, 0),
        position=1.35,
        shapes=[
            across(0.04, 0.09, _ORANGE),
            VisualCylinder(0.035, 0.07, _ORANGE, offset=at(0.035)),
        ],
        children=[gripper],
    )
    wrist_1 = Link(
        "wrist_1",
        origin=at(0.38),
        axis=(0, 0, 1),
        position=0.0,
        shapes=[VisualCylinder(0.04, 0.1, _GREY, offset=at(0.05))],
        children=[wrist_2],
    )
    elbow = Link(
        "elbow",
        origin=at(0.45),
        axis=(0, 1, 0),
        position=1.02,
        shapes=[
            across(0.06, 0.13, _ORANGE),
            VisualBox((0.08, 0.08, 0.34), _ORANGE, offset=at(0.2)),
        ],
        children=[wrist_1],
    )
    shoulder = Link(
        "shoulder",
        origin=at(0.16),
        axis=(0, 1, 0),
        position=0.77,
        shapes=[across(0.075, 0.16, _ORANGE), VisualBox((0.1, 0.1, 0.4), _ORANGE, offset=at(0.22))],
        children=[elbow],
    )
    turret = Link(
        "turret",
        origin=at(0.08),
        axis=(0, 0, 1),
        position=0.29,
        shapes=[VisualCylinder(0.08, 0.14, _ORANGE, offset=at(0.07))],
        children=[shoulder],
    )
    base = Link(
        "base", shapes=[VisualCylinder(0.11, 0.08, _DARK, offset=at(0.04))], children=[turret]
    )
    return Robot("arm", ROBOT_POSE, base)


def _table():
    half_x, half_y = TABLE_SIZE[0] / 2 - 0.04, TABLE_SIZE[1] / 2 - 0.04
    top = VisualBox(
        (TABLE_SIZE[0], TABLE_SIZE[1], 0.04), _WOOD, offset=Pose((0, 0, TABLE_HEIGHT - 0.02))
    )
    legs = [
        VisualBox(
            (0.05, 0.05, TABLE_HEIGHT - 0.04),
            _GREY,
            offset=Pose((sx * half_x, sy * half_y, TABLE_HEIGHT / 2 - 0.02)),
        )
        for sx in (-1, 1)
        for sy in (-1, 1)
    ]
    table = Item("table", Pose((TABLE_CENTER[0], TABLE_CENTER[1], 0.0)), [top] + legs)
    for name, kind, dims, color, (x, y), yaw in _OBJECTS:
        height = dims[2] if kind == "box" else dims[1]
        if kind == "box":
            shape = VisualBox(dims, color, offset=Pose((0, 0, height / 2)))
        else:
            shape = VisualCylinder(dims[0], dims[1], color, offset=Pose((0, 0, height / 2)))
        table.addChild(Item(name, Pose.fromEuler(yaw=yaw, position=(x, y, TABLE_HEIGHT)), [shape]))
    return table


def _pole(name, eye):
    height = eye[2] - 0.05
    pole = VisualCylinder(0.025, height, _GREY, offset=Pose((0, 0, height / 2)))
    foot = VisualBox((0.2, 0.2, 0.02), _DARK, offset=Pose((0, 0, 0.01)))
    return Item(name, Pose((eye[0] + 0.05, eye[1], 0.0)), [foot, pole])


def _camera(name, eye):
    target = (TABLE_CENTER[0], TABLE_CENTER[1], TABLE_HEIGHT)
    body = VisualBox((0.1, 0.06, 0.07), _DARK, offset=Pose((0, 0, -0.02)))
    lens = VisualCylinder(0.022, 0.03, (0.2, 0.4, 0.8), offset=Pose((0, 0, 0.03)))
    return Camera(
        name, Pose.lookAt(eye, target), Intrinsics.fromFieldOfView(640, 480, 55.0), [body, lens]
    )


def _fiducial(marker_id, pose):
    """An AprilTag 36h11 marker; the plain notched square where OpenCV (marnox[markers]) is
    missing, so that the demo runs on a bare install."""
    name = f"fiducial_{marker_id}"
    try:
        return Fiducial(name, pose, marker_id, 0.12, dictionary="DICT_APRILTAG_36h11")
    except ImportError:
        return Fiducial(name, pose, marker_id, 0.12)


def _pointcloud(rng):
    """Points on the table top and the objects' tops, (N, 6) with colours."""
    cx, cy = TABLE_CENTER
    local = rng.uniform(-0.5, 0.5, size=(3000, 2)) * TABLE_SIZE
    keep = np.ones(len(local), dtype=bool)
    parts = []
    for _, kind, dims, color, (x, y), yaw in _OBJECTS:
        offsets = local - (x, y)
        if kind == "box":
            c, s = math.cos(yaw), math.sin(yaw)
            u = offsets @ np.array([[c, -s], [s, c]])
            inside = (np.abs(u[:, 0]) <= dims[0] / 2) & (np.abs(u[:, 1]) <= dims[1] / 2)
            top = (rng.uniform(-0.5, 0.5, size=(250, 2)) * dims[:2]) @ np.array([[c, s], [-s, c]])
            height = dims[2]
        else:
            inside = np.hypot(offsets[:, 0], offsets[:, 1]) <= dims[0]
            angle, radius = (
                rng.uniform(0, 2 * math.pi, 250),
                dims[0] * np.sqrt(rng.uniform(0, 1, 250)),
            )
            top = np.column_stack([radius * np.cos(angle), radius * np.sin(angle)])
            height = dims[1]
        keep &= ~inside
        parts.append(_colored(top + (x + cx, y + cy), TABLE_HEIGHT + height, color, rng))
    parts.insert(0, _colored(local[keep] + (cx, cy), TABLE_HEIGHT, _WOOD, rng))
    return np.vstack(parts)


def _colored(xy, z, color, rng):
    zs = z + rng.normal(0.0, 0.002, len(xy))
    rgb = np.clip(np.array(color) + rng.normal(0.0, 0.04, (len(xy), 3)), 0.0, 1.0)
    return np.column_stack([xy, zs, rgb])


def _trajectory():
    """An arc from above the red box to above the place zone, 50 points."""
    _, _, _, _, (x, y), _ = _OBJECTS[0]
    start = np.array([TABLE_CENTER[0] + x, TABLE_CENTER[1] + y, TABLE_HEIGHT + 0.15])
    end = np.array([PLACE_ZONE_CENTER[0], PLACE_ZONE_CENTER[1], TABLE_HEIGHT + 0.1])
    t = np.linspace(0.0, 1.0, 50)[:, np.newaxis]
    lift = np.sin(math.pi * t) * (0.0, 0.0, 0.25)
    return (1 - t) * start + t * end + lift


def _colorImage(index):
    """Sky-to-floor gradient with a few shapes; the sun marks the top of the image."""
    rows, cols = np.mgrid[0:480, 0:640]
    v = rows / 479.0
    image = np.stack([60 + 120 * v, 120 + 60 * v, 230 - 170 * v], axis=-1)
    image[rows > 300] = (110, 85, 60)
    sun_x = 120 + 400 * index
    image[np.hypot(rows - 70, cols - sun_x) < 40] = (255, 220, 40)
    image[(rows > 250) & (rows < 360) & (np.abs(cols - 320) < 60)] = (200, 30, 30)
    bush = (rows > 330) & (rows < 400) & (np.abs(cols - (200 if index else 460)) < 45)
    image[bush] = (30, 160, 60)
    return image.astype(np.uint8)


def _depthImage(index):
    """Depth ramp (0..255) shrinking towards the image bottom, with a nearer disc."""
    rows, cols = np.mgrid[0:480, 0:640]
    depth = 255.0 - 215.0 * rows / 479.0
    disc = np.hypot(rows - 300, cols - (260 + 120 * index)) < 70
    depth[disc] -= 35.0
    return np.clip(depth, 0, 255).astype(np.uint16)[:, :, np.newaxis]


def _pickJoints(progress):
    """The arm's joints ``progress`` (0 to 1) through the pick, eased between its steps."""
    position = progress * (len(_PICK) - 1)
    step = min(int(position), len(_PICK) - 2)
    blend = position - step
    blend = blend * blend * (3 - 2 * blend)
    before, after = _PICK[step], _PICK[step + 1]
    return {name: before[name] + (after[name] - before[name]) * blend for name in before}, step


def pick_steps(project, seconds=PICK_SECONDS, rate=PICK_RATE):
    """Move the sample cell's arm through its pick, ``rate`` steps a second, yielding the time
    of each step in seconds once the cell is there: once the arm grasps the red box, the box
    and its points in the cloud move with the arm's flange.

    >>> for time in pick_steps(project):
    ...     recorder.record(time)
    """
    arm = project.workspace().getRobots()["arm"]
    box = project.workspace().find("red_box")
    box_pose = box.pose()
    flange = arm.link("flange")
    system = project.system()
    cloud = system.pointcloud()
    red = (cloud[:, 3] > 0.6) & (cloud[:, 4] < 0.35) & (cloud[:, 5] < 0.35)
    grasped_at = None
    frames = int(seconds * rate)
    for frame in range(1, frames + 1):
        joints, step = _pickJoints(frame / frames)
        arm.setJointPositions(joints)
        here = np.array(flange.worldPose().position())
        if step >= _GRASP_STEP:
            if grasped_at is None:
                grasped_at = here
            moved = cloud.copy()
            moved[red, :3] += here - grasped_at
            system.setPointcloud(moved)
            # The table, the box's parent, is not turned: world offsets are the table's.
            box.setPose(
                Pose(np.add(box_pose.position(), here - grasped_at), box_pose.orientation())
            )
        yield frame / rate

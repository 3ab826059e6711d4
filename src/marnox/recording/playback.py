"""Playing a recording back in real time, and the demo cell's recorded pick."""

from __future__ import annotations

import time as clock

import numpy as np

from marnox.pose import Pose

DEMO_SECONDS = 4.0
DEMO_RATE = 10
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


def play(recording, project, show, speed=1.0, loop=False):
    """Put the recording into ``project`` as time passes (``speed`` recorded seconds per
    second) and call ``show()`` after each step; returns after the last frame, or never
    when ``loop`` is set."""
    times = recording.times()
    first, last = times[0], times[-1]
    started = clock.monotonic()
    while True:
        now = first + (clock.monotonic() - started) * speed
        if now > last:
            recording.apply(project, last)
            show()
            if not loop:
                return
            started = clock.monotonic()
            continue
        recording.apply(project, now)
        show()


def serve(recording, project, view, timeline, frame_seconds=1 / 30):
    """Keep ``project`` at ``timeline``'s position and ``view`` (a started WebView showing it)
    up to date, until interrupted; while the timeline is paused, wake only for browsers."""
    first = recording.times()[0]
    shown = None
    while True:
        now = timeline.now()
        if now != shown:
            recording.apply(project, first + now)
            shown = now
        view.update()
        if timeline.playing():
            clock.sleep(frame_seconds)
        else:
            view.wait(frame_seconds * 10)


def _joints_at(progress):
    """The arm's joints ``progress`` (0 to 1) through the pick, eased between its steps."""
    position = progress * (len(_PICK) - 1)
    step = min(int(position), len(_PICK) - 2)
    blend = position - step
    blend = blend * blend * (3 - 2 * blend)
    before, after = _PICK[step], _PICK[step + 1]
    return {name: before[name] + (after[name] - before[name]) * blend for name in before}, step


def record_demo(project, recorder, seconds=DEMO_SECONDS, rate=DEMO_RATE):
    """Record the demo cell's arm through its pick: once it grasps the red box, the box and
    its points in the cloud move with the arm's flange."""
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
        joints, step = _joints_at(frame / frames)
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
        recorder.record(frame / rate)

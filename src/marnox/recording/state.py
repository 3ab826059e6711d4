"""The state of a live cell that a recording keeps: taken from a project, put back into one."""

from __future__ import annotations

from typing import NamedTuple

from marnox._node_paths import linkPath, walk
from marnox.recording.format import ARRAY_DTYPES, WORLD


class State(NamedTuple):
    """References to a project's live values at one moment.

    The arrays are the system's own (its setters copy their input), so taking them costs
    nothing, and encoding them can wait for the writer thread.
    """

    pointcloud: object
    trajectory: object
    images: list
    cameras: tuple
    joints: tuple
    nodes: tuple
    links: tuple


def _walk(workspace):
    """(path, parent frame, node) of every node; top-level nodes hang from the world."""
    for path, parent, node in walk(workspace.nodes()):
        yield path, WORLD if parent is None else parent, node


def _frame(child, parent, pose):
    return child, parent, pose.position(), pose.orientation()


def capture(project):
    """The project's state now."""
    system = project.system()
    workspace = project.workspace()
    robots = workspace.getRobots()
    for image in system.images():
        # What an Array can hold is all a recording reads back.
        if image.dtype.str not in ARRAY_DTYPES:
            what = "Python objects" if image.dtype.hasobject else f"dtype {image.dtype}"
            raise ValueError(f"images of {what} cannot be recorded")
    return State(
        pointcloud=system.pointcloud(),
        trajectory=system.trajectory(),
        images=system.images(),
        cameras=tuple(workspace.getCameras()),
        joints=tuple(
            (name, tuple(robot.jointPositions().items())) for name, robot in robots.items()
        ),
        nodes=tuple(_frame(path, parent, node.pose()) for path, parent, node in _walk(workspace)),
        links=tuple(
            _frame(linkPath(name, link), WORLD, link.worldPose())
            for name, robot in robots.items()
            for link in robot.links()
        ),
    )


def restore(project, pointcloud, trajectory, images, joints, nodes):
    """Set the project's system data, node poses and joint positions; nodes, robots and
    joints the project lacks are passed over."""
    system = project.system()
    system.setPointcloud(pointcloud)
    system.setTrajectory(trajectory)
    system.setImages(images)
    workspace = project.workspace()
    for path, parent, node in _walk(workspace):
        frame = nodes.get(path)
        if frame is not None and frame[0] == parent:
            pose = frame[1]
            if (
                pose.position() != node.pose().position()
                or pose.orientation() != node.pose().orientation()
            ):
                node.setPose(pose)
    for name, robot in workspace.getRobots().items():
        known = robot.jointPositions()
        positions = {joint: p for joint, p in joints.get(name, {}).items() if joint in known}
        if positions and positions != {joint: known[joint] for joint in positions}:
            robot.setJointPositions(positions)

"""The paths that name workspace nodes and robot links: 'table/red_box', 'arm/link_2'.

They are the names ``CameraRenderer.labelNames()`` gives labels, the frame names of
recordings and what picking reports, so that one name means one thing everywhere.
"""

from __future__ import annotations


def walk(nodes, parent=None):
    """``(path, parent's path or None, node)`` of ``nodes`` and their children, depth first."""
    for node in nodes:
        path = node.name() if parent is None else f"{parent}/{node.name()}"
        yield path, parent, node
        yield from walk(node.children(), path)


def linkPath(robotPath, link):
    """The path of a robot's link."""
    return f"{robotPath}/{link.name()}"

"""The paths that name workspace nodes and robot links: 'table/red_box', 'arm/link_2'.

They are the names ``CameraRenderer.labelNames()`` gives labels, the frame names of
recordings and what picking reports, so that one name means one thing everywhere.
"""

from __future__ import annotations


def nodePath(parent, name):
    r"""The path of the node or link ``name`` below the node whose path is ``parent``
    (None for the workspace): the names from the top down, joined by '/'.

    A '/' or '\' in a name is escaped by a '\' (the link "LFoot/FSR" of robot "nao"
    is "nao/LFoot\/FSR"), so that an item "a/b" and the child "b" of "a" have paths
    of their own.
    """
    escaped = name.replace("\\", "\\\\").replace("/", "\\/")
    return escaped if parent is None else f"{parent}/{escaped}"


def walk(nodes, parent=None):
    """``(path, parent's path or None, node)`` of ``nodes`` and their children, depth first."""
    for node in nodes:
        path = nodePath(parent, node.name())
        yield path, parent, node
        yield from walk(node.children(), path)


def linkPath(robotPath, link):
    """The path of a robot's link."""
    return nodePath(robotPath, link.name())

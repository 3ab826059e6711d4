"""Picking: which workspace node a viewer shows at a pixel, and the world point there.

Example::

    viewer = WorkspaceViewer(size=(800, 600))
    viewer.setProject(project)
    viewer.init(offscreen=True)
    hit = pick(viewer, 400, 300)            # the centre pixel
    if hit is not None:
        print(hit.path, hit.point)          # 'table/red_box' (0.31, 0.22, 0.58)
        node = nodeAt(project.workspace(), hit.path)
"""

from __future__ import annotations

from typing import NamedTuple, Optional, Tuple

from marnox._node_paths import linkPath, walk


class Pick(NamedTuple):
    """A workspace node under a pixel.

    ``path`` names the node as ``CameraRenderer.labelNames()`` names labels: the
    node names from the workspace down to it, joined by '/' ('table/red_box'),
    and for a robot's link the robot's path and the link's name ('arm/elbow').
    ``point`` is the world point hit, ``(x, y, z)`` in metres.
    """

    path: str
    point: Tuple[float, float, float]


def _labelledActors(workspace):
    """Each node's actors, and each robot link's, under their paths."""
    paths = {}
    for path, _, node in walk(workspace.nodes()):
        for element in node._getVisualGroup().elements():
            paths[element._getActor()] = path
        # A robot's group holds its links' shapes too; they are named after their links.
        if node.kind() == "robot":
            for link in node.links():
                for shape in link.shapes():
                    paths[shape._getActor()] = linkPath(path, link)
    return paths


def pick(viewer, x: float, y: float) -> Optional[Pick]:
    """The workspace node that ``viewer`` shows at display pixel ``(x, y)``, or None.

    ``x`` runs to the right and ``y`` down from the window's top-left corner, in
    pixels of the window as it is now, with integer coordinates at pixel centres (as
    in the camera images): ``(0, 0)`` is the top-left pixel. Only the project's
    nodes are picked: the point cloud, the trajectory and other props drawn by
    the viewer are looked through. The ray is cast against the nodes' geometry on
    the CPU, so nothing is drawn.

    Args:
        viewer: a viewer of a project, such as a ``WorkspaceViewer`` after
            ``setProject`` and ``init``: its ``_ren`` and ``_window`` are used.
        x, y: the pixel; ValueError if it lies outside the window.

    Returns:
        A :class:`Pick`, or None where no node is under the pixel.
    """
    from vtkmodules.vtkRenderingCore import vtkCellPicker

    width, height = viewer._window.GetSize()
    x, y = float(x), float(y)
    if not (-0.5 <= x <= width - 0.5 and -0.5 <= y <= height - 0.5):
        raise ValueError(f"pixel ({x:g}, {y:g}) lies outside the {width}x{height} window")
    paths = _labelledActors(viewer._project.workspace())
    picker = vtkCellPicker()
    picker.PickFromListOn()
    for actor in paths:
        picker.AddPickList(actor)
    # VTK's display coordinates run up from the bottom edge, and a pixel's centre is at +0.5.
    if not picker.Pick(x + 0.5, height - 0.5 - y, 0.0, viewer._ren):
        return None
    path = paths.get(picker.GetActor())
    if path is None:
        return None
    return Pick(path, tuple(picker.GetPickPosition()))


def nodeAt(workspace, path: str):
    """The workspace node that ``path`` (a :attr:`Pick.path`) names: the node itself, or
    for a robot link's path the robot; None if the workspace has no such node."""
    for nodePath, _, node in walk(workspace.nodes()):
        if nodePath == path:
            return node
        if node.kind() == "robot" and any(
            linkPath(nodePath, link) == path for link in node.links()
        ):
            return node
    return None

"""What the cameras of a cell being edited see, kept in its image grid as the cell changes."""

from __future__ import annotations

import numpy as np

from marnox._node_paths import walk
from marnox.camera import Intrinsics, depthImage


def _scene(workspace):
    """What a camera's picture depends on that edits and the owner's loop change: every
    node's world pose, every robot's joints and every camera's lens."""
    poses = []
    for path, _, node in walk(workspace.nodes()):
        pose = node.worldPose()
        poses.append((path, pose.position(), pose.orientation()))
    joints = tuple(
        (name, tuple(robot.jointPositions().values()))
        for name, robot in workspace.getRobots().items()
    )
    lenses = tuple(
        (name, camera.intrinsics(), camera.distortion())
        for name, camera in workspace.getCameras().items()
    )
    return tuple(poses), joints, lenses


def _fewer_pixels(intrinsics, size):
    """``intrinsics`` for an image of ``size`` (width, height) with the same field of view."""
    sx, sy = size[0] / intrinsics.width, size[1] / intrinsics.height
    # Pixel centres are at integers, so the image's edges, at -0.5, stay where they are.
    return Intrinsics(
        size[0],
        size[1],
        intrinsics.fx * sx,
        intrinsics.fy * sy,
        (intrinsics.cx + 0.5) * sx - 0.5,
        (intrinsics.cy + 0.5) * sy - 0.5,
    )


def _scaled_size(intrinsics, scale):
    return (max(round(intrinsics.width * scale), 1), max(round(intrinsics.height * scale), 1))


class _Lens:
    """A camera that takes images of ``size`` pixels: its own otherwise."""

    def __init__(self, camera, size):
        self._camera = camera
        self._size = size

    def __getattr__(self, name):
        return getattr(self._camera, name)

    def intrinsics(self):
        return _fewer_pixels(self._camera.intrinsics(), self._size)


class _GridWorkspace:
    """A project's workspace whose cameras take images of the size in ``sizes`` (by name)."""

    def __init__(self, workspace):
        self._workspace = workspace
        self.sizes = {}

    def __getattr__(self, name):
        return getattr(self._workspace, name)

    def getCameras(self):
        return {
            name: _Lens(camera, self.sizes.get(name, _scaled_size(camera.intrinsics(), 1.0)))
            for name, camera in self._workspace.getCameras().items()
        }


class _GridProject:
    """Stands in for a project, for a renderer to draw its cameras at the grid's sizes."""

    def __init__(self, project, workspace):
        self._project = project
        self._workspace = workspace

    def workspace(self):
        return self._workspace

    def system(self):
        return self._project.system()


def _stretch(image, size):
    """``image`` drawn at ``size`` (width, height), nearest pixel."""
    rows = np.arange(size[1]) * image.shape[0] // size[1]
    columns = np.arange(size[0]) * image.shape[1] // size[0]
    return image[rows[:, np.newaxis], columns]


def tile_size(image_viewer):
    """The (width, height) in pixels of one tile of an image viewer's grid."""
    width, height = image_viewer._size
    if not image_viewer._renderers:
        return width, height
    left, bottom, right, top = image_viewer._renderers[0].GetViewport()
    return max(int((right - left) * width), 1), max(int((top - bottom) * height), 1)


class CameraImages:
    """Renders the project's cameras into its system's images when the scene changed.

    Each camera is drawn to fit a tile of ``tile`` (width, height) pixels, the size the
    image grid shows it at, times the scale that :meth:`refresh` is given: below 1 while
    something moves, when the grid is drawn with that many fewer pixels too. Then only
    the cameras that moved are drawn, if only cameras did, the others' last images
    shrunk to match; at rest every camera is drawn in full, since each may see the others.
    """

    def __init__(self, project, tile):
        from marnox.viewer import CameraRenderer

        self._project = project
        self._tile = tile
        self._grid = _GridWorkspace(project.workspace())
        self._renderer = CameraRenderer(_GridProject(project, self._grid), labels=False)
        self._images = {}
        self._scene = None
        # Whether the images are coarser than the grid's full size, or some older than the scene.
        self.partial = False

    def close(self):
        """Release the renderer's window."""
        self._renderer._window.Finalize()

    def _size(self, intrinsics, scale):
        fit = min(self._tile[0] / intrinsics.width, self._tile[1] / intrinsics.height, 1.0)
        return _scaled_size(intrinsics, fit * scale)

    def refresh(self, scale=1.0):
        """Draw what changed at ``scale``; returns whether the system's images were replaced."""
        workspace = self._project.workspace()
        scene = _scene(workspace)
        if scene == self._scene and not (self.partial and scale == 1.0):
            return False
        cameras = workspace.getCameras()
        sizes = {name: self._size(camera.intrinsics(), scale) for name, camera in cameras.items()}
        names = list(cameras)
        if scale < 1.0 and self._scene is not None and scene[1:] == self._scene[1:]:
            names = _moved_cameras(self._scene[0], scene[0], names) or names
        self._scene = scene
        self._grid.sizes = {name: sizes[name] for name in names}
        for frame in self._renderer.render(names):
            self._images[frame.name] = (frame.color, depthImage(frame.depth))
        images = []
        for name, size in sizes.items():
            for image in self._images.get(name, ()):
                images.append(image if image.shape[1::-1] == size else _stretch(image, size))
        self.partial = scale < 1.0
        self._project.system().setImages(images)
        return True


def _moved_cameras(before, after, cameras):
    """The cameras whose pose alone changed between two scenes, or None when other nodes
    moved too (or none did)."""
    old = {path: pose for path, *pose in before}
    changed = [path for path, *pose in after if old.get(path) != pose]
    if not changed or any(path not in cameras for path in changed):
        return None
    return changed

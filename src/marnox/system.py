"""Live sensor and motion data of a cell: point cloud, tool trajectory, camera images."""

from __future__ import annotations

import numpy as np


def _rows(values, name, widths, dtype=float):
    array = np.array(values, dtype=dtype)
    if array.size == 0:
        return np.zeros((0, 3))
    if array.ndim != 2 or array.shape[1] not in widths:
        raise ValueError("{} must be an (N, {}) array".format(name, " or ".join(map(str, widths))))
    return array


def _isFrozen(value):
    """Whether ``value`` is an array that cannot change behind its holder's back (read-only
    memory of its own), as the system's point cloud is: the same such array again holds
    the same values."""
    return isinstance(value, np.ndarray) and not value.flags.writeable and value.flags.owndata


def _cloud(values):
    """A copy of ``values`` that nobody can change: the viewers and recorders that take the
    array tell an unchanged cloud by its identity. float32 stays float32."""
    values = np.asarray(values)
    array = _rows(values, "points", (3, 6), np.float32 if values.dtype == np.float32 else float)
    array.flags.writeable = False
    return array


class System:
    """Holds the cell's current data; setters copy their input.

    - point cloud: float (N, 3) positions in metres, or (N, 6) with RGB
      0..1 in the last three columns; float32 and float64 are kept as given, other
      types become float64. The copy is read-only: set a new cloud to change it;
    - trajectory: float (N, 3) tool positions in metres, in order;
    - images: list of NumPy arrays shaped (rows, columns, channels), e.g.
      (480, 640, 3) uint8 colour or (480, 640, 1) uint16 depth.
    """

    def __init__(self):
        """Start with an empty point cloud, trajectory and image list."""
        self._pointcloud = _cloud(np.zeros((0, 3)))
        self._trajectory = np.zeros((0, 3))
        self._images = []

    def pointcloud(self):
        """The current point cloud, a read-only (N, 3) or (N, 6) float32 or float64 array."""
        return self._pointcloud

    def setPointcloud(self, points):
        """Replace the point cloud with a copy of an (N, 3) or (N, 6) array."""
        self._pointcloud = _cloud(points)

    def trajectory(self):
        """The current tool trajectory, (N, 3) float array."""
        return self._trajectory

    def setTrajectory(self, positions):
        """Replace the trajectory with a copy of an (N, 3) array."""
        self._trajectory = _rows(positions, "positions", (3,))

    def images(self):
        """The current images, a list of (rows, columns, channels) arrays."""
        return list(self._images)

    def setImages(self, images):
        """Replace the images; 2D arrays get a channel axis of 1."""
        converted = []
        for image in images:
            array = np.array(image)
            if array.ndim == 2:
                array = array[:, :, np.newaxis]
            if array.ndim != 3:
                raise ValueError("images must be (rows, columns, channels) arrays")
            converted.append(array)
        self._images = converted

"""Rigid transforms: a position plus a unit quaternion."""

from __future__ import annotations

import math

import numpy as np
from vtkmodules.vtkCommonMath import vtkMatrix4x4

_NO_ROTATION = (1.0, 0.0, 0.0, 0.0)
# How far from 1 the squared norm of a quaternion that was normalised in double precision
# can be.
_UNIT_TOLERANCE = 1e-12


def _quatMultiply(a, b):
    aw, ax, ay, az = a
    bw, bx, by, bz = b
    return np.array(
        [
            aw * bw - ax * bx - ay * by - az * bz,
            aw * bx + ax * bw + ay * bz - az * by,
            aw * by - ax * bz + ay * bw + az * bx,
            aw * bz + ax * by - ay * bx + az * bw,
        ]
    )


def _rotationMatrix(q):
    w, x, y, z = q
    return np.array(
        [
            [1 - 2 * (y * y + z * z), 2 * (x * y - w * z), 2 * (x * z + w * y)],
            [2 * (x * y + w * z), 1 - 2 * (x * x + z * z), 2 * (y * z - w * x)],
            [2 * (x * z - w * y), 2 * (y * z + w * x), 1 - 2 * (x * x + y * y)],
        ]
    )


def _quatFromRotation(r):
    # Shepperd's method: pivot on the largest component for stability.
    trace = r[0, 0] + r[1, 1] + r[2, 2]
    if trace > 0:
        s = 2.0 * math.sqrt(1.0 + trace)
        q = (s / 4, (r[2, 1] - r[1, 2]) / s, (r[0, 2] - r[2, 0]) / s, (r[1, 0] - r[0, 1]) / s)
    elif r[0, 0] > r[1, 1] and r[0, 0] > r[2, 2]:
        s = 2.0 * math.sqrt(1.0 + r[0, 0] - r[1, 1] - r[2, 2])
        q = ((r[2, 1] - r[1, 2]) / s, s / 4, (r[0, 1] + r[1, 0]) / s, (r[0, 2] + r[2, 0]) / s)
    elif r[1, 1] > r[2, 2]:
        s = 2.0 * math.sqrt(1.0 + r[1, 1] - r[0, 0] - r[2, 2])
        q = ((r[0, 2] - r[2, 0]) / s, (r[0, 1] + r[1, 0]) / s, s / 4, (r[1, 2] + r[2, 1]) / s)
    else:
        s = 2.0 * math.sqrt(1.0 + r[2, 2] - r[0, 0] - r[1, 1])
        q = ((r[1, 0] - r[0, 1]) / s, (r[0, 2] + r[2, 0]) / s, (r[1, 2] + r[2, 1]) / s, s / 4)
    return q


class Pose:
    """An immutable rigid transform: translation plus rotation.

    ``Pose(position, orientation)`` maps points of a child frame into its
    parent frame. The orientation is a quaternion ``(w, x, y, z)``; it is
    normalised on construction, and an all-zero quaternion is read as the
    identity. ``Pose()`` is the identity transform.
    """

    # Both are tuples of floats: poses are made by the thousand when a
    # project loads, and most are never used in arithmetic.
    __slots__ = ("_position", "_orientation")

    def __init__(self, position=(0.0, 0.0, 0.0), orientation=_NO_ROTATION):
        """Create a pose from a position ``(x, y, z)`` and quaternion ``(w, x, y, z)``."""
        p, q = position, orientation
        # Tuples of floats, as messages give, need no converting.
        if not (
            type(p) is tuple and len(p) == 3 and type(p[0]) is type(p[1]) is type(p[2]) is float
        ):
            p = tuple(np.array(position, dtype=float).reshape(3).tolist())
        if not (
            type(q) is tuple
            and len(q) == 4
            and type(q[0]) is type(q[1]) is type(q[2]) is type(q[3]) is float
        ):
            q = tuple(np.array(orientation, dtype=float).reshape(4).tolist())
        x, y, z = p
        if not (math.isfinite(x) and math.isfinite(y) and math.isfinite(z)):
            raise ValueError("pose must be finite")
        # Most poses are unrotated, and (1, 0, 0, 0) needs no normalising.
        if q != _NO_ROTATION:
            a = np.array(q)
            # The arithmetic of np.linalg.norm, so that stored numbers keep every bit.
            norm = math.sqrt(a.dot(a))
            if not math.isfinite(norm):
                raise ValueError("pose must be finite")
            if norm == 0.0:
                q = _NO_ROTATION
            else:
                if norm != 1.0:
                    a = a / norm
                # q and -q are the same rotation; keep w >= 0 so equal poses compare close.
                if a[0] < 0:
                    a = -a
                q = tuple(a.tolist())
        self._position = p
        self._orientation = q

    @classmethod
    def exact(cls, position, orientation):
        """The pose holding exactly these numbers, as ``position()`` and ``orientation()`` of
        another pose gave them: normalising a unit quaternion again may change its last bit.

        ValueError unless the numbers are finite and ``orientation`` is a unit quaternion
        ``(w, x, y, z)`` with ``w >= 0``.
        """
        p = tuple(map(float, position))
        q = tuple(map(float, orientation))
        if len(p) != 3 or len(q) != 4 or not all(map(math.isfinite, p + q)):
            raise ValueError("pose must be three and four finite numbers")
        if q[0] < 0 or abs(math.fsum(value * value for value in q) - 1.0) > _UNIT_TOLERANCE:
            raise ValueError(f"orientation {q} is not a unit quaternion with w >= 0")
        pose = cls.__new__(cls)
        pose._position = p
        pose._orientation = q
        return pose

    @classmethod
    def fromAxisAngle(cls, axis, angle, position=(0.0, 0.0, 0.0)):
        """Rotation by ``angle`` radians about ``axis``, then translation by ``position``."""
        a = np.array(axis, dtype=float).reshape(3)
        norm = np.linalg.norm(a)
        if norm == 0.0:
            raise ValueError("rotation axis must be non-zero")
        half = 0.5 * angle
        return cls(position, (math.cos(half), *(a / norm * math.sin(half))))

    @classmethod
    def fromEuler(cls, roll=0.0, pitch=0.0, yaw=0.0, position=(0.0, 0.0, 0.0)):
        """Rotation from fixed-axis angles: roll about x, then pitch about y, then yaw about z."""
        q = _quatMultiply(
            cls.fromAxisAngle((0, 0, 1), yaw)._orientation,
            _quatMultiply(
                cls.fromAxisAngle((0, 1, 0), pitch)._orientation,
                cls.fromAxisAngle((1, 0, 0), roll)._orientation,
            ),
        )
        return cls(position, q)

    @classmethod
    def fromMatrix(cls, matrix):
        """Pose from a 4x4 homogeneous matrix (array-like or ``vtkMatrix4x4``)."""
        if isinstance(matrix, vtkMatrix4x4):
            matrix = [[matrix.GetElement(i, j) for j in range(4)] for i in range(4)]
        m = np.array(matrix, dtype=float).reshape(4, 4)
        return cls(m[:3, 3], _quatFromRotation(m[:3, :3]))

    @classmethod
    def lookAt(cls, eye, target, up=(0.0, 0.0, 1.0)):
        """Camera-style pose at ``eye`` whose +z points at ``target``.

        +x points to the viewer's right and +y down (the usual optical
        frame), so ``up`` ends up along -y.
        """
        eye = np.array(eye, dtype=float)
        forward = np.array(target, dtype=float) - eye
        right = np.cross(forward, np.array(up, dtype=float))
        if np.linalg.norm(forward) == 0.0 or np.linalg.norm(right) == 0.0:
            raise ValueError("eye, target and up must not be collinear")
        forward /= np.linalg.norm(forward)
        right /= np.linalg.norm(right)
        down = np.cross(forward, right)
        return cls(eye, _quatFromRotation(np.column_stack([right, down, forward])))

    def position(self):
        """Translation as a tuple ``(x, y, z)``."""
        return self._position

    def orientation(self):
        """Rotation as a unit quaternion tuple ``(w, x, y, z)`` with ``w >= 0``."""
        return self._orientation

    def rotation(self):
        """3x3 rotation matrix as a NumPy array."""
        return _rotationMatrix(self._orientation)

    def matrix(self):
        """4x4 homogeneous matrix as a NumPy array."""
        m = np.eye(4)
        m[:3, :3] = self.rotation()
        m[:3, 3] = self._position
        return m

    def toVtkMatrix(self, target=None):
        """The pose as a ``vtkMatrix4x4``; fills ``target`` in place when given."""
        if target is None:
            target = vtkMatrix4x4()
        target.DeepCopy(self.matrix().ravel().tolist())
        return target

    def inverse(self):
        """The transform that undoes this one."""
        w, x, y, z = self._orientation
        conj = np.array([w, -x, -y, -z])
        return Pose(-_rotationMatrix(conj) @ self._position, conj)

    def transformPoints(self, points):
        """Map an (N, 3) array (or a single point) from the child into the parent frame."""
        p = np.asarray(points, dtype=float)
        return p @ self.rotation().T + self._position

    def isClose(self, other, tolerance=1e-9):
        """True if both poses agree to ``tolerance`` in position and rotation matrix."""
        return bool(
            np.allclose(self._position, other._position, atol=tolerance)
            and np.allclose(self.rotation(), other.rotation(), atol=tolerance)
        )

    def __mul__(self, other):
        """Compose: ``(a * b)`` applies ``b`` first, then ``a``."""
        if not isinstance(other, Pose):
            return NotImplemented
        q = _quatMultiply(self._orientation, other._orientation)
        return Pose(self.rotation() @ other._position + self._position, q)

    def __repr__(self):
        p = ", ".join(f"{v:.6g}" for v in self._position)
        q = ", ".join(f"{v:.6g}" for v in self._orientation)
        return f"Pose(({p}), ({q}))"


# Poses are immutable, so every default frame and offset can share this one.
_IDENTITY = Pose()

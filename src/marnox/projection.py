"""OpenCV's camera model on arrays of points: where they land in the image and how
fast they move there.

The same model ``CameraRenderer`` draws with: the camera frame has +x right, +y down
and +z forward, distortion is ``(k1, k2, p1, p2, k3)`` and integer pixel coordinates
are pixel centres.
"""

from __future__ import annotations

import numpy as np

# Newton's method finds where the distortion came from; points it does not bring this
# close lie outside the part of the model that is one to one.
_NEWTON_STEPS = 20
_CONVERGENCE = 1e-10


def _distorted(x, y, coefficients):
    """The distorted normalised point and the 2x2 Jacobian of the distortion, whose two
    off-diagonal entries are equal: (xd, yd, dxd/dx, dxd/dy = dyd/dx, dyd/dy)."""
    k1, k2, p1, p2, k3 = coefficients
    r2 = x * x + y * y
    radial = 1.0 + r2 * (k1 + r2 * (k2 + r2 * k3))
    radial_slope = k1 + r2 * (2.0 * k2 + 3.0 * k3 * r2)
    xy = x * y
    xd = x * radial + 2.0 * p1 * xy + p2 * (r2 + 2.0 * x * x)
    yd = y * radial + p1 * (r2 + 2.0 * y * y) + 2.0 * p2 * xy
    dxx = radial + 2.0 * x * x * radial_slope + 2.0 * p1 * y + 6.0 * p2 * x
    dxy = 2.0 * xy * radial_slope + 2.0 * p1 * x + 2.0 * p2 * y
    dyy = radial + 2.0 * y * y * radial_slope + 6.0 * p1 * y + 2.0 * p2 * x
    return xd, yd, dxx, dxy, dyy


def projectPoints(points, intrinsics, distortion):
    """Pixels of camera-frame points and their Jacobian.

    Args:
        points: (N, 3) metres in the camera frame, z > 0.
        intrinsics: a ``marnox.camera.Intrinsics`` (or its six fields).
        distortion: ``(k1, k2, p1, p2, k3)``.

    Returns:
        ``(pixels, jacobian)``: (N, 2) float64 ``(u, v)`` as ``cv2.projectPoints`` gives
        them, and (N, 2, 3) float64 d(u, v) / d(x, y, z).
    """
    _, _, fx, fy, cx, cy = intrinsics
    points = np.asarray(points, dtype=np.float64)
    z = points[:, 2]
    x = points[:, 0] / z
    y = points[:, 1] / z
    xd, yd, dxx, dxy, dyy = _distorted(x, y, distortion)
    pixels = np.column_stack([fx * xd + cx, fy * yd + cy])
    # d(x, y) / d(X, Y, Z) is [[1/Z, 0, -x/Z], [0, 1/Z, -y/Z]].
    inverse_z = 1.0 / z
    jacobian = np.empty((len(points), 2, 3))
    jacobian[:, 0, 0] = fx * dxx * inverse_z
    jacobian[:, 0, 1] = fx * dxy * inverse_z
    jacobian[:, 0, 2] = -(jacobian[:, 0, 0] * x + jacobian[:, 0, 1] * y)
    jacobian[:, 1, 0] = fy * dxy * inverse_z
    jacobian[:, 1, 1] = fy * dyy * inverse_z
    jacobian[:, 1, 2] = -(jacobian[:, 1, 0] * x + jacobian[:, 1, 1] * y)
    return pixels, jacobian


def undistortPoints(distorted, distortion):
    """The undistorted normalised points that ``distortion`` moves to ``distorted``.

    ``distorted`` is (N, 2) normalised coordinates ((u - cx) / fx, (v - cy) / fy).
    Returns (N, 2) float64, NaN where Newton's method, started at the distorted point
    as the renderer starts it, finds none.
    """
    target = np.asarray(distorted, dtype=np.float64).reshape(-1, 2)
    x, y = target[:, 0].copy(), target[:, 1].copy()
    # Points that diverge overflow to inf or NaN and are refused below.
    with np.errstate(over="ignore", divide="ignore", invalid="ignore"):
        for _ in range(_NEWTON_STEPS):
            xd, yd, dxx, dxy, dyy = _distorted(x, y, distortion)
            ex, ey = xd - target[:, 0], yd - target[:, 1]
            if np.all((np.abs(ex) < _CONVERGENCE) & (np.abs(ey) < _CONVERGENCE)):
                break
            det = dxx * dyy - dxy * dxy
            x = x - (dyy * ex - dxy * ey) / det
            y = y - (dxx * ey - dxy * ex) / det
        xd, yd, _, _, _ = _distorted(x, y, distortion)
        found = (np.abs(xd - target[:, 0]) < _CONVERGENCE) & (
            np.abs(yd - target[:, 1]) < _CONVERGENCE
        )
    return np.where(found[:, np.newaxis], np.column_stack([x, y]), np.nan)

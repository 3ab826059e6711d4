"""Turns, pans and zooms a VTK camera as VTK's trackball style does for a mouse on the window."""

from __future__ import annotations

import math

# VTK's trackball turns the camera 20 degrees per window width, times its motion factor 10.
DEGREES_PER_VIEW = 200.0
# The camera stays between these distances of its focal point, so no zoom makes it degenerate.
DISTANCE_RANGE = (1e-4, 1e6)


def home(camera):
    """What ``restore`` needs to put ``camera`` back where it is now."""
    return (
        camera.GetPosition(),
        camera.GetFocalPoint(),
        camera.GetViewUp(),
        camera.GetViewAngle(),
        camera.GetParallelScale(),
    )


def restore(camera, state):
    position, focal_point, view_up, view_angle, parallel_scale = state
    camera.SetPosition(position)
    camera.SetFocalPoint(focal_point)
    camera.SetViewUp(view_up)
    camera.SetViewAngle(view_angle)
    camera.SetParallelScale(parallel_scale)


def rotate(camera, dx, dy):
    """Turn about the focal point for a drag of (dx, dy) view sizes, y down."""
    camera.Azimuth(-DEGREES_PER_VIEW * dx)
    camera.Elevation(DEGREES_PER_VIEW * dy)
    camera.OrthogonalizeViewUp()


def _unit(vector):
    length = math.sqrt(sum(c * c for c in vector))
    return tuple(c / length for c in vector) if length > 0 else (0.0, 0.0, 0.0)


def _cross(a, b):
    return (a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0])


def pan(camera, dx, dy, aspect):
    """Slide the camera so the scene follows a drag of (dx, dy) view sizes, y down."""
    if camera.GetParallelProjection():
        height = 2.0 * camera.GetParallelScale()
    else:
        height = 2.0 * camera.GetDistance() * math.tan(math.radians(camera.GetViewAngle()) / 2)
    up = _unit(camera.GetViewUp())
    right = _unit(_cross(camera.GetDirectionOfProjection(), up))
    shift = tuple(
        -dx * height * aspect * r + dy * height * u for r, u in zip(right, up, strict=True)
    )
    camera.SetFocalPoint(tuple(f + s for f, s in zip(camera.GetFocalPoint(), shift, strict=True)))
    camera.SetPosition(tuple(p + s for p, s in zip(camera.GetPosition(), shift, strict=True)))


def zoom(camera, factor):
    """Come ``factor`` times closer to the focal point (or back off, below 1)."""
    if camera.GetParallelProjection():
        camera.SetParallelScale(camera.GetParallelScale() / factor)
    else:
        low, high = DISTANCE_RANGE
        distance = min(max(camera.GetDistance() / factor, low), high)
        # vtkCamera.SetDistance would move the focal point, not the camera.
        focal_point, direction = camera.GetFocalPoint(), camera.GetDirectionOfProjection()
        camera.SetPosition(
            tuple(f - distance * d for f, d in zip(focal_point, direction, strict=True))
        )


def apply(renderer, camera, moves, start, aspect):
    """Apply what :meth:`PendingMoves.take` returned; ``start`` is what ``reset`` goes back to."""
    reset, turn, slide, factor = moves
    if reset:
        restore(camera, start)
    if turn != (0.0, 0.0):
        rotate(camera, *turn)
    if slide != (0.0, 0.0):
        pan(camera, *slide, aspect)
    if factor != 1.0:
        zoom(camera, factor)
    renderer.ResetCameraClippingRange()

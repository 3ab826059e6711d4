"""How many pixels the workspace view's frames get: all of them while the camera rests, fewer
while a browser moves it, so that the picture keeps up with the mouse without a GPU."""

from __future__ import annotations

import math

# The time a frame may take while the camera moves: the picture then trails the mouse by
# about two frames.
MOVING_FRAME_SECONDS = 1 / 20
# Fewer pixels than this fraction of each side show too little to steer by.
MIN_SCALE = 0.25
# The scale changes only by more than this fraction: each change resizes the window, and a
# busy machine's timings jitter.
SCALE_STEP = 0.25
# The camera rests this long after the last move before the full frame is drawn: a hand
# that pauses mid-drag for less does not get a full frame it must then wait out.
REST_SECONDS = 0.5


class Resolution:
    """The scale of the workspace view's next frame, chosen from what frames cost.

    A frame's cost grows with its pixels, so a scale of ``sqrt(target / cost)`` brings a
    frame of cost ``cost`` to the target; each measured frame corrects the scale.
    """

    def __init__(self):
        self._moving_until = -math.inf
        self._moving_scale = 0.5

    def moved(self, now):
        """The camera moved at ``now`` (``time.monotonic()``)."""
        self._moving_until = now + REST_SECONDS

    def rests_at(self):
        """When the camera counts as resting, if it moved."""
        return self._moving_until

    def scale(self, now):
        if now >= self._moving_until:
            return 1.0
        return self._moving_scale

    def measured(self, scale, seconds):
        """A frame at ``scale`` took ``seconds`` to draw, read and encode."""
        if seconds <= 0:
            return
        corrected = min(max(scale * math.sqrt(MOVING_FRAME_SECONDS / seconds), MIN_SCALE), 1.0)
        if abs(corrected - self._moving_scale) > SCALE_STEP * self._moving_scale:
            self._moving_scale = corrected

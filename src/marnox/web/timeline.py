"""Timeline: where a web view's recording stands, shared by the loop that plays it and the
server thread that takes the browsers' play, pause and seek."""

from __future__ import annotations

import json
import math
import threading
import time as clock


class Timeline:
    """A position from 0 to ``duration`` seconds that runs ``speed`` times real time while
    playing; at the end it stops, or starts again with ``loop``.

    Browsers send ``{"type": "play"}``, ``{"type": "pause"}`` and ``{"type": "seek",
    "time": T}``; the page shows a play/pause button, a slider and the time, from the
    ``{"type": "timeline", "time": T, "duration": D, "playing": P}`` that the server sends.
    """

    def __init__(self, duration, speed=1.0, loop=False):
        """A timeline at 0, playing."""
        if not (math.isfinite(duration) and duration >= 0):
            raise ValueError(f"duration must be a finite number >= 0, not {duration!r}")
        if not (math.isfinite(speed) and speed > 0):
            raise ValueError(f"speed must be a positive number, not {speed!r}")
        self.duration = float(duration)
        self._speed = float(speed)
        self._loop = loop
        self._lock = threading.Lock()
        self._time = 0.0
        self._playing = True
        self._since = clock.monotonic()

    def _advance(self):
        now = clock.monotonic()
        if self._playing:
            self._time += (now - self._since) * self._speed
            if self._time >= self.duration:
                if self._loop and self.duration > 0:
                    self._time %= self.duration
                else:
                    self._time, self._playing = self.duration, False
        self._since = now

    def now(self):
        """The current position in seconds."""
        with self._lock:
            self._advance()
            return self._time

    def playing(self):
        """Whether the position is running."""
        with self._lock:
            self._advance()
            return self._playing

    def take(self, command):
        """Apply a browser's checked ``("play",)``, ``("pause",)`` or ``("seek", time)``."""
        with self._lock:
            self._advance()
            if command[0] == "seek":
                self._time = min(max(command[1], 0.0), self.duration)
            else:
                self._playing = command[0] == "play"
                if self._playing and self._time >= self.duration:
                    self._time = 0.0

    def message(self):
        """The state as the JSON text the page reads."""
        with self._lock:
            self._advance()
            state = {"time": self._time, "duration": self.duration, "playing": self._playing}
        return json.dumps({"type": "timeline", **state})

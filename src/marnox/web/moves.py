"""Camera moves from every browser, summed until the update thread takes them."""

from __future__ import annotations

import threading


class PendingMoves:
    """Adds up checked moves on the server thread; ``take()`` hands them over and starts anew.

    Summing instead of queueing keeps memory fixed however fast browsers send.
    """

    def __init__(self):
        self._lock = threading.Lock()
        self._clear()

    def _clear(self):
        self._reset = False
        self._rotate = [0.0, 0.0]
        self._pan = [0.0, 0.0]
        self._zoom = 1.0
        self._any = False

    def add(self, move):
        """Add one move as returned by :func:`marnox.web.messages.parse` (not an ack)."""
        kind = move[0]
        with self._lock:
            self._any = True
            if kind == "reset":
                # Whatever came before a reset is undone by it.
                self._clear()
                self._reset = self._any = True
            elif kind == "rotate":
                self._rotate[0] += move[1]
                self._rotate[1] += move[2]
            elif kind == "pan":
                self._pan[0] += move[1]
                self._pan[1] += move[2]
            else:
                # Kept within what a double can hold, whatever a browser keeps sending.
                self._zoom = min(max(self._zoom * move[1], 1e-6), 1e6)

    def take(self):
        """``(reset, (dx, dy) rotate, (dx, dy) pan, zoom)`` since the last call, or None."""
        # Read without the lock: a move that lands just after is taken by the next call.
        if not self._any:
            return None
        with self._lock:
            if not self._any:
                return None
            taken = (self._reset, tuple(self._rotate), tuple(self._pan), self._zoom)
            self._clear()
            return taken

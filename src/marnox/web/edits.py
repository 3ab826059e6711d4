"""Picks and edits from every browser, kept in order until the update thread takes them."""

from __future__ import annotations

import threading

# Far more than a page sends between two updates (its mouse sends at most every 16 ms, and
# the drags of one gesture merge); a browser that sends more is flooding.
MAX_PENDING = 256


class PendingEdits:
    """Queues checked picks and edits on the server thread; ``take()`` hands them over.

    A drag that continues the one queued last (same node, same plane, starting where it
    ended) extends it instead of queueing another, so a fast mouse over a slow loop
    costs one entry.
    """

    def __init__(self):
        self._lock = threading.Lock()
        self._queue = []

    def add(self, request):
        """Queue one pick or edit as :func:`marnox.web.messages.parse` returned it; False
        (and nothing queued) when :data:`MAX_PENDING` are waiting already."""
        with self._lock:
            last = self._queue[-1] if self._queue else None
            if (
                request[0] == "drag"
                and not request[5]
                and last is not None
                and last[0] == "drag"
                and last[1] == request[1]
                and last[3] == request[2]
                and last[4] == request[4]
            ):
                self._queue[-1] = last[:3] + (request[3],) + last[4:]
                return True
            if len(self._queue) >= MAX_PENDING:
                return False
            self._queue.append(request)
            return True

    def take(self):
        """Everything queued since the last call, in order."""
        # Read without the lock: a request that lands just after is taken by the next call.
        if not self._queue:
            return []
        with self._lock:
            taken, self._queue = self._queue, []
            return taken

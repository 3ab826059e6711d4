"""Checks every message a browser sends before any of it can reach the camera.

A browser may send only these JSON objects, as WebSocket text:

- ``{"type": "rotate", "dx": DX, "dy": DY}`` and ``{"type": "pan", "dx": DX, "dy": DY}``:
  a mouse drag, in fractions of the view's width and height (x to the right, y down);
- ``{"type": "zoom", "factor": F}``: F above 1 comes closer, below 1 backs off;
- ``{"type": "reset"}``: back to the camera the view started with;
- ``{"type": "ack", "view": NAME}``: the page has drawn the last frame of that view;
- ``{"type": "play"}``, ``{"type": "pause"}``, ``{"type": "seek", "time": SECONDS}``: the
  timeline of a recording being replayed (see :class:`marnox.web.timeline.Timeline`).

The server sends first ``{"type": "views", "names": [NAME, ...], "sizes": [[W, H], ...]}``
as text, the views it shows (in the order of :data:`VIEW_NAMES`) and their sizes in pixels,
then frames: binary messages of one byte, the view's index in that list, and a JPEG.
With a timeline it also sends ``{"type": "timeline", "time": T, "duration": D, "playing":
P}`` as text whenever that changes.
"""

from __future__ import annotations

import json

MAX_MESSAGE_CHARS = 256
# More than ten view widths between two mouse events is no mouse.
MAX_DRAG = 10.0
ZOOM_RANGE = (0.05, 20.0)
# A recording of a year is longer than any.
MAX_SEEK = 3.2e7
TIMELINE_KINDS = ("play", "pause", "seek")
# Every view a web view can show; the page learns which ones it shows from the server.
VIEW_NAMES = ("workspace", "images")

_FIELDS = {
    "rotate": ("dx", "dy"),
    "pan": ("dx", "dy"),
    "zoom": ("factor",),
    "reset": (),
    "ack": ("view",),
    "play": (),
    "pause": (),
    "seek": ("time",),
}


class BadMessage(ValueError):
    """A browser message that is refused; the text says why."""


def _refuse_constant(name):
    raise BadMessage(f"{name} is not a number")


def _number(message, key, low, high):
    value = message[key]
    # bool is an int to Python, not to a browser.
    if type(value) not in (int, float):
        raise BadMessage(f"'{key}' must be a number")
    value = float(value)
    # NaN fails both comparisons; 1e999 has become infinity and fails the upper one.
    if not low <= value <= high:
        raise BadMessage(f"'{key}' must lie in [{low:g}, {high:g}]")
    return value


def parse(text, views=VIEW_NAMES):
    """The checked move in ``text``, or BadMessage; an ack must name one of ``views``.

    Returns ``("rotate", dx, dy)``, ``("pan", dx, dy)``, ``("zoom", factor)``,
    ``("reset",)`` or ``("ack", view_index)``, every number finite and in range.
    """
    if not isinstance(text, str) or len(text) > MAX_MESSAGE_CHARS:
        raise BadMessage(f"a message is JSON text of at most {MAX_MESSAGE_CHARS} characters")
    try:
        message = json.loads(text, parse_constant=_refuse_constant)
    except ValueError as error:
        raise BadMessage(f"not JSON: {error}") from None
    if not isinstance(message, dict):
        raise BadMessage("a message is a JSON object")
    kind = message.get("type")
    if not isinstance(kind, str) or kind not in _FIELDS:
        raise BadMessage(f"unknown message type {kind!r}")
    if set(message) != {"type", *_FIELDS[kind]}:
        raise BadMessage(f"a {kind} message has the fields {', '.join(_FIELDS[kind]) or 'none'}")
    if kind in ("rotate", "pan"):
        dx = _number(message, "dx", -MAX_DRAG, MAX_DRAG)
        return kind, dx, _number(message, "dy", -MAX_DRAG, MAX_DRAG)
    if kind == "zoom":
        return kind, _number(message, "factor", *ZOOM_RANGE)
    if kind == "seek":
        return kind, _number(message, "time", 0.0, MAX_SEEK)
    if kind == "ack":
        view = message["view"]
        if view not in views:
            raise BadMessage(f"unknown view {view!r}")
        return kind, views.index(view)
    return (kind,)

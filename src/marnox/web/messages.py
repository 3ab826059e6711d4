"""Checks every message a browser sends before any of it can reach the camera.

A browser may send only these JSON objects, as WebSocket text:

- ``{"type": "rotate", "dx": DX, "dy": DY}`` and ``{"type": "pan", "dx": DX, "dy": DY}``:
  a mouse drag, in fractions of the view's width and height (x to the right, y down);
- ``{"type": "zoom", "factor": F}``: F above 1 comes closer, below 1 backs off;
- ``{"type": "reset"}``: back to the camera the view started with;
- ``{"type": "ack", "view": NAME}``: the page has drawn the last frame of that view;
- ``{"type": "play"}``, ``{"type": "pause"}``, ``{"type": "seek", "time": SECONDS}``: the
  timeline of a recording being replayed (see :class:`marnox.web.timeline.Timeline`);
- ``{"type": "pick", "x": X, "y": Y}``: a click on the workspace view, at fractions of its
  width and height from its top-left corner.

A browser that presented the page's token to a web view that edits may also send edits
(:data:`EDIT_KINDS`) of the node at PATH (a pick's path) or of the project:

- ``{"type": "pose", "path": PATH, "x": X, "y": Y, "z": Z, "roll": R, "pitch": P,
  "yaw": W}``: the node's pose relative to its parent, in metres and degrees;
- ``{"type": "drag", "path": PATH, "x0": X, "y0": Y, "x1": X, "y1": Y, "vertical": V,
  "start": S}``: the mouse moved the node from one point of the workspace view to another
  (fractions as for a pick), in the horizontal plane through its origin, or vertically;
  ``start`` opens a new step of the undo history;
- ``{"type": "turn", "path": PATH, "notches": N}``: turn it about the vertical, 5 degrees
  a notch, counter-clockwise seen from above;
- ``{"type": "joint", "path": PATH, "joint": NAME, "value": V, "start": S}``: a robot's
  joint position, radians or metres;
- ``{"type": "undo"}``, ``{"type": "save"}``.

The server sends first ``{"type": "views", "names": [NAME, ...], "sizes": [[W, H], ...]}``
as text, the views it shows (in the order of :data:`VIEW_NAMES`) and their sizes in pixels,
then frames: binary messages of one byte, the view's index in that list, and a JPEG.
With a timeline it also sends ``{"type": "timeline", "time": T, "duration": D, "playing":
P}`` as text whenever that changes. After a pick it sends ``{"type": "selection", "path":
PATH, "point": [X, Y, Z]}`` (the path null where nothing was hit); a web view that edits
adds ``"pose": [X, Y, Z, ROLL, PITCH, YAW]`` and ``"joints": [[NAME, VALUE, LOW, HIGH],
...]``, sends ``{"type": "editing", "allowed": A, "file": NAME}`` after the views and
``{"type": "saved", "ok": OK, "text": TEXT}`` after a save.
"""

from __future__ import annotations

import json

MAX_MESSAGE_CHARS = 1000
# A node's path, far longer than any a cell has.
MAX_PATH_CHARS = 500
# Poses within a kilometre of the origin, angles within ten turns.
MAX_POSITION = 1000.0
MAX_DEGREES = 3600.0
MAX_NOTCHES = 100.0
# More than ten view widths between two mouse events is no mouse.
MAX_DRAG = 10.0
ZOOM_RANGE = (0.05, 20.0)
# A recording of a year is longer than any.
MAX_SEEK = 3.2e7
TIMELINE_KINDS = ("play", "pause", "seek")
EDIT_KINDS = ("pose", "drag", "turn", "joint", "undo", "save")
POSE_FIELDS = ("x", "y", "z", "roll", "pitch", "yaw")
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
    "pick": ("x", "y"),
    "pose": ("path", *POSE_FIELDS),
    "drag": ("path", "x0", "y0", "x1", "y1", "vertical", "start"),
    "turn": ("path", "notches"),
    "joint": ("path", "joint", "value", "start"),
    "undo": (),
    "save": (),
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


def _text(message, key):
    value = message[key]
    if not isinstance(value, str) or not 0 < len(value) <= MAX_PATH_CHARS:
        raise BadMessage(f"'{key}' must be a string of 1 to {MAX_PATH_CHARS} characters")
    return value


def _flag(message, key):
    value = message[key]
    if type(value) is not bool:
        raise BadMessage(f"'{key}' must be true or false")
    return value


def _edit(kind, message):
    """The tuple of an edit message; see :func:`parse`."""
    if kind in ("undo", "save"):
        return (kind,)
    path = _text(message, "path")
    if kind == "pose":
        position = tuple(_number(message, key, -MAX_POSITION, MAX_POSITION) for key in "xyz")
        angles = tuple(_number(message, key, -MAX_DEGREES, MAX_DEGREES) for key in POSE_FIELDS[3:])
        return kind, path, position, angles
    if kind == "drag":
        start = tuple(_number(message, key, -MAX_DRAG, MAX_DRAG) for key in ("x0", "y0"))
        end = tuple(_number(message, key, -MAX_DRAG, MAX_DRAG) for key in ("x1", "y1"))
        return kind, path, start, end, _flag(message, "vertical"), _flag(message, "start")
    if kind == "turn":
        return kind, path, _number(message, "notches", -MAX_NOTCHES, MAX_NOTCHES)
    value = _number(message, "value", -MAX_POSITION, MAX_POSITION)
    return kind, path, _text(message, "joint"), value, _flag(message, "start")


def parse(text, views=VIEW_NAMES):
    """The checked move in ``text``, or BadMessage; an ack must name one of ``views``.

    Returns ``("rotate", dx, dy)``, ``("pan", dx, dy)``, ``("zoom", factor)``,
    ``("reset",)``, ``("ack", view_index)``, ``("pick", x, y)`` or an edit:
    ``("pose", path, (x, y, z), (roll, pitch, yaw))``, ``("drag", path, (x0, y0),
    (x1, y1), vertical, start)``, ``("turn", path, notches)``, ``("joint", path, joint,
    value, start)``, ``("undo",)`` or ``("save",)``; every number finite and in range.
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
    if kind == "pick":
        return kind, _number(message, "x", 0.0, 1.0), _number(message, "y", 0.0, 1.0)
    if kind in EDIT_KINDS:
        return _edit(kind, message)
    if kind == "ack":
        view = message["view"]
        if view not in views:
            raise BadMessage(f"unknown view {view!r}")
        return kind, views.index(view)
    return (kind,)

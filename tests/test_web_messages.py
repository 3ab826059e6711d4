"""What a browser may send: the moves that pass, and every kind of message that is refused."""

import pytest

pytest.importorskip("aiohttp", reason="marnox[web] is not installed")
pytest.importorskip("simplejpeg", reason="marnox[web] is not installed")

from marnox.web.messages import BadMessage, parse  # noqa: E402
from marnox.web.moves import PendingMoves  # noqa: E402


@pytest.mark.parametrize(
    "text, move",
    [
        ('{"type": "rotate", "dx": 0.25, "dy": -1}', ("rotate", 0.25, -1.0)),
        ('{"type": "pan", "dx": -10, "dy": 10}', ("pan", -10.0, 10.0)),
        ('{"type": "zoom", "factor": 1.5}', ("zoom", 1.5)),
        ('{"type": "reset"}', ("reset",)),
        ('{"type": "ack", "view": "images"}', ("ack", 1)),
        ('{"type": "seek", "time": 12.5}', ("seek", 12.5)),
        ('{"type": "pause"}', ("pause",)),
        ('{"type": "pick", "x": 0, "y": 1}', ("pick", 0.0, 1.0)),
        (
            '{"type": "drag", "path": "table/red_box", "x0": 0.5, "y0": 0.5, "x1": 0.6, '
            '"y1": 0.5, "vertical": false, "start": true}',
            ("drag", "table/red_box", (0.5, 0.5), (0.6, 0.5), False, True),
        ),
        (
            '{"type": "joint", "path": "arm", "joint": "elbow", "value": -1, "start": false}',
            ("joint", "arm", "elbow", -1.0, False),
        ),
    ],
)
def test_checked_moves_pass(text, move):
    assert parse(text) == move


@pytest.mark.parametrize(
    "text",
    [
        "",
        "rotate",
        "[1, 2]",
        '"rotate"',
        '{"type": "spin"}',
        '{"type": ["rotate"]}',
        '{"dx": 1, "dy": 1}',
        '{"type": "rotate", "dx": NaN, "dy": 0}',
        '{"type": "rotate", "dx": Infinity, "dy": 0}',
        '{"type": "rotate", "dx": 1e999, "dy": 0}',
        '{"type": "rotate", "dx": 11, "dy": 0}',
        '{"type": "rotate", "dx": true, "dy": 0}',
        '{"type": "rotate", "dx": "1", "dy": 0}',
        '{"type": "rotate", "dx": 1}',
        '{"type": "rotate", "dx": 1, "dy": 1, "then": "exec"}',
        '{"type": "zoom", "factor": 0}',
        '{"type": "zoom", "factor": -2}',
        '{"type": "zoom", "factor": 1000}',
        '{"type": "ack", "view": "camera_1"}',
        '{"type": "ack", "view": 0}',
        '{"type": "seek", "time": -1}',
        '{"type": "seek", "time": NaN}',
        '{"type": "reset", "a": ' + "[" * 200 + "]" * 200 + "}",
        '{"type": "zoom", "factor": ' + "1" * 300 + "}",
        '{"type": "pick", "x": 1.5, "y": 0}',
        '{"type": "turn", "path": "", "notches": 1}',
        '{"type": "turn", "path": ["arm"], "notches": 1}',
        '{"type": "turn", "path": "' + "a" * 600 + '", "notches": 1}',
        '{"type": "joint", "path": "arm", "joint": "elbow", "value": 1, "start": 0}',
        '{"type": "pose", "path": "arm", "x": 0, "y": 0, "z": 0, "roll": 0, "pitch": 0}',
        '{"type": "pose", "path": "arm", "x": 1e4, "y": 0, "z": 0, "roll": 0, "pitch": 0, '
        '"yaw": 0}',
    ],
)
def test_malformed_messages_are_refused(text):
    with pytest.raises(BadMessage):
        parse(text)


def test_moves_add_up_and_a_reset_drops_what_came_before():
    moves = PendingMoves()
    assert moves.take() is None
    for text in ('{"type": "rotate", "dx": 0.5, "dy": 0}', '{"type": "zoom", "factor": 2}'):
        moves.add(parse(text))
    moves.add(("reset",))
    for _ in range(3):
        moves.add(("rotate", 0.1, -0.2))
        moves.add(("zoom", 2.0))
    reset, rotate, pan, zoom = moves.take()
    assert reset and pan == (0.0, 0.0) and zoom == 8.0
    assert rotate == pytest.approx((0.3, -0.6))
    assert moves.take() is None

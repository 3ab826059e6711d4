"""The recording format: the metadata that marks a file a marnox recording, its topics and
frames, and the schemas each topic may carry. The recorder writes it and the reader checks
it from here.
"""

from __future__ import annotations

import numpy as np

from marnox.recording import schemas

# A file marks itself a marnox recording with this metadata record, ahead of any chunk.
METADATA_NAME = "marnox.recording"
FORMAT_VERSION = "1"
# MCAP log times are unsigned 64-bit nanoseconds.
LOG_TIME_END = 2**64

PROJECT_TOPIC = "/marnox/project"
FRAME_TOPIC = "/marnox/frame"
JOINTS_TOPIC = "/marnox/joints"
NODES_TOPIC = "/tf"
LINKS_TOPIC = "/tf/links"
POINTCLOUD_TOPIC = "/pointcloud"
TRAJECTORY_TOPIC = "/trajectory"
_IMAGES_PREFIX = "/images/"
# The frame of point clouds, of top-level nodes' transforms and of robot links'.
WORLD = "world"


def _by_name(*classes):
    return {cls.DESCRIPTOR.full_name: cls for cls in classes}


_ROWS = _by_name(schemas.PointCloud, schemas.Array)
_IMAGE = _by_name(schemas.RawImage, schemas.Array)
_TOPIC_SCHEMAS = {
    PROJECT_TOPIC: _by_name(schemas.ProjectSnapshot),
    FRAME_TOPIC: _by_name(schemas.Frame),
    JOINTS_TOPIC: _by_name(schemas.JointPositions),
    NODES_TOPIC: _by_name(schemas.FrameTransforms),
    LINKS_TOPIC: _by_name(schemas.FrameTransforms),
    POINTCLOUD_TOPIC: _ROWS,
    TRAJECTORY_TOPIC: _ROWS,
}

# What an Array may hold: numbers, in either byte order (NumPy's dtype.str).
ARRAY_DTYPES = frozenset(
    np.dtype(code).newbyteorder(order).str
    for code in "?" + np.typecodes["AllInteger"] + np.typecodes["AllFloat"]
    for order in "<>"
)


def image_topic(index):
    return f"{_IMAGES_PREFIX}{index}"


def topic_schemas(topic):
    """The message types ``topic`` may carry, by schema name, or None for a topic that is
    not ours."""
    found = _TOPIC_SCHEMAS.get(topic)
    if found is None and topic.startswith(_IMAGES_PREFIX):
        number = topic[len(_IMAGES_PREFIX) :]
        if number.isdecimal() and number.isascii() and image_topic(int(number)) == topic:
            return _IMAGE
    return found


def metadata(start_ns):
    """The metadata record's content for a recording that began at ``start_ns``."""
    return {"version": FORMAT_VERSION, "start_ns": str(start_ns)}


def start_ns(content):
    """When the recording began, from its metadata record's content; ValueError for another
    version or a start that is not a log time."""
    version = content.get("version")
    if version != FORMAT_VERSION:
        raise ValueError(f"format version {version!r}, not {FORMAT_VERSION!r}")
    text = content.get("start_ns", "")
    if not (text.isascii() and text.isdecimal() and len(text) <= 20 and int(text) < LOG_TIME_END):
        raise ValueError(f"start time {text[:40]!r} is not a log time")
    return int(text)

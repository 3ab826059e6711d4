"""Recording: reads back what a Recorder wrote and puts it into projects."""

from __future__ import annotations

import struct

import numpy as np
from google.protobuf.message import DecodeError
from mcap.exceptions import McapError

from marnox.recording import codec, schemas
from marnox.recording.index import Index
from marnox.recording.recorder import METADATA_NAME
from marnox.recording.state import restore

_FAULTS = (ValueError, KeyError, IndexError, DecodeError, McapError, struct.error, EOFError)
_EMPTY_ROWS = np.zeros((0, 3))


class Recording:
    """A recording made by ``Recorder``, opened for reading.

    >>> recording = Recording("run.mcap")
    >>> project = recording.project()
    >>> recording.apply(project, 12.5)   # the cell as it was 12.5 s into the run

    Seeking reads the file's index and the few chunks that hold the latest message of each
    topic, never the file from its start. A file whose writer was killed opens with every
    chunk written before the kill.
    """

    def __init__(self, path):
        """Open ``path``; FileNotFoundError if it is missing, ValueError if it is not a marnox
        recording."""
        self._path = path
        try:
            self._index = Index(path, METADATA_NAME)
            self._start_ns = int(self._index.metadata["start_ns"])
            self._frames = self._index.times[codec.FRAME_TOPIC]
        except _FAULTS as error:
            raise ValueError(
                f"{path}: not a marnox recording ({error or type(error).__name__})"
            ) from error
        self._times = [(t - self._start_ns) / 1e9 for t in self._frames]

    def times(self):
        """The times of the recorded frames in seconds, ascending (nanosecond resolution)."""
        return list(self._times)

    def duration(self):
        """Seconds from the first frame to the last."""
        return self._times[-1] - self._times[0]

    def project(self):
        """A new Project as it was when recording began."""
        from marnox.project import Project

        project = Project()
        snapshot = self._read(codec.PROJECT_TOPIC, self._frames[0])
        project._setSnapshot(snapshot)
        self.apply(project, self._times[0])
        return project

    def apply(self, project, time):
        """Set ``project``'s system data, joint positions and node poses to their values at
        the last frame at or before ``time`` seconds (the first frame before it)."""
        stamp = max(self._start_ns + round(float(time) * 1e9), self._frames[0])
        images = self._read(codec.FRAME_TOPIC, stamp)
        restore(
            project,
            pointcloud=self._read(codec.POINTCLOUD_TOPIC, stamp, _EMPTY_ROWS),
            trajectory=self._read(codec.TRAJECTORY_TOPIC, stamp, _EMPTY_ROWS),
            images=[self._read(codec.image_topic(i), stamp) for i in range(images)],
            joints=self._read(codec.JOINTS_TOPIC, stamp, {}),
            nodes=self._read(codec.NODES_TOPIC, stamp, {}),
        )

    def _read(self, topic, stamp, missing=None):
        try:
            found = self._index.latest(topic, stamp)
            if found is None:
                if missing is None:
                    raise ValueError(f"no {topic} message")
                return missing
            name, data = found
            return codec.decode(schemas.BY_NAME[name], data)
        except _FAULTS as error:
            raise ValueError(
                f"{self._path}: damaged recording ({error or type(error).__name__})"
            ) from error

"""Recording: reads back what a Recorder wrote and puts it into projects."""

from __future__ import annotations

import math

import numpy as np

from marnox._files import requireRegularFile
from marnox.recording import codec, format
from marnox.recording.index import Index
from marnox.recording.state import restore

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
        recording of this format version (a FIFO or a device is refused unread)."""
        self._path = path
        requireRegularFile(path, "recording")
        try:
            self._index = Index(path)
            self._start_ns = format.start_ns(self._index.metadata)
            self._frames = self._index.times.get(format.FRAME_TOPIC)
            if not self._frames:
                raise ValueError("no frames")
        except ValueError as error:
            raise ValueError(f"{path}: not a marnox recording ({error})") from error
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
        snapshot = self._read(format.PROJECT_TOPIC, self._frames[0], codec.decode)
        try:
            project._setSnapshot(snapshot)
        except ValueError as error:
            raise self._damaged(f"its project: {error}") from error
        self.apply(project, self._times[0])
        return project

    def apply(self, project, time):
        """Set ``project``'s system data, joint positions and node poses to their values at
        the last frame at or before ``time`` seconds (the first frame before it, the last
        after it). ValueError names a damaged message, and the project is left as it was."""
        time = float(time)
        if math.isnan(time):
            raise ValueError("time must be a number of seconds, not nan")
        # Within the frames' range, so that the infinities need no converting.
        first, last = self._frames[0] - self._start_ns, self._frames[-1] - self._start_ns
        offset = min(max(time * 1e9, first), last)
        stamp = self._start_ns + round(offset)
        images = self._read(format.FRAME_TOPIC, stamp, codec.decode)
        # Each image has a topic of its own.
        if images > len(self._index.times):
            raise self._damaged(f"a frame of {images} images")
        restore(
            project,
            pointcloud=self._read(format.POINTCLOUD_TOPIC, stamp, codec.decode_rows, _EMPTY_ROWS),
            trajectory=self._read(format.TRAJECTORY_TOPIC, stamp, codec.decode_rows, _EMPTY_ROWS),
            images=[
                self._read(format.image_topic(i), stamp, codec.decode_image) for i in range(images)
            ],
            joints=self._read(format.JOINTS_TOPIC, stamp, codec.decode, {}),
            nodes=self._read(format.NODES_TOPIC, stamp, codec.decode, {}),
        )

    def _read(self, topic, stamp, decode, missing=None):
        try:
            found = self._index.latest(topic, stamp)
            if found is None:
                if missing is None:
                    raise ValueError(f"no {topic} message")
                return missing
            return decode(*found)
        except ValueError as error:
            raise self._damaged(f"{topic}: {error}") from error

    def _damaged(self, reason):
        return ValueError(f"{self._path}: damaged recording ({reason})")

"""Recorder: writes a live cell's state to an MCAP file on a thread of its own."""

from __future__ import annotations

import math
import queue
import threading
import time as clock

from mcap.writer import CompressionType, Writer

from marnox.recording import codec, schemas
from marnox.recording.state import capture
from marnox.system import _isFrozen

# A file marks itself a marnox recording with this metadata record, ahead of any chunk.
METADATA_NAME = "marnox.recording"
FORMAT_VERSION = "1"
# Chunks are closed and handed to the operating system at least this often, so a killed
# process loses at most this much of what the writer thread had taken.
CHUNK_SECONDS = 0.5
CHUNK_BYTES = 4 * 1024 * 1024
# Frames waiting for the writer thread. Each holds the arrays the system held at its
# record(), so the queue keeps at most this many generations of them alive.
QUEUE_FRAMES = 4
_STOP = object()


def _named(error, path):
    """``error`` as an OSError that names the file."""
    if isinstance(error, OSError):
        return OSError(error.errno, error.strerror or str(error), str(path))
    return OSError(f"{path}: cannot write the recording ({type(error).__name__}: {error})")


class _Topics:
    """The MCAP writer's schemas and channels, registered on first use, and the last message
    written on each topic, so that only changes are written again."""

    def __init__(self, writer):
        self._writer = writer
        self._schemas = {}
        self._channels = {}
        self._last = {}

    def changed(self, topic, key):
        """Whether ``key`` (what a topic's message is made from) differs from the last one."""
        if self._last.get(topic) == key:
            return False
        self._last[topic] = key
        return True

    def write(self, topic, cls, data, log_time, sequence):
        name = cls.DESCRIPTOR.full_name
        if name not in self._schemas:
            self._schemas[name] = self._writer.register_schema(
                name, schemas.ENCODING, schemas.schema_data(cls)
            )
        key = (topic, name)
        if key not in self._channels:
            self._channels[key] = self._writer.register_channel(
                topic, schemas.ENCODING, self._schemas[name]
            )
        self._writer.add_message(self._channels[key], log_time, data, log_time, sequence)


class Recorder:
    """Records a project's live state to an MCAP file.

    Opening writes the project (workspace and behaviors) and its current state as the
    first frame, at time 0. Each ``record()`` takes the system's point cloud, trajectory
    and images, every robot's joint positions and every node's pose; only what changed
    since the last frame is stored again. Encoding, compressing and writing happen on a
    thread of the recorder's own; ``record()`` waits only when that thread is
    ``QUEUE_FRAMES`` frames behind (``waited`` counts those calls).

    >>> with Recorder(project, "run.mcap") as recorder:
    ...     while running():
    ...         project.system().setPointcloud(read_point_cloud())
    ...         recorder.record()

    A path that cannot be written raises OSError here; a write that fails later
    (a full disk) raises OSError naming the file from the next ``record()`` or from
    ``close()``, and what was written before stays readable.
    """

    def __init__(self, project, path):
        """Open ``path`` for writing and record the project and its current state."""
        self._project = project
        self._path = path
        self._error = None
        self._closed = False
        self._last_time = 0.0
        self._sequence = 0
        self._last_cloud = None
        self.waited = 0
        first = capture(project)
        self._start = clock.monotonic()
        self._start_ns = clock.time_ns()
        self._file = open(path, "wb")
        try:
            self._writer = Writer(
                self._file, chunk_size=CHUNK_BYTES, compression=CompressionType.ZSTD
            )
            self._writer.start(library="marnox")
            metadata = {"version": FORMAT_VERSION, "start_ns": str(self._start_ns)}
            self._writer.add_metadata(METADATA_NAME, metadata)
            self._topics = _Topics(self._writer)
            snapshot = project._getSnapshot().SerializeToString()
            self._topics.write(
                codec.PROJECT_TOPIC, schemas.ProjectSnapshot, snapshot, self._start_ns, 0
            )
            self._writer.flush()
        except OSError as error:
            self._close_file()
            raise _named(error, path) from error
        except BaseException:
            self._close_file()
            raise
        self._queue = queue.Queue(maxsize=QUEUE_FRAMES)
        self._thread = threading.Thread(
            target=self._run, name=f"marnox recorder {path}", daemon=True
        )
        self._thread.start()
        self._put((0.0, first))

    def __enter__(self):
        return self

    def __exit__(self, *exc_info):
        self.close()

    def record(self, time=None):
        """Record the project's state as a frame at ``time`` seconds (default: seconds since
        the recorder opened, by a monotonic clock); ``time`` may not go back."""
        if self._closed:
            raise RuntimeError("record() after close()")
        self._raise_error()
        if time is None:
            time = clock.monotonic() - self._start
        time = float(time)
        if not math.isfinite(time) or time < self._last_time:
            raise ValueError(
                f"time {time} is not a number of seconds at or after the last frame's "
                f"({self._last_time})"
            )
        state = capture(self._project)
        self._last_time = time
        self._put((time, state))

    def close(self):
        """Write what is queued and the file's index, and close the file. Idempotent."""
        if self._closed:
            return
        self._closed = True
        if self._thread.is_alive():
            self._put(_STOP)
            self._thread.join()
        self._close_file()
        self._raise_error()

    def _close_file(self):
        try:
            self._file.close()
        except OSError as error:
            # The first failure is the one to report; closing flushes what failed before.
            if self._error is None:
                self._error = error

    def _put(self, item):
        try:
            self._queue.put_nowait(item)
            return
        except queue.Full:
            self.waited += 1
        while self._thread.is_alive():
            try:
                self._queue.put(item, timeout=0.1)
                return
            except queue.Full:
                pass
        self._raise_error()

    def _raise_error(self):
        if self._error is not None:
            raise _named(self._error, self._path) from self._error

    def _run(self):
        try:
            flushed = clock.monotonic()
            while True:
                try:
                    item = self._queue.get(
                        timeout=max(0.0, flushed + CHUNK_SECONDS - clock.monotonic())
                    )
                except queue.Empty:
                    item = None
                if item is _STOP:
                    self._writer.finish()
                    return
                if item is not None:
                    self._write(*item)
                if clock.monotonic() - flushed >= CHUNK_SECONDS:
                    self._writer.flush()
                    flushed = clock.monotonic()
        except BaseException as error:
            self._error = error
            # Frames still queued will not be written; free the callers waiting to add more.
            while True:
                try:
                    self._queue.get_nowait()
                except queue.Empty:
                    break

    def _write(self, time, state):
        self._sequence += 1
        stamp = self._start_ns + round(time * 1e9)
        topics = self._topics

        def write(topic, message):
            cls, data = message
            if topics.changed(topic, data):
                topics.write(topic, cls, data, stamp, self._sequence)

        def write_from(topic, values, encode):
            # Transforms carry their time, so they are compared by what they are made from.
            if topics.changed(topic, values):
                topics.write(topic, *encode(values, stamp), stamp, self._sequence)

        # The system's cloud is read-only: the same array again is the same message, and
        # encoding a large cloud only to compare it would cost more than writing it.
        if state.pointcloud is not self._last_cloud or not _isFrozen(state.pointcloud):
            write(codec.POINTCLOUD_TOPIC, codec.encode_rows(state.pointcloud))
            self._last_cloud = state.pointcloud
        write(codec.TRAJECTORY_TOPIC, codec.encode_rows(state.trajectory))
        for index, image in enumerate(state.images):
            camera = state.cameras[index] if index < len(state.cameras) else ""
            write(codec.image_topic(index), codec.encode_image(image, camera))
        write(codec.JOINTS_TOPIC, codec.encode_joints(state.joints))
        write_from(codec.NODES_TOPIC, state.nodes, codec.encode_transforms)
        write_from(codec.LINKS_TOPIC, state.links, codec.encode_transforms)
        frame = schemas.Frame(images=len(state.images)).SerializeToString()
        topics.write(codec.FRAME_TOPIC, schemas.Frame, frame, stamp, self._sequence)

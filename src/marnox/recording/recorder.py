"""Recorder: writes a live cell's state to an MCAP file on a thread of its own."""

from __future__ import annotations

import math
import queue
import threading
import time as clock

from mcap.writer import CompressionType, Writer

from marnox.recording import codec, format, schemas
from marnox.recording.state import capture

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
        """Whether ``key`` (the values a topic's message is made from) differs from the last
        one; transforms carry their time, so their messages would always differ."""
        if self._last.get(topic) == key:
            return False
        self._last[topic] = key
        return True

    def array_changed(self, topic, array, frame_id=""):
        """Whether ``array`` (and the frame it is in) differs from the topic's last one,
        checked before encoding it."""
        last = self._last.get(topic)
        if last is not None and last[1] == frame_id and codec.same_array(last[0], array):
            return False
        # Read-only memory of its own cannot change behind the recorder's back, so the same
        # such array again is unchanged; any other is compared with a copy.
        frozen = not array.flags.writeable and array.flags.owndata
        self._last[topic] = array if frozen else array.copy(), frame_id
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
    ``close()``, and what was written before stays readable. What a recording could not
    hold (a time it cannot store, images of anything but numbers) raises ValueError from
    ``record()``, and the recorder goes on.
    """

    def __init__(self, project, path):
        """Open ``path`` for writing and record the project and its current state."""
        self._project = project
        self._path = path
        self._error = None
        self._closed = False
        self._last_time = 0.0
        self._sequence = 0
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
            self._writer.add_metadata(format.METADATA_NAME, format.metadata(self._start_ns))
            self._topics = _Topics(self._writer)
            snapshot = project._getSnapshot().SerializeToString()
            self._topics.write(
                format.PROJECT_TOPIC, schemas.ProjectSnapshot, snapshot, self._start_ns, 0
            )
            self._writer.flush()
        except OSError as error:
            self._close_file()
            raise _named(error, path) from error
        except BaseException:
            self._close_file()
            raise
        self._lock = threading.Lock()
        self._queue = queue.Queue(maxsize=QUEUE_FRAMES)
        self._thread = threading.Thread(
            target=self._run, name=f"marnox recorder {path}", daemon=True
        )
        self._thread.start()
        self._put((self._start_ns, first))

    def __enter__(self):
        return self

    def __exit__(self, *exc_info):
        self.close()

    def record(self, time=None):
        """Record the project's state as a frame at ``time`` seconds (default: seconds since
        the recorder opened, by a monotonic clock); ``time`` may not go back, nor pass the
        last nanosecond a recording can hold (about 500 years on). Safe to call from
        several threads: frames are written in the order of their times."""
        with self._lock:
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
            nanoseconds = time * 1e9
            stamp = self._start_ns + round(nanoseconds) if math.isfinite(nanoseconds) else None
            if stamp is None or stamp >= format.LOG_TIME_END:
                latest = (format.LOG_TIME_END - 1 - self._start_ns) / 1e9
                raise ValueError(f"time {time} is past {latest:.0f}, the last a recording holds")
            state = capture(self._project)
            self._last_time = time
            self._put((stamp, state))

    def close(self):
        """Write what is queued and the file's index, and close the file. Idempotent."""
        with self._lock:
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

    def _write(self, stamp, state):
        self._sequence += 1
        topics = self._topics

        def write(topic, array, encode, *frame_id):
            if topics.array_changed(topic, array, *frame_id):
                topics.write(topic, *encode(array, *frame_id), stamp, self._sequence)

        def write_from(topic, values, encode):
            if topics.changed(topic, values):
                topics.write(topic, *encode(values), stamp, self._sequence)

        def transforms(frames):
            return codec.encode_transforms(frames, stamp)

        write(format.POINTCLOUD_TOPIC, state.pointcloud, codec.encode_rows)
        write(format.TRAJECTORY_TOPIC, state.trajectory, codec.encode_rows)
        for index, image in enumerate(state.images):
            camera = state.cameras[index] if index < len(state.cameras) else ""
            write(format.image_topic(index), image, codec.encode_image, camera)
        write_from(format.JOINTS_TOPIC, state.joints, codec.encode_joints)
        write_from(format.NODES_TOPIC, state.nodes, transforms)
        write_from(format.LINKS_TOPIC, state.links, transforms)
        frame = schemas.Frame(images=len(state.images)).SerializeToString()
        topics.write(format.FRAME_TOPIC, schemas.Frame, frame, stamp, self._sequence)

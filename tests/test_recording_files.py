"""Hostile recording files: Recording opens what it can and refuses the rest with ValueError,
at a cost in proportion to the file's size."""

import os
import struct
import subprocess
import sys
import textwrap
import zlib

import numpy as np
import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

from marnox.pose import Pose
from marnox.project import Project
from marnox.recording import Recorder, Recording, format, schemas
from marnox.recording.playback import serve
from marnox.sample import build_sample_cell

mcap_writer = pytest.importorskip("mcap.writer")
EMPTY_PROJECT = Project()._getSnapshot().SerializeToString()
FRAME = schemas.Frame(images=0).SerializeToString()


def _array(dtype, shape, data):
    return schemas.Array, schemas.Array(dtype=dtype, shape=shape, data=data).SerializeToString()


def _forge(path, messages, metadata=None, summary=True):
    """A recording of ``(log time, topic, (message class, data))``: the project and an empty
    frame at 0 come first. Without ``summary`` it ends where a killed writer's would."""
    messages = [
        (0, format.PROJECT_TOPIC, (schemas.ProjectSnapshot, EMPTY_PROJECT)),
        (0, format.FRAME_TOPIC, (schemas.Frame, FRAME)),
        *messages,
    ]
    with open(path, "wb") as file:
        writer = mcap_writer.Writer(file, chunk_size=1 << 24)
        writer.start()
        writer.add_metadata(format.METADATA_NAME, metadata or format.metadata(0))
        channels = {}
        for log_time, topic, (cls, data) in messages:
            if (topic, cls) not in channels:
                schema = writer.register_schema(
                    cls.DESCRIPTOR.full_name, "protobuf", schemas.schema_data(cls)
                )
                channels[topic, cls] = writer.register_channel(topic, "protobuf", schema)
            writer.add_message(channels[topic, cls], log_time, data, log_time)
        writer.finish()
    if not summary:
        with open(path, "r+b") as file:
            file.truncate(_summary_start(file.read()))
    return str(path)


def _summary_start(data):
    return struct.unpack_from("<Q", data, len(data) - 8 - 29 + 9)[0]


def _open_and_apply(path):
    recording = Recording(str(path))
    project = recording.project()
    for time_ in recording.times():
        recording.apply(project, time_)
    return recording, project


NEXT_FRAME = (1, format.FRAME_TOPIC, (schemas.Frame, FRAME))
ONE_IMAGE = (1, format.FRAME_TOPIC, (schemas.Frame, schemas.Frame(images=1).SerializeToString()))
# Recordings that are well formed MCAP and damaged as recordings.
HOSTILE = {
    "array of dtype foo": [
        NEXT_FRAME,
        (1, format.POINTCLOUD_TOPIC, _array("foo", [1, 3], bytes(24))),
    ],
    "frame topic carrying joints": [(1, format.FRAME_TOPIC, (schemas.JointPositions, b""))],
    "transforms topic carrying an array": [
        NEXT_FRAME,
        (1, format.NODES_TOPIC, _array("<f8", [0, 3], b"")),
    ],
    "point cloud topic carrying a frame": [
        NEXT_FRAME,
        (1, format.POINTCLOUD_TOPIC, (schemas.Frame, FRAME)),
    ],
    "image topic carrying transforms": [
        ONE_IMAGE,
        (1, format.image_topic(0), (schemas.FrameTransforms, b"")),
    ],
    "project topic carrying a frame": [(0, format.PROJECT_TOPIC, (schemas.Frame, FRAME))],
}


@pytest.mark.parametrize("summary", [True, False], ids=["indexed", "killed writer"])
@pytest.mark.parametrize("name", HOSTILE)
def test_damaged_recordings_raise_value_error(tmp_path, name, summary):
    path = _forge(tmp_path / "hostile.mcap", HOSTILE[name], summary=summary)
    with pytest.raises(ValueError, match="hostile.mcap"):
        _open_and_apply(path)


@pytest.mark.parametrize(
    "metadata",
    [{"version": "1", "start_ns": "9" * 400}, {"version": "2", "start_ns": "0"}],
)
def test_metadata_of_another_format_is_refused(tmp_path, metadata):
    with pytest.raises(ValueError, match="not a marnox recording"):
        Recording(_forge(tmp_path / "other.mcap", [], metadata))


@pytest.fixture(scope="module")
def recorded(tmp_path_factory):
    """A sample cell recorded over three frames: (file bytes, {time: cloud, poses})."""
    path = tmp_path_factory.mktemp("recorded") / "cell.mcap"
    project = Project()
    build_sample_cell(project)
    rng = np.random.default_rng(5)
    expected = {}
    with Recorder(project, str(path)) as recorder:
        for time_ in (1.0, 2.0, 3.0):
            project.system().setPointcloud(rng.random((100, 6)))
            project.workspace().find("table").setPose(Pose(rng.random(3)))
            recorder.record(time_)
            expected[time_] = _seen(project)
    return path.read_bytes(), expected


def _seen(project):
    return project.system().pointcloud().tobytes(), project.workspace().find("table").pose()


def _opens_whole(path, expected):
    recording, project = _open_and_apply(path)
    assert recording.times() == [0.0, *expected]
    for time_, (cloud, pose) in expected.items():
        recording.apply(project, time_)
        seen = _seen(project)
        assert seen[0] == cloud
        assert (seen[1].position(), seen[1].orientation()) == (pose.position(), pose.orientation())


def _summary_records(data):
    """``(opcode, body offset, body length)`` of the summary's records."""
    offset, end = _summary_start(data), len(data) - 8 - 29
    while offset < end:
        opcode, length = struct.unpack_from("<BQ", data, offset)
        yield opcode, offset + 9, length
        offset += 9 + length


def _with_checksum(data):
    """``data`` with the summary's checksum made right again."""
    start, footer = _summary_start(data), len(data) - 8 - 29
    checksum = zlib.crc32(data[footer : footer + 25], zlib.crc32(data[start:footer]))
    return data[: footer + 25] + struct.pack("<I", checksum) + data[footer + 29 :]


METADATA_INDEX, CHUNK_INDEX = 0x0D, 0x08


@pytest.mark.parametrize(
    ("opcode", "field", "value"),
    [
        (METADATA_INDEX, 0, 8),  # the metadata's offset, at the header record
        (METADATA_INDEX, 8, 2**62),  # its length
        (CHUNK_INDEX, 16, 2**40),  # the chunk's offset
        (CHUNK_INDEX, 24, 2**63 - 1),  # its length
        (CHUNK_INDEX, -8, 2**62),  # its uncompressed size
        (CHUNK_INDEX, -16, 2**63),  # its compressed size
    ],
)
def test_a_summary_pointing_anywhere_falls_back_to_the_chunks(
    tmp_path, recorded, opcode, field, value
):
    data, expected = recorded
    body, length = next((b, n) for o, b, n in _summary_records(data) if o == opcode)
    at = body + field % length
    tampered = _with_checksum(data[:at] + struct.pack("<Q", value) + data[at + 8 :])
    path = tmp_path / "tampered.mcap"
    path.write_bytes(tampered)
    _opens_whole(path, expected)


FLIPS = st.lists(st.tuples(st.integers(0, 2**16), st.integers(1, 255)), min_size=1, max_size=6)


@settings(max_examples=150, deadline=None)
@given(flips=FLIPS)
def test_random_flips_in_the_summary_fall_back_to_the_chunks(tmp_path_factory, recorded, flips):
    original, expected = recorded
    start = _summary_start(original)
    tampered = bytearray(original)
    for at, bits in flips:
        tampered[start + at % (len(original) - start)] ^= bits
    path = tmp_path_factory.mktemp("flipped") / "flipped.mcap"
    path.write_bytes(bytes(tampered))
    _opens_whole(path, expected)


def _records(*records):
    from mcap.data_stream import RecordBuilder

    builder = RecordBuilder()
    for record in records:
        record.write(builder)
    return builder.end()


def _chunk_file(path, records, uncompressed_size):
    """A recording cut short after one chunk of ``records`` (bytes), as a killed writer leaves
    it, claiming ``uncompressed_size``."""
    import zstandard
    from mcap.records import Chunk, Header, Metadata

    chunk = Chunk(
        message_start_time=0,
        message_end_time=0,
        uncompressed_size=uncompressed_size,
        uncompressed_crc=0,
        compression="zstd",
        data=zstandard.ZstdCompressor(write_content_size=False).compress(records),
    )
    head = _records(
        Header(profile="", library=""),
        Metadata(name=format.METADATA_NAME, metadata=format.metadata(0)),
        chunk,
    )
    path.write_bytes(b"\x89MCAP0\r\n" + head)
    return str(path)


def test_chunks_that_expand_past_what_their_bytes_can_hold_are_refused(tmp_path):
    """A chunk may claim no more than zstd's densest encoding of its bytes, nor hold more
    records than its bytes; a child with 1.5 GB of address space refuses both."""
    from mcap.records import Channel, Message, Schema

    frames = _records(
        Schema(id=1, name="marnox.recording.Frame", encoding="protobuf", data=b""),
        Channel(
            id=1, topic=format.FRAME_TOPIC, message_encoding="protobuf", metadata={}, schema_id=1
        ),
    )
    message = _records(Message(channel_id=1, sequence=0, log_time=0, publish_time=0, data=b""))
    many = frames + message * 1_000_000
    files = {
        "claims four gigabytes": _chunk_file(tmp_path / "claims.mcap", frames, 2**32 - 1),
        "a million messages": _chunk_file(tmp_path / "many.mcap", many, len(many)),
    }
    result = subprocess.run(
        [
            sys.executable,
            "-c",
            textwrap.dedent(f"""
            import resource
            resource.setrlimit(resource.RLIMIT_AS, (1_500_000_000, 1_500_000_000))
            from marnox.recording import Recording
            for name, path in {files!r}.items():
                try:
                    Recording(path)
                    print(name, "opens")
                except ValueError as error:
                    print(name, "ValueError")
            """),
        ],
        capture_output=True,
        text=True,
        timeout=600,
    )
    assert result.returncode == 0, result.stderr
    assert result.stdout.splitlines() == [f"{name} ValueError" for name in files]


class _Timeline:
    """Goes to the given times, one per call of now(), then stops the loop."""

    def __init__(self, times):
        self._times = iter(times)

    def now(self):
        try:
            return next(self._times)
        except StopIteration:
            raise KeyboardInterrupt from None

    def playing(self):
        return True


class _View:
    def update(self):
        pass


def test_serving_reports_a_damaged_message_once_and_goes_on(tmp_path, caplog):
    cloud = np.arange(12.0).reshape(4, 3)
    path = _forge(
        tmp_path / "seek.mcap",
        [
            (10**9, format.FRAME_TOPIC, (schemas.Frame, FRAME)),
            (10**9, format.POINTCLOUD_TOPIC, _array("foo", [1, 3], bytes(24))),
            (2 * 10**9, format.FRAME_TOPIC, (schemas.Frame, FRAME)),
            (2 * 10**9, format.POINTCLOUD_TOPIC, _array("<f8", [4, 3], cloud.tobytes())),
        ],
    )
    recording = Recording(path)
    project = recording.project()
    with pytest.raises(KeyboardInterrupt):
        serve(recording, project, _View(), _Timeline([1.0, 0.0, 1.5, 1.0, 2.0]), frame_seconds=0)
    assert len(caplog.records) == 1
    assert "foo" in caplog.records[0].getMessage()
    assert project.system().pointcloud().tobytes() == cloud.tobytes()


def test_replay_in_windows_ends_in_one_line_at_a_damaged_message(tmp_path, display, capsys):
    from marnox.cli import main

    path = _forge(tmp_path / "damaged.mcap", HOSTILE["array of dtype foo"])
    assert main(["replay", path, "--speed", "20"]) == 2
    assert len(capsys.readouterr().err.splitlines()) == 1


@pytest.mark.parametrize(
    ("name", "options"),
    [
        ("fifo.mcap", []),
        ("zero.mcap", []),
        ("damaged-project.mcap", ["--serve", "--port", "0"]),
        ("good.mcap", ["--serve", "--port", "0", "--speed", "inf"]),
    ],
)
def test_replay_of_bad_input_ends_in_one_line(tmp_path, name, options):
    os.mkfifo(tmp_path / "fifo.mcap")
    os.symlink("/dev/zero", tmp_path / "zero.mcap")
    project = (0, format.PROJECT_TOPIC, (schemas.ProjectSnapshot, b"\xff\xff\xff"))
    _forge(tmp_path / "damaged-project.mcap", [project])
    _forge(tmp_path / "good.mcap", [])
    result = subprocess.run(
        [sys.executable, "-m", "marnox", "replay", str(tmp_path / name), *options],
        capture_output=True,
        text=True,
        timeout=120,
    )
    assert result.returncode == 2
    assert len(result.stderr.splitlines()) == 1, result.stderr

"""Hostile recording files: Recording opens what it can and refuses the rest with ValueError,
at a cost in proportion to the file's size; replay reports them in one line."""

import os
import struct
import subprocess
import sys
import textwrap
import types
import zlib

import numpy as np
import pytest
import zstandard
from hypothesis import given, settings
from hypothesis import strategies as st
from mcap.data_stream import RecordBuilder
from mcap.records import Channel, Chunk, Header, Message, Metadata, Schema
from mcap.writer import Writer

from marnox.project import Project
from marnox.recording import Recorder, Recording, format, schemas
from marnox.recording.playback import serve

EMPTY_PROJECT = (schemas.ProjectSnapshot, Project()._getSnapshot().SerializeToString())
FRAME = (schemas.Frame, schemas.Frame(images=0).SerializeToString())
FOOTER = 8 + 29  # the footer record and the closing magic


def _array(dtype, shape, data):
    return schemas.Array, schemas.Array(dtype=dtype, shape=shape, data=data).SerializeToString()


def _forge(path, messages, metadata=None, summary=True):
    """A recording of ``(log time, topic, (message class, data))`` after the project and a
    frame at 0; without ``summary`` it ends where a killed writer's would."""
    with open(path, "wb") as file:
        writer = Writer(file)
        writer.start()
        writer.add_metadata(format.METADATA_NAME, metadata or format.metadata(0))
        channels = {}
        for log_time, topic, (cls, data) in [
            (0, format.PROJECT_TOPIC, EMPTY_PROJECT),
            (0, format.FRAME_TOPIC, FRAME),
            *messages,
        ]:
            if (topic, cls) not in channels:
                name = cls.DESCRIPTOR.full_name
                schema = writer.register_schema(name, "protobuf", schemas.schema_data(cls))
                channels[topic, cls] = writer.register_channel(topic, "protobuf", schema)
            writer.add_message(channels[topic, cls], log_time, data, log_time)
        writer.finish()
    if not summary:
        with open(path, "r+b") as file:
            file.truncate(_summary_start(file.read()))
    return str(path)


def _summary_start(data):
    return struct.unpack_from("<Q", data, len(data) - FOOTER + 9)[0]


def _clouds(path):
    """``{time: point cloud bytes}`` of every frame of the recording at ``path``."""
    recording = Recording(str(path))
    project = recording.project()
    clouds = {}
    for time_ in recording.times():
        recording.apply(project, time_)
        clouds[time_] = project.system().pointcloud().tobytes()
    return clouds


NEXT_FRAME = (1, format.FRAME_TOPIC, FRAME)
# Well-formed MCAP, damaged as recordings: a dtype NumPy lacks, our topics carrying another
# of our schemas.
HOSTILE = {
    "array of dtype foo": [NEXT_FRAME, (1, format.POINTCLOUD_TOPIC, _array("foo", [1, 3], b""))],
    "frame topic carrying joints": [(1, format.FRAME_TOPIC, (schemas.JointPositions, b""))],
    "transforms carrying an array": [NEXT_FRAME, (1, format.NODES_TOPIC, _array("<f8", [], b""))],
    "point cloud carrying a frame": [NEXT_FRAME, (1, format.POINTCLOUD_TOPIC, FRAME)],
    "image carrying transforms": [
        (1, format.FRAME_TOPIC, (schemas.Frame, schemas.Frame(images=1).SerializeToString())),
        (1, format.image_topic(0), (schemas.FrameTransforms, b"")),
    ],
    "project carrying a frame": [(0, format.PROJECT_TOPIC, FRAME)],
}


@pytest.mark.parametrize("summary", [True, False], ids=["indexed", "killed writer"])
@pytest.mark.parametrize("name", HOSTILE)
def test_damaged_recordings_raise_value_error(tmp_path, name, summary):
    path = _forge(tmp_path / "hostile.mcap", HOSTILE[name], summary=summary)
    with pytest.raises(ValueError, match="hostile.mcap"):
        _clouds(path)


@pytest.mark.parametrize("metadata", [{"version": "1", "start_ns": "9" * 400}, {"version": "2"}])
def test_metadata_of_another_format_is_refused(tmp_path, metadata):
    with pytest.raises(ValueError, match="not a marnox recording"):
        Recording(_forge(tmp_path / "other.mcap", [], metadata))


@pytest.fixture(scope="module")
def recorded(tmp_path_factory):
    """A recording of three point clouds: (its bytes, what it holds)."""
    path = tmp_path_factory.mktemp("recorded") / "clouds.mcap"
    project = Project()
    with Recorder(project, str(path)) as recorder:
        for time_ in (1.0, 2.0, 3.0):
            project.system().setPointcloud(np.random.default_rng(5).random((100, 6)) + time_)
            recorder.record(time_)
    return path.read_bytes(), _clouds(path)


def _summary_field(data, opcode, field):
    """The offset of the u64 ``field`` bytes into (or from the end of, when negative) the
    body of the summary's first ``opcode`` record."""
    offset = _summary_start(data)
    while data[offset] != opcode:
        offset += 9 + struct.unpack_from("<Q", data, offset + 1)[0]
    return offset + 9 + field % struct.unpack_from("<Q", data, offset + 1)[0]


def _with_checksum(data):
    start, footer = _summary_start(data), len(data) - FOOTER
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
    ],
)
def test_a_summary_pointing_anywhere_gives_way_to_the_chunks(
    tmp_path, recorded, opcode, field, value
):
    data, clouds = recorded
    at = _summary_field(data, opcode, field)
    (tmp_path / "tampered.mcap").write_bytes(
        _with_checksum(data[:at] + struct.pack("<Q", value) + data[at + 8 :])
    )
    assert _clouds(tmp_path / "tampered.mcap") == clouds


@settings(max_examples=150, deadline=None)
@given(flips=st.lists(st.tuples(st.integers(0, 2**16), st.integers(1, 255)), min_size=1))
def test_random_flips_in_the_summary_give_way_to_the_chunks(tmp_path_factory, recorded, flips):
    data, clouds = recorded
    start = _summary_start(data)
    tampered = bytearray(data)
    for at, bits in flips:
        tampered[start + at % (len(data) - start)] ^= bits
    path = tmp_path_factory.mktemp("flipped") / "flipped.mcap"
    path.write_bytes(tampered)
    assert _clouds(path) == clouds


def _one_chunk(path, records, uncompressed_size):
    """A file cut short after one chunk of ``records``, claiming ``uncompressed_size``."""
    data = zstandard.ZstdCompressor(write_content_size=False).compress(records)
    head = _records(
        Header(profile="", library=""),
        Metadata(name=format.METADATA_NAME, metadata=format.metadata(0)),
        Chunk("zstd", data, 0, 0, 0, uncompressed_size),
    )
    path.write_bytes(b"\x89MCAP0\r\n" + head)
    return str(path)


def _records(*records):
    builder = RecordBuilder()
    for record in records:
        record.write(builder)
    return builder.end()


@pytest.mark.skipif(bool(os.environ.get("MARNOX_SANITIZE")), reason="ASan reserves address space")
def test_chunks_that_expand_past_what_their_bytes_can_hold_are_refused(tmp_path):
    """A chunk may claim no more than zstd's densest encoding of its bytes, nor hold more
    records than it has bytes; a child with 1.5 GB of address space refuses both."""
    frames = _records(
        Schema(id=1, data=b"", encoding="protobuf", name="marnox.recording.Frame"),
        Channel(1, format.FRAME_TOPIC, "protobuf", {}, 1),
    )
    many = frames + _records(Message(1, 0, b"", 0, 0)) * 1_000_000
    files = {
        "claims 4 GB": _one_chunk(tmp_path / "claims.mcap", frames, 2**32 - 1),
        "a million messages": _one_chunk(tmp_path / "many.mcap", many, len(many)),
    }
    code = f"""
        import resource
        resource.setrlimit(resource.RLIMIT_AS, (1_500_000_000, 1_500_000_000))
        from marnox.recording import Recording
        for name, path in {files!r}.items():
            try:
                Recording(path)
                print(name, "opens")
            except ValueError:
                print(name, "ValueError")
        """
    result = subprocess.run(
        [sys.executable, "-c", textwrap.dedent(code)], capture_output=True, text=True, timeout=600
    )
    assert result.stdout.splitlines() == [f"{name} ValueError" for name in files], result.stderr


def test_serving_reports_a_damaged_message_once_and_goes_on(tmp_path, caplog):
    cloud = np.arange(12.0).reshape(4, 3)
    path = _forge(
        tmp_path / "seek.mcap",
        [
            *HOSTILE["array of dtype foo"],
            (2, format.FRAME_TOPIC, FRAME),
            (2, format.POINTCLOUD_TOPIC, _array("<f8", [4, 3], cloud.tobytes())),
        ],
    )
    recording = Recording(path)
    project = recording.project()
    seeks = iter([1e-9, 0.0, 1e-9, 2e-9])  # log times are nanoseconds
    timeline = types.SimpleNamespace(now=lambda: next(seeks), playing=lambda: True)
    with pytest.raises(StopIteration):
        serve(recording, project, types.SimpleNamespace(update=lambda: None), timeline, 0)
    assert [record.getMessage().count("foo") for record in caplog.records] == [1]
    assert project.system().pointcloud().tobytes() == cloud.tobytes()


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
    damaged = (schemas.ProjectSnapshot, b"\xff\xff\xff")
    _forge(tmp_path / "damaged-project.mcap", [(0, format.PROJECT_TOPIC, damaged)])
    _forge(tmp_path / "good.mcap", [])
    result = subprocess.run(
        [sys.executable, "-m", "marnox", "replay", str(tmp_path / name), *options],
        capture_output=True,
        text=True,
        timeout=120,
    )
    assert result.returncode == 2
    assert len(result.stderr.splitlines()) == 1, result.stderr

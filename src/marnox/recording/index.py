"""Where each message of a recording lies, read from the file's summary or, in a file whose
writer was killed before writing one, from the chunks themselves.

MCAP frames every record as an opcode byte, a little-endian u64 length and the body; that
framing is all a scan needs, and a record cut short ends the scan. Every offset, length and
size read from the file is checked against the file's size before anything is read or
allocated for it, so a hostile file costs memory and time in proportion to its own size.
"""

from __future__ import annotations

import bisect
import io
import os
import struct
import zlib
from collections import OrderedDict, defaultdict

import zstandard
from mcap.data_stream import ReadDataStream
from mcap.exceptions import McapError
from mcap.opcode import Opcode
from mcap.records import Channel, Chunk, ChunkIndex, MessageIndex, Metadata, MetadataIndex, Schema

from marnox.recording import format, schemas

MAGIC = b"\x89MCAP0\r\n"
_RECORD_HEAD = struct.Struct("<BQ")
_MESSAGE_HEAD = struct.Struct("<HIQQ")
# Opcode, length, summary start, summary offsets' start, then the checksum, which covers
# the summary section and the footer up to itself.
_FOOTER = struct.Struct("<BQQQI")
_FOOTER_CHECKED = _FOOTER.size - 4
# zstd's densest block holds 128 KiB in 4 bytes: no chunk a zstd writer made expands by
# more than this.
MAX_EXPANSION = 128 * 1024 // 4
# A zstd writer spends more than a byte on each record of a chunk (about five where
# nothing but the time and sequence number changes), so a chunk holding more records than
# its own bytes was not written by one.
_RECORDS_PER_BYTE = 1
_CHUNK_RECORDS = {Opcode.SCHEMA, Opcode.CHANNEL, Opcode.MESSAGE}
# Decompressed chunks kept for the next seek: a few, of no more bytes than this together
# (beyond the last one read).
CACHED_CHUNKS = 8
CACHED_BYTES = 256 * 2**20


def _records(buffer, start=0):
    """``(opcode, body offset, body length)`` of each whole record in ``buffer``."""
    offset = start
    while offset + _RECORD_HEAD.size <= len(buffer):
        opcode, length = _RECORD_HEAD.unpack_from(buffer, offset)
        body = offset + _RECORD_HEAD.size
        if length > len(buffer) - body:
            return
        yield opcode, body, length
        offset = body + length


def _parse(cls, buffer, body, length):
    """The ``cls`` record whose body lies at ``buffer[body : body + length]``."""
    try:
        return cls.read(ReadDataStream(io.BytesIO(buffer[body : body + length])))
    except (McapError, struct.error, UnicodeDecodeError, OverflowError) as error:
        # OverflowError: a string or bytes field claiming 2**63 bytes or more.
        raise ValueError(f"a damaged {cls.__name__} record") from error


def _decompress(chunk, size):
    """The records of ``chunk``, a record of ``size`` bytes in the file."""
    if chunk.uncompressed_size > size * MAX_EXPANSION:
        raise ValueError(f"a chunk of {size} bytes claims {chunk.uncompressed_size}")
    if chunk.compression == "zstd":
        try:
            data = zstandard.ZstdDecompressor().decompress(
                chunk.data, max_output_size=chunk.uncompressed_size
            )
        except zstandard.ZstdError as error:
            raise ValueError(f"a chunk does not decompress ({error})") from error
    elif chunk.compression == "":
        data = chunk.data
    else:
        raise ValueError(f"unknown chunk compression {chunk.compression[:40]!r}")
    if len(data) != chunk.uncompressed_size:
        raise ValueError("a chunk's size differs from what it claims")
    if chunk.uncompressed_crc and zlib.crc32(data) != chunk.uncompressed_crc:
        raise ValueError("a chunk's checksum does not match its data")
    return data


class Index:
    """Per topic, the log times of its messages in file order and where each lies (the
    chunk's file offset and the message's offset in the uncompressed chunk), and the
    recording's metadata."""

    def __init__(self, path):
        self._path = path
        self.metadata = None
        # Channel id: (topic, message class) for our topics, None for others'.
        self._channels = {}
        self._found = defaultdict(list)
        self._chunks = OrderedDict()
        self._cached_bytes = 0
        with open(path, "rb") as file:
            self._size = os.fstat(file.fileno()).st_size
            if file.read(len(MAGIC)) != MAGIC:
                raise ValueError("no MCAP magic at the start")
            try:
                indexed = self._read_summary(file)
            except ValueError:
                # A damaged summary: the chunks may still be whole.
                indexed = False
            if not indexed:
                self.metadata, self._channels, self._found = None, {}, defaultdict(list)
                self._scan(file)
        self.times = {}
        self._where = {}
        for topic, entries in self._found.items():
            entries.sort()
            self.times[topic] = [entry[0] for entry in entries]
            self._where[topic] = [entry[1:] for entry in entries]
        del self._found

    def _read(self, file, offset, length):
        """``length`` bytes at ``offset``; ValueError where that is not inside the file."""
        if not 0 <= offset <= self._size or not 0 <= length <= self._size - offset:
            raise ValueError(f"{length} bytes at {offset} are outside the file")
        file.seek(offset)
        return file.read(length)

    def _read_record(self, file, offset, opcode):
        """The body of the ``opcode`` record at ``offset``."""
        head = self._read(file, offset, _RECORD_HEAD.size)
        found, length = _RECORD_HEAD.unpack(head)
        if found != opcode:
            raise ValueError(f"no {Opcode(opcode).name} record at {offset}")
        return self._read(file, offset + _RECORD_HEAD.size, length)

    def _read_summary(self, file):
        """Index a finished file from its summary; False when it has none."""
        footer_at = self._size - len(MAGIC) - _FOOTER.size
        if footer_at < len(MAGIC):
            return False
        footer = self._read(file, footer_at, _FOOTER.size + len(MAGIC))
        opcode, length, start, _, checksum = _FOOTER.unpack_from(footer)
        if footer[_FOOTER.size :] != MAGIC or opcode != Opcode.FOOTER or start == 0:
            return False
        if length != _FOOTER.size - _RECORD_HEAD.size:
            raise ValueError("a footer of another length")
        summary = self._read(file, start, footer_at - start)
        if checksum and zlib.crc32(footer[:_FOOTER_CHECKED], zlib.crc32(summary)) != checksum:
            raise ValueError("the summary's checksum does not match")
        found = defaultdict(list)
        for opcode, body, length in _records(summary):
            found[opcode].append((body, length))

        def each(cls, opcode):
            return [_parse(cls, summary, body, length) for body, length in found[opcode]]

        metadata = [
            m for m in each(MetadataIndex, Opcode.METADATA_INDEX) if m.name == format.METADATA_NAME
        ]
        chunks = each(ChunkIndex, Opcode.CHUNK_INDEX)
        if not chunks:
            return False
        if not metadata:
            raise ValueError("no marnox metadata")
        body = self._read_record(file, metadata[0].offset, Opcode.METADATA)
        self.metadata = _parse(Metadata, body, 0, len(body)).metadata
        schemas_by_id = {schema.id: schema for schema in each(Schema, Opcode.SCHEMA)}
        for channel in each(Channel, Opcode.CHANNEL):
            self._add_channel(channel, schemas_by_id)
        for chunk in chunks:
            self._add_chunk_index(file, chunk)
        return True

    def _add_chunk_index(self, file, chunk):
        start = chunk.chunk_start_offset + chunk.chunk_length
        indexes = self._read(file, start, chunk.message_index_length)
        if chunk.uncompressed_size > chunk.chunk_length * MAX_EXPANSION:
            raise ValueError(
                f"a chunk of {chunk.chunk_length} bytes claims {chunk.uncompressed_size}"
            )
        for opcode, body, length in _records(indexes):
            if opcode != Opcode.MESSAGE_INDEX:
                continue
            index = _parse(MessageIndex, indexes, body, length)
            topic = self._topic(index.channel_id)
            if topic is None:
                continue
            for log_time, offset in index.records:
                if offset >= chunk.uncompressed_size:
                    raise ValueError("a message index points past its chunk")
                self._found[topic].append((log_time, chunk.chunk_start_offset, offset))

    def _add_channel(self, channel, schemas_by_id):
        """Take note of a channel; those of our topics must carry our schemas for them."""
        allowed = format.topic_schemas(channel.topic)
        if allowed is None:
            self._channels[channel.id] = None
            return
        schema = schemas_by_id.get(channel.schema_id)
        name = None if schema is None else schema.name
        if (
            name not in allowed
            or schema.encoding != schemas.ENCODING
            or channel.message_encoding != schemas.ENCODING
        ):
            raise ValueError(f"topic {channel.topic} carries {str(name)[:60]!r} messages")
        self._channels[channel.id] = channel.topic, allowed[name]

    def _topic(self, channel_id):
        """The topic of one of our channels, None for another's."""
        if channel_id not in self._channels:
            raise ValueError(f"a message on channel {channel_id}, which the file lacks")
        found = self._channels[channel_id]
        return None if found is None else found[0]

    def _scan(self, file):
        """Index a file from its chunks, up to the first record cut short."""
        offset = len(MAGIC)
        schemas_by_id = {}
        while offset + _RECORD_HEAD.size <= self._size:
            file.seek(offset)
            opcode, length = _RECORD_HEAD.unpack(file.read(_RECORD_HEAD.size))
            if length > self._size - offset - _RECORD_HEAD.size:
                break
            if opcode == Opcode.METADATA:
                body = file.read(length)
                metadata = _parse(Metadata, body, 0, length)
                if metadata.name == format.METADATA_NAME:
                    self.metadata = metadata.metadata
            elif opcode == Opcode.CHUNK:
                if self.metadata is None:
                    break
                body = file.read(length)
                data = _decompress(_parse(Chunk, body, 0, length), length)
                self._index_chunk(offset, data, length, schemas_by_id)
            offset += _RECORD_HEAD.size + length
        if self.metadata is None:
            raise ValueError("no marnox metadata")

    def _index_chunk(self, offset, data, size, schemas_by_id):
        records = 0
        for opcode, body, length in _records(data):
            records += 1
            if records > size * _RECORDS_PER_BYTE:
                raise ValueError(f"a chunk of {size} bytes holds more records than that")
            if opcode not in _CHUNK_RECORDS:
                raise ValueError(f"a chunk holds a record of opcode {opcode}")
            if opcode == Opcode.SCHEMA:
                schema = _parse(Schema, data, body, length)
                schemas_by_id[schema.id] = schema
            elif opcode == Opcode.CHANNEL:
                self._add_channel(_parse(Channel, data, body, length), schemas_by_id)
            else:
                if length < _MESSAGE_HEAD.size:
                    raise ValueError("a message record too short for its head")
                channel_id, _, log_time, _ = _MESSAGE_HEAD.unpack_from(data, body)
                topic = self._topic(channel_id)
                if topic is not None:
                    self._found[topic].append((log_time, offset, body - _RECORD_HEAD.size))

    def latest(self, topic, log_time):
        """``(message class, message data)`` of the topic's last message at or before
        ``log_time``, or None."""
        times = self.times.get(topic, ())
        position = bisect.bisect_right(times, log_time) - 1
        if position < 0:
            return None
        return self.message(topic, position)

    def message(self, topic, position):
        chunk_offset, offset = self._where[topic][position]
        data = self._chunk(chunk_offset)
        if offset > len(data) - _RECORD_HEAD.size - _MESSAGE_HEAD.size:
            raise ValueError("an index entry points past its chunk")
        opcode, length = _RECORD_HEAD.unpack_from(data, offset)
        body = offset + _RECORD_HEAD.size
        if opcode != Opcode.MESSAGE or not _MESSAGE_HEAD.size <= length <= len(data) - body:
            raise ValueError("an index entry points at no message")
        channel_id = _MESSAGE_HEAD.unpack_from(data, body)[0]
        if self._topic(channel_id) != topic:
            raise ValueError(f"an index entry of {topic} points at another topic's message")
        cls = self._channels[channel_id][1]
        return cls, memoryview(data)[body + _MESSAGE_HEAD.size : body + length]

    def _chunk(self, offset):
        data = self._chunks.get(offset)
        if data is None:
            with open(self._path, "rb") as file:
                body = self._read_record(file, offset, Opcode.CHUNK)
            data = _decompress(_parse(Chunk, body, 0, len(body)), len(body))
            self._chunks[offset] = data
            self._cached_bytes += len(data)
            while len(self._chunks) > 1 and (
                len(self._chunks) > CACHED_CHUNKS or self._cached_bytes > CACHED_BYTES
            ):
                self._cached_bytes -= len(self._chunks.popitem(last=False)[1])
        self._chunks.move_to_end(offset)
        return data

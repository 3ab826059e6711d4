"""Where each message of an MCAP file lies, read from the file's index or, in a file whose
writer was killed before writing one, from the chunks themselves.

MCAP frames every record as an opcode byte, a little-endian u64 length and the body;
that framing is all a scan needs, and a record cut short ends the scan.
"""

from __future__ import annotations

import bisect
import io
import struct
import zlib
from collections import OrderedDict, defaultdict

import zstandard
from mcap.data_stream import ReadDataStream
from mcap.exceptions import McapError
from mcap.opcode import Opcode
from mcap.reader import SeekingReader
from mcap.records import Channel, Chunk, MessageIndex, Metadata, Schema

MAGIC = b"\x89MCAP0\r\n"
_RECORD_HEAD = struct.Struct("<BQ")
_MESSAGE_HEAD = struct.Struct("<HIQQ")
_MAX_CHUNK = 1 << 32
CACHED_CHUNKS = 8


def _records(buffer, start=0):
    """``(opcode, body offset, body length)`` of each whole record in ``buffer``."""
    offset = start
    while offset + _RECORD_HEAD.size <= len(buffer):
        opcode, length = _RECORD_HEAD.unpack_from(buffer, offset)
        body = offset + _RECORD_HEAD.size
        if body + length > len(buffer):
            return
        yield opcode, body, length
        offset = body + length


def _parse(cls, buffer, body, length):
    return cls.read(ReadDataStream(io.BytesIO(buffer[body : body + length])))


def _decompress(chunk):
    if chunk.uncompressed_size > _MAX_CHUNK:
        raise ValueError(f"a chunk claims {chunk.uncompressed_size} bytes")
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
        raise ValueError(f"unknown chunk compression {chunk.compression!r}")
    if len(data) != chunk.uncompressed_size:
        raise ValueError("a chunk's size differs from what it claims")
    if chunk.uncompressed_crc and zlib.crc32(data) != chunk.uncompressed_crc:
        raise ValueError("a chunk's checksum does not match its data")
    return data


class Index:
    """Per topic, the log times of its messages in file order and where each lies (the
    chunk's file offset and the message's offset in the uncompressed chunk)."""

    def __init__(self, path, metadata_name):
        self._path = path
        self.schemas = {}
        self.channels = {}
        self.metadata = None
        self._found = defaultdict(list)
        self._chunks = OrderedDict()
        with open(path, "rb") as file:
            if file.read(len(MAGIC)) != MAGIC:
                raise ValueError("no MCAP magic at the start")
            try:
                indexed = self._read_summary(file, metadata_name)
            except (ValueError, KeyError, struct.error, McapError, EOFError, OSError):
                # No summary, a damaged one, or a file too short to have one: the chunks
                # may still be whole.
                indexed = False
            if not indexed:
                self.schemas, self.channels, self._found = {}, {}, defaultdict(list)
                self._scan(file, metadata_name)
        self.times = {}
        self._where = {}
        for topic, entries in self._found.items():
            entries.sort()
            self.times[topic] = [entry[0] for entry in entries]
            self._where[topic] = [entry[1:] for entry in entries]
        del self._found

    def _read_summary(self, file, metadata_name):
        """Index a finished file from its summary; False when it has none."""
        file.seek(0)
        summary = SeekingReader(file).get_summary()
        if summary is None or not summary.chunk_indexes:
            return False
        names = {index.name: index for index in summary.metadata_indexes}
        if metadata_name not in names:
            raise ValueError("no marnox metadata")
        file.seek(names[metadata_name].offset)
        head = file.read(names[metadata_name].length)
        for opcode, body, length in _records(head):
            if opcode == Opcode.METADATA:
                self.metadata = _parse(Metadata, head, body, length).metadata
        self.schemas.update(summary.schemas)
        self.channels.update(summary.channels)
        for chunk in summary.chunk_indexes:
            file.seek(chunk.chunk_start_offset + chunk.chunk_length)
            indexes = file.read(chunk.message_index_length)
            for opcode, body, length in _records(indexes):
                if opcode == Opcode.MESSAGE_INDEX:
                    self._add_index(
                        _parse(MessageIndex, indexes, body, length), chunk.chunk_start_offset
                    )
        return True

    def _scan(self, file, metadata_name):
        """Index a file from its chunks, up to the first record cut short."""
        file.seek(len(MAGIC))
        while True:
            start = file.tell()
            head = file.read(_RECORD_HEAD.size)
            if len(head) < _RECORD_HEAD.size:
                break
            opcode, length = _RECORD_HEAD.unpack(head)
            body = file.read(min(length, _MAX_CHUNK + 1024))
            if len(body) < length:
                break
            if opcode == Opcode.METADATA:
                metadata = _parse(Metadata, body, 0, length)
                if metadata.name == metadata_name:
                    self.metadata = metadata.metadata
            elif opcode == Opcode.CHUNK:
                if self.metadata is None:
                    break
                self._index_chunk(start, _decompress(_parse(Chunk, body, 0, length)))
        if self.metadata is None:
            raise ValueError("no marnox metadata")

    def _index_chunk(self, offset, data):
        for opcode, body, length in _records(data):
            if opcode == Opcode.SCHEMA:
                schema = _parse(Schema, data, body, length)
                self.schemas[schema.id] = schema
            elif opcode == Opcode.CHANNEL:
                channel = _parse(Channel, data, body, length)
                self.channels[channel.id] = channel
            elif opcode == Opcode.MESSAGE:
                channel_id, _, log_time, _ = _MESSAGE_HEAD.unpack_from(data, body)
                topic = self.channels[channel_id].topic
                self._found[topic].append((log_time, offset, body - _RECORD_HEAD.size))

    def _add_index(self, message_index, chunk_offset):
        topic = self.channels[message_index.channel_id].topic
        for log_time, offset in message_index.records:
            self._found[topic].append((log_time, chunk_offset, offset))

    def latest(self, topic, log_time):
        """``(channel's schema name, message data)`` of the topic's last message at or before
        ``log_time``, or None."""
        times = self.times.get(topic, ())
        position = bisect.bisect_right(times, log_time) - 1
        if position < 0:
            return None
        return self.message(topic, position)

    def message(self, topic, position):
        chunk_offset, offset = self._where[topic][position]
        data = self._chunk(chunk_offset)
        opcode, length = _RECORD_HEAD.unpack_from(data, offset)
        body = offset + _RECORD_HEAD.size
        if opcode != Opcode.MESSAGE or body + length > len(data):
            raise ValueError("an index entry points at no message")
        channel_id = _MESSAGE_HEAD.unpack_from(data, body)[0]
        schema = self.schemas[self.channels[channel_id].schema_id]
        return schema.name, data[body + _MESSAGE_HEAD.size : body + length]

    def _chunk(self, offset):
        data = self._chunks.get(offset)
        if data is None:
            with open(self._path, "rb") as file:
                file.seek(offset)
                head = file.read(_RECORD_HEAD.size)
                opcode, length = _RECORD_HEAD.unpack(head)
                if opcode != Opcode.CHUNK or length > _MAX_CHUNK + 1024:
                    raise ValueError("an index entry points at no chunk")
                body = file.read(length)
            data = _decompress(_parse(Chunk, body, 0, len(body)))
            self._chunks[offset] = data
            if len(self._chunks) > CACHED_CHUNKS:
                self._chunks.popitem(last=False)
        self._chunks.move_to_end(offset)
        return data

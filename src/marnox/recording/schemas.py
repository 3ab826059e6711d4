"""The message types of a recording, and the schema data MCAP embeds for each.

Foxglove's schemas and our own come from a descriptor set made at build time, loaded into a
pool of their own: a user's copy of Foxglove's generated modules in the default pool cannot
clash with them, and no generated code ties them to one protobuf runtime.
"""

from __future__ import annotations

from importlib import resources

from google.protobuf import descriptor_pb2, descriptor_pool, message_factory

from orvane.api import project_pb2

ENCODING = "protobuf"

_set = descriptor_pb2.FileDescriptorSet.FromString(
    resources.files(__package__).joinpath("schemas.binpb").read_bytes()
)
_pool = descriptor_pool.DescriptorPool()
for _file in _set.file:
    _pool.Add(_file)


def _message(name):
    return message_factory.GetMessageClass(_pool.FindMessageTypeByName(name))


PointCloud = _message("foxglove.PointCloud")
PackedElementField = _message("foxglove.PackedElementField")
RawImage = _message("foxglove.RawImage")
FrameTransforms = _message("foxglove.FrameTransforms")
Frame = _message("marnox.recording.Frame")
Array = _message("marnox.recording.Array")
JointPositions = _message("marnox.recording.JointPositions")
ProjectSnapshot = project_pb2.ProjectSnapshot


def schema_data(cls):
    """The serialized FileDescriptorSet of ``cls``'s file and all it imports, imports first,
    as MCAP's protobuf schema encoding asks."""
    files = descriptor_pb2.FileDescriptorSet()
    added = set()

    def add(file):
        if file.name in added:
            return
        added.add(file.name)
        for dependency in file.dependencies:
            add(dependency)
        file.CopyToProto(files.file.add())

    add(cls.DESCRIPTOR.file)
    return files.SerializeToString()

"""Writes the Python module of a .proto file in a form every protobuf runtime loads.

protoc's own Python output opens with a check that ties it to one major version of
the runtime: older runtimes refuse it, the next major warns, the one after refuses.
This module carries the same serialized descriptor and builds its classes through the
same builder calls, without that check, so one build loads without a warning on every
runtime the package supports, whichever protoc generated it.

usage: write_pb2.py PROTO_ROOT PROTO_FILE OUTPUT
"""

import sys
import tempfile
from pathlib import Path

from google.protobuf import descriptor_pb2
from grpc_tools import protoc

TEMPLATE = """\
# Generated from {source} by tools/write_pb2.py. DO NOT EDIT!
\"\"\"Generated protocol buffer code.\"\"\"

from google.protobuf import descriptor_pool as _descriptor_pool
from google.protobuf.internal import builder as _builder

DESCRIPTOR = _descriptor_pool.Default().AddSerializedFile({serialized!r})

_globals = globals()
_builder.BuildMessageAndEnumDescriptors(DESCRIPTOR, _globals)
_builder.BuildTopDescriptorsAndMessages(DESCRIPTOR, {module!r}, _globals)
"""


def clear_json_names(messages):
    """protoc's Python output embeds no json_name; keep the descriptor byte for byte the same."""
    for message in messages:
        for field in message.field:
            field.ClearField("json_name")
        clear_json_names(message.nested_type)


def compile_descriptor(proto_root: Path, proto_file: Path) -> descriptor_pb2.FileDescriptorProto:
    with tempfile.TemporaryDirectory() as scratch:
        descriptor_set = Path(scratch) / "descriptor_set.pb"
        status = protoc.main(
            ["protoc", f"-I{proto_root}", f"--descriptor_set_out={descriptor_set}", str(proto_file)]
        )
        if status != 0:
            sys.exit(f"protoc failed on {proto_file} (status {status})")
        files = descriptor_pb2.FileDescriptorSet.FromString(descriptor_set.read_bytes()).file
    (descriptor,) = files
    clear_json_names(descriptor.message_type)
    return descriptor


def main(proto_root: str, proto_file: str, output: str) -> None:
    descriptor = compile_descriptor(Path(proto_root), Path(proto_file))
    module = descriptor.name.removesuffix(".proto").replace("/", ".") + "_pb2"
    text = TEMPLATE.format(
        source=descriptor.name, serialized=descriptor.SerializeToString(), module=module
    )
    Path(output).parent.mkdir(parents=True, exist_ok=True)
    Path(output).write_text(text, encoding="utf-8")


if __name__ == "__main__":
    main(*sys.argv[1:])

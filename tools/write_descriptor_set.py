"""Writes the descriptors of .proto files and of everything they import as one serialized
FileDescriptorSet.

Recordings embed the Foxglove schemas and our own as descriptors. Reading them from a set
made at build time keeps them out of protobuf's default pool (where a user's own copy of
Foxglove's generated modules could clash with them) and ties them to no protobuf runtime.

usage: write_descriptor_set.py PROTO_ROOT OUTPUT PROTO_FILE...
"""

import sys
from importlib import resources
from pathlib import Path

from grpc_tools import protoc


def main(proto_root: str, output: str, *proto_files: str) -> None:
    well_known = resources.files("grpc_tools") / "_proto"
    Path(output).parent.mkdir(parents=True, exist_ok=True)
    status = protoc.main(
        ["protoc", f"-I{proto_root}", f"-I{well_known}", "--include_imports"]
        + [f"--descriptor_set_out={output}", *proto_files]
    )
    if status != 0:
        sys.exit(f"protoc failed on {', '.join(proto_files)} (status {status})")


if __name__ == "__main__":
    main(*sys.argv[1:])

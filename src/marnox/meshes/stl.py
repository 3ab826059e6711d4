"""STL: a binary file must hold exactly the triangles its header counts."""

from __future__ import annotations

import os
import struct

from vtkmodules.vtkIOGeometry import vtkSTLReader

from marnox.meshes._reading import MeshError, runReader


def checkStl(head, size):
    """A binary STL must hold exactly the triangles its header counts.

    ``head`` is the start of the file (at least 84 bytes, or all of it),
    ``size`` its length; a binary file's triangles need not be read for this.
    """
    if size == 0:
        raise MeshError("empty file")
    if size >= 84:
        (count,) = struct.unpack_from("<I", head, 80)
        if size == 84 + 50 * count:
            if count == 0:
                raise MeshError("binary STL with no triangles")
            return
    if not head.lstrip()[:5].lower() == b"solid":
        if size < 84:
            raise MeshError(f"too short for a binary STL ({size} bytes)")
        raise MeshError(
            f"binary STL header counts {count} triangles ({84 + 50 * count} bytes) "
            f"but the file holds {size} bytes"
        )
    if b"facet" not in head or b"vertex" not in head:
        raise MeshError("ASCII STL with no facets")


def readStl(path):
    """The surface of an STL file; STL has no colours."""
    # The header and the size tell a consistent binary STL; an ASCII one's
    # first facet lies near its start.
    with open(path, "rb") as stream:
        head = stream.read(4096)
        size = os.fstat(stream.fileno()).st_size
    checkStl(head, size)
    return runReader(vtkSTLReader(), path)

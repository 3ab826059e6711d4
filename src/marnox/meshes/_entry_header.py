"""The header of a kept mesh checked before VTK's reader trusts it.

VTK's XML reader allocates every array its header declares (and the
connectivity its offsets declare) before it finds the data too short, and an
allocation too large to make ends the process. An entry written here stores
every array it declares in full, so whatever it declares fits in its bytes; a
header that declares more, or anything an entry never holds, is refused.
"""

from __future__ import annotations

import re
import sys
from xml.etree import ElementTree

import numpy as np

APPENDED = b'<AppendedData encoding="raw">\n   _'
_ITEM_BYTES = {
    **{"Int8": 1, "UInt8": 1, "Int16": 2, "UInt16": 2, "Int32": 4, "UInt32": 4},
    **{"Int64": 8, "UInt64": 8, "Float32": 4, "Float64": 8},
    # At least the byte that ends each string.
    "String": 1,
}
_CELL_KINDS = ("Verts", "Lines", "Strips", "Polys")
_SECTIONS = {"FieldData", "PointData", "CellData", "Points", *_CELL_KINDS}
_BYTE_ORDER = "LittleEndian" if sys.byteorder == "little" else "BigEndian"
_COUNT = re.compile(r"\s*(\d{1,19})\s*\Z")


class _Refused(Exception):
    pass


def _count(element, name, default=0):
    value = element.get(name)
    if value is None:
        return default
    found = _COUNT.match(value)
    if found is None:
        raise _Refused
    return int(found.group(1))


def _largestOffset(data, start, array, length):
    """The largest value in an offsets array's block, which bounds the connectivity."""
    if array.get("type") not in ("Int32", "Int64"):
        raise _Refused
    at = start + _count(array, "offset")
    if at + 8 > length:
        raise _Refused
    (size,) = np.frombuffer(data, dtype=np.uint64, count=1, offset=at)
    dtype = np.dtype(array.get("type").lower())
    count = min(int(size), length - at - 8) // dtype.itemsize
    values = np.frombuffer(data, dtype=dtype, count=count, offset=at + 8)
    return max(int(values.max()), 0) if count else 0


def _arrayBytes(data, start, length, section, array, counts):
    """The bytes that ``array`` of ``section`` takes, as the reader allocates them."""
    kind = array.get("type")
    if array.get("format") != "appended" or kind not in _ITEM_BYTES:
        raise _Refused
    tuples = _count(array, "NumberOfTuples")
    if section.tag in ("Points", "PointData"):
        tuples = max(tuples, counts["Points"])
    elif section.tag == "CellData":
        tuples = max(tuples, sum(counts[kind] for kind in _CELL_KINDS))
    elif section.tag in _CELL_KINDS and array.get("Name") == "offsets":
        tuples = max(tuples, counts[section.tag] + 1)
    elif section.tag in _CELL_KINDS:
        offsets = section.find("DataArray[@Name='offsets']")
        if offsets is None:
            raise _Refused
        tuples = max(tuples, _largestOffset(data, start, offsets, length))
    return tuples * _count(array, "NumberOfComponents", 1) * _ITEM_BYTES[kind]


def _declaredBytes(data, head, length):
    root = ElementTree.fromstring(head + b"</VTKFile>")
    if (
        root.tag != "VTKFile"
        or root.get("type") != "PolyData"
        or root.get("byte_order") != _BYTE_ORDER
        or root.get("header_type") != "UInt64"
        or "compressor" in root.attrib
        or [child.tag for child in root] != ["PolyData"]
    ):
        raise _Refused
    (polydata,) = root
    pieces = [child for child in polydata if child.tag == "Piece"]
    sections = [child for child in polydata if child.tag != "Piece"] + [
        section for piece in pieces for section in piece
    ]
    if len(pieces) != 1 or any(section.tag not in _SECTIONS for section in sections):
        raise _Refused
    counts = {kind: _count(pieces[0], "NumberOf" + kind) for kind in ("Points", *_CELL_KINDS)}
    start, total = len(head) + len(APPENDED), 0
    for section in sections:
        for array in section:
            if array.tag not in ("DataArray", "Array") or len(array):
                raise _Refused
            total += _arrayBytes(data, start, length, section, array, counts)
    # Each point takes three numbers at least, each cell an offset.
    least = 12 * counts["Points"] + 8 * sum(counts[kind] for kind in _CELL_KINDS)
    return max(total, least)


def fitsItsData(data, length):
    """Whether the entry whose first ``length`` bytes of ``data`` are its XML declares
    only arrays that those bytes can hold."""
    end = data.find(APPENDED, 0, length)
    head = data[: max(end, 0)]
    # A document type could declare entities, which an entry never uses.
    if not head or b"<!" in head:
        return False
    try:
        return _declaredBytes(data, head, length) <= length
    except (_Refused, ElementTree.ParseError, ValueError):
        return False

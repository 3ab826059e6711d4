"""Meshes converted once and kept on disk, so that later runs skip the slow readers.

An entry is the polydata a fresh read gave, as VTK XML polydata with raw
appended arrays (which VTK reads at the speed of the disk), followed by an
XML comment holding the length and CRC-32 of what precedes it, so that an
entry cut short or damaged is noticed and read afresh. Its name is a hash of
the mesh file's resolved path, size, times and inode (and those of the files
it draws on), the conversion's version and VTK's, so a changed file or
a new marnox reads the mesh again.

``MARNOX_MESH_CACHE`` chooses the folder (``0`` turns the cache off); by
default it is the user's cache folder (``$XDG_CACHE_HOME/marnox/meshes`` on
Linux). Entries are written beside their place and renamed into it, so
processes filling the cache at once never see half an entry; when the
folder outgrows its limit, the entries used longest ago go first. A folder
that cannot be written is reported once (a warning of the ``marnox.meshes``
logger) and passed over. The folder may be shared: an entry is checked as a
mesh file is before it is used, and one that does not pass is read afresh.
"""

from __future__ import annotations

import hashlib
import logging
import os
import re
import tempfile
import time
import zlib

from vtkmodules.vtkCommonCore import vtkVersion
from vtkmodules.vtkIOXML import vtkXMLPolyDataReader, vtkXMLPolyDataWriter

from marnox._files import readRegularFile
from marnox.meshes._entry_header import fitsItsData
from marnox.meshes._reading import MeshError, ReaderErrors, checkCells, runReader

# Raise when a reader's output changes, so that entries made before are not used.
CONVERSION_VERSION = 1
SIZE_LIMIT = 1 << 30
_ENDING = ".vtp"
_TRAILER = re.compile(rb"\n<!-- marnox mesh (\d+) ([0-9a-f]{8}) -->\n\Z")
# A temporary file this old belongs to a process that died while writing it.
_STALE_SECONDS = 3600
LOG = logging.getLogger("marnox.meshes")
# The folders this process could not write to.
_unwritable = set()


def folder():
    """The folder entries go in, or None when the cache is off."""
    setting = os.environ.get("MARNOX_MESH_CACHE", "")
    if setting == "0":
        return None
    if setting:
        return setting
    import platformdirs

    return os.path.join(platformdirs.user_cache_dir("marnox", appauthor=False), "meshes")


def entryName(fileKey, linked=()):
    """The entry's file name for a mesh file's key (resolved path, size, times, inode)
    and the keys of the files it draws on (an OBJ's material libraries)."""
    text = repr((fileKey, tuple(linked), CONVERSION_VERSION, vtkVersion.GetVTKVersion()))
    return hashlib.sha256(text.encode()).hexdigest()[:40] + _ENDING


def load(name):
    """The polydata kept as ``name``, or None when there is none or it is damaged."""
    place = folder()
    if place is None:
        return None
    path = os.path.join(place, name)
    try:
        data = readRegularFile(path, "mesh cache entry")
    except (OSError, ValueError):
        return None
    found = _TRAILER.search(data[-64:])
    if found is None:
        return None
    length, crc = int(found.group(1)), int(found.group(2), 16)
    if length != len(data) - len(found.group(0)) or zlib.crc32(memoryview(data)[:length]) != crc:
        return None
    # Read from the bytes checked, not from the file again, which may have changed.
    if not fitsItsData(data, length):
        return None
    reader = vtkXMLPolyDataReader()
    reader.ReadFromInputStringOn()
    reader.SetInputString(data)
    try:
        polydata = runReader(reader)
        checkCells(polydata)
    except MeshError:
        return None
    try:
        # Marks the entry as used, so that the size limit drops others first.
        os.utime(path)
    except OSError:
        pass
    return polydata


def store(name, polydata):
    """Keeps ``polydata`` as ``name``; a folder that cannot be written (full, read-only)
    is reported once and passed over from then on."""
    place = folder()
    if place is None or place in _unwritable:
        return
    temporary = None
    try:
        os.makedirs(place, exist_ok=True)
        handle, temporary = tempfile.mkstemp(dir=place, prefix=".writing-", suffix=_ENDING)
        with open(handle, "wb") as stream:
            data = _written(polydata)
            if data is None:
                return
            stream.write(data)
            stream.write(b"\n<!-- marnox mesh %d %08x -->\n" % (len(data), zlib.crc32(data)))
        os.replace(temporary, os.path.join(place, name))
        temporary = None
        _keepWithinLimit(place)
    except OSError as error:
        _unwritable.add(place)
        LOG.warning(
            "mesh cache %s cannot be written (%s): meshes are read afresh each run",
            place,
            error.strerror or error,
        )
    finally:
        if temporary is not None:
            _remove(temporary)


def _written(polydata):
    """``polydata`` as the bytes of an entry, or None when VTK cannot write it."""
    writer = vtkXMLPolyDataWriter()
    writer.SetInputData(polydata)
    writer.SetDataModeToAppended()
    writer.EncodeAppendedDataOff()
    writer.SetCompressorTypeToNone()
    writer.SetHeaderTypeToUInt64()
    # Written in memory, so that the checksum needs no second pass over the disk.
    writer.WriteToOutputStringOn()
    errors = ReaderErrors(writer)
    if not writer.Write() or errors.messages:
        return None
    return writer.GetOutputString()


def _keepWithinLimit(place):
    entries, total, now = [], 0, time.time()
    with os.scandir(place) as found:
        for entry in found:
            if not entry.name.endswith(_ENDING):
                continue
            try:
                info = entry.stat()
            except OSError:
                continue
            if entry.name.startswith(".writing-"):
                if now - info.st_mtime > _STALE_SECONDS:
                    _remove(entry.path)
                continue
            entries.append((info.st_mtime, info.st_size, entry.path))
            total += info.st_size
    for _, size, path in sorted(entries):
        if total <= SIZE_LIMIT:
            break
        _remove(path)
        total -= size


def _remove(path):
    try:
        os.remove(path)
    except OSError:
        pass

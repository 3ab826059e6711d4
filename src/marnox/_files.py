"""Checks of the files marnox reads, made before reading them."""

from __future__ import annotations

import errno
import os
import stat


def requireRegularFile(path, what):
    """``os.stat(path)``, following links; FileNotFoundError if nothing is there and
    ValueError unless it is a regular file: reading a FIFO or a device would block or never
    end. ``what`` names the kind of file in the messages ("mesh file")."""
    try:
        info = os.stat(path)
    except FileNotFoundError:
        raise _notFound(path, what) from None
    return _regular(info, path, what)


def readRegularFile(path, what):
    """The bytes of ``path``, checked as ``requireRegularFile`` checks it, but on the file
    opened, and opened without waiting: a FIFO put in its place after a check cannot
    block the read, nor a device make it endless."""
    flags = os.O_RDONLY | getattr(os, "O_NONBLOCK", 0) | getattr(os, "O_BINARY", 0)
    try:
        descriptor = os.open(path, flags)
    except FileNotFoundError:
        raise _notFound(path, what) from None
    with open(descriptor, "rb") as stream:
        _regular(os.fstat(descriptor), path, what)
        return stream.read()


def _notFound(path, what):
    return FileNotFoundError(errno.ENOENT, f"{what} not found", path)


def _regular(info, path, what):
    if not stat.S_ISREG(info.st_mode):
        raise ValueError(f"{path}: not a {what} (not a regular file)")
    return info

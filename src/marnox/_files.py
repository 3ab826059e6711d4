"""Checks of the files marnox reads, made before opening them."""

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
        raise FileNotFoundError(errno.ENOENT, f"{what} not found", path) from None
    if not stat.S_ISREG(info.st_mode):
        raise ValueError(f"{path}: not a {what} (not a regular file)")
    return info

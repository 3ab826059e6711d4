"""What a project's cameras see, written as PNG files: colour, depth in millimetres, labels."""

from __future__ import annotations

import json
import os
import re

import numpy as np

# The pixel a 16-bit PNG can hold at most: depths beyond 65.535 m are written as this.
_UINT16_MAX = 65535
_UNSAFE = re.compile(r"[^A-Za-z0-9._-]")


def fileStem(name):
    """The camera's name as a file name: every character but letters, digits, '.', '_' and
    '-' becomes '_', and a name of dots only gets a leading '_', so no name leaves the folder."""
    stem = _UNSAFE.sub("_", name)
    return "_" + stem if stem.strip(".") == "" else stem


def fileNames(name, labels=True):
    """The files camera ``name`` is written as: NAME.png, NAME-depth.png and, with
    ``labels``, NAME-labels.png."""
    stem = fileStem(name)
    return [stem + ".png", stem + "-depth.png"] + ([stem + "-labels.png"] if labels else [])


def sharedFile(names, labels=True):
    """``(file, camera, other camera)`` for the first file that two of the cameras
    ``names`` would both be written as, or None. Names that differ only in case clash
    too, as they do on the file systems that do not tell them apart; a name given twice
    clashes with itself."""
    owners = {}
    for index, name in enumerate(names):
        for file in fileNames(name, labels):
            owner, first = owners.setdefault(file.casefold(), (index, name))
            if owner != index:
                return file, first, name
    return None


def checkLabelCount(count):
    """ValueError unless ``count`` labels can be numbered in a 16-bit label image."""
    if count > _UINT16_MAX:
        raise ValueError(
            f"{count} labels do not fit a 16-bit label image (at most {_UINT16_MAX}); "
            "write without labels"
        )


def pngBytes(image):
    """A (rows, columns[, channels]) uint8 or uint16 array as PNG bytes, row 0 at the top."""
    from vtkmodules.util import numpy_support
    from vtkmodules.vtkCommonDataModel import vtkImageData
    from vtkmodules.vtkIOImage import vtkPNGWriter

    array = np.asarray(image)
    if array.ndim == 2:
        array = array[:, :, np.newaxis]
    rows, columns, channels = array.shape
    data = vtkImageData()
    data.SetDimensions(columns, rows, 1)
    flat = np.ascontiguousarray(array[::-1]).reshape(-1, channels)
    data.GetPointData().SetScalars(numpy_support.numpy_to_vtk(flat, deep=True))
    writer = vtkPNGWriter()
    writer.SetInputData(data)
    writer.WriteToMemoryOn()
    writer.Write()
    return numpy_support.vtk_to_numpy(writer.GetResult()).tobytes()


def writePng(path, image):
    """Write a (rows, columns[, channels]) uint8 or uint16 array as PNG, row 0 at the top;
    OSError naming ``path`` when it cannot be written."""
    # Encoded in memory and written here, so that a file that cannot be written is an
    # OSError saying why, and VTK prints nothing.
    data = pngBytes(image)
    with open(path, "wb") as file:
        file.write(data)


def depthMillimetres(depth):
    """16-bit millimetres from metres, 0 where nothing was seen."""
    millimetres = np.rint(np.nan_to_num(depth, nan=0.0) * 1000.0)
    return np.clip(millimetres, 0, _UINT16_MAX).astype(np.uint16)


def writeFrames(frames, labelNames, out):
    """Write each frame's NAME.png, NAME-depth.png and, with labels, NAME-labels.png into
    ``out``, and ``labels.json`` mapping each label pixel value to its node's path (0 is
    nothing). Returns the paths written.

    Raises ValueError, before writing anything, when two frames would be written as the
    same file or there are more labels than a 16-bit image can number; OSError when a
    file cannot be written.
    """
    labelled = [frame.labels for frame in frames if frame.labels is not None]
    clash = sharedFile([frame.name for frame in frames], labels=bool(labelled))
    if clash is not None:
        file, first, second = clash
        raise ValueError(f"cameras {first!r} and {second!r} would both be written as {file}")
    count = len(labelNames or ())
    for labels in labelled:
        count = max(count, int(labels.max()) + 1 if labels.size else 0)
    checkLabelCount(count)
    written = []
    for frame in frames:
        paths = [os.path.join(out, name) for name in fileNames(frame.name)]
        writePng(paths[0], frame.color)
        writePng(paths[1], depthMillimetres(frame.depth))
        written += paths[:2]
        if frame.labels is not None:
            writePng(paths[2], (frame.labels + 1).astype(np.uint16))
            written.append(paths[2])
    if labelNames is not None:
        path = os.path.join(out, "labels.json")
        with open(path, "w", encoding="utf-8") as file:
            json.dump(
                {str(index + 1): name for index, name in enumerate(labelNames)}, file, indent=1
            )
        written.append(path)
    return written

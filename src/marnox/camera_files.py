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


def _pngWriter(image):
    """A vtkPNGWriter holding a (rows, columns[, channels]) uint8 or uint16 array, row 0 at
    the top."""
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
    return writer


def writePng(path, image):
    """Write a (rows, columns[, channels]) uint8 or uint16 array as PNG, row 0 at the top."""
    writer = _pngWriter(image)
    writer.SetFileName(path)
    writer.Write()
    if writer.GetErrorCode():
        raise OSError(f"{path}: cannot write")


def pngBytes(image):
    """A (rows, columns[, channels]) uint8 or uint16 array as PNG bytes, row 0 at the top."""
    from vtkmodules.util import numpy_support

    writer = _pngWriter(image)
    writer.WriteToMemoryOn()
    writer.Write()
    return numpy_support.vtk_to_numpy(writer.GetResult()).tobytes()


def depthMillimetres(depth):
    """16-bit millimetres from metres, 0 where nothing was seen."""
    millimetres = np.rint(np.nan_to_num(depth, nan=0.0) * 1000.0)
    return np.clip(millimetres, 0, _UINT16_MAX).astype(np.uint16)


def writeFrames(frames, labelNames, out):
    """Write each frame's NAME.png, NAME-depth.png and, with labels, NAME-labels.png into
    ``out``, and ``labels.json`` mapping each label pixel value to its node's path (0 is
    nothing). Returns the paths written."""
    written = []
    for frame in frames:
        stem = os.path.join(out, fileStem(frame.name))
        writePng(stem + ".png", frame.color)
        writePng(stem + "-depth.png", depthMillimetres(frame.depth))
        written += [stem + ".png", stem + "-depth.png"]
        if frame.labels is not None:
            writePng(stem + "-labels.png", (frame.labels + 1).astype(np.uint16))
            written.append(stem + "-labels.png")
    if labelNames is not None:
        path = os.path.join(out, "labels.json")
        with open(path, "w", encoding="utf-8") as file:
            json.dump(
                {str(index + 1): name for index, name in enumerate(labelNames)}, file, indent=1
            )
        written.append(path)
    return written

"""What the formats share: their error, a file's bytes, VTK's readers run quietly, colours."""

from __future__ import annotations

import re

import numpy as np
from vtkmodules.util import numpy_support
from vtkmodules.vtkCommonCore import VTK_STRING, VTK_UNSIGNED_CHAR, vtkCommand

from marnox._files import readRegularFile

_ESCAPES = re.compile(r"\x1b\[[0-9;]*m")


class MeshError(ValueError):
    """A mesh file that cannot be read safely, with the reason."""


def readBytes(path):
    """The whole file; an empty one is a MeshError."""
    data = readRegularFile(path, "mesh file")
    if not data:
        raise MeshError("empty file")
    return data


def readLinked(path, what):
    """A file another file names (an MTL library, a glTF buffer): its bytes, or a MeshError."""
    try:
        return readRegularFile(path, what)
    except (OSError, ValueError) as error:
        reason = getattr(error, "strerror", None) or error
        raise MeshError(f"{what} {path} cannot be read ({reason})") from error


class ReaderErrors:
    """Collects the errors a VTK reader reports instead of letting VTK print them."""

    def __init__(self, algorithm):
        self.messages = []
        algorithm.AddObserver(vtkCommand.ErrorEvent, self._record)
        # The executive repeats the reader's failure; that copy adds nothing.
        algorithm.GetExecutive().AddObserver(vtkCommand.ErrorEvent, self._ignore)
        # Warnings (an odd line an OBJ reader skips, say) do not stop a read;
        # observing them keeps VTK from printing them.
        algorithm.AddObserver(vtkCommand.WarningEvent, self._ignore)

    def _record(self, caller, event, message):
        # VTK's text carries terminal colour codes and the object's address.
        text = _ESCAPES.sub("", str(message)).strip().splitlines()[-1]
        self.messages.append(text.split("): ", 1)[-1])

    _record.CallDataType = VTK_STRING

    def _ignore(self, caller, event, message=None):
        pass


def runReader(reader, path=None):
    """The output of a VTK reader run on ``path`` (or on the input it was given);
    its first error as a MeshError."""
    if path is not None:
        reader.SetFileName(path)
    errors = ReaderErrors(reader)
    reader.Update()
    if errors.messages:
        raise MeshError(errors.messages[0])
    return reader.GetOutput()


def checkCells(polydata):
    """Every cell must name points the polydata holds: a reader that misreads a
    malformed file can make cells that would crash any filter or pick later."""
    points = polydata.GetNumberOfPoints()
    for cells in (
        polydata.GetVerts(),
        polydata.GetLines(),
        polydata.GetPolys(),
        polydata.GetStrips(),
    ):
        if cells.GetNumberOfCells():
            ids = numpy_support.vtk_to_numpy(cells.GetConnectivityArray())
            if ids.size and (ids.min() < 0 or ids.max() >= points):
                raise MeshError(f"the file's cells name points beyond its {points}")


def setCellColors(polydata, rgb):
    """Unsigned-char RGB cell scalars, one row of ``rgb`` per cell."""
    array = numpy_support.numpy_to_vtk(
        np.ascontiguousarray(rgb, dtype=np.uint8), deep=True, array_type=VTK_UNSIGNED_CHAR
    )
    array.SetName("Colors")
    polydata.GetCellData().SetScalars(array)


def colorBytes(color):
    """A colour of floats in [0, 1] as the 0..255 values of its RGB."""
    return np.clip(np.asarray(color[:3], dtype=float) * 255.0 + 0.5, 0, 255)


def setCellColor(polydata, color):
    """Every cell in one colour of floats in [0, 1]."""
    setCellColors(polydata, np.tile(colorBytes(color), (polydata.GetNumberOfCells(), 1)))

"""The arrays a point cloud is drawn from: positions in the cloud's own float type and
colours as bytes, written into VTK arrays that are kept while the cloud's length is."""

from __future__ import annotations

import numpy as np
from vtkmodules.util import numpy_support

# Colours are converted this many rows at a time: the scratch stays in the CPU's cache
# instead of costing a float array the size of the cloud.
_CHUNK_ROWS = 1 << 15
_EMPTY = np.zeros((0, 3))
_EMPTY.flags.writeable = False


def rows(values, name):
    """``values`` as an (N, 3) or (N, 6) float32 or float64 array, without a copy where none
    is needed; other dtypes become float64, and an empty array an empty (0, 3) one."""
    array = np.asarray(values)
    if array.dtype != np.float32 and array.dtype != np.float64:
        array = array.astype(np.float64)
    if array.size == 0:
        return _EMPTY
    if array.ndim != 2 or array.shape[1] not in (3, 6):
        raise ValueError(f"{name} must be an (N, 3 or 6) array")
    return array


def sized(kept, dtype, count, components):
    """A VTK array of ``dtype`` with ``count`` tuples: ``kept`` when it already is one, so
    that a cloud of the same length reuses its memory, else a new one of exactly that size."""
    vtk_type = numpy_support.get_vtk_array_type(np.dtype(dtype))
    if (
        kept is not None
        and kept.GetDataType() == vtk_type
        and kept.GetNumberOfTuples() == count
        and kept.GetNumberOfComponents() == components
    ):
        return kept
    array = numpy_support.create_vtk_array(vtk_type)
    array.SetNumberOfComponents(components)
    array.SetNumberOfTuples(count)
    return array


def fill_positions(kept, cloud):
    """The first three columns of ``cloud`` in a VTK array of its float type."""
    array = sized(kept, cloud.dtype, len(cloud), 3)
    np.copyto(numpy_support.vtk_to_numpy(array), cloud[:, :3])
    array.Modified()
    return array


def fill_colours(kept, colours):
    """RGB 0..1 (float, N x 3) as bytes, rounded and clipped, in a VTK unsigned char array."""
    array = sized(kept, np.uint8, len(colours), 3)
    out = numpy_support.vtk_to_numpy(array)
    scratch = np.empty((min(len(colours), _CHUNK_ROWS), 3), colours.dtype)
    for start in range(0, len(colours), _CHUNK_ROWS):
        block = colours[start : start + _CHUNK_ROWS]
        part = scratch[: len(block)]
        np.multiply(block, 255.0, out=part)
        np.add(part, 0.5, out=part)
        np.clip(part, 0.0, 255.0, out=part)
        np.copyto(out[start : start + len(block)], part, casting="unsafe")
    array.Modified()
    return array


def thinned(kept, array, stride):
    """Every ``stride``-th tuple of the VTK ``array``, in a VTK array of its type."""
    values = numpy_support.vtk_to_numpy(array)[::stride]
    out = sized(kept, values.dtype, len(values), array.GetNumberOfComponents())
    np.copyto(numpy_support.vtk_to_numpy(out).reshape(values.shape), values)
    out.Modified()
    return out

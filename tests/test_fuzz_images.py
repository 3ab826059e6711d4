"""Generated images for the refresh: any shape, strides, element type and byte order."""

import numpy as np
import pytest
from hypothesis import given
from hypothesis import strategies as st
from hypothesis.extra import numpy as hnp
from vtkmodules.util.numpy_support import numpy_to_vtk, vtk_to_numpy

from marnox import viewer

SUPPORTED = list(viewer.NUMPY_TO_VTK_TYPE)
UNSUPPORTED = [np.float16, np.bool_, np.complex64, np.complex128, np.object_, np.str_]


class Cell:
    """One camera, two viewports; the system hands out whatever images it was given."""

    def __init__(self):
        self.current = []

    def workspace(self):
        return self

    def getCameras(self):
        return [None]

    def system(self):
        return self

    def images(self):
        return self.current


@pytest.fixture(scope="module")
def shown_by():
    """An off-screen viewer of one camera, made when the first test needs it.

    Not at import: VTK settles its window class with the first window, and the
    on-screen tests must get theirs while the test display is up.
    """
    cell = Cell()
    image_viewer = viewer.ImageViewer(size=(64, 48))
    image_viewer.setProject(cell)
    image_viewer.init(offscreen=True)
    yield cell, image_viewer
    image_viewer.stop()


def straightforward(image, vtk_type):
    """The conversion the viewer's one-copy path must equal, values and layout alike."""
    array = numpy_to_vtk(np.ravel(np.flipud(image)), deep=True, array_type=vtk_type)
    array.SetNumberOfComponents(image.shape[2])
    return array


@st.composite
def images(draw):
    dtype = draw(st.sampled_from(SUPPORTED + UNSUPPORTED))
    if dtype in (np.object_, np.str_):
        base = np.zeros(draw(hnp.array_shapes(min_dims=0, max_dims=4, max_side=4)), dtype=dtype)
    else:
        order = draw(st.sampled_from("<>=")) if np.dtype(dtype).itemsize > 1 else "="
        base = draw(
            hnp.arrays(
                np.dtype(dtype).newbyteorder(order),
                hnp.array_shapes(min_dims=0, max_dims=4, min_side=0, max_side=6),
            )
        )
    # Random steps, negative ones included, over every axis.
    steps = tuple(draw(st.sampled_from([1, 2, -1, -2])) for _ in range(base.ndim))
    view = base[(Ellipsis, *(slice(None, None, step) for step in steps))]
    if draw(st.booleans()):
        view = np.asfortranarray(view)
    view.flags.writeable = draw(st.booleans())
    return view


@given(image=images())
def test_refresh_equals_straightforward_path_or_fails_before_touching(shown_by, image):
    cell, image_viewer = shown_by
    before = image_viewer._image_data[0].GetPointData().GetScalars()
    cell.current = [image]
    vtk_type = viewer.NUMPY_TO_VTK_TYPE.get(image.dtype.type)
    if vtk_type is None:
        expected = KeyError
    elif image.ndim < 3:
        expected = IndexError
    elif image.shape[2] == 0:
        expected = ValueError
    else:
        expected = None
    if expected is not None:
        try:
            image_viewer._updateImages()
        except expected:
            pass
        else:
            raise AssertionError(f"{expected.__name__} not raised for {image.dtype} {image.shape}")
        assert image_viewer._image_data[0].GetPointData().GetScalars() is before
        return

    image_viewer._updateImages()
    shown = image_viewer._image_data[0].GetPointData().GetScalars()
    reference = straightforward(image.astype(image.dtype.newbyteorder("=")), vtk_type)
    assert shown.GetDataType() == reference.GetDataType()
    assert shown.GetNumberOfComponents() == reference.GetNumberOfComponents()
    assert shown.GetNumberOfTuples() == reference.GetNumberOfTuples()
    np.testing.assert_array_equal(vtk_to_numpy(shown), vtk_to_numpy(reference))
    assert image_viewer._image_data[0].GetDimensions() == (image.shape[1], image.shape[0], 1)
    image_viewer.render()

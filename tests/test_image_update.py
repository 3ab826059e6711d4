"""ImageViewer._updateImages: each image copied upside down into its viewport's VTK image."""

import numpy as np
import pytest
from hypothesis import given, settings
from hypothesis import strategies as st
from vtkmodules.util.numpy_support import numpy_to_vtk, vtk_to_numpy

from marnox import viewer


class Cell:
    """A project stand-in whose system hands out its images exactly as given."""

    def __init__(self, cameras, images=()):
        self.cameras = list(range(cameras))
        self.current = list(images)

    def workspace(self):
        return self

    def getCameras(self):
        return self.cameras

    def system(self):
        return self

    def images(self):
        return self.current


def viewer_showing(images, cameras=None):
    if cameras is None:
        cameras = max(1, (len(images) + 1) // 2)
    image_viewer = viewer.ImageViewer()
    image_viewer.setProject(Cell(cameras, images))
    image_viewer._updateImages()
    return image_viewer


def scalars(image_viewer, index):
    return image_viewer._image_data[index].GetPointData().GetScalars()


def shown(image_viewer, index):
    """The picture in viewport `index`, turned back to (rows, columns, channels), top row first."""
    image_data = image_viewer._image_data[index]
    columns, rows, _ = image_data.GetDimensions()
    values = vtk_to_numpy(scalars(image_viewer, index))
    return np.flipud(values.reshape(rows, columns, -1))


def picture(shape, dtype, seed=0):
    values = np.random.default_rng(seed).integers(-100, 100, shape)
    return values.astype(dtype)


@pytest.mark.parametrize("channels", [1, 3, 4])
@pytest.mark.parametrize("scalar_type", list(viewer.NUMPY_TO_VTK_TYPE))
def test_every_supported_type_matches_the_straightforward_conversion(scalar_type, channels):
    image = picture((6, 5, channels), scalar_type)
    image_viewer = viewer_showing([image])
    result = scalars(image_viewer, 0)
    vtk_type = viewer.NUMPY_TO_VTK_TYPE[scalar_type]
    expected = numpy_to_vtk(np.ravel(np.flipud(image)), deep=True, array_type=vtk_type)

    assert result.GetDataType() == vtk_type
    assert result.GetNumberOfComponents() == channels
    assert result.GetNumberOfTuples() == 6 * 5
    np.testing.assert_array_equal(vtk_to_numpy(result).ravel(), vtk_to_numpy(expected))
    np.testing.assert_array_equal(shown(image_viewer, 0), image)


@pytest.mark.parametrize("twin, listed", [(np.longlong, np.int64), (np.ulonglong, np.uint64)])
def test_a_scalar_type_of_a_listed_dtype_finds_its_entry(twin, listed):
    image = picture((6, 5, 3), twin)
    image_viewer = viewer_showing([image])
    assert scalars(image_viewer, 0).GetDataType() == viewer.NUMPY_TO_VTK_TYPE[listed]
    np.testing.assert_array_equal(shown(image_viewer, 0), image)


def test_image_object_gets_dimensions_spacing_and_origin():
    image_viewer = viewer_showing([picture((480, 640, 3), np.uint8)])
    image_data = image_viewer._image_data[0]
    assert image_data.GetDimensions() == (640, 480, 1)
    assert image_data.GetSpacing() == (1, 1, 1)
    assert image_data.GetOrigin() == (-1, -1, -1)
    assert scalars(image_viewer, 0).GetNumberOfTuples() == 480 * 640


BASE = picture((7, 9, 3), np.uint16, seed=1)

VIEWS = {
    "rows sliced": BASE[1:6:2],
    "columns sliced": BASE[:, 2:8],
    "every other column": BASE[:, ::2],
    "transposed": BASE.transpose(1, 0, 2),
    "rows reversed": BASE[::-1],
    "columns reversed": BASE[:, ::-1],
    "channels reversed": BASE[:, :, ::-1],
    "fortran order": np.asfortranarray(BASE),
    "big endian": BASE.astype(">u2"),
    "big endian, reversed and sliced": BASE.astype(">u2")[::-2, 1::3],
    "little endian float": BASE.astype("<f8")[:, ::-1],
    "big endian float": BASE.astype(">f4"),
    "big endian int64": BASE.astype(">i8").transpose(1, 0, 2),
    "one channel of three": BASE[:, :, 1:2],
}


@pytest.mark.parametrize("view", list(VIEWS.values()), ids=list(VIEWS))
def test_any_strides_and_byte_order_show_the_contiguous_picture(view):
    image_viewer = viewer_showing([view])
    native = np.ascontiguousarray(view, dtype=view.dtype.newbyteorder("="))
    assert scalars(image_viewer, 0).GetDataType() == viewer.NUMPY_TO_VTK_TYPE[view.dtype.type]
    np.testing.assert_array_equal(shown(image_viewer, 0), native)


@settings(max_examples=60, deadline=None)
@given(
    shape=st.tuples(*[st.integers(1, 6)] * 3),
    steps=st.tuples(*[st.sampled_from([1, 2, -1, -2])] * 3),
    order=st.permutations([0, 1, 2]),
    dtype=st.sampled_from(["u1", "<i2", ">i2", "<f4", ">f4", ">u8"]),
)
def test_generated_views(shape, steps, order, dtype):
    view = picture(shape, dtype)[:: steps[0], :: steps[1], :: steps[2]].transpose(order)
    image_viewer = viewer_showing([view])
    np.testing.assert_array_equal(shown(image_viewer, 0), view)


@pytest.mark.parametrize("columns", [1, 21, 22, 64, 85, 333, 1001])
@pytest.mark.parametrize("first_column", [0, 1])
def test_rows_of_any_length_and_offset_copy_whole(columns, first_column):
    # Long rows go through the cache-line-wise copy; its ends must meet exactly.
    image = picture((9, columns + first_column, 3), np.uint8, seed=columns)[:, first_column:]
    image_viewer = viewer_showing([image])
    np.testing.assert_array_equal(shown(image_viewer, 0), image)


@pytest.mark.parametrize("n_images", [3, 5])
def test_images_and_viewports_pair_by_position(n_images):
    images = [np.full((2, 3, 1), index, np.uint8) for index in range(n_images)]
    image_viewer = viewer_showing(images, cameras=2)
    for index in range(min(n_images, 4)):
        assert shown(image_viewer, index).max() == index
    if n_images < 4:
        assert scalars(image_viewer, 3) is None


@pytest.mark.parametrize(
    "bad, error",
    [
        (np.zeros((2, 3, 1), np.float16), KeyError),
        (np.zeros((2, 3, 1), np.bool_), KeyError),
        (np.zeros((2, 3), np.uint8), IndexError),
        (np.zeros((2, 3, 0), np.uint8), ValueError),
    ],
)
def test_a_bad_image_stops_the_refresh_after_the_earlier_viewports(bad, error):
    first, last = np.full((2, 3, 1), 7, np.uint8), np.full((2, 3, 1), 9, np.uint8)
    image_viewer = viewer_showing([first, first, first], cameras=2)
    before = [scalars(image_viewer, index) for index in range(3)]
    image_viewer._project.current = [last, bad, last]

    with pytest.raises(error) as raised:
        image_viewer._updateImages()
    if error is KeyError:
        assert raised.value.args == (bad.dtype.type,)
    assert shown(image_viewer, 0).max() == 9
    assert [scalars(image_viewer, index) for index in (1, 2)] == before[1:]
    assert image_viewer._image_data[1].GetDimensions() == (3, 2, 1)


def test_model_error_propagates_unchanged():
    failure = RuntimeError("camera offline")

    class Failing(Cell):
        def images(self):
            raise failure

    image_viewer = viewer.ImageViewer()
    image_viewer.setProject(Failing(1))
    with pytest.raises(RuntimeError) as raised:
        image_viewer.render()
    assert raised.value is failure


def test_each_render_copies_into_a_new_array():
    image = np.zeros((3, 4, 1), np.int32)
    image_viewer = viewer.ImageViewer()
    image_viewer.setProject(Cell(1, [image]))
    image_viewer.render()
    first = scalars(image_viewer, 0)

    image[:] = 5
    assert vtk_to_numpy(scalars(image_viewer, 0)).max() == 0
    image_viewer.render()
    assert vtk_to_numpy(scalars(image_viewer, 0)).max() == 5
    assert vtk_to_numpy(first).max() == 0


def test_a_table_entry_of_another_vtk_type_converts_the_values(monkeypatch):
    monkeypatch.setitem(viewer.NUMPY_TO_VTK_TYPE, np.float16, viewer.VTK_FLOAT)
    image = (picture((4, 5, 1), np.float32) / 8).astype(">f2")
    image_viewer = viewer_showing([image])
    assert scalars(image_viewer, 0).GetDataType() == viewer.VTK_FLOAT
    np.testing.assert_array_equal(shown(image_viewer, 0), image.astype(np.float32))


def test_refresh_without_a_project_asks_the_default_system():
    image_viewer = viewer.ImageViewer()
    assert image_viewer._updateImages() is None
    assert image_viewer._image_data == []

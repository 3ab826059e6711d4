"""ImageViewer construction and its viewport grid: two viewports per camera."""

import collections
import inspect

import pytest

from marnox import viewer
from marnox.camera import Camera
from marnox.project import Project

ALICE_BLUE = (240 / 255, 248 / 255, 1.0)


def project_with(cameras):
    project = Project()
    for index in range(cameras):
        project.workspace().addCamera(Camera(f"camera_{index}"))
    return project


def viewer_for(cameras, size=(800, 600)):
    image_viewer = viewer.ImageViewer(size=size)
    image_viewer.setProject(project_with(cameras))
    return image_viewer


def window_renderers(image_viewer):
    collection = image_viewer._window.GetRenderers()
    return [collection.GetItemAsObject(i) for i in range(collection.GetNumberOfItems())]


def test_constructor_creates_the_fields_in_order():
    image_viewer = viewer.ImageViewer()
    assert list(vars(image_viewer)) == [
        "_size",
        "_project",
        "_renderers",
        "_image_data",
        "_actors",
        "_window",
        "_interactor",
    ]
    assert image_viewer._size == (800, 600)
    assert type(image_viewer._project) is Project
    assert image_viewer._renderers == image_viewer._image_data == image_viewer._actors == []
    assert image_viewer._window.GetClassName().endswith("RenderWindow")
    assert image_viewer._interactor is None
    assert window_renderers(image_viewer) == []


@pytest.mark.parametrize(
    "size, given",
    [
        ([1024, 768], "list"),
        (None, "NoneType"),
        (collections.namedtuple("Size", "width height")(1, 2), "Size"),
    ],
)
def test_size_must_be_exactly_a_tuple(size, given):
    with pytest.raises(TypeError) as raised:
        viewer.ImageViewer(size=size)
    assert str(raised.value) == (
        f"Argument 'size' has incorrect type (expected tuple, got {given})"
    )


# cameras: (rows, columns); the grid is filled row-major from the top.
GRIDS = {1: (1, 2), 2: (2, 2), 3: (2, 3), 4: (2, 4), 5: (3, 4), 6: (3, 4), 7: (3, 5), 8: (4, 4)}


@pytest.mark.parametrize("cameras", sorted(GRIDS))
def test_grid_for_each_camera_count(cameras):
    rows, columns = GRIDS[cameras]
    image_viewer = viewer_for(cameras)
    n_viewports = 2 * cameras

    assert window_renderers(image_viewer) == image_viewer._renderers
    assert len(image_viewer._renderers) == rows * columns
    assert len(image_viewer._image_data) == len(image_viewer._actors) == n_viewports
    for index, renderer in enumerate(image_viewer._renderers):
        row, column = divmod(index, columns)
        expected = (
            column / columns,
            (rows - row - 1) / rows,
            (column + 1) / columns,
            (rows - row) / rows,
        )
        assert renderer.GetViewport() == pytest.approx(expected, abs=1e-12)
        assert renderer.GetBackground() == pytest.approx(ALICE_BLUE)
        actors = renderer.GetViewProps()
        if index < n_viewports:
            actor = image_viewer._actors[index]
            assert actors.GetNumberOfItems() == 1 and actors.GetItemAsObject(0) is actor
            mapper = actor.GetMapper()
            assert mapper.GetInput() is image_viewer._image_data[index]
            assert (mapper.GetColorWindow(), mapper.GetColorLevel()) == (255, 127.5)
        else:
            assert actors.GetNumberOfItems() == 0


def test_rebuild_replaces_the_old_grid():
    image_viewer = viewer_for(3)
    old_lists = (image_viewer._renderers, image_viewer._image_data, image_viewer._actors)
    image_viewer.setProject(project_with(1))

    renderers = window_renderers(image_viewer)
    assert renderers == image_viewer._renderers
    assert [r.GetViewport() for r in renderers] == [(0, 0, 0.5, 1), (0.5, 0, 1, 1)]
    assert len(image_viewer._image_data) == len(image_viewer._actors) == 2
    # The old lists are dropped, not emptied, and their renderers hold no actor any more.
    assert [len(old) for old in old_lists] == [6, 6, 6]
    assert all(r.GetViewProps().GetNumberOfItems() == 0 for r in old_lists[0])


def test_project_without_cameras_shows_one_empty_cell():
    image_viewer = viewer_for(0, size=(320, 200))
    (renderer,) = window_renderers(image_viewer)
    assert image_viewer._renderers == [renderer]
    assert renderer.GetViewport() == (0, 0, 1, 1)
    assert renderer.GetBackground() == pytest.approx(ALICE_BLUE)
    assert image_viewer._image_data == image_viewer._actors == []
    assert image_viewer._window.GetSize() == (320, 200)


def test_set_project_sizes_the_window_and_rebuilds_through_self():
    calls = []

    class Recording(viewer.ImageViewer):
        def _refreshProject(self):
            calls.append(self._project)
            super()._refreshProject()

    image_viewer = Recording(size=(1024, 768))
    project = project_with(2)
    assert image_viewer.setProject(project) is None
    assert calls == [project]
    assert image_viewer._window.GetSize() == (1024, 768)


def test_camera_count_error_propagates_after_the_teardown():
    class NoLength:
        def workspace(self):
            return self

        def getCameras(self):
            return iter(())

    image_viewer = viewer_for(2)
    with pytest.raises(TypeError, match="has no len"):
        image_viewer.setProject(NoLength())
    assert window_renderers(image_viewer) == []
    assert image_viewer._renderers == image_viewer._image_data == image_viewer._actors == []


@pytest.mark.parametrize(
    "method, signature",
    [
        ("__init__", "(self, size: 'tuple' = (800, 600))"),
        ("setProject", "(self, project: 'Project') -> 'None'"),
        ("_refreshProject", "(self) -> 'None'"),
        ("init", "(self, offscreen: 'bool' = False)"),
        ("spin", "(self)"),
        ("render", "(self)"),
        ("stop", "(self)"),
        ("screenshot", "(self, filename: 'str')"),
        ("_updateImages", "(self) -> 'None'"),
    ],
)
def test_signatures(method, signature):
    assert str(inspect.signature(getattr(viewer.ImageViewer, method))) == signature


def test_image_viewer_is_a_plain_class_defined_after_the_workspace_viewer():
    assert viewer.ImageViewer.__bases__ == (object,)
    names = list(vars(viewer))
    assert names.index("WorkspaceViewer") < names.index("ImageViewer")

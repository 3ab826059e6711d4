"""WorkspaceViewer as a Python class: shape, signatures, construction and camera control."""

import inspect
import pydoc

import numpy as np
import pytest

from marnox.project import Project
from marnox.viewer import WorkspaceViewer

FIELDS = [
    "_size",
    "_ren",
    "_cam",
    "_window",
    "_interactor",
    "_project",
    "_actors",
    "_trajectory",
    "_pointcloud",
]


class Recorder:
    """Records every method called on it, with its arguments."""

    def __init__(self):
        self.calls = []

    def __getattr__(self, name):
        def method(*args, **kwargs):
            self.calls.append((name, args, kwargs))

        return method


def test_is_a_plain_subclassable_python_class():
    assert type(WorkspaceViewer) is type
    assert WorkspaceViewer.__bases__ == (object,)
    assert WorkspaceViewer.__module__ == "marnox.viewer"
    assert WorkspaceViewer.__qualname__ == "WorkspaceViewer"

    class Mine(WorkspaceViewer):
        pass

    viewer = Mine()
    assert isinstance(viewer, WorkspaceViewer)
    assert list(vars(viewer)) == FIELDS


@pytest.mark.parametrize(
    "method, signature",
    [
        (
            "__init__",
            "(self, size: 'tuple' = (800, 600), trajectory: 'bool' = False,"
            " pointcloud: 'bool' = False)",
        ),
        ("setProject", "(self, project: 'Project')"),
        ("init", "(self, offscreen: 'bool' = False)"),
        ("screenshot", "(self, filename: 'str')"),
        ("_getRenderer", "(self) -> 'vtkRenderer'"),
        ("zoom", "(self, factor: 'float' = 1.0)"),
        ("setFocalPoint", "(self, position: 'ArrayLike' = [0, 0, 0])"),
        ("_addItems", "(self, item: 'Item')"),
        ("addGroup", "(self, group: 'VisualGroup')"),
        ("addElement", "(self, element: 'VisualElement')"),
    ],
)
def test_signature(method, signature):
    assert str(inspect.signature(getattr(WorkspaceViewer, method))) == signature


def test_help_shows_every_public_method_with_its_docstring():
    text = pydoc.render_doc(WorkspaceViewer, renderer=pydoc.plaintext)
    public = [name for name in vars(WorkspaceViewer) if not name.startswith("_")]
    assert len(public) == 11
    for name in public:
        first_line = getattr(WorkspaceViewer, name).__doc__.splitlines()[0]
        assert first_line in text


def test_construction_defaults():
    viewer = WorkspaceViewer()
    assert viewer._size == (800, 600)
    assert viewer._interactor is None
    assert viewer._trajectory is None and viewer._pointcloud is None
    assert viewer._actors == []
    assert type(viewer._project) is Project
    assert list(viewer._project.workspace().getRobots()) == []
    assert viewer._cam is viewer._ren.GetActiveCamera()
    assert viewer._ren.GetViewProps().GetNumberOfItems() == 0
    assert viewer._getRenderer() is viewer._ren


class SizeTuple(tuple):
    pass


@pytest.mark.parametrize(
    "size, given",
    [([1024, 768], "list"), (None, "NoneType"), (SizeTuple((1, 2)), "SizeTuple")],
)
def test_size_must_be_exactly_a_tuple(size, given):
    viewer = WorkspaceViewer.__new__(WorkspaceViewer)
    with pytest.raises(TypeError) as caught:
        viewer.__init__(size=size)
    assert str(caught.value) == (
        f"Argument 'size' has incorrect type (expected tuple, got {given})"
    )
    assert vars(viewer) == {}


def test_overlays_are_added_once_trajectory_first():
    viewer = WorkspaceViewer((320, 200), trajectory=True, pointcloud=1)
    props = viewer._ren.GetViewProps()
    assert props.GetNumberOfItems() == 2
    assert props.GetItemAsObject(0) is viewer._trajectory._getActor()
    assert props.GetItemAsObject(1) is viewer._pointcloud._getActor()
    assert viewer._size == (320, 200)
    assert viewer._actors == []


def test_set_project_binds_the_object_itself():
    viewer = WorkspaceViewer()
    project = Project()
    viewer.setProject(project)
    assert viewer._project is project


def test_camera_starts_at_its_fixed_placement():
    camera = WorkspaceViewer()._cam
    view_up = np.array([0.316, 0.563, 0.764])
    np.testing.assert_allclose(camera.GetPosition(), (-0.79, -1.9, 1.75))
    np.testing.assert_allclose(camera.GetFocalPoint(), (0, 0, 0.2))
    np.testing.assert_allclose(camera.GetViewUp(), view_up / np.linalg.norm(view_up))


@pytest.mark.parametrize(
    "zooms, expected_angle",
    [((), 30.0), ((None,), 30.0), ((2,), 15.0), ((2.0, 2.0), 7.5), ((0.5,), 60.0)],
)
def test_zoom_scales_the_view_angle_cumulatively(zooms, expected_angle):
    viewer = WorkspaceViewer()
    for factor in zooms:
        if factor is None:
            viewer.zoom()
        else:
            viewer.zoom(factor)
    assert viewer._cam.GetViewAngle() == pytest.approx(expected_angle)


@pytest.mark.parametrize("factor", ["x", "2", None, [2.0]])
def test_zoom_rejects_non_numbers_before_touching_the_camera(factor):
    viewer = WorkspaceViewer()
    viewer._cam = Recorder()
    with pytest.raises(TypeError):
        viewer.zoom(factor)
    assert viewer._cam.calls == []


@pytest.mark.parametrize(
    "position", [[0.5, -1.0, 2.0], (0.5, -1.0, 2.0), np.array([0.5, -1.0, 2.0])]
)
def test_set_focal_point_turns_the_camera_in_place(position):
    viewer = WorkspaceViewer()
    viewer.setFocalPoint(position)
    np.testing.assert_allclose(viewer._cam.GetFocalPoint(), (0.5, -1.0, 2.0))
    np.testing.assert_allclose(viewer._cam.GetPosition(), (-0.79, -1.9, 1.75))


def test_set_focal_point_defaults_to_one_shared_origin_list():
    (default,) = WorkspaceViewer.setFocalPoint.__defaults__
    assert default == [0, 0, 0]
    assert WorkspaceViewer.setFocalPoint.__kwdefaults__ is None
    viewer = WorkspaceViewer()
    viewer._cam = Recorder()
    viewer.setFocalPoint()
    viewer.setFocalPoint()
    assert [name for name, _, _ in viewer._cam.calls] == ["SetFocalPoint", "SetFocalPoint"]
    assert all(args[0] is default for _, args, _ in viewer._cam.calls)
    assert default == [0, 0, 0]


def test_set_focal_point_propagates_vtk_argument_errors_and_keeps_the_camera():
    viewer = WorkspaceViewer()
    with pytest.raises(TypeError):
        viewer.setFocalPoint([1.0, 2.0])
    np.testing.assert_allclose(viewer._cam.GetFocalPoint(), (0, 0, 0.2))

"""A model call that raises at any step: the same exception object reaches the caller."""

import os

import pytest

import marnox.project
import marnox.viewer
from marnox.behavior import Behavior
from marnox.constants import MX_PROJECT_FILE_EXT
from marnox.dynamics import _Chain
from marnox.item import Item
from marnox.project import Project
from marnox.sample import build_sample_cell
from marnox.system import System
from marnox.visual import VisualElement, VisualGroup, VisualPointcloud, VisualTrajectory
from marnox.workspace import Workspace


class Injected(Exception):
    """The fault put into one model call."""


@pytest.fixture
def cell():
    project = Project()
    build_sample_cell(project)
    return project


def inject(monkeypatch, target, name, error):
    def fail(*args, **kwargs):
        raise error

    if isinstance(target, type) and isinstance(target.__dict__.get(name), staticmethod):
        fail = staticmethod(fail)
    monkeypatch.setattr(target, name, fail)


def project_step(name):
    return ("project", name)


SCENE_STEPS = [
    project_step("workspace"),
    (Workspace, "getRobots"),
    (Workspace, "getItems"),
    (Workspace, "getCameras"),
    (Workspace, "getFiducials"),
    (Workspace, "getTaskRegions"),
    (Item, "_getVisualGroup"),
    (Item, "_getChildren"),
    (VisualGroup, "elements"),
    (VisualElement, "_getActor"),
    (marnox.viewer, "VisualCoordinate"),
]

FRAME_STEPS = [
    project_step("workspace"),
    (Workspace, "_getOriginLink"),
    (marnox.viewer, "Pose"),
    (_Chain, "_updateVisualElementsRecursive"),
    project_step("system"),
    (System, "pointcloud"),
    (VisualPointcloud, "setPoints"),
    (System, "trajectory"),
    (VisualTrajectory, "setPositions"),
]

SAVE_STEPS = [
    (Workspace, "_getSnapshot"),
    (Behavior, "_ToModel"),
    (marnox.project, "MessageToJson"),
]

LOAD_STEPS = [
    (marnox.project, "Parse"),
    (Workspace, "_setSnapshot"),
    (Behavior, "_FromModel"),
]


def step_id(step):
    target, name = step
    return f"{getattr(target, '__name__', target)}.{name}"


def resolve(step, project):
    target, name = step
    return (project if target == "project" else target), name


@pytest.mark.parametrize("step", SCENE_STEPS, ids=step_id)
def test_scene_rebuild_fault_propagates(step, cell, monkeypatch):
    viewer = marnox.viewer.WorkspaceViewer()
    error = Injected(step_id(step))
    inject(monkeypatch, *resolve(step, cell), error)
    with pytest.raises(Injected) as caught:
        viewer.setProject(cell)
    assert caught.value is error
    assert viewer._project is cell


@pytest.mark.parametrize("step", FRAME_STEPS, ids=step_id)
def test_render_fault_propagates(step, cell, monkeypatch):
    viewer = marnox.viewer.WorkspaceViewer(trajectory=True, pointcloud=True)
    viewer.setProject(cell)
    viewer.init(offscreen=True)
    error = Injected(step_id(step))
    inject(monkeypatch, *resolve(step, cell), error)
    with pytest.raises(Injected) as caught:
        viewer.render()
    assert caught.value is error
    monkeypatch.undo()
    viewer.render()
    viewer.stop()


@pytest.mark.parametrize("step", SAVE_STEPS, ids=step_id)
def test_save_fault_leaves_the_file_and_folder_as_they_were(step, cell, tmp_path, monkeypatch):
    path = tmp_path / ("cell" + MX_PROJECT_FILE_EXT)
    path.write_text("previous content")
    error = Injected(step_id(step))
    inject(monkeypatch, *step, error)
    with pytest.raises(Injected) as caught:
        cell.save(str(path))
    assert caught.value is error
    assert path.read_text() == "previous content"
    assert os.listdir(tmp_path) == [path.name]


@pytest.mark.parametrize("step", LOAD_STEPS, ids=step_id)
def test_load_fault_propagates(step, cell, tmp_path, monkeypatch):
    path = str(tmp_path / ("cell" + MX_PROJECT_FILE_EXT))
    cell.save(path)
    project = Project()
    project.addBehavior(Behavior("kept"))
    behaviors = project.behaviors()
    error = Injected(step_id(step))
    inject(monkeypatch, *step, error)
    with pytest.raises(Injected) as caught:
        project.load(path)
    assert caught.value is error
    if step[1] in ("Parse", "_setSnapshot"):
        assert project.behaviors() is behaviors

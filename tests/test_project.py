"""Tests of the Project container: construction, accessors, text and validation."""

import logging

import pytest

import marnox.project as project_module
from marnox.behavior import Behavior
from marnox.project import Project
from marnox.sample import build_sample_cell
from marnox.system import System
from marnox.workspace import Workspace

EMPTY_TEXT = "Workspace\n" + format(Workspace()) + "Behaviors\n"


class Text:
    """An object whose formatted text is fixed."""

    def __init__(self, text):
        self.text = text

    def __format__(self, spec):
        return self.text


def full_project():
    project = Project()
    build_sample_cell(project)
    return project


def test_new_project_holds_fresh_defaults_in_its_dict():
    project, other = Project(), Project()
    assert list(vars(project)) == ["_system", "_workspace", "_behaviors"]
    assert type(project._system) is System and type(project._workspace) is Workspace
    assert project._behaviors == {}
    assert all(vars(project)[key] is not vars(other)[key] for key in vars(project))
    assert str(project) == EMPTY_TEXT


def test_constructor_calls_system_then_workspace(monkeypatch):
    calls = []
    monkeypatch.setattr(project_module, "System", lambda *args: calls.append(("System", args)))
    monkeypatch.setattr(
        project_module, "Workspace", lambda *args: calls.append(("Workspace", args))
    )
    Project()
    assert calls == [("System", ()), ("Workspace", ())]

    error = RuntimeError("no workspace")

    def failing_workspace():
        raise error

    monkeypatch.setattr(project_module, "Workspace", failing_workspace)
    with pytest.raises(RuntimeError) as raised:
        Project()
    assert raised.value is error


def test_accessors_return_the_held_objects_and_follow_the_dict():
    project = Project()
    held = (object(), object(), {})
    project._system, project._workspace, project._behaviors = held
    assert (project.system(), project.workspace(), project.behaviors()) == held
    assert all(
        a is b for a, b in zip((project.system(), project.workspace()), held[:2], strict=True)
    )
    assert project.behaviors() is held[2] is project.behaviors()
    workspace = Workspace()
    assert project.setWorkspace(workspace) is None
    assert project.workspace() is workspace is project._workspace


def test_text_frames_the_workspace_and_each_behavior_in_order():
    project = Project()
    project.setWorkspace(Text("W\n"))
    pick, place = Behavior("pick", [("move", "box")]), Behavior("place")
    assert project.addBehavior(pick) is None
    project.addBehavior(place)
    assert str(project) == "Workspace\nW\nBehaviors\n" + pick._str(1) + place._str(1)
    project.behaviors()["raw"] = Text("T")
    project.behaviors()["raw"]._str = lambda indent: Text(f"<{indent}>")
    assert str(project).endswith(place._str(1) + "<1>")


def test_text_reads_the_workspace_attribute_not_the_accessor():
    class Other(Project):
        def workspace(self):
            return "elsewhere"

    project = Other()
    project._workspace = Text("held\n")
    assert str(project) == "Workspace\nheld\nBehaviors\n"


def test_text_of_a_full_project_and_of_no_workspace():
    project = full_project()
    expected = "Workspace\n" + format(project.workspace()) + "Behaviors\n"
    expected += "".join(b._str(1) for b in project.behaviors().values())
    assert str(project) == expected
    project.setWorkspace(None)
    assert project.workspace() is None
    assert str(project) == "Workspace\nNoneBehaviors\n" + expected.split("Behaviors\n")[1]


def test_same_name_replaces_in_place_and_keys_are_never_recomputed():
    project = Project()
    first, second, third = Behavior("pick"), Behavior("place"), Behavior("pick", [("grasp", "x")])
    for behavior in (first, second, third):
        project.addBehavior(behavior)
    assert list(project.behaviors().items()) == [("pick", third), ("place", second)]
    assert str(project) == EMPTY_TEXT + third._str(1) + second._str(1)
    third._name = "renamed"
    assert list(project.behaviors()) == ["pick", "place"]


def test_add_behavior_leaves_the_dict_unchanged_when_name_fails():
    project = Project()
    project.addBehavior(Behavior("pick"))
    before = dict(project.behaviors())
    error = ValueError("no name")

    class Nameless:
        def name(self):
            raise error

    with pytest.raises(ValueError) as raised:
        project.addBehavior(Nameless())
    assert raised.value is error
    assert project.behaviors() == before

    class Unhashable:
        def name(self):
            return []

    with pytest.raises(TypeError, match="unhashable"):
        project.addBehavior(Unhashable())
    assert project.behaviors() == before


@pytest.mark.parametrize(
    "held, type_name",
    [([], "list"), (type("Mapping", (dict,), {})(), "Mapping"), ("pick", "str"), (0, "int")],
)
def test_behaviors_refuses_anything_but_a_dict(held, type_name):
    project = Project()
    project._behaviors = held
    with pytest.raises(TypeError) as raised:
        project.behaviors()
    assert str(raised.value) == "Expected dict, got " + type_name


def test_no_behaviors_dict():
    project = Project()
    project._behaviors = None
    assert project.behaviors() is None
    with pytest.raises(AttributeError, match="values"):
        str(project)


def test_text_fails_when_a_behavior_changes_the_dict():
    project = Project()
    growing = Behavior("grow")
    growing._str = lambda indent: project.behaviors().setdefault("more", growing) and ""
    project.addBehavior(growing)
    project.addBehavior(Behavior("other"))
    with pytest.raises(RuntimeError, match="dictionary changed size during iteration"):
        str(project)


@pytest.mark.parametrize("make", [Project, full_project])
def test_validate_logs_one_warning_and_returns_true(caplog, make):
    project = make()
    before = str(project)
    caplog.set_level(logging.DEBUG)
    assert project.validate() is True
    assert [(r.name, r.levelno, r.getMessage()) for r in caplog.records] == [
        ("root", logging.WARNING, "Project validation is not yet enabled")
    ]
    assert str(project) == before

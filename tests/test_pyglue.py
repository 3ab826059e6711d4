"""Tests of the C++ method objects and module set-up, seen through marnox.project."""

import inspect
import pathlib
import pydoc
import subprocess
import sys
import textwrap
import typing

import pytest

import marnox.project as project_module
from marnox.behavior import Behavior
from marnox.project import Project

METHODS = (
    "__init__ __str__ setWorkspace workspace addBehavior behaviors system save load validate"
    " _getSnapshot _setSnapshot"
).split()


def run_python(code, *flags):
    """Runs `code` in a fresh interpreter; returns the completed process."""
    return subprocess.run(
        [sys.executable, *flags, "-c", textwrap.dedent(code)],
        capture_output=True,
        text=True,
        timeout=60,
    )


def test_module_binds_its_imports_in_order_then_the_class():
    expected = ["os", "logging", "Dict", "MessageToJson", "Parse", "project_pb2"]
    expected += ["MX_PROJECT_FILE_EXT", "Workspace", "Behavior", "System", "Project"]
    names = [name for name in vars(project_module) if name in expected]
    assert names == expected
    assert project_module.Behavior is Behavior
    assert project_module.Dict is typing.Dict


def test_second_initialisation_is_refused():
    result = run_python(
        """
        import importlib, sys
        import marnox.project
        del sys.modules["marnox.project"]
        try:
            importlib.import_module("marnox.project")
        except RuntimeError as error:
            print(error)
        """
    )
    assert result.stdout == (
        "Module 'project' has already been imported. Re-initialisation is not supported.\n"
    ), result.stderr


def test_failing_import_fails_the_module_and_can_be_retried():
    result = run_python(
        """
        import importlib, sys, types
        real = importlib.import_module("marnox.behavior")
        for path in (None, "/elsewhere/behavior.py"):
            sys.modules["marnox.behavior"] = fake = types.ModuleType("marnox.behavior")
            if path:
                fake.__file__ = path
            try:
                import marnox.project
            except ImportError as error:
                print(type(error).__name__, error.name, error.path, error)
        sys.modules["marnox.behavior"] = real
        import marnox.project
        print(marnox.project.Project().behaviors())
        """
    )
    message = "cannot import name 'Behavior' from 'marnox.behavior'"
    assert result.stdout.splitlines() == [
        "ImportError marnox.behavior None " + message + " (unknown location)",
        "ImportError marnox.behavior /elsewhere/behavior.py "
        + message
        + " (/elsewhere/behavior.py)",
        "{}",
    ], result.stderr


def test_class_is_a_plain_python_class():
    assert Project.__bases__ == (object,)
    assert type(Project) is type
    assert (Project.__module__, Project.__qualname__, Project.__name__) == (
        "marnox.project",
        "Project",
        "Project",
    )
    assert [name for name in vars(Project) if not name.startswith("__")] == [
        name for name in METHODS if not name.startswith("__")
    ]
    assert [name for name in vars(Project) if name in METHODS] == METHODS


@pytest.mark.parametrize(
    "method, annotations, signature",
    [
        ("__init__", {}, "(self)"),
        ("__str__", {"return": "str"}, "(self) -> 'str'"),
        ("setWorkspace", {"workspace": "Workspace"}, "(self, workspace: 'Workspace')"),
        ("workspace", {"return": "Workspace"}, "(self) -> 'Workspace'"),
        ("addBehavior", {"behavior": "Behavior"}, "(self, behavior: 'Behavior')"),
        ("behaviors", {"return": "Dict[str, Behavior]"}, "(self) -> 'Dict[str, Behavior]'"),
        ("system", {"return": "System"}, "(self) -> 'System'"),
        ("save", {"file": "str"}, "(self, file: 'str')"),
        ("load", {"file": "str"}, "(self, file: 'str')"),
        ("validate", {"return": "bool"}, "(self) -> 'bool'"),
        ("_getSnapshot", {"return": "project_pb2.ProjectSnapshot"}, None),
        ("_setSnapshot", {"snapshot": "project_pb2.ProjectSnapshot"}, None),
    ],
)
def test_method_introspection(method, annotations, signature):
    function = vars(Project)[method]
    assert function.__name__ == method
    assert function.__qualname__ == "Project." + method
    assert function.__module__ == "marnox.project"
    assert function.__doc__
    assert function.__annotations__ == annotations
    assert (function.__defaults__, function.__kwdefaults__) == (None, None)
    assert repr(function).startswith(f"<function Project.{method} at ")
    if signature is not None:
        assert str(inspect.signature(function)) == signature
    bound = getattr(Project(), method)
    assert (
        list(inspect.signature(bound).parameters)
        == list(inspect.signature(function).parameters)[1:]
    )


def test_annotations_resolve_in_the_module_namespace():
    assert typing.get_type_hints(Project.behaviors) == {"return": typing.Dict[str, Behavior]}
    hints = typing.get_type_hints(Project._setSnapshot)
    assert hints == {"snapshot": project_module.project_pb2.ProjectSnapshot}


def test_help_renders_every_method():
    text = pydoc.render_doc(Project, renderer=pydoc.plaintext)
    assert "save(self, file: 'str')" in text
    assert "Write the project's workspace and behaviors" in text
    assert all(method + "(self" in text for method in METHODS if not method.startswith("_"))


def test_methods_bind_like_functions():
    project = Project()
    save = vars(Project)["save"]
    assert save.__get__(None, Project) is save
    assert Project.save is save
    assert project.save.__self__ is project and project.save.__func__ is save
    assert project.workspace() is Project.workspace(project) is project._workspace


class Mirror:
    """The same signatures in plain Python, for the interpreter's own messages."""

    def __init__(self):
        pass

    def save(self, file):
        pass

    def workspace(self):
        pass


@pytest.mark.parametrize(
    "call",
    [
        lambda cls, p: p.save(),
        lambda cls, p: p.save("a", "b"),
        lambda cls, p: p.workspace(1),
        lambda cls, p: cls.workspace(),
        lambda cls, p: cls.save(),
        lambda cls, p: cls(1),
        lambda cls, p: cls(x=1),
        lambda cls, p: p.save(fil="a"),
        lambda cls, p: p.save("a", slf="b"),
        lambda cls, p: p.save("a", file="b"),
        lambda cls, p: cls.save(p, "a", file="b"),
        lambda cls, p: cls.save(p, file="a", self=p),
        lambda cls, p: p.save("a", "b", fil="c"),
        lambda cls, p: p.save("a", "b", file="c"),
    ],
)
def test_wrong_arguments_raise_the_interpreters_type_error(call):
    with pytest.raises(TypeError) as expected:
        call(Mirror, Mirror())
    with pytest.raises(TypeError) as raised:
        call(Project, Project())
    assert str(raised.value) == str(expected.value).replace("Mirror.", "Project.")


@pytest.mark.parametrize("method", ["save", "load"])
@pytest.mark.parametrize(
    "file, type_name",
    [
        (pathlib.Path("a.mxproj"), type(pathlib.Path()).__name__),
        (None, "NoneType"),
        (type("Name", (str,), {})("a.mxproj"), "Name"),
        (b"a.mxproj", "bytes"),
    ],
)
def test_file_must_be_exactly_a_str(tmp_path, monkeypatch, method, file, type_name):
    monkeypatch.chdir(tmp_path)
    project = Project()
    before = dict(vars(project))
    monkeypatch.setattr(Project, "_getSnapshot", None)
    monkeypatch.setattr(Project, "_setSnapshot", None)
    for call in (
        lambda: getattr(project, method)(file),
        lambda: getattr(project, method)(file=file),
    ):
        with pytest.raises(TypeError) as raised:
            call()
        assert str(raised.value) == (
            f"Argument 'file' has incorrect type (expected str, got {type_name})"
        )
    assert vars(project) == before
    assert list(tmp_path.iterdir()) == []


def test_keyword_and_unbound_calls(tmp_path):
    project = Project()
    project.save(file=str(tmp_path / "a.mxproj"))
    Project.save(project, str(tmp_path / "b.mxproj"))
    Project.load(self=project, file=str(tmp_path / "a.mxproj"))
    assert (tmp_path / "a.mxproj").read_text() == (tmp_path / "b.mxproj").read_text()


def test_module_names_are_looked_up_at_call_time(tmp_path, monkeypatch):
    marker = object()
    monkeypatch.setattr(project_module, "System", lambda: marker)
    assert Project().system() is marker
    monkeypatch.setattr(project_module, "MessageToJson", lambda snapshot: "{}")
    project = Project()
    project.save(str(tmp_path / "a.mxproj"))
    assert (tmp_path / "a.mxproj").read_text() == "{}"

    class Recording(Behavior):
        converted = []

        @staticmethod
        def _FromModel(message):
            Recording.converted.append(message.name)
            return Behavior._FromModel(message)

    snapshot = project_module.project_pb2.ProjectSnapshot()
    snapshot.behaviors["pick"].name = "pick"
    monkeypatch.setattr(project_module, "Behavior", Recording)
    project._setSnapshot(snapshot)
    assert Recording.converted == ["pick"]
    monkeypatch.delattr(project_module, "Workspace")
    with pytest.raises(NameError, match="name 'Workspace' is not defined"):
        Project()

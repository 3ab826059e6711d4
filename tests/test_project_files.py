"""Tests of project snapshots and project files: round trips, checks and safe saving."""

import builtins
import ctypes
import errno
import json
import os
import re
import stat
import subprocess
import sys
import textwrap

import pytest
from google.protobuf.json_format import MessageToJson, ParseError
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

import marnox.project as project_module
from marnox._messages import MAX_TREE_DEPTH
from marnox.behavior import Behavior
from marnox.dynamics import Link
from marnox.item import Item
from marnox.pose import Pose
from marnox.project import Project
from marnox.sample import build_sample_cell
from marnox.visual import VisualBox
from marnox.workspace import Camera, Fiducial, Robot, Workspace


def full_project():
    project = Project()
    build_sample_cell(project)
    return project


def small_project():
    project = Project()
    project.workspace().addFiducial(Fiducial("marker", Pose((0.1, 0.2, 0.3)), 3, 0.08))
    project.addBehavior(Behavior("pick", [("move", "marker"), ("grasp", "marker")]))
    project.addBehavior(Behavior("place", [("release", "")]))
    return project


def listing(folder):
    return sorted(os.listdir(str(folder)))


def steps(behaviors):
    return {key: (b.name(), b.steps()) for key, b in behaviors.items()}


def run_python(code, *args, flags=(), preexec_fn=None, cwd=None):
    """Runs `code` in a fresh interpreter with `args` in sys.argv[1:]."""
    return subprocess.run(
        [sys.executable, *flags, "-c", textwrap.dedent(code), *args],
        capture_output=True,
        text=True,
        timeout=60,
        preexec_fn=preexec_fn,
        cwd=cwd,
    )


@pytest.fixture
def saved(tmp_path):
    """A small project and the path of the file it was saved to."""
    project = small_project()
    path = str(tmp_path / "cell.mxproj")
    project.save(path)
    return project, path


@pytest.mark.parametrize("make", [small_project, full_project])
def test_round_trip_keeps_keys_and_the_held_objects(tmp_path, make):
    project, path = make(), str(tmp_path / "cell.mxproj")
    project.save(path)
    workspace, system, old = project.workspace(), project.system(), project.behaviors()
    before, text = steps(old), format(workspace)
    project.load(path)
    assert project.workspace() is workspace and project.system() is system
    assert project.behaviors() is not old and steps(old) == before
    assert steps(project.behaviors()) == before
    assert format(workspace) == text

    fresh = Project()
    fresh.addBehavior(Behavior("stale"))
    fresh.load(path)
    assert steps(fresh.behaviors()) == before
    assert format(fresh.workspace()) == text


def test_file_holds_exactly_the_json_of_the_snapshot(saved):
    project, path = saved
    with open(path) as file:
        content = file.read()
    assert content == MessageToJson(project._getSnapshot())
    assert not content.endswith("\n")
    document = json.loads(content)
    assert list(document) == ["workspace", "behaviors"]
    assert sorted(document["behaviors"]) == sorted(project.behaviors())


def test_a_project_without_behaviors_saves_none_and_loading_never_merges(tmp_path):
    path = str(tmp_path / "empty.mxproj")
    Project().save(path)
    with open(path) as file:
        assert list(json.load(file)) == ["workspace"]
    project = small_project()
    project.load(path)
    assert project.behaviors() == {}
    assert format(project.workspace()) == format(Workspace())


def test_snapshot_goes_through_the_workspace_accessor(saved):
    project, path = saved

    class Redirected(Project):
        def workspace(self):
            return self.other

    redirected = Redirected()
    redirected.other = Workspace()
    assert redirected._getSnapshot() == Project()._getSnapshot()
    redirected.other = project.workspace()
    assert redirected._getSnapshot().workspace == project._getSnapshot().workspace
    redirected.other = Workspace()
    redirected.load(path)
    assert format(redirected.other) == format(project.workspace())
    assert format(redirected._workspace) == format(Workspace())


@pytest.mark.parametrize(
    "content, where",
    [
        ("[]", "A project file"),
        (' ""', "A project file"),
        ('{"workspace": []}', "workspace"),
        ('{"workspace": ""}', "workspace"),
        ('{"behaviors": {"b": [ ]}}', "behaviors.b"),
        ('{"workspace": {"items": [{"name": "a", "pose": []}]}}', r"workspace.items\[0\].pose"),
        (
            '{"workspace": {"robots": [{"node": {"name": "r"},'
            ' "baseLink": {"name": "b", "children": [{"name": "c", "origin": ""}]}}]}}',
            r"workspace.robots\[0\].baseLink.children\[0\].origin",
        ),
    ],
)
def test_a_message_must_be_a_json_object(saved, content, where):
    project, path = saved
    with open(path, "w") as file:
        file.write(content)
    held, text = dict(vars(project)), str(project)
    with pytest.raises(ParseError, match=f"^{where} must be a JSON object, not an? "):
        project.load(path)
    assert vars(project) == held and str(project) == text


def test_empty_lists_and_strings_still_load_where_they_belong(saved):
    project, path = saved
    with open(path, "w") as file:
        file.write(
            '{"workspace": {"items": []},'
            ' "behaviors": {"b": {"name": "b", "steps": [{"kind": "x", "target": ""}]}}}'
        )
    project.load(path)
    assert steps(project.behaviors()) == {"b": ("b", (("x", ""),))}
    assert format(project.workspace()) == format(Workspace())


@pytest.mark.parametrize(
    "content",
    ['{"workspace": {}, "extra": 1}', "{", '{"behaviors": {"b": 3}}'],
)
def test_text_that_does_not_parse_changes_nothing(saved, content):
    project, path = saved
    with open(path, "w") as file:
        file.write(content)
    held, text = dict(vars(project)), str(project)
    with pytest.raises(ParseError):
        project.load(path)
    assert vars(project) == held and str(project) == text


def test_failed_restore_leaves_the_project_as_it_was(saved, monkeypatch):
    project, path = saved
    old, text = project.behaviors(), str(project)
    error = ValueError("bad restore")

    def refuse(*args):
        raise error

    monkeypatch.setattr(Workspace, "_setSnapshot", refuse)
    with pytest.raises(ValueError) as raised:
        project.load(path)
    assert raised.value is error
    assert project.behaviors() is old and str(project) == text
    monkeypatch.undo()

    project.workspace().clear()
    text = str(project)
    converted, original = [], Behavior._FromModel

    def from_model(message):
        if converted:
            raise error
        converted.append(message.name)
        return original(message)

    monkeypatch.setattr(project_module.Behavior, "_FromModel", staticmethod(from_model))
    with pytest.raises(ValueError) as raised:
        project.load(path)
    assert raised.value is error and converted
    assert project.behaviors() is old and str(project) == text


@pytest.mark.parametrize(
    "content",
    [
        '{"workspace": {"items": [{"name": "other_item"}]},'
        ' "behaviors": {"b": {"name": "b", "steps": [{"kind": ""}]}}}',
        '{"workspace": {"items": [{"name": "twin"}, {"name": "twin"}]},'
        ' "behaviors": {"b": {"name": "b"}}}',
    ],
    ids=["bad behavior", "bad workspace"],
)
def test_a_file_that_fails_to_load_cannot_cost_the_next_save(saved, tmp_path, content):
    project, path = saved
    with open(path) as file:
        kept = file.read()
    bad = str(tmp_path / "bad.mxproj")
    with open(bad, "w") as file:
        file.write(content)
    with pytest.raises(ValueError):
        project.load(bad)
    project.save(path)
    with open(path) as file:
        assert file.read() == kept


def deep_tree(workspace, kind, depth):
    """A chain `depth` levels deep, whose last node (`n<depth>`) carries a box."""
    if kind == "links":
        links = [Link(f"n{level}", axis=(0, 0, 1)) for level in range(1, depth + 1)]
        for parent, child in zip(links, links[1:], strict=False):
            parent.addChild(child)
        links[-1].addShape(VisualBox((0.1, 0.1, 0.1)))
        workspace.addRobot(Robot("robot", base_link=links[0]))
        return
    top = Camera("n1") if kind == "camera items" else Item("n1")
    nodes = [top] + [Item(f"n{level}") for level in range(2, depth + 1)]
    for parent, child in zip(nodes, nodes[1:], strict=False):
        parent.addChild(child)
    nodes[-1].addShape(VisualBox((0.1, 0.1, 0.1)))
    (workspace.addCamera if kind == "camera items" else workspace.addItem)(top)


@pytest.mark.parametrize("kind", ["items", "camera items", "links"])
def test_the_deepest_tree_a_file_holds_loads_and_a_deeper_one_is_refused(tmp_path, kind):
    path = str(tmp_path / "deep.mxproj")
    project = Project()
    deep_tree(project.workspace(), kind, MAX_TREE_DEPTH)
    project.save(path)
    loaded = Project()
    loaded.load(path)
    assert loaded._getSnapshot() == project._getSnapshot()

    deeper = Project()
    deep_tree(deeper.workspace(), kind, MAX_TREE_DEPTH + 1)
    with pytest.raises(ValueError, match=f"'n{MAX_TREE_DEPTH + 1}' is {MAX_TREE_DEPTH + 1} levels"):
        deeper.save(path)
    loaded.load(path)


@pytest.mark.parametrize("key", [7, None, ("pick",)])
def test_a_behavior_key_that_is_not_a_str_is_named_at_save(tmp_path, key):
    project = Project()
    project.behaviors()[key] = Behavior("pick")
    with pytest.raises(TypeError, match=rf"^behavior key {re.escape(repr(key))} must be a str"):
        project.save(str(tmp_path / "a.mxproj"))


@pytest.mark.parametrize("name", ["a.MXPROJ", "a.MxProj", "A.mxproj"])
def test_extension_is_compared_lower_cased(tmp_path, name):
    path = str(tmp_path / name)
    small_project().save(path)
    project = Project()
    project.load(path)
    assert sorted(project.behaviors()) == ["pick", "place"]


@pytest.mark.parametrize("name", ["a.json", "a.mxproj.bak", "mxproj", "a.mxpro"])
def test_wrong_extension_is_an_assertion(tmp_path, name):
    path = tmp_path / name
    project = small_project()
    with pytest.raises(AssertionError) as raised:
        project.save(str(path))
    assert raised.value.args == () and listing(tmp_path) == []
    path.write_bytes(b"old")
    for call in (project.save, project.load):
        with pytest.raises(AssertionError) as raised:
            call(str(path))
        assert raised.value.args == () and path.read_bytes() == b"old"


@pytest.mark.parametrize("name", ["missing.mxproj", "missing.txt"])
def test_loading_a_missing_file_is_an_assertion(tmp_path, name):
    with pytest.raises(AssertionError) as raised:
        Project().load(str(tmp_path / name))
    assert raised.value.args == ()


@pytest.fixture(scope="module")
def optimized(tmp_path_factory):
    """What save and load do under `python -O`, as a dict of outcomes."""
    folder = tmp_path_factory.mktemp("optimized")
    result = run_python(
        """
        import json, os
        from marnox.project import Project

        def outcome(call, *args):
            try:
                call(*args)
            except Exception as error:
                return type(error).__name__
            return "ok"

        project = Project()
        print(json.dumps({
            "save wrong extension": outcome(project.save, "a.json"),
            "load wrong extension": outcome(project.load, "a.json"),
            "load missing": outcome(project.load, "missing.mxproj"),
            "save empty name": outcome(project.save, ""),
            "save new name with a slash": outcome(project.save, "b.mxproj/"),
            "save file name with a slash": outcome(project.save, "a.json/"),
            "listing": sorted(os.listdir(".")),
        }))
        """,
        flags=["-O"],
        cwd=str(folder),
    )
    assert result.returncode == 0, result.stderr
    return json.loads(result.stdout)


@pytest.mark.parametrize(
    "case, expected",
    [
        ("save wrong extension", "ok"),
        ("load wrong extension", "ok"),
        ("load missing", "FileNotFoundError"),
        ("save empty name", "FileNotFoundError"),
        ("save new name with a slash", "IsADirectoryError"),
        ("save file name with a slash", "IsADirectoryError"),
        ("listing", ["a.json"]),
    ],
)
def test_assertions_are_skipped_under_optimisation(optimized, case, expected):
    assert optimized[case] == expected


def fail(*args, **kwargs):
    raise ValueError("stop")


@pytest.mark.parametrize(
    "content, patch",
    [
        (None, None),
        (b"{", None),
        (b"\xff\xfe", None),
        (None, (Workspace, "_setSnapshot", fail)),
        (None, (project_module, "Parse", fail)),
        (None, (project_module, "MessageToJson", fail)),
    ],
)
def test_files_are_closed_on_every_path(saved, monkeypatch, content, patch):
    project, path = saved
    if content is not None:
        with open(path, "wb") as file:
            file.write(content)
    if patch is not None:
        monkeypatch.setattr(*patch)
    descriptors = len(os.listdir("/proc/self/fd"))
    opened, real_open = [], builtins.open
    monkeypatch.setattr(
        builtins, "open", lambda *a, **k: opened.append(real_open(*a, **k)) or opened[-1]
    )
    for call in (project.load, project.save):
        try:
            call(path)
        except (ValueError, ParseError):
            pass
    assert opened and all(file.closed for file in opened)
    assert len(os.listdir("/proc/self/fd")) == descriptors


@pytest.mark.parametrize(
    "patch",
    [
        (Behavior, "_ToModel", staticmethod(fail)),
        (Workspace, "_getSnapshot", fail),
        (project_module, "MessageToJson", fail),
        (project_module, "MessageToJson", lambda snapshot: b"bytes"),
        (Behavior, "_ToModel", staticmethod(lambda behavior: Workspace()._getSnapshot())),
        None,
    ],
)
def test_a_failed_snapshot_leaves_the_old_file(saved, monkeypatch, patch):
    project, path = saved
    with open(path, "rb") as file:
        old = file.read()
    folder = os.path.dirname(path)
    if patch is None:
        project.behaviors()[7] = Behavior("a key that is not a str")
    else:
        monkeypatch.setattr(*patch)
    held, text = dict(vars(project)), str(project)
    with pytest.raises((ValueError, TypeError)):
        project.save(path)
    with open(path, "rb") as file:
        assert file.read() == old
    assert listing(folder) == ["cell.mxproj"]
    assert vars(project) == held and str(project) == text


def test_a_write_stopped_by_the_size_limit_leaves_the_old_file(saved):
    _, path = saved
    with open(path, "rb") as file:
        old = file.read()
    result = run_python(
        """
        import resource, signal, sys
        from marnox.behavior import Behavior
        from marnox.project import Project
        project = Project()
        for index in range(100):
            project.addBehavior(Behavior("b%d" % index, [("move", "x" * 100)] * 10))
        signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
        resource.setrlimit(resource.RLIMIT_FSIZE, (4096, resource.RLIM_INFINITY))
        try:
            project.save(sys.argv[1])
        except OSError as error:
            print(error.errno)
        """,
        path,
    )
    assert result.stdout == f"{errno.EFBIG}\n", result.stderr
    with open(path, "rb") as file:
        assert file.read() == old
    assert listing(os.path.dirname(path)) == ["cell.mxproj"]


@pytest.mark.parametrize(
    "name, error",
    [
        ("missing/a.mxproj", FileNotFoundError),
        ("folder.mxproj", IsADirectoryError),
        ("cell.mxproj/a.mxproj", NotADirectoryError),
    ],
)
def test_file_system_errors_propagate_and_leave_the_folder_as_it_was(saved, name, error):
    project, path = saved
    folder = os.path.dirname(path)
    os.mkdir(os.path.join(folder, "folder.mxproj"))
    before = listing(folder)
    with pytest.raises(error) as raised:
        project.save(os.path.join(folder, name))
    assert raised.value.filename == os.path.join(folder, name)
    assert listing(folder) == before and listing(os.path.join(folder, "folder.mxproj")) == []


def without_file_permission_override():
    """Drops the capabilities that let root write anything, for a subprocess."""
    if os.geteuid() != 0:
        return
    libc = ctypes.CDLL(None, use_errno=True)
    for capability in (1, 2):  # CAP_DAC_OVERRIDE, CAP_DAC_READ_SEARCH
        if libc.prctl(24, capability, 0, 0, 0) != 0:  # PR_CAPBSET_DROP
            raise OSError(ctypes.get_errno(), "prctl")


def save_without_permission_override(path, folder, first=""):
    """Saves a new project to `path` in a child that file modes bind, even under root, running
    `first` before; the child prints the file name of the PermissionError. `folder` is made
    writable again afterwards."""
    try:
        return run_python(
            f"""
            import sys
            from marnox.project import Project
            {first}
            try:
                Project().save(sys.argv[1])
            except PermissionError as error:
                print(error.filename)
            """,
            path,
            preexec_fn=without_file_permission_override,
        )
    except subprocess.SubprocessError:
        pytest.skip("cannot drop the permission override")
    finally:
        os.chmod(folder, 0o755)


@pytest.mark.parametrize("read_only", ["file", "folder"])
def test_read_only_file_or_folder_is_a_permission_error(saved, read_only):
    project, path = saved
    folder = os.path.dirname(path)
    with open(path, "rb") as file:
        old = file.read()
    os.chmod(path if read_only == "file" else folder, 0o444 if read_only == "file" else 0o555)
    result = save_without_permission_override(path, folder)
    assert result.stdout == path + "\n", result.stderr
    with open(path, "rb") as file:
        assert file.read() == old
    assert listing(folder) == ["cell.mxproj"]


def test_a_writable_file_in_a_read_only_folder_cannot_be_saved(saved):
    """The temporary file needs the folder, where open(file, "w") would need the file only."""
    _, path = saved
    folder = os.path.dirname(path)
    with open(path, "rb") as file:
        old = file.read()
    os.chmod(folder, 0o555)
    result = save_without_permission_override(path, folder, first='open(sys.argv[1], "a").close()')
    assert result.stdout == path + "\n", result.stderr
    with open(path, "rb") as file:
        assert file.read() == old
    assert listing(folder) == ["cell.mxproj"]


def test_permission_bits_are_kept_and_new_files_follow_the_umask(saved):
    project, path = saved
    os.chmod(path, 0o640)
    project.save(path)
    assert stat.S_IMODE(os.stat(path).st_mode) == 0o640
    mask = os.umask(0o027)
    try:
        project.save(path + ".mxproj")
    finally:
        os.umask(mask)
    assert stat.S_IMODE(os.stat(path + ".mxproj").st_mode) == 0o640


@pytest.mark.skipif(os.geteuid() != 0, reason="only root gives files to other users")
@pytest.mark.parametrize("mode", [0o640, 0o4750])
def test_owner_and_group_are_kept(saved, mode):
    project, path = saved
    os.chown(path, 65534, 65534)
    os.chmod(path, mode)
    project.save(path)
    written = os.stat(path)
    assert (written.st_uid, written.st_gid, stat.S_IMODE(written.st_mode)) == (65534, 65534, mode)


@pytest.mark.parametrize("through_link", [False, True])
def test_a_fifo_is_written_into_not_replaced(saved, tmp_path, through_link):
    project, _ = saved
    fifo = str(tmp_path / "pipe.mxproj")
    os.mkfifo(fifo)
    if through_link:
        os.symlink(fifo, str(tmp_path / "link.mxproj"))
    reader = os.open(fifo, os.O_RDONLY | os.O_NONBLOCK)
    try:
        project.save(str(tmp_path / ("link.mxproj" if through_link else "pipe.mxproj")))
        received = os.read(reader, 1 << 16).decode()
    finally:
        os.close(reader)
    assert received == MessageToJson(project._getSnapshot())
    assert stat.S_ISFIFO(os.lstat(fifo).st_mode)


def test_a_symbolic_link_is_followed(saved, tmp_path):
    project, path = saved
    os.mkdir(str(tmp_path / "links"))
    link = str(tmp_path / "links" / "link.mxproj")
    os.symlink(os.path.join("..", "cell.mxproj"), link)
    project.addBehavior(Behavior("extra"))
    project.save(link)
    assert os.path.islink(link) and os.readlink(link) == os.path.join("..", "cell.mxproj")
    with open(path) as file:
        assert "extra" in json.load(file)["behaviors"]
    assert listing(tmp_path) == ["cell.mxproj", "links"]
    assert listing(tmp_path / "links") == ["link.mxproj"]


def test_the_longest_file_name_saves(saved, tmp_path):
    project, _ = saved
    path = str(tmp_path / ("a" * 248 + ".mxproj"))
    for _ in range(2):
        project.save(path)
    loaded = Project()
    loaded.load(path)
    assert sorted(loaded.behaviors()) == ["pick", "place"]
    assert listing(tmp_path) == sorted(["cell.mxproj", os.path.basename(path)])


TEXT = st.text(st.characters(blacklist_categories=["Cs"]), min_size=1)


@settings(
    max_examples=40, deadline=None, suppress_health_check=[HealthCheck.function_scoped_fixture]
)
@given(names=st.lists(TEXT, max_size=4), kinds=st.lists(TEXT, max_size=3))
def test_any_behavior_names_and_steps_survive_a_round_trip(tmp_path, names, kinds):
    project = Project()
    for name in names:
        project.addBehavior(Behavior(name, [(kind, name) for kind in kinds]))
    path = str(tmp_path / "any.mxproj")
    project.save(path)
    loaded = Project()
    loaded.load(path)
    assert steps(loaded.behaviors()) == steps(project.behaviors())

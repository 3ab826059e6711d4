"""The command line: what it writes, and one clear line for every kind of bad input."""

import os
import subprocess
import sys

import pytest

from marnox.cli import main
from marnox.constants import MX_PROJECT_FILE_EXT


def run(*arguments, env=None):
    return subprocess.run(
        [sys.executable, "-m", "marnox", *arguments],
        capture_output=True,
        text=True,
        env=env,
        timeout=300,
    )


@pytest.fixture
def project_file(tmp_path):
    from marnox.project import Project
    from marnox.sample import build_sample_cell

    project = Project()
    build_sample_cell(project)
    path = str(tmp_path / ("cell" + MX_PROJECT_FILE_EXT))
    project.save(path)
    return path


def test_demo_writes_project_file_and_both_pictures(tmp_path):
    from vtkmodules.vtkIOImage import vtkPNGReader

    out = tmp_path / "demo"
    result = run("demo", "--out", str(out))
    assert result.returncode == 0, result.stderr
    written = sorted(os.listdir(out))
    assert written == ["images.png", "sample-cell" + MX_PROJECT_FILE_EXT, "workspace.png"]
    for name in written:
        assert f"wrote {out / name}" in result.stdout
    for name in ("images.png", "workspace.png"):
        reader = vtkPNGReader()
        reader.SetFileName(str(out / name))
        reader.Update()
        assert reader.GetOutput().GetDimensions()[:2] == (1280, 800)


def test_render_writes_the_pictures_asked_for(project_file, tmp_path):
    out, images = str(tmp_path / "view.png"), str(tmp_path / "grid.png")
    result = run("render", project_file, "-o", out, "--size", "320", "240", "--images", images)
    assert result.returncode == 0, result.stderr
    assert os.path.getsize(out) > 0 and os.path.getsize(images) > 0


def bad_inputs(tmp_path, project_file):
    not_a_project = tmp_path / ("notes" + MX_PROJECT_FILE_EXT)
    not_a_project.write_text('{"recipe": "soup"}')
    binary = tmp_path / ("binary" + MX_PROJECT_FILE_EXT)
    binary.write_bytes(b"\xff\xfe\x00garbage")
    missing = str(tmp_path / ("missing" + MX_PROJECT_FILE_EXT))
    return {
        "missing file": ["render", missing],
        "wrong ending": ["render", str(tmp_path / "cell.json")],
        "not a project": ["render", str(not_a_project)],
        "not text": ["render", str(binary)],
        "picture ending": ["render", project_file, "-o", str(tmp_path / "view.jpg")],
        "missing output folder": ["render", project_file, "-o", str(tmp_path / "no" / "v.png")],
        "bad size": ["render", project_file, "--size", "0", "10"],
        "demo into a file": ["demo", "--out", project_file],
        "demo into nothing": ["demo", "--out", ""],
        "demo under /proc": ["demo", "--out", "/proc/marnox-demo"],
    }


@pytest.mark.parametrize(
    "case",
    [
        "missing file",
        "wrong ending",
        "not a project",
        "not text",
        "picture ending",
        "missing output folder",
        "bad size",
        "demo into a file",
        "demo into nothing",
        "demo under /proc",
    ],
)
def test_bad_input_is_one_line_and_status_2(case, tmp_path, project_file, capsys):
    status = main(bad_inputs(tmp_path, project_file)[case])
    err = capsys.readouterr().err
    assert status == 2
    assert err.startswith("marnox: error: ") and err.count("\n") == 1
    assert "Traceback" not in err


def test_view_without_display_is_refused(project_file):
    env = {k: v for k, v in os.environ.items() if k != "DISPLAY"}
    result = run("view", project_file, env=env)
    assert result.returncode == 2
    assert result.stderr.startswith("marnox: error: no display")
    assert result.stderr.count("\n") == 1


@pytest.mark.parametrize("size", [("100000", "100000"), ("268435456", "1"), ("99999999999", "1")])
def test_a_size_beyond_the_cap_is_one_line_and_status_2(project_file, tmp_path, size):
    result = run("render", project_file, "-o", str(tmp_path / "view.png"), "--size", *size)
    assert result.returncode == 2
    assert result.stderr == (
        f"marnox: error: --size {size[0]} {size[1]}: width and height must be from 1 to 16384\n"
    )


def test_view_on_an_unreachable_display_is_refused(project_file):
    result = run("view", project_file, env={**os.environ, "DISPLAY": ":4711"})
    assert result.returncode == 2
    assert result.stderr.startswith("marnox: error: display :4711: ")
    assert result.stderr.count("\n") == 1


@pytest.mark.parametrize("command", [[], ["demo"], ["render"], ["view"], ["cameras"]])
def test_help_is_offered_for_every_command(command):
    result = run(*command, "--help")
    assert result.returncode == 0
    assert result.stdout.startswith("usage: python -m marnox")

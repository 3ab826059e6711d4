"""``demo --robot``: a URDF robot on the demo's pedestal."""

import importlib.metadata
import pathlib
import subprocess
import sys

import pytest

from marnox.cli import main

try:
    PENDULUM = pathlib.Path(
        importlib.metadata.distribution("example-robot-data").locate_file(
            "cmeel.prefix/share/example-robot-data/robots/double_pendulum_description/urdf"
            "/double_pendulum_continuous.urdf"
        )
    )
except importlib.metadata.PackageNotFoundError:
    pytest.skip("example-robot-data is missing", allow_module_level=True)


def test_demo_puts_the_robot_on_the_pedestal(tmp_path):
    out = tmp_path / "demo"
    result = subprocess.run(
        [sys.executable, "-m", "marnox", "demo", "--out", str(out), "--robot", str(PENDULUM)]
        + ["--joints", "joint1=0.5", "joint2=-1"],
        capture_output=True,
        text=True,
        timeout=300,
    )
    assert result.returncode == 0, result.stderr
    assert "robot 2dof_planar at (-0.450, 0.000, 0.400)" in result.stdout
    assert (out / "workspace.png").stat().st_size > 0


@pytest.mark.parametrize(
    "arguments, reason",
    [
        (["--robot", str(PENDULUM), "--joints", "elbow=1"], "no joint 'elbow' (joints: joint1"),
        (["--robot", str(PENDULUM), "--joints", "joint1"], "expected NAME=VALUE"),
        (["--robot", "missing.urdf"], "URDF file not found"),
        (["--joints", "joint1=1"], "need --robot"),
    ],
)
def test_bad_robot_input_is_one_line_and_status_2(tmp_path, capsys, arguments, reason):
    status = main(["demo", "--out", str(tmp_path), *arguments])
    err = capsys.readouterr().err
    assert status == 2 and err.count("\n") == 1 and reason in err

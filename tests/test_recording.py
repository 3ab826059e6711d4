"""Recordings: written by Recorder, read back by Recording and by MCAP's own readers."""

import os
import signal
import subprocess
import sys
import textwrap
import threading
import time

import numpy as np
import pytest

from marnox.pose import Pose
from marnox.project import Project
from marnox.recording import Recorder, Recording
from marnox.sample import build_sample_cell
from marnox.visual import VisualBox

mcap_reader = pytest.importorskip("mcap.reader")
mcap_protobuf = pytest.importorskip(
    "mcap_protobuf.decoder", reason="the test extra's mcap-protobuf-support"
)

RNG = np.random.default_rng(3)
# Images of dtypes and layouts Foxglove's RawImage holds and of ones it does not.
IMAGE_KINDS = [
    ("uint8", 3),
    ("<u2", 1),
    (">u2", 1),
    ("int64", 1),
    ("float64", 2),
    ("<f4", 1),
]


def _image(dtype, channels):
    return (RNG.random((6, 5, channels)) * 1000).astype(dtype)


def _state(project):
    system = project.system()
    workspace = project.workspace()
    return {
        "arrays": [system.pointcloud(), system.trajectory(), *system.images()],
        "joints": {n: r.jointPositions() for n, r in workspace.getRobots().items()},
        "poses": {
            n.name(): (n.pose().position(), n.pose().orientation()) for n in workspace.nodes()
        },
    }


def _assert_same(state, expected):
    for got, want in zip(state["arrays"], expected["arrays"], strict=True):
        assert (got.dtype, got.shape) == (want.dtype, want.shape)
        assert got.tobytes() == want.tobytes()
    assert state["joints"] == expected["joints"]
    assert state["poses"] == expected["poses"]


@pytest.fixture(scope="module")
def recorded(tmp_path_factory):
    """A sample cell recorded over changing data; returns (path, {time: expected state})."""
    path = tmp_path_factory.mktemp("recording") / "cell.mcap"
    project = Project()
    build_sample_cell(project)
    arm = project.workspace().getRobots()["arm"]
    table = project.workspace().find("table")
    expected = {0.0: _state(project)}
    with Recorder(project, str(path)) as recorder:
        for frame in range(1, 13):
            time_ = frame * 0.25
            arm.setJointPositions({"shoulder": RNG.normal(), "elbow": RNG.normal()})
            if frame % 3 == 0:
                project.system().setPointcloud(RNG.random((50 + frame, 6 if frame % 2 else 3)))
            if frame % 4 == 0:
                table.setPose(Pose(RNG.random(3), RNG.random(4)))
                project.system().setImages([_image(*kind) for kind in IMAGE_KINDS[: frame // 2]])
            if frame == 7:
                project.system().setTrajectory(RNG.random((0, 3)))
            recorder.record(time_)
            expected[time_] = _state(project)
    return path, expected


def test_round_trip_is_bit_for_bit_forward_and_backward(recorded):
    path, expected = recorded
    recording = Recording(str(path))
    assert recording.times() == sorted(expected)
    assert recording.duration() == 3.0
    project = recording.project()
    _assert_same(_state(project), expected[0.0])
    for time_ in [0.25, 1.0, 2.9, 3.0, 0.6, 2.0, 0.0, 1.75, 100.0, -1.0, np.inf, -np.inf]:
        recording.apply(project, time_)
        at = max([t for t in expected if t <= time_], default=0.0)
        _assert_same(_state(project), expected[at])


def test_every_message_decodes_from_the_files_own_schemas(recorded):
    path, _ = recorded
    with open(path, "rb") as file:
        reader = mcap_reader.make_reader(file, decoder_factories=[mcap_protobuf.DecoderFactory()])
        names = {schema.name for schema, _, _, _ in reader.iter_decoded_messages()}
    assert {
        "foxglove.PointCloud",
        "foxglove.RawImage",
        "foxglove.FrameTransforms",
        "orvane.api.ProjectSnapshot",
        "marnox.recording.Array",
    } <= names


def test_only_changes_are_stored(tmp_path):
    project = Project()
    build_sample_cell(project)
    project.system().setImages([])
    cloud = RNG.random((200_000, 6))
    project.system().setPointcloud(cloud)
    arm = project.workspace().getRobots()["arm"]
    path = tmp_path / "moves.mcap"
    with Recorder(project, str(path)) as recorder:
        for frame in range(300):
            arm.setJointPositions({"turret": frame / 300})
            recorder.record(frame / 10)
    assert os.path.getsize(path) < 1.1 * cloud.nbytes


@pytest.mark.parametrize(
    ("time_", "image"),
    [
        (float("nan"), None),
        (-0.5, None),
        # time.time_ns() passed for seconds: past the last nanosecond of a log time
        (1e11, None),
        (1e300, None),
        (1.5, np.zeros((2, 2, 1), [("a", "u1")])),
        (1.5, np.zeros((2, 2, 1), "datetime64[s]")),
        (1.5, np.full((2, 2, 1), "x")),
        (1.5, np.full((2, 2, 1), None)),
    ],
)
def test_a_refused_frame_leaves_the_recorder_and_the_file_whole(tmp_path, time_, image):
    project = Project()
    path = str(tmp_path / "a.mcap")
    with Recorder(project, path) as recorder:
        recorder.record(1.0)
        if image is not None:
            project.system().setImages([image])
        with pytest.raises(ValueError):
            recorder.record(time_)
        project.system().setImages([])
        recorder.record(2.0)
    with pytest.raises(RuntimeError):
        recorder.record()
    assert Recording(path).times() == [0.0, 1.0, 2.0]


def test_frames_recorded_from_two_threads_are_written_in_time_order(tmp_path):
    project = Project()
    path = tmp_path / "threads.mcap"
    with Recorder(project, str(path)) as recorder:
        threads = [
            threading.Thread(target=lambda: [recorder.record() for _ in range(200)])
            for _ in range(2)
        ]
        for thread in threads:
            thread.start()
        for thread in threads:
            thread.join()
    with open(path, "rb") as file:
        reader = mcap_reader.make_reader(file)
        stamps = [
            m.log_time
            for _, c, m in reader.iter_messages(log_time_order=False)
            if c.topic == "/marnox/frame"
        ]
    assert len(stamps) == 401
    assert stamps == sorted(stamps)


def _run(code, timeout=120):
    return subprocess.run(
        [sys.executable, "-c", textwrap.dedent(code)],
        capture_output=True,
        text=True,
        timeout=timeout,
    )


def test_a_killed_recorder_leaves_every_frame_older_than_a_second(tmp_path):
    path = tmp_path / "killed.mcap"
    child = subprocess.Popen(
        [
            sys.executable,
            "-c",
            textwrap.dedent(f"""
            import time
            from marnox.project import Project
            from marnox.recording import Recorder
            from marnox.sample import build_sample_cell
            project = Project()
            build_sample_cell(project)
            arm = project.workspace().getRobots()["arm"]
            recorder = Recorder(project, {str(path)!r})
            for frame in range(1, 100000):
                arm.setJointPositions({{"turret": frame / 1000}})
                recorder.record(frame / 100)
                print(frame, time.monotonic(), flush=True)
                time.sleep(0.01)
            """),
        ],
        stdout=subprocess.PIPE,
        text=True,
    )
    frames = []
    while not frames or time.monotonic() - frames[0][1] < 2.5:
        frame, at = child.stdout.readline().split()
        frames.append((int(frame), float(at)))
    child.send_signal(signal.SIGKILL)
    killed = time.monotonic()
    child.wait()
    child.stdout.close()
    old = [frame for frame, at in frames if at < killed - 1.0]
    recording = Recording(str(path))
    assert recording.times()[: len(old) + 1] == [0.0] + [frame / 100 for frame in old]
    project = recording.project()
    recording.apply(project, old[-1] / 100)
    assert project.workspace().getRobots()["arm"].jointPositions()["turret"] == old[-1] / 1000


def test_a_failing_write_is_reported_naming_the_file_and_what_was_written_stays(tmp_path):
    path = tmp_path / "full.mcap"
    result = _run(f"""
        import resource, signal, time
        import numpy as np
        from marnox.project import Project
        from marnox.recording import Recorder, Recording
        signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
        resource.setrlimit(resource.RLIMIT_FSIZE, (3_000_000, 3_000_000))
        project = Project()
        recorder = Recorder(project, {str(path)!r})
        try:
            for frame in range(1, 100):
                project.system().setPointcloud(np.random.default_rng(frame).random((2000, 6)))
                recorder.record(frame)
                time.sleep(0.1)
            recorder.close()
        except OSError as error:
            print("error:", error)
        print("frames:", len(Recording({str(path)!r}).times()))
        """)
    assert f"error: [Errno 27] File too large: '{path}'" in result.stdout, result.stderr
    assert int(result.stdout.split("frames:")[1]) >= 2


def test_an_unwritable_path_is_refused_when_opening():
    with pytest.raises(OSError, match="/dev/full"):
        Recorder(Project(), "/dev/full")


def _bad_files(folder, recorded):
    with open(recorded, "rb") as file:
        good = file.read()
    from mcap.writer import Writer

    with open(folder / "foreign.mcap", "wb") as file:
        writer = Writer(file)
        writer.start()
        channel = writer.register_channel("/chatter", "json", 0)
        writer.add_message(channel, 1, b"{}", 1)
        writer.finish()
    middle = len(good) // 2
    return {
        "empty": b"",
        "random": RNG.bytes(5000),
        "cut header": good[:20],
        "foreign": (folder / "foreign.mcap").read_bytes(),
        "garbled middle": good[:middle] + RNG.bytes(4000) + good[middle + 4000 :],
        "garbled summary": good[:-200] + RNG.bytes(150) + good[-50:],
    }


def test_damaged_and_foreign_files_raise_in_a_child_without_crashing(tmp_path, recorded):
    files = _bad_files(tmp_path, recorded[0])
    for name, data in files.items():
        (tmp_path / name).write_bytes(data)
    result = _run(f"""
        from marnox.recording import Recording
        for name in {[*files, "missing"]!r}:
            try:
                recording = Recording({str(tmp_path)!r} + "/" + name)
                project = recording.project()
                for time_ in recording.times():
                    recording.apply(project, time_)
                print(name, "opens")
            except (ValueError, FileNotFoundError) as error:
                print(name, type(error).__name__)
        """)
    assert result.returncode == 0, result.stderr
    outcomes = dict(line.rsplit(" ", 1) for line in result.stdout.splitlines())
    assert outcomes.pop("missing") == "FileNotFoundError"
    assert outcomes.pop("garbled middle") in ("ValueError", "opens")
    assert outcomes.pop("garbled summary") in ("ValueError", "opens")
    assert set(outcomes.values()) == {"ValueError"}, outcomes


def test_demo_records_a_pick_that_replay_plays_in_the_windows(tmp_path, display, capsys):
    from marnox.cli import main

    path = str(tmp_path / "demo.mcap")
    assert main(["demo", "--record", path]) == 0
    recording = Recording(path)
    assert recording.duration() >= 3.0
    start, end = recording.project(), recording.project()
    recording.apply(end, recording.duration())
    assert start.system().pointcloud().tobytes() != end.system().pointcloud().tobytes()
    arm = "arm"
    assert start.workspace().getRobots()[arm].jointPositions() != (
        end.workspace().getRobots()[arm].jointPositions()
    )
    assert main(["replay", path, "--speed", "20"]) == 0


@pytest.mark.parametrize("arguments", [["missing.mcap"], ["garbage.mcap"], ["x", "--speed", "0"]])
def test_replay_refuses_bad_input_in_one_line(tmp_path, monkeypatch, capsys, arguments):
    from marnox.cli import main

    monkeypatch.chdir(tmp_path)
    (tmp_path / "garbage.mcap").write_bytes(b"not a recording")
    assert main(["replay", *arguments]) == 2
    assert len(capsys.readouterr().err.splitlines()) == 1


def test_a_name_holding_a_slash_keeps_its_own_pose_and_label(tmp_path):
    from marnox.item import Item
    from marnox.viewer import CameraRenderer

    project = Project()
    box = VisualBox((0.1, 0.1, 0.1))
    project.workspace().addItem(Item("a/b", Pose((1, 0, 0)), shapes=[box]))
    project.workspace().addItem(Item("a")).addChild(Item("b", Pose((0, 2, 0))))
    path = str(tmp_path / "slash.mcap")
    with Recorder(project, path) as recorder:
        recorder.record(0.0)
    recording = Recording(path)
    copy = recording.project()
    items = copy.workspace().getItems()
    moved = [items["a/b"], items["a"].children()[0]]
    for node in moved:
        node.setPose(Pose())
    recording.apply(copy, 0.0)
    assert [node.pose().position() for node in moved] == [(1, 0, 0), (0, 2, 0)]
    assert CameraRenderer(project).labelNames() == ["a\\/b", "a", "a/b"]

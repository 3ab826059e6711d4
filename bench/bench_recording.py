"""Recording a live cell: what record() costs the caller's loop, how fast the writer thread
keeps up, how much its queue may hold, and how fast a long recording seeks.

A frame gives the system a new cloud of 200,000 coloured points and four new 1280x720 RGB
images. record() is timed against that frame's setPointcloud + setImages, in a loop paced at
the throughput floor below (a live loop also renders and reads its sensors). Throughput is
frames recorded and closed against the mcap writer alone writing the same encoded messages
with the same chunking and compression. Seeking is apply() to random times of a 10-minute,
10 Hz recording of the sample cell (joints every frame, a new cloud each second, new images
every five seconds), against a budget of 50 ms. The writer's check that a 10 MB cloud did
not change is timed against encoding it and comparing the bytes, as it was once found.
"""

import os
import statistics
import sys
import tempfile
import time

import numpy as np
from harness import format_seconds, interleaved_medians
from mcap.writer import CompressionType, Writer

from marnox.project import Project
from marnox.recording import Recorder, Recording, codec, recorder, schemas
from marnox.sample import build_sample_cell

POINTS = 200_000
IMAGE_SHAPE = (720, 1280, 3)
DATA_SETS = 3
FRAMES = 16
ROUNDS = 3
THROUGHPUT_FLOOR = 0.8


def frame_data(rng):
    cloud = np.column_stack([rng.uniform(-1.0, 1.0, (POINTS, 3)), rng.random((POINTS, 3))])
    images = [rng.integers(0, 256, IMAGE_SHAPE, dtype=np.uint8) for _ in range(4)]
    return cloud, images


def _writer_alone(path, data_sets, frames):
    """Seconds for the mcap writer to write the frames' cloud and image messages."""
    encoded = [
        [codec.encode_rows(cloud)[1]] + [codec.encode_image(image, "")[1] for image in images]
        for cloud, images in data_sets
    ]
    start = time.perf_counter()
    with open(path, "wb") as file:
        writer = Writer(file, chunk_size=recorder.CHUNK_BYTES, compression=CompressionType.ZSTD)
        writer.start()
        schema = writer.register_schema("s", schemas.ENCODING, b"")
        channels = [writer.register_channel(f"/{i}", schemas.ENCODING, schema) for i in range(5)]
        for frame in range(frames):
            for channel, data in zip(channels, encoded[frame % len(encoded)], strict=True):
                writer.add_message(channel, frame, data, frame)
        writer.finish()
    return time.perf_counter() - start


def _recorded(project, path, data_sets, frames, period=0.0):
    """Seconds to record and close the frames; record() and set times; record() waits."""
    system = project.system()
    record_times, set_times = [], []
    start = time.perf_counter()
    with Recorder(project, path) as rec:
        for frame in range(frames):
            due = start + frame * period
            time.sleep(max(0.0, due - time.perf_counter()))
            cloud, images = data_sets[frame % len(data_sets)]
            began = time.perf_counter()
            system.setPointcloud(cloud)
            system.setImages(images)
            set_done = time.perf_counter()
            rec.record(frame * 0.1 + 0.1)
            record_times.append(time.perf_counter() - set_done)
            set_times.append(set_done - began)
        waited = rec.waited
    elapsed = time.perf_counter() - start
    return elapsed, statistics.median(record_times), statistics.median(set_times), waited


def live_rows(folder):
    rng = np.random.default_rng(5)
    data_sets = [frame_data(rng) for _ in range(DATA_SETS)]
    project = Project()
    build_sample_cell(project)
    path = os.path.join(folder, "live.mcap")
    writers, recorders, waits = [], [], []
    # Interleaved rounds, so that the load of a shared machine touches both alike.
    for _ in range(ROUNDS):
        writers.append(_writer_alone(path, data_sets, FRAMES))
        elapsed, _, _, waited = _recorded(project, path, data_sets, FRAMES)
        recorders.append(elapsed)
        waits.append(waited)
    writer, recorded = statistics.median(writers), statistics.median(recorders)
    waited_flat_out = max(waits)
    period = writer / FRAMES / THROUGHPUT_FLOOR
    _, record_median, set_median, waited_paced = _recorded(project, path, data_sets, FRAMES, period)
    frame_bytes = data_sets[0][0].nbytes + sum(image.nbytes for image in data_sets[0][1])
    queue_bytes = recorder.QUEUE_FRAMES * frame_bytes
    case = f"200k points + 4x1280x720 RGB, {1 / period:.1f} Hz"
    return [
        (
            f"record(), {case}, waited {waited_paced}/{FRAMES}",
            format_seconds(record_median),
            "setPointcloud + setImages",
            record_median / set_median,
            1.0,
        ),
        (
            f"record() flat out + close, {FRAMES} frames, waited up to {waited_flat_out}/{FRAMES}",
            format_seconds(recorded),
            f"mcap writer alone (time, i.e. >= {THROUGHPUT_FLOOR}x throughput)",
            recorded / writer,
            1 / THROUGHPUT_FLOOR,
        ),
        (
            f"record() queue, at most {recorder.QUEUE_FRAMES} frames",
            f"{queue_bytes / 2**20:.0f} MiB",
            "one frame's arrays",
            queue_bytes / frame_bytes,
            None,
        ),
    ]


def long_recording(path, minutes=10, rate=10):
    project = Project()
    build_sample_cell(project)
    arm = project.workspace().getRobots()["arm"]
    system = project.system()
    rng = np.random.default_rng(9)
    cloud, images = system.pointcloud(), system.images()
    with Recorder(project, path) as rec:
        for frame in range(1, minutes * 60 * rate + 1):
            arm.setJointPositions({"turret": np.sin(frame / 50), "elbow": np.cos(frame / 70)})
            if frame % rate == 0:
                system.setPointcloud(cloud + rng.normal(0.0, 0.001, cloud.shape))
            if frame % (5 * rate) == 0:
                system.setImages([np.roll(image, frame, axis=1) for image in images])
            rec.record(frame / rate)


def seek_rows(folder, seeks=60):
    path = os.path.join(folder, "long.mcap")
    long_recording(path)
    recording = Recording(path)
    project = recording.project()
    rng = np.random.default_rng(1)
    samples = []
    for when in rng.uniform(0.0, recording.duration(), seeks):
        start = time.perf_counter()
        recording.apply(project, when)
        samples.append(time.perf_counter() - start)
    median = statistics.median(samples)
    frames = len(recording.times())
    return [
        (
            f"apply(), random times of {frames} frames",
            format_seconds(median),
            "50 ms",
            median / 0.05,
            1.0,
        )
    ]


def unchanged_rows(rounds=15):
    """The writer thread's check that a 10 MB cloud did not change since the last frame,
    against what it took before: encoding the cloud and comparing the message's bytes."""
    cloud = np.random.default_rng(2).random((10 * 2**20 // 48, 6))
    again = cloud.copy()
    encoded = codec.encode_rows(cloud)[1]
    medians = interleaved_medians(
        {
            "same": lambda: codec.same_array(cloud, cloud),
            "equal": lambda: codec.same_array(cloud, again),
            "encoded": lambda: codec.encode_rows(again)[1] == encoded,
        },
        rounds,
    )
    return [
        (
            f"unchanged 10 MB cloud check, {case}",
            format_seconds(medians[name]),
            "encoding it and comparing bytes",
            medians[name] / medians["encoded"],
            target,
        )
        for name, case, target in [
            ("same", "the same array", 0.01),
            ("equal", "an equal copy set again", 1.0),
        ]
    ]


def rows():
    with tempfile.TemporaryDirectory() as folder:
        return live_rows(folder) + unchanged_rows() + seek_rows(folder)


if __name__ == "__main__":
    from harness import print_table

    print_table(rows())
    sys.exit(0)

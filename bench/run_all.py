"""Every benchmark in one table: medians and ratios to baselines measured in the same run."""

import os
import sys

os.environ.setdefault("VTK_DEFAULT_OPENGL_WINDOW", "vtkEGLRenderWindow")
# The benchmarks time the mesh readers themselves, never the user's cache of
# converted meshes; the cache's own benchmark gives each run a folder of its own.
os.environ["MARNOX_MESH_CACHE"] = "0"

import bench_cameras  # noqa: E402
import bench_coverage  # noqa: E402
import bench_editing  # noqa: E402
import bench_files  # noqa: E402
import bench_image_refresh  # noqa: E402
import bench_live_frame  # noqa: E402
import bench_mesh_cache  # noqa: E402
import bench_meshes  # noqa: E402
import bench_notebook  # noqa: E402
import bench_recording  # noqa: E402
import bench_teardown  # noqa: E402
import bench_viewer  # noqa: E402
import bench_web  # noqa: E402
from harness import format_seconds, print_table  # noqa: E402


def image_rows(rounds=30):
    rows = []
    for row in bench_image_refresh.run(rounds):
        case = f"_updateImages(), {row['case']}"
        measured = format_seconds(row["median_s"])
        rows.append((case, measured, "straightforward path", row["vs_straightforward"], 0.75))
        floor_target = 1.2 if "1920x1080" in row["case"] else None
        rows.append((case, measured, "copy floor", row["vs_copy_floor"], floor_target))
    return rows


def main():
    rows = []
    rows += bench_viewer.rows()
    rows += bench_live_frame.live_frame_rows()
    rows += bench_files.file_rows()
    rows += image_rows()
    rows += bench_meshes.rows()
    rows += bench_mesh_cache.rows()
    rows += bench_web.rows()
    rows += bench_notebook.rows()
    rows += bench_editing.rows()
    rows += bench_recording.rows()
    rows += bench_teardown.growth_rows()
    rows += bench_cameras.rows()
    rows += bench_coverage.rows()
    print_table(rows)
    return 0


if __name__ == "__main__":
    sys.exit(main())

"""WorkspaceViewer dispatch against the plain-Python baseline: render() and setProject()."""

import os
import sys

import baseline_viewer
import fakes
from harness import format_seconds, interleaved_medians

import marnox.viewer


def _viewers():
    fakes.patch_model(marnox.viewer, baseline_viewer)
    native = marnox.viewer.WorkspaceViewer(trajectory=True, pointcloud=True)
    baseline = baseline_viewer.BaselineWorkspaceViewer(trajectory=True, pointcloud=True)
    for viewer in (native, baseline):
        viewer._trajectory = fakes.InstantOverlay()
        viewer._pointcloud = fakes.InstantOverlay()
    return native, baseline


def render_rows(frames=2000, rounds=15):
    """Per-frame render() without an interactor, both overlays on."""
    native, baseline = _viewers()
    project = fakes.InstantProject()
    native.setProject(project)
    baseline.setProject(project)

    def frames_of(viewer):
        render = viewer.render
        return lambda: [render() for _ in range(frames)]

    medians = interleaved_medians(
        {"native": frames_of(native), "baseline": frames_of(baseline)}, rounds
    )
    per_frame = medians["native"] / frames
    ratio = medians["native"] / medians["baseline"]
    return [("render(), per frame", format_seconds(per_frame), "plain Python", ratio, 0.9)]


def scene_rows(nodes=1000, rounds=9):
    """setProject() on a workspace of `nodes` leaf nodes with two elements each."""
    native, baseline = _viewers()
    project = fakes.InstantProject(nodes)
    medians = interleaved_medians(
        {
            "native": lambda: native.setProject(project),
            "baseline": lambda: baseline.setProject(project),
        },
        rounds,
    )
    ratio = medians["native"] / medians["baseline"]
    target = 0.9 if nodes == 1000 else None
    case = f"setProject(), {nodes} nodes"
    return [(case, format_seconds(medians["native"]), "plain Python", ratio, target)]


def resident_kib():
    with open("/proc/self/status") as status:
        for line in status:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    raise RuntimeError("no VmRSS in /proc/self/status")


def memory_rows(nodes=10000, rebuilds=100):
    """Resident memory after `rebuilds` rebuilds of the scene against that after the first."""
    native, _ = _viewers()
    project = fakes.InstantProject(nodes)
    native.setProject(project)
    first = resident_kib()
    for _ in range(rebuilds - 1):
        native.setProject(project)
    last = resident_kib()
    case = f"resident memory, {rebuilds} rebuilds of {nodes} nodes"
    return [(case, f"{last / 1024:.1f} MiB", "after the first", last / first, 1.1)]


def main():
    from harness import print_table

    rows = render_rows() + scene_rows(1000) + scene_rows(10000, rounds=3) + memory_rows()
    print_table(rows)
    return 0


if __name__ == "__main__":
    os.environ.setdefault("VTK_DEFAULT_OPENGL_WINDOW", "vtkEGLRenderWindow")
    sys.exit(main())

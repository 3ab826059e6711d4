"""WorkspaceViewer dispatch against the plain-Python baseline: render() and setProject().

Each case runs with the plain-Python stand-in model, whose every call enters the interpreter,
and beside it with the same model made of C callables, which times the viewers' own dispatch
alone. These rows have no targets: a frame's cost is the model's and VTK's work, which the
live-frame benchmark measures, and dispatch is a small part of it. The growth row divides the
10,000-node rebuild by ten 1,000-node ones: 1.0 would be linear. It is not: VTK's AddActor
searches the renderer's props for a duplicate and RemoveActor erases from the front of them,
so both grow with the scene, on either side alike.
"""

import os
import sys

import baseline_viewer
import fakes
from harness import format_seconds, interleaved_medians

import marnox.viewer


def _viewers(model):
    """Both viewers, for use while `model` is patched in."""
    native = marnox.viewer.WorkspaceViewer(trajectory=True, pointcloud=True)
    baseline = baseline_viewer.BaselineWorkspaceViewer(trajectory=True, pointcloud=True)
    for viewer in (native, baseline):
        viewer._trajectory = model.overlay()
        viewer._pointcloud = model.overlay()
    return native, baseline


def _case(text, model):
    return text if model is fakes.MODELS["python"] else f"{text}, C-callable model"


def render_rows(model, frames=2000, rounds=15):
    """Per-frame render() without an interactor, both overlays on."""
    with model.patched(marnox.viewer, baseline_viewer):
        native, baseline = _viewers(model)
        project = model.project()
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
    case = _case("render(), per frame", model)
    return [(case, format_seconds(per_frame), "plain Python", ratio, None)]


def scene_medians(model, nodes, rounds):
    """Median seconds of setProject() on `nodes` leaf nodes with two elements each."""
    with model.patched(marnox.viewer, baseline_viewer):
        native, baseline = _viewers(model)
        project = model.project(nodes)
        return interleaved_medians(
            {
                "native": lambda: native.setProject(project),
                "baseline": lambda: baseline.setProject(project),
            },
            rounds,
        )


def scene_row(model, nodes, medians):
    ratio = medians["native"] / medians["baseline"]
    case = _case(f"setProject(), {nodes} nodes", model)
    return (case, format_seconds(medians["native"]), "plain Python", ratio, None)


def growth_row(small_nodes, small, large_nodes, large):
    """How the rebuild time grows: 1.0 is linear in the node count."""
    factor = large_nodes / small_nodes
    ratio = large["native"] / (factor * small["native"])
    case = f"setProject(), {large_nodes} nodes"
    return (case, format_seconds(large["native"]), f"{factor:g} x {small_nodes} nodes", ratio, None)


def resident_kib():
    with open("/proc/self/status") as status:
        for line in status:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    raise RuntimeError("no VmRSS in /proc/self/status")


def memory_rows(nodes=10000, rebuilds=100):
    """Resident memory after `rebuilds` rebuilds of the scene against that after the first."""
    model = fakes.MODELS["python"]
    with model.patched(marnox.viewer, baseline_viewer):
        native, _ = _viewers(model)
        project = model.project(nodes)
        native.setProject(project)
        first = resident_kib()
        for _ in range(rebuilds - 1):
            native.setProject(project)
        last = resident_kib()
    case = f"resident memory, {rebuilds} rebuilds of {nodes} nodes"
    return [(case, f"{last / 1024:.1f} MiB", "after the first", last / first, 1.1)]


def rows():
    """Every row of this benchmark, each plain-Python model row with its C-callable one."""
    python, builtin = fakes.MODELS["python"], fakes.MODELS["builtin"]
    small = scene_medians(python, 1000, rounds=9)
    large = scene_medians(python, 10000, rounds=3)
    table = render_rows(python) + render_rows(builtin)
    table += [scene_row(python, 1000, small)]
    table += [scene_row(builtin, 1000, scene_medians(builtin, 1000, 9))]
    table += [scene_row(python, 10000, large), growth_row(1000, small, 10000, large)]
    return table + memory_rows()


def main():
    from harness import print_table

    print_table(rows())
    return 0


if __name__ == "__main__":
    os.environ.setdefault("VTK_DEFAULT_OPENGL_WINDOW", "vtkEGLRenderWindow")
    sys.exit(main())

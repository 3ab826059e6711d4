"""Instructions per render() frame and per setProject() rebuild, counted by callgrind.

Timings on a shared machine drift by tens of percent; instruction counts do not,
so they show small changes in dispatch cost that the timing benchmark cannot.
Each case runs in its own process under ``valgrind --tool=callgrind``, which
counts only inside ``operator.call``: the loop that the timing benchmark runs,
started from Python, and nothing of the imports or the setup.

Run: ``python bench/count_viewer.py [--model python|builtin] [--frames N] [--nodes N]``;
``--model builtin`` gives both viewers a model made of C callables (see fakes.py).
"""

import argparse
import operator
import os
import re
import subprocess
import sys
import tempfile


def _case(viewer_kind, operation, repeat, nodes, model_name):
    """Runs in the process under callgrind: builds the viewer, then the counted loop."""
    import baseline_viewer
    import fakes

    import marnox.viewer

    model = fakes.MODELS[model_name]
    model.patch(marnox.viewer, baseline_viewer)
    make = {
        "native": marnox.viewer.WorkspaceViewer,
        "baseline": baseline_viewer.BaselineWorkspaceViewer,
    }[viewer_kind]
    viewer = make(trajectory=True, pointcloud=True)
    viewer._trajectory = model.overlay()
    viewer._pointcloud = model.overlay()
    project = model.project(nodes if operation == "scene" else 0)
    viewer.setProject(project)
    render = viewer.render
    set_project = viewer.setProject

    # The same loops as bench_viewer.py: calls made from Python bytecode.
    def frames():
        return [render() for _ in range(repeat)]

    def rebuilds():
        return [set_project(project) for _ in range(repeat)]

    # Warm up the interpreter's specialised instructions before counting.
    (frames if operation == "render" else rebuilds)()
    operator.call(frames if operation == "render" else rebuilds)


def _count(viewer_kind, operation, repeat, nodes, model, keep):
    with tempfile.TemporaryDirectory() as folder:
        out = os.path.join(keep or folder, f"callgrind.{viewer_kind}.{operation}.{model}")
        command = [
            "valgrind",
            "--tool=callgrind",
            "--collect-atstart=no",
            "--toggle-collect=_operator_call",
            f"--callgrind-out-file={out}",
            sys.executable,
            __file__,
            "--run",
            viewer_kind,
            operation,
            str(repeat),
            str(nodes),
            model,
        ]
        env = dict(os.environ, PYTHONHASHSEED="0")
        env.setdefault("VTK_DEFAULT_OPENGL_WINDOW", "vtkEGLRenderWindow")
        subprocess.run(command, check=True, env=env, capture_output=True)
        with open(out) as dump:
            totals = re.search(r"^totals: (\d+)", dump.read(), re.MULTILINE)
        return int(totals.group(1))


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--frames", type=int, default=2000)
    parser.add_argument("--rebuilds", type=int, default=5)
    parser.add_argument("--nodes", type=int, default=1000)
    parser.add_argument("--model", choices=["python", "builtin"], default="python")
    parser.add_argument("--only", choices=["render", "scene"], help="count one operation")
    parser.add_argument("--keep", metavar="DIR", help="keep the callgrind files in DIR")
    parser.add_argument("--run", nargs=5, help=argparse.SUPPRESS)
    args = parser.parse_args()
    if args.keep:
        os.makedirs(args.keep, exist_ok=True)
    if args.run:
        kind, operation, repeat, nodes, model = args.run
        _case(kind, operation, int(repeat), int(nodes), model)
        return 0

    cases = [
        ("render(), per frame", "render", args.frames, 0),
        (f"setProject(), {args.nodes} nodes", "scene", args.rebuilds, args.nodes),
    ]
    print(f"model: {args.model}")
    print(f"{'case':28}  {'native':>12}  {'baseline':>12}  ratio")
    for label, operation, repeat, nodes in cases:
        if args.only and operation != args.only:
            continue
        native = _count("native", operation, repeat, nodes, args.model, args.keep) / repeat
        baseline = _count("baseline", operation, repeat, nodes, args.model, args.keep) / repeat
        print(f"{label:28}  {native:12.0f}  {baseline:12.0f}  {native / baseline:.2f}")
    return 0


if __name__ == "__main__":
    sys.exit(main())

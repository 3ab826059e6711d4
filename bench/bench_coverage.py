"""coverage() against one CameraRenderer.render() of the same cameras (labels off), and how
its time grows with the points (a finer step) and the cameras.

Each case has its own copy of the cell, so that no two windows share (and upload again and
again) the same actors. The extra cameras look at the place zone from around the table.
"""

import os
import sys

from harness import format_seconds, interleaved_medians, print_table


def demo_cell(cameras=2):
    from marnox.camera import Camera, Intrinsics
    from marnox.pose import Pose
    from marnox.project import Project
    from marnox.sample import PLACE_ZONE_CENTER, TABLE_HEIGHT, build_sample_cell

    project = Project()
    build_sample_cell(project)
    target = (*PLACE_ZONE_CENTER, TABLE_HEIGHT)
    for index in range(cameras - 2):
        eye = (0.2 + 0.15 * index, -0.9 + 0.3 * index, 1.4)
        pose = Pose.lookAt(eye, target)
        project.workspace().addCamera(
            Camera(f"extra_{index}", pose, Intrinsics.fromFieldOfView(640, 480, 55.0))
        )
    return project


def rows(rounds=7):
    from marnox.coverage import coverage
    from marnox.viewer import CameraRenderer

    results = []
    for cameras, steps in ((2, (0.005, 0.002, 0.001, 0.0005)), (4, (0.005,)), (8, (0.005,))):
        renderer = CameraRenderer(demo_cell(cameras), labels=False)
        cells = {step: demo_cell(cameras) for step in steps}
        candidates = {"render": renderer.render}
        for step, cell in cells.items():
            candidates[step] = lambda cell=cell, step=step: coverage(cell, step=step)
        for run in candidates.values():
            run()
        medians = interleaved_medians(candidates, rounds)
        base = medians.pop("render")
        results.append(
            (
                f"CameraRenderer.render(), {cameras} cameras 640x480, labels off",
                format_seconds(base),
                "-",
                1.0,
                None,
            )
        )
        for step, seconds in medians.items():
            points = len(coverage(cells[step], step=step)["place_zone"].points)
            target = 1.5 if step == 0.005 and cameras == 2 else None
            results.append(
                (
                    f"coverage(), step {step * 1000:g} mm: {points} points x {cameras} cameras",
                    format_seconds(seconds),
                    "render() of the same cameras",
                    seconds / base,
                    target,
                )
            )
    return results


def main():
    os.environ.setdefault("VTK_DEFAULT_OPENGL_WINDOW", "vtkEGLRenderWindow")
    print_table(rows())
    return 0


if __name__ == "__main__":
    sys.exit(main())

"""CameraRenderer: the demo's two 640x480 cameras against a straightforward VTK render, and
its memory.

The baseline draws the same scene, lit the same way, per camera: an off-screen VTK render with
the camera's projection, the colour read with vtkWindowToImageFilter, the z-buffer read and
turned into metres with NumPy. Each case draws its own copy of the cell, so that no two windows
share (and upload again and again) the same actors. Memory: what drawing the largest
example-robot-data robot adds, against one copy of the robot's meshes' polydata (in a fresh
process), by a CameraRenderer and, for scale, by the straightforward render; resident memory
over 1,000 renders of the demo cameras; and the peak memory one 4096 x 4096 camera's render adds,
per pixel, against the 11 bytes a pixel of the three images it returns.
"""

import ctypes
import gc
import os
import subprocess
import sys

import numpy as np
from harness import format_seconds, interleaved_medians, print_table

BARREL = (-0.25, 0.08, 0.001, -0.001, -0.01)


def demo_cell():
    from marnox.project import Project
    from marnox.sample import build_sample_cell

    project = Project()
    build_sample_cell(project)
    return project


def _projection(intrinsics, near, far):
    from vtkmodules.vtkCommonMath import vtkMatrix4x4

    w, h, fx, fy, cx, cy = intrinsics
    matrix = vtkMatrix4x4()
    matrix.DeepCopy(
        [
            *(2 * fx / w, 0, (w - 2 * cx - 1) / w, 0),
            *(0, 2 * fy / h, (2 * cy + 1 - h) / h, 0),
            *(0, 0, -(far + near) / (far - near), -2 * far * near / (far - near)),
            *(0, 0, -1, 0),
        ]
    )
    return matrix


class StraightforwardCameras:
    """The same cameras drawn the plain way: VTK's render, its image filter, NumPy for depth."""

    def __init__(self, project, near=0.05, far=20.0):
        from vtkmodules.vtkRenderingCore import vtkLight, vtkRenderer, vtkRenderWindow

        self.project, self.near, self.far = project, near, far
        self.renderer = vtkRenderer()
        self.renderer.SetBackground(0.45, 0.5, 0.55)
        for y in range(-15, 15, 5):
            for x in range(-15, 15, 5):
                light = vtkLight()
                light.SetIntensity(0.1)
                light.SetPosition(x, y, 3)
                self.renderer.AddLight(light)
        nodes = []
        workspace = project.workspace()
        for mapping in (workspace.getRobots(), workspace.getItems(), workspace.getFiducials()):
            nodes += mapping.values()
        nodes += workspace.getTaskRegions().values()
        while nodes:
            node = nodes.pop()
            for element in node._getVisualGroup().elements():
                self.renderer.AddActor(element._getActor())
            nodes += node._getChildren()
        self.window = vtkRenderWindow()
        self.window.OffScreenRenderingOn()
        self.window.SetMultiSamples(0)
        self.window.AddRenderer(self.renderer)

    def render(self):
        from vtkmodules.util import numpy_support
        from vtkmodules.vtkCommonCore import vtkFloatArray
        from vtkmodules.vtkRenderingCore import vtkWindowToImageFilter

        frames = []
        for camera in self.project.workspace().getCameras().values():
            i = camera.intrinsics()
            pose = camera.worldPose().matrix()
            view = self.renderer.GetActiveCamera()
            view.SetPosition(*pose[:3, 3])
            view.SetFocalPoint(*(pose[:3, 3] + pose[:3, 2]))
            view.SetViewUp(*(-pose[:3, 1]))
            view.SetExplicitProjectionTransformMatrix(_projection(i, self.near, self.far))
            view.UseExplicitProjectionTransformMatrixOn()
            self.window.SetSize(i.width, i.height)
            self.window.Render()
            grab = vtkWindowToImageFilter()
            grab.SetInput(self.window)
            grab.ReadFrontBufferOff()
            grab.ShouldRerenderOff()
            grab.Update()
            scalars = grab.GetOutput().GetPointData().GetScalars()
            color = numpy_support.vtk_to_numpy(scalars).reshape(i.height, i.width, -1)[::-1]
            buffer = vtkFloatArray()
            self.window.GetZbufferData(0, 0, i.width - 1, i.height - 1, buffer)
            z = numpy_support.vtk_to_numpy(buffer).reshape(i.height, i.width)[::-1]
            ndc = 2.0 * z - 1.0
            depth = (
                2 * self.far * self.near / ((self.far + self.near) - ndc * (self.far - self.near))
            )
            depth[z >= 1.0] = np.nan
            frames.append((color[:, :, :3].copy(), depth.astype(np.float32)))
        return frames


def speed_rows(rounds=15):
    from marnox.viewer import CameraRenderer

    baseline = StraightforwardCameras(demo_cell())
    plain = CameraRenderer(demo_cell(), labels=False)
    labelled = CameraRenderer(demo_cell())
    distorted_cell = demo_cell()
    for camera in distorted_cell.workspace().getCameras().values():
        camera.setDistortion(BARREL)
    distorted = CameraRenderer(distorted_cell, labels=False)
    candidates = {
        "baseline": baseline.render,
        "plain": plain.render,
        "labels": labelled.render,
        "distortion": distorted.render,
    }
    for render in candidates.values():
        render()
    medians = interleaved_medians(candidates, rounds)
    base = medians["baseline"]
    cases = {
        "plain": ("colour + depth", 1.0),
        "labels": ("colour + depth + labels", None),
        "distortion": ("colour + depth, barrel distortion", None),
    }
    rows = [
        (
            "straightforward VTK render, 2 cameras 640x480",
            f"{format_seconds(base)} ({2 / base:.1f} fps)",
            "-",
            1.0,
            None,
        )
    ]
    for name, (what, target) in cases.items():
        seconds = medians[name]
        measured = f"{format_seconds(seconds)} ({2 / seconds:.1f} fps)"
        rows.append(
            (
                f"CameraRenderer.render(), {what}",
                measured,
                "straightforward",
                seconds / base,
                target,
            )
        )
    return rows


def _rss_kib():
    # Memory freed but kept by the C allocator (the vertex data VTK builds and Mesa copies, say)
    # is not held; give it back first, where glibc can.
    try:
        ctypes.CDLL("libc.so.6").malloc_trim(0)
    except (OSError, AttributeError):
        pass
    with open("/proc/self/statm") as stream:
        return int(stream.read().split()[1]) * os.sysconf("SC_PAGE_SIZE") // 1024


def robot_memory(kind):
    """In this process: (KiB that drawing the largest robot adds, KiB of its polydata), drawn by
    a CameraRenderer (``kind`` "camera") or by the straightforward render ("baseline")."""
    from bench_meshes import largest_robot

    from marnox.camera import Camera, Intrinsics
    from marnox.pose import Pose
    from marnox.project import Project
    from marnox.robot import Robot
    from marnox.viewer import CameraRenderer

    def with_camera(project):
        eye = Pose.lookAt((1.6, -1.2, 1.2), (0.0, 0.0, 0.5))
        project.workspace().addCamera(Camera("cam", eye, Intrinsics.fromFieldOfView(640, 480)))
        return project

    # The first draw sets up the GL driver and its shaders; that is not the robot's cost.
    empty = with_camera(Project())
    renderer = CameraRenderer(empty) if kind == "camera" else StraightforwardCameras(empty)
    renderer.render()
    robot_cell = with_camera(Project())
    robot = robot_cell.workspace().addRobot(Robot.fromURDF(str(largest_robot()[1])))
    shapes = [s for s in robot._getVisualGroup().elements() if hasattr(s, "polydata")]
    polydata = {id(s.polydata()): s.polydata() for s in shapes}
    copy = sum(p.GetActualMemorySize() for p in polydata.values())
    gc.collect()
    before = _rss_kib()
    if kind == "camera":
        renderer.setProject(robot_cell)
    else:
        renderer = StraightforwardCameras(robot_cell)
    renderer.render()
    gc.collect()
    return _rss_kib() - before, copy


def memory_rows():
    rows = []
    for kind, case, target in (
        ("camera", "CameraRenderer on the largest robot: RSS growth", 1.2),
        ("baseline", "straightforward VTK render of it: RSS growth", None),
    ):
        probe = subprocess.run(
            [sys.executable, __file__, "--robot-memory", kind],
            capture_output=True,
            text=True,
            check=True,
        )
        grown, copy = map(int, probe.stdout.split()[-2:])
        rows.append((case, f"{grown / 1024:.1f} MiB", "one polydata copy", grown / copy, target))
    return rows


def repeat_rows(renders=1000, settle=50):
    from marnox.viewer import CameraRenderer

    renderer = CameraRenderer(demo_cell())
    for _ in range(settle):
        renderer.render()
    gc.collect()
    settled = _rss_kib()
    for _ in range(renders - settle):
        renderer.render()
    gc.collect()
    growth = (_rss_kib() - settled) / 1024
    case = f"resident memory, {renders} renders of the demo cameras"
    return [(case, f"{growth:+.1f} MiB", f"after {settle} (MiB, target 5)", growth / 5.0, 1.0)]


def _peak_kib():
    with open("/proc/self/status") as stream:
        return next(int(line.split()[1]) for line in stream if line.startswith("VmHWM"))


def large_camera_bytes(side=4096):
    """In this process: the bytes a pixel by which one labelled render of a side x side camera
    raises the peak resident memory."""
    from marnox.camera import Camera, Intrinsics
    from marnox.pose import Pose
    from marnox.viewer import CameraRenderer

    cell = demo_cell()
    renderer = CameraRenderer(cell)
    renderer.render()
    eye = Pose.lookAt((1.6, -1.2, 1.2), (0.0, 0.0, 0.5))
    cell.workspace().addCamera(Camera("large", eye, Intrinsics.fromFieldOfView(side, side)))
    renderer.setProject(cell)
    gc.collect()
    _rss_kib()
    before = _peak_kib()
    renderer.render(["large"])
    return (_peak_kib() - before) * 1024 / side**2


def large_camera_rows():
    probe = subprocess.run(
        [sys.executable, __file__, "--large-camera"], capture_output=True, text=True, check=True
    )
    per_pixel = float(probe.stdout.split()[-1])
    case = "one 4096x4096 camera with labels: peak RSS growth"
    return [(case, f"{per_pixel:.1f} B/px", "its images (11 B/px)", per_pixel / 11, 1.5)]


def rows():
    return speed_rows() + memory_rows() + repeat_rows() + large_camera_rows()


def main():
    os.environ.setdefault("VTK_DEFAULT_OPENGL_WINDOW", "vtkEGLRenderWindow")
    if sys.argv[1:2] == ["--robot-memory"]:
        print(*robot_memory(sys.argv[2]))
        return 0
    if sys.argv[1:2] == ["--large-camera"]:
        print(large_camera_bytes())
        return 0
    print_table(rows())
    return 0


if __name__ == "__main__":
    sys.exit(main())

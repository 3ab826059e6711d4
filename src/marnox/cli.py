"""The ``python -m marnox`` command line: a demo cell, rendering project files, viewing them,
serving them to web browsers.

The heavy modules (VTK, the viewers) load only when a command needs them, so that
``--help`` answers at once.

Bad input ends with one line on standard error and exit status 2, never a traceback.
"""

from __future__ import annotations

import argparse
import math
import os
import sys

from marnox import __version__
from marnox._view_setup import (
    check_port,
    check_size,
    framed_workspace_viewer,
    use_headless_window,
)
from marnox.constants import MX_IMAGE_FILE_EXT, MX_PROJECT_FILE_EXT

EXIT_BAD_INPUT = 2
DEFAULT_SIZE = (1280, 800)


class BadInput(Exception):
    """A problem with what the user asked for, reported in one line."""


def _require_ending(path, ending, what):
    if not path.lower().endswith(ending):
        raise BadInput(f"{path}: {what} must end with {ending}")


def _require_output_folder(path):
    _require_utf8(path)
    folder = os.path.dirname(os.path.abspath(path))
    if not os.path.isdir(folder):
        raise BadInput(f"{path}: folder {folder} does not exist")


def _require_utf8(path):
    """Paths are printed and handed to VTK, which take text only."""
    try:
        path.encode("utf-8")
    except UnicodeEncodeError:
        raise BadInput(f"{path!r}: not a UTF-8 file name") from None


def _make_output_folder(out):
    _require_utf8(out)
    try:
        os.makedirs(out, exist_ok=True)
    except (OSError, ValueError) as error:
        reason = getattr(error, "strerror", None) or error
        raise BadInput(f"{out!r}: cannot make the output folder ({reason})") from error


def load_project(path):
    """Load the project file ``path`` into a new Project, or raise BadInput saying why not."""
    from google.protobuf.json_format import ParseError

    from marnox.project import Project

    _require_ending(path, MX_PROJECT_FILE_EXT, "a project file")
    if not os.path.isfile(path):
        raise BadInput(f"{path}: no such project file")
    project = Project()
    try:
        project.load(path)
    except (ParseError, UnicodeDecodeError, ValueError) as error:
        reason = str(error).splitlines()[0] if str(error) else type(error).__name__
        raise BadInput(f"{path}: not a marnox project file ({reason})") from error
    except OSError as error:
        raise BadInput(f"{path}: {error.strerror or error}") from error
    return project


def write_workspace_png(project, path, size=DEFAULT_SIZE, overlays=()):
    """Render the workspace, point cloud and trajectory of ``project`` off screen to ``path``.

    Each of ``overlays`` is called with the viewer once the view is set, to draw over it
    (see ``marnox.overlays``).
    """
    viewer = framed_workspace_viewer(project, size)
    for overlay in overlays:
        overlay(viewer)
    viewer.render()
    _screenshot(viewer, path)


def write_images_png(project, path, size=DEFAULT_SIZE):
    """Render the grid of ``project``'s current camera images off screen to ``path``."""
    from marnox.viewer import ImageViewer

    viewer = ImageViewer(size=tuple(size))
    viewer.setProject(project)
    viewer.init(offscreen=True)
    viewer.render()
    _screenshot(viewer, path)


def _screenshot(viewer, path):
    try:
        viewer.screenshot(path)
    except OSError as error:
        raise BadInput(f"{path}: cannot write ({error.strerror or error})") from error
    finally:
        viewer.stop()


def _copy_live_data(source, target):
    """Project files hold the workspace and behaviors; the live data stays in the system."""
    system = target.system()
    system.setPointcloud(source.system().pointcloud())
    system.setTrajectory(source.system().trajectory())
    system.setImages(source.system().images())


def load_robot(urdf, package_dirs=(), joints=()):
    """The robot of ``urdf`` placed on the demo's pedestal, its joints set from
    ``NAME=VALUE`` strings; raises BadInput saying what is wrong."""
    from marnox.robot import Robot
    from marnox.sample import ROBOT_POSE

    positions = {}
    for setting in joints:
        name, sign, value = setting.partition("=")
        try:
            positions[name] = float(value) if sign and name else None
        except ValueError:
            positions[name] = None
        if positions[name] is None:
            raise BadInput(f"--joints {setting}: expected NAME=VALUE with a number")
    try:
        robot = Robot.fromURDF(urdf, pose=ROBOT_POSE, packageDirs=package_dirs)
    except (ValueError, OSError) as error:
        raise BadInput(str(error).splitlines()[0]) from error
    try:
        robot.setJointPositions(positions)
    except KeyError as error:
        known = ", ".join(robot.jointPositions())
        raise BadInput(f"{urdf}: no joint {error.args[0]!r} (joints: {known})") from error
    except ValueError as error:
        raise BadInput(f"{urdf}: {error}") from error
    return robot


def simulate_camera_images(project, renderer=None):
    """Make the system's images what the project's cameras see: colour, then depth.

    ``renderer``, a ``CameraRenderer(project, labels=False)``, spares making one per call.
    """
    from marnox.camera import imagesFromFrames
    from marnox.viewer import CameraRenderer

    if renderer is None:
        renderer = CameraRenderer(project, labels=False)
    project.system().setImages(imagesFromFrames(renderer.render()))


def run_demo(out, robot=None):
    """Build the sample cell, save and reload it, and write its two pictures into ``out``.

    ``robot`` replaces the built-in arm (see ``load_robot``).
    """
    from marnox.project import Project
    from marnox.sample import build_sample_cell

    _make_output_folder(out)
    project = Project()
    build_sample_cell(project, robot)
    project_file = os.path.join(out, "sample-cell" + MX_PROJECT_FILE_EXT)
    try:
        project.save(project_file)
    except OSError as error:
        raise BadInput(f"{project_file}: cannot write ({error.strerror or error})") from error
    except ValueError as error:
        # What the cell holds and a project file cannot, such as a robot too deep.
        raise BadInput(f"{project_file}: cannot save ({error})") from error
    print(f"wrote {project_file}")

    loaded = load_project(project_file)
    print(loaded, end="")
    _copy_live_data(project, loaded)
    simulate_camera_images(loaded)

    workspace_png = os.path.join(out, "workspace" + MX_IMAGE_FILE_EXT)
    write_workspace_png(loaded, workspace_png)
    print(f"wrote {workspace_png}")
    images_png = os.path.join(out, "images" + MX_IMAGE_FILE_EXT)
    write_images_png(loaded, images_png)
    print(f"wrote {images_png}")


def run_record_demo(path):
    """Record the demo cell with the arm going through its pick to the MCAP file ``path``,
    with the images its cameras see."""
    from marnox.project import Project
    from marnox.recording import Recorder
    from marnox.sample import build_sample_cell, pick_steps
    from marnox.viewer import CameraRenderer

    project = Project()
    build_sample_cell(project)
    renderer = CameraRenderer(project, labels=False)
    simulate_camera_images(project, renderer)
    try:
        with Recorder(project, path) as recorder:
            for time in pick_steps(project):
                simulate_camera_images(project, renderer)
                recorder.record(time)
    except OSError as error:
        raise BadInput(f"{path}: cannot write ({error.strerror or error})") from error
    print(f"wrote {path}")


def open_recording(path):
    """The recording at ``path``, or BadInput saying why it cannot be read."""
    from marnox.recording import Recording

    try:
        return Recording(path)
    except FileNotFoundError as error:
        raise BadInput(f"{path}: no such recording") from error
    except (OSError, ValueError) as error:
        raise BadInput(
            str(error) if isinstance(error, ValueError) else f"{path}: {error}"
        ) from error


def _recorded_project(recording):
    try:
        return recording.project()
    except ValueError as error:
        raise BadInput(str(error)) from error


def _check_speed_option(speed):
    if not (math.isfinite(speed) and speed > 0):
        raise BadInput(f"--speed {speed}: must be a positive number")


def run_replay(path, speed, loop):
    """Play a recording in the workspace and image windows, ``speed`` times real time."""
    from marnox.recording.playback import play
    from marnox.viewer import ImageViewer, WorkspaceViewer

    recording = open_recording(path)
    if not os.environ.get("DISPLAY"):
        raise BadInput("no display: 'replay' needs DISPLAY set (or use --serve)")
    project = _recorded_project(recording)
    viewers = [_quietly(lambda: WorkspaceViewer(trajectory=True, pointcloud=True)), ImageViewer()]
    for viewer in viewers:
        viewer.setProject(project)
        try:
            viewer.init()
        except RuntimeError as error:
            raise BadInput(f"display {os.environ['DISPLAY']}: {error}") from error
    try:
        play(recording, project, lambda: [viewer.render() for viewer in viewers], speed, loop)
    except KeyboardInterrupt:
        pass
    except ValueError as error:
        raise BadInput(str(error)) from error
    finally:
        for viewer in viewers:
            viewer.stop()


def run_replay_serve(path, host, port, speed, loop):
    """Serve a recording to web browsers with a timeline until interrupted (Ctrl-C)."""
    _check_port_option(port)
    from marnox.recording.playback import serve

    try:
        from marnox.web.timeline import Timeline
    except ImportError as error:
        raise BadInput(str(error)) from error
    recording = open_recording(path)
    project = _recorded_project(recording)
    timeline = Timeline(recording.duration(), speed, loop)
    _serve(
        lambda WebView: WebView(project, host=host, port=port, timeline=timeline),
        host,
        port,
        lambda view: serve(recording, project, view, timeline),
    )


def _check_size_option(size):
    from marnox.viewer import MAX_WINDOW_SIZE

    try:
        check_size(size)
    except ValueError as error:
        raise BadInput(
            f"--size {size[0]} {size[1]}: width and height must be from 1 to {MAX_WINDOW_SIZE}"
        ) from error


def run_cameras(project_file, out, names, labels):
    """Write what each camera of a project file sees (see ``marnox.camera_files``)."""
    from marnox.camera_files import checkLabelCount, sharedFile, writeFrames
    from marnox.viewer import CameraRenderer

    project = load_project(project_file)
    cameras = project.workspace().getCameras()
    chosen = names
    names = list(cameras) if not names else names
    unknown = [name for name in names if name not in cameras]
    if unknown:
        raise BadInput(f"{project_file}: no camera {unknown[0]!r} (cameras: {', '.join(cameras)})")
    clash = sharedFile(names, labels)
    if clash is not None:
        file, first, second = clash
        if first == second:
            raise BadInput(f"--camera {first}: given twice")
        where = "--camera" if chosen else f"{project_file} (choose cameras with --camera)"
        raise BadInput(f"{where}: cameras {first!r} and {second!r} would both write {file}")
    _make_output_folder(out)
    renderer = CameraRenderer(project, labels=labels)
    label_names = renderer.labelNames() if labels else None
    try:
        checkLabelCount(len(label_names or ()))
        frames = renderer.render(names)
        paths = writeFrames(frames, label_names, out)
    except ValueError as error:
        raise BadInput(f"{project_file}: {error}") from error
    except OSError as error:
        where = error.filename or out
        raise BadInput(f"{where}: cannot write ({error.strerror or error})") from error
    for path in paths:
        print(f"wrote {path}")


def run_render(project_file, out, size, images, frustums=False):
    """Write the workspace view (and optionally the image grid) of a project file, with
    the cameras' frustums if ``frustums``."""
    if out is None:
        out = os.path.splitext(project_file)[0] + MX_IMAGE_FILE_EXT
    for path in (out, images):
        if path is not None:
            _require_ending(path, MX_IMAGE_FILE_EXT, "the picture")
            _require_output_folder(path)
    _check_size_option(size)
    project = load_project(project_file)
    write_workspace_png(project, out, size, [_draw_frustums] if frustums else [])
    print(f"wrote {out}")
    if images is not None:
        write_images_png(project, images, size)
        print(f"wrote {images}")


def _draw_frustums(viewer):
    from marnox.overlays import Frustums

    Frustums(viewer)


def _check_coverage_options(arguments):
    step, limit, require = arguments.step, arguments.max_mm_per_pixel, arguments.require
    if not (math.isfinite(step) and step > 0):
        raise BadInput(f"--step {step:g}: must be a positive number of metres")
    if arguments.min_cameras < 0:
        raise BadInput(f"--min-cameras {arguments.min_cameras}: must be 0 or more")
    if limit is not None and not (math.isfinite(limit) and limit > 0):
        raise BadInput(f"--max-mm-per-pixel {limit:g}: must be a positive number")
    if require is not None and not 0 <= require <= 1:
        raise BadInput(f"--require {require:g}: must be a share from 0 to 1")
    if arguments.out is not None:
        _require_ending(arguments.out, MX_IMAGE_FILE_EXT, "the picture")
        _require_output_folder(arguments.out)


def run_coverage(arguments):
    """Print how the cameras of a project file cover its task regions; returns the exit
    status: 1 when ``--require`` is not met, else 0."""
    import json

    from marnox.coverage import coverage
    from marnox.coverage_report import coverageFigures, coverageTable

    _check_coverage_options(arguments)
    project = load_project(arguments.project)
    try:
        results = coverage(project, step=arguments.step)
    except ValueError as error:
        raise BadInput(f"{arguments.project}: {error}") from error
    minimum, limit = arguments.min_cameras, arguments.max_mm_per_pixel
    figures = coverageFigures(results, minimum, limit)
    if arguments.json:
        print(json.dumps(figures, indent=2))
    else:
        print(coverageTable(figures), end="")
    if arguments.out is not None:

        def draw(viewer):
            from marnox.overlays import CoverageColors, Frustums

            Frustums(viewer)
            CoverageColors(viewer, results, maxMmPerPixel=limit)

        write_workspace_png(project, arguments.out, overlays=[draw])
        if not arguments.json:
            print(f"wrote {arguments.out}")
    short = [
        name
        for name, region in figures["regions"].items()
        if arguments.require is not None and region["withinLimits"] < arguments.require
    ]
    for name in short:
        share = figures["regions"][name]["withinLimits"]
        print(
            f"marnox: {name}: {share:.3f} of its points within the limits, "
            f"{arguments.require:g} required",
            file=sys.stderr,
        )
    return 1 if short else 0


def _coverage_command(arguments):
    use_headless_window()
    return run_coverage(arguments)


def _add_coverage_command(commands):
    coverage = commands.add_parser(
        "coverage",
        help="how the cameras see each task region: shares seen and mm per pixel",
        description="Load a project file and print, per task region, the share of its top "
        "face that at least 1 and 2 cameras see and the share within the limits, and per "
        "camera the share it sees and its median and worst millimetres per pixel.",
    )
    coverage.set_defaults(func=_coverage_command)
    _add_project_argument(coverage)
    coverage.add_argument(
        "--step", type=float, default=0.01, metavar="M", help="grid spacing in metres"
    )
    coverage.add_argument(
        "--min-cameras", type=int, default=1, metavar="K", help="cameras each point needs"
    )
    coverage.add_argument(
        "--max-mm-per-pixel", type=float, metavar="R", help="coarsest resolution that counts"
    )
    coverage.add_argument(
        "--out", metavar="FILE.png", help="write the workspace view with frustums and coverage"
    )
    coverage.add_argument("--json", action="store_true", help="print the figures as JSON")
    coverage.add_argument(
        "--require",
        type=float,
        metavar="F",
        help="exit with status 1 when a region's share within the limits is below F",
    )


def _quietly(make):
    """``make()`` with VTK's warnings off: its first window warns when the display is
    unreachable, and init() then says so in one line."""
    from vtkmodules.vtkCommonCore import vtkLogger

    verbosity = vtkLogger.GetCurrentVerbosityCutoff()
    vtkLogger.SetStderrVerbosity(vtkLogger.VERBOSITY_ERROR)
    try:
        return make()
    finally:
        vtkLogger.SetStderrVerbosity(verbosity)


def run_view(project_file):
    """Open the interactive workspace window and return when it is closed."""
    from marnox.viewer import WorkspaceViewer

    if not os.environ.get("DISPLAY"):
        raise BadInput("no display: 'view' needs DISPLAY set (use 'render' to write a PNG)")
    project = load_project(project_file)
    viewer = _quietly(lambda: WorkspaceViewer(trajectory=True, pointcloud=True))
    viewer.setProject(project)
    try:
        viewer.init()
    except RuntimeError as error:
        raise BadInput(f"display {os.environ['DISPLAY']}: {error}") from error
    viewer.spin()
    viewer.stop()


def _check_port_option(port):
    try:
        check_port(port)
    except ValueError as error:
        raise BadInput(f"--port {port}: must be from 0 to 65535") from error


def _serve(make_view, host, port, show):
    """Start the web view ``make_view(WebView)``, print its address and run ``show(view)``
    until interrupted (Ctrl-C)."""
    try:
        from marnox.web import WebView
    except ImportError as error:
        raise BadInput(str(error)) from error
    try:
        view = make_view(WebView)
    except ValueError as error:
        raise BadInput(str(error)) from error
    try:
        view.start()
    except OSError as error:
        view.stop()
        raise BadInput(f"cannot serve on {host} port {port}: {error.strerror or error}") from error
    try:
        print(f"serving {view.url} (Ctrl-C to stop)", flush=True)
        show(view)
    except KeyboardInterrupt:
        pass
    finally:
        view.stop()


def run_serve(project_file, host, port, size, edit=False):
    """Serve the project's live view to web browsers until interrupted (Ctrl-C); with
    ``edit``, the printed address carries a token that lets its holder edit and save."""
    _check_size_option(size)
    _check_port_option(port)

    def show(view):
        # The project does not change: only browsers give update() something to do.
        while True:
            view.update()
            view.wait()

    project = load_project(project_file)

    def make(WebView):
        return WebView(
            project, host=host, port=port, size=tuple(size), edit=edit, path=project_file
        )

    _serve(make, host, port, show)


def _demo_command(arguments):
    use_headless_window()
    robot = None
    if arguments.robot is not None:
        robot = load_robot(arguments.robot, arguments.package_dir, arguments.joints)
    elif arguments.package_dir or arguments.joints:
        raise BadInput("--package-dir and --joints need --robot")
    if arguments.record is not None:
        if robot is not None:
            raise BadInput("--record records the built-in arm; it takes no --robot")
        run_record_demo(arguments.record)
    else:
        run_demo(arguments.out, robot)


def _replay_command(arguments):
    _check_speed_option(arguments.speed)
    if arguments.serve:
        use_headless_window()
        run_replay_serve(
            arguments.recording, arguments.host, arguments.port, arguments.speed, arguments.loop
        )
    else:
        run_replay(arguments.recording, arguments.speed, arguments.loop)


def _render_command(arguments):
    use_headless_window()
    run_render(
        arguments.project, arguments.out, arguments.size, arguments.images, arguments.frustums
    )


def _cameras_command(arguments):
    use_headless_window()
    run_cameras(arguments.project, arguments.out, arguments.camera, not arguments.no_labels)


def _view_command(arguments):
    run_view(arguments.project)


def _serve_command(arguments):
    use_headless_window()
    run_serve(arguments.project, arguments.host, arguments.port, arguments.size, arguments.edit)


def _add_project_argument(parser):
    parser.add_argument("project", metavar="PROJECT", help="project file (*.mxproj)")


def _add_size_option(parser):
    parser.add_argument(
        "--size", nargs=2, type=int, default=DEFAULT_SIZE, metavar=("W", "H"), help="pixels"
    )


def _add_address_options(parser):
    parser.add_argument("--host", default="127.0.0.1", help="address to listen on")
    parser.add_argument("--port", type=int, default=8080, help="TCP port (0: any free port)")


def build_parser():
    """The argument parser of ``python -m marnox``."""
    parser = argparse.ArgumentParser(
        prog="python -m marnox", description="Robot-cell projects and their viewers."
    )
    parser.add_argument("--version", action="version", version=f"%(prog)s {__version__}")
    commands = parser.add_subparsers(dest="command", required=True, metavar="COMMAND")

    demo = commands.add_parser(
        "demo",
        help="build the sample cell, save and reload it, write its pictures",
        description="Build the sample cell, save its project file, load it back and write "
        "the workspace and image-grid screenshots, off screen.",
    )
    demo.add_argument("--out", default="marnox-demo", metavar="DIR", help="output folder")
    demo.add_argument(
        "--robot", metavar="URDF", help="put this URDF robot on the pedestal instead of the arm"
    )
    demo.add_argument(
        "--package-dir",
        action="append",
        default=[],
        metavar="DIR",
        help="folder holding the packages that package:// mesh URIs name (repeatable)",
    )
    demo.add_argument(
        "--joints", nargs="+", default=[], metavar="NAME=VALUE", help="joint positions"
    )
    demo.set_defaults(func=_demo_command)
    demo.add_argument(
        "--record",
        metavar="FILE",
        help="instead, record a few seconds of the cell with the arm picking, as MCAP",
    )

    replay = commands.add_parser(
        "replay",
        help="play a recording in the viewers, or serve it with a timeline",
        description="Play a recording (made by marnox.recording.Recorder or demo --record) in "
        "the workspace and image windows, in real time; with --serve, serve it to web browsers "
        "with a timeline instead.",
    )
    replay.set_defaults(func=_replay_command)
    replay.add_argument("recording", metavar="RECORDING", help="recording (*.mcap)")
    replay.add_argument("--speed", type=float, default=1.0, help="recorded seconds per second")
    replay.add_argument("--loop", action="store_true", help="start again at the end")
    replay.add_argument("--serve", action="store_true", help="serve it to web browsers")
    _add_address_options(replay)

    render = commands.add_parser(
        "render",
        help="write a project file's workspace view to PNG, off screen",
        description="Load a project file and write its workspace view (and, with --images, "
        "its image grid) as PNG files, off screen.",
    )
    render.set_defaults(func=_render_command)
    _add_project_argument(render)
    render.add_argument("-o", "--out", metavar="OUT.png", help="workspace picture")
    _add_size_option(render)
    render.add_argument("--images", metavar="OUT.png", help="also write the image grid here")
    render.add_argument("--frustums", action="store_true", help="draw the cameras' frustums")
    _add_coverage_command(commands)

    cameras = commands.add_parser(
        "cameras",
        help="write what a project file's cameras see, off screen",
        description="Load a project file and write, for each camera, NAME.png (colour), "
        "NAME-depth.png (16-bit millimetres along the camera's axis, 0 where nothing) and "
        "NAME-labels.png (16-bit, the label's number in labels.json, 0 where nothing).",
    )
    cameras.set_defaults(func=_cameras_command)
    _add_project_argument(cameras)
    cameras.add_argument("--out", default=".", metavar="DIR", help="output folder")
    cameras.add_argument(
        "--camera", action="append", default=[], metavar="NAME", help="only this camera"
    )
    cameras.add_argument("--no-labels", action="store_true", help="skip the label images")

    view = commands.add_parser(
        "view",
        help="open the interactive workspace window",
        description="Open a project file in the interactive workspace window; returns when "
        "the window is closed.",
    )
    view.set_defaults(func=_view_command)
    _add_project_argument(view)

    serve = commands.add_parser(
        "serve",
        help="serve a live view of a project file to web browsers",
        description="Load a project file and serve its workspace view (the mouse turns, pans "
        "and zooms it) and image grid to web browsers until interrupted. Anyone who can reach "
        "the port can watch the cell, move the view's camera and pick nodes.",
    )
    serve.set_defaults(func=_serve_command)
    _add_project_argument(serve)
    _add_address_options(serve)
    _add_size_option(serve)
    serve.add_argument(
        "--edit",
        action="store_true",
        help="let the holder of the printed address move nodes and joints and save the file",
    )
    return parser


def main(argv=None):
    """Run the command line; returns the exit status."""
    arguments = build_parser().parse_args(argv)
    try:
        # Only a check that fails returns a status of its own.
        return arguments.func(arguments) or 0
    except BadInput as error:
        print(f"marnox: error: {error}", file=sys.stderr)
        return EXIT_BAD_INPUT

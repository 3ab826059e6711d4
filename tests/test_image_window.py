"""ImageViewer windows: what a screenshot shows, and the window opened on screen."""

import os
import subprocess
import sys

import numpy as np
from vtkmodules.util.numpy_support import vtk_to_numpy
from vtkmodules.vtkIOImage import vtkPNGReader

from marnox import viewer
from marnox.camera import Camera
from marnox.project import Project

ALICE_BLUE = (240, 248, 255)
RED, BLUE, GREEN = (255, 0, 0), (0, 0, 255), (0, 255, 0)


def project_with(cameras, images):
    project = Project()
    for index in range(cameras):
        project.workspace().addCamera(Camera(f"camera_{index}"))
    project.system().setImages(images)
    return project


def read_png(path):
    """The PNG's RGB pixels as (rows, columns, 3), top row first."""
    reader = vtkPNGReader()
    reader.SetFileName(str(path))
    reader.Update()
    output = reader.GetOutput()
    columns, rows, _ = output.GetDimensions()
    pixels = vtk_to_numpy(output.GetPointData().GetScalars()).reshape(rows, columns, -1)
    return np.flipud(pixels)[:, :, :3]


def assert_colour(pixel, colour):
    assert np.abs(pixel.astype(int) - colour).max() <= 2, (tuple(pixel), colour)


def test_screenshot_shows_each_image_upright_in_its_viewport(tmp_path):
    # Two 40 x 40 viewports side by side; pictures sit at their lower left corners.
    green = np.zeros((10, 20, 3), np.uint8)
    green[:] = GREEN
    red_over_blue = np.zeros((20, 30, 3), np.uint8)
    red_over_blue[:10] = RED
    red_over_blue[10:] = BLUE
    image_viewer = viewer.ImageViewer(size=(80, 40))
    image_viewer.setProject(project_with(1, [green, red_over_blue]))
    image_viewer.init(offscreen=True)
    image_viewer.render()
    path = tmp_path / "shot.png"
    image_viewer.screenshot(str(path))

    pixels = read_png(path)
    assert pixels.shape == (40, 80, 3)
    assert_colour(pixels[35, 10], GREEN)
    assert_colour(pixels[25, 10], ALICE_BLUE)
    assert_colour(pixels[24, 55], RED)
    assert_colour(pixels[35, 55], BLUE)
    assert_colour(pixels[10, 55], ALICE_BLUE)
    assert_colour(pixels[35, 75], ALICE_BLUE)


def test_project_without_cameras_renders_an_empty_window(tmp_path):
    image_viewer = viewer.ImageViewer(size=(64, 48))
    image_viewer.setProject(project_with(0, [np.zeros((4, 4, 3), np.uint8)]))
    image_viewer.init(offscreen=True)
    image_viewer.render()
    path = tmp_path / "empty.png"
    image_viewer.screenshot(str(path))

    pixels = read_png(path)
    assert pixels.shape == (48, 64, 3)
    assert_colour(pixels.min(axis=(0, 1)), ALICE_BLUE)
    assert_colour(pixels.max(axis=(0, 1)), ALICE_BLUE)


# VTK chooses the window class when a process makes its first window: one made
# without a display turns every later window into an EGL one, which an X
# interactor cannot drive. The on-screen window therefore gets a process of its own.
ON_SCREEN = """
import numpy as np
from marnox import viewer
from marnox.camera import Camera
from marnox.project import Project

project = Project()
project.workspace().addCamera(Camera("camera"))
project.system().setImages([np.zeros((4, 4, 1), np.uint8)] * 2)
image_viewer = viewer.ImageViewer(size=(200, 100))
image_viewer.setProject(project)
image_viewer.init()
print(image_viewer._window.GetWindowName())
print(image_viewer._interactor.GetInteractorStyle().GetClassName())
print(image_viewer._window.GetSize())
image_viewer.render()
image_viewer.stop()
"""


def test_init_on_screen_titles_the_window_and_keeps_the_default_style(display):
    environment = dict(os.environ, DISPLAY=display)
    result = subprocess.run(
        [sys.executable, "-c", ON_SCREEN],
        env=environment,
        capture_output=True,
        text=True,
        timeout=120,
    )
    assert result.returncode == 0, result.stderr
    title, style, size = result.stdout.splitlines()
    assert title == "Marnox Image Viewer"
    assert style != "vtkInteractorStyleTrackballCamera"
    assert size == "(200, 100)"

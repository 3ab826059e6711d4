"""Reads a render window into JPEG bytes in memory, and only when its picture changed."""

from __future__ import annotations

import numpy as np
import simplejpeg
from vtkmodules.util.numpy_support import vtk_to_numpy
from vtkmodules.vtkRenderingCore import vtkWindowToImageFilter

from marnox.viewer import releaseSharedProps

# Small frames at no visible loss for a shaded scene.
JPEG_QUALITY = 85
# While the camera moves, a frame is on screen for a moment: smaller still.
MOVING_JPEG_QUALITY = 60


class FrameGrabber:
    """Draws ``window`` anew, reads it back and encodes it, on the thread that owns VTK."""

    def __init__(self, window):
        self._window = window
        self._size = tuple(window.GetSize())
        self._samples = window.GetMultiSamples()
        self._scale, self._drawn_size = 1.0, self._size
        self._capture = vtkWindowToImageFilter()
        self._capture.SetInput(window)
        self._capture.SetInputBufferTypeToRGB()
        self._capture.ReadFrontBufferOff()
        self._last = None

    def resize(self, scale):
        """Give the window ``scale`` times its width and height; returns the new size.

        Below a scale of 1 the window draws without multisampling too: on a software
        rasteriser each sample costs about as much as a pixel.
        """
        if scale != self._scale:
            width, height = self._size
            size = (max(round(width * scale), 1), max(round(height * scale), 1))
            self._window.SetMultiSamples(self._samples if size == self._size else 0)
            self._window.SetSize(size)
            self._scale, self._drawn_size = scale, size
        return self._drawn_size

    def _draw(self):
        """The window drawn anew and read back, as (rows, columns, 3) RGB pixels, row 0 at the
        top."""
        # The filter draws the window before reading it, and only if it was modified. Props
        # that another window shows too (the user's own viewer of the project, another web
        # view) are let go of first: on EGL and OSMesa, a frame that finds their buffers in
        # another window's context crashes.
        releaseSharedProps(self._window)
        self._capture.Modified()
        self._capture.Update()
        image = self._capture.GetOutput()
        columns, rows, _ = image.GetDimensions()
        # VTK's rows go bottom-up; the copy turns them over.
        pixels = np.flipud(
            vtk_to_numpy(image.GetPointData().GetScalars()).reshape(rows, columns, 3)
        )
        return np.ascontiguousarray(pixels)

    def still(self):
        """The window drawn anew at its full size, as (rows, columns, 3) RGB pixels: for a
        picture that is kept."""
        self.resize(1.0)
        return self._draw()

    def grab(self, scale=1.0):
        """The window as JPEG bytes, or None when it shows what the last grab showed.

        Below a ``scale`` of 1 the window is drawn as :meth:`resize` says and encoded at a
        lower quality, for a camera in motion.
        """
        size = self.resize(scale)
        pixels = self._draw()
        if self._last is not None and np.array_equal(pixels, self._last):
            return None
        self._last = pixels
        if size == self._size:
            return encode_jpeg(pixels)
        return simplejpeg.encode_jpeg(pixels, MOVING_JPEG_QUALITY, "RGB", "420", fastdct=True)


def encode_jpeg(pixels):
    """(rows, columns, 3) RGB pixels as the JPEG bytes of a still frame."""
    return simplejpeg.encode_jpeg(pixels, JPEG_QUALITY, "RGB", "420")


class SeenImages:
    """Whether the images given differ from those an image grid last drew: the grid shows
    nothing else, and drawing it to find out costs far more."""

    def __init__(self):
        self._drawn = None

    def changed(self, images):
        drawn = self._drawn
        if drawn is not None and len(images) == len(drawn):
            if all(
                a.dtype == b.dtype and np.array_equal(a, b)
                for a, b in zip(images, drawn, strict=True)
            ):
                return False
        self._drawn = [np.array(image) for image in images]
        return True

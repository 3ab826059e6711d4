"""Reads a render window into JPEG bytes in memory, and only when its picture changed."""

from __future__ import annotations

from vtkmodules.vtkIOImage import vtkJPEGWriter
from vtkmodules.vtkRenderingCore import vtkWindowToImageFilter

from marnox.viewer import releaseSharedProps

# Small frames at no visible loss for a shaded scene.
JPEG_QUALITY = 85


class FrameGrabber:
    """Draws ``window`` anew, reads it back and encodes it, on the thread that owns VTK."""

    def __init__(self, window):
        self._window = window
        self._capture = vtkWindowToImageFilter()
        self._capture.SetInput(window)
        self._capture.SetInputBufferTypeToRGB()
        self._capture.ReadFrontBufferOff()
        self._writer = vtkJPEGWriter()
        self._writer.SetQuality(JPEG_QUALITY)
        self._writer.WriteToMemoryOn()
        self._writer.SetInputConnection(self._capture.GetOutputPort())
        self._last = None

    def grab(self):
        """The window as JPEG bytes, or None when it shows what the last grab showed."""
        # The filter draws the window before reading it, and only if it was modified. Props
        # that another window shows too (the user's own viewer of the project, another web
        # view) are let go of first: on EGL and OSMesa, a frame that finds their buffers in
        # another window's context crashes.
        releaseSharedProps(self._window)
        self._capture.Modified()
        self._capture.Update()
        pixels = self._capture.GetOutput().GetPointData().GetScalars()
        raw = memoryview(pixels).tobytes()
        if raw == self._last:
            return None
        self._last = raw
        self._writer.Write()
        return memoryview(self._writer.GetResult()).tobytes()

"""Recordings of a live cell: ``Recorder`` writes a project's state to an MCAP file as it
changes, ``Recording`` reads it back and puts any moment of it into a project.

The files are MCAP with protobuf messages and their schemas embedded, so other MCAP tools
read them: point clouds and the trajectory as ``foxglove.PointCloud``, camera images as
``foxglove.RawImage``, node and robot-link frames as ``foxglove.FrameTransforms``, the
project as ``orvane.api.ProjectSnapshot``; what those schemas cannot carry bit for bit, and
joint positions, in the ``marnox.recording`` messages.
"""

from marnox.recording.recorder import Recorder
from marnox.recording.recording import Recording

__all__ = ["Recorder", "Recording"]

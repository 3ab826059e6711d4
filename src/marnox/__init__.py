"""Marnox: robot workcell projects, their workspace model and 3D viewing.

The compiled submodules ``marnox.project`` and ``marnox.viewer`` are imported
explicitly; the pure-Python model lives in ``marnox.workspace``,
``marnox.item``, ``marnox.dynamics``, ``marnox.visual`` and friends.
"""

import importlib.metadata

# The version has one home, pyproject.toml; this reads it from the installed distribution.
__version__ = importlib.metadata.version(__name__)

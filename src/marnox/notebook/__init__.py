"""The live view of a cell in Jupyter notebooks: :class:`View` and :func:`show`."""

try:
    import aiohttp  # noqa: F401
    import anywidget  # noqa: F401
    import simplejpeg  # noqa: F401
except ImportError as error:
    raise ImportError(
        f"marnox.notebook needs {error.name}: pip install 'marnox[notebook]'"
    ) from error

from marnox.notebook.show import show  # noqa: E402
from marnox.notebook.view import View  # noqa: E402

__all__ = ["View", "show"]

"""A live view of a cell in web browsers; see :class:`WebView` and ``python -m marnox serve``."""

try:
    import aiohttp  # noqa: F401
    import simplejpeg  # noqa: F401
except ImportError as error:
    raise ImportError(f"marnox.web needs {error.name}: pip install 'marnox[web]'") from error

from marnox.web.view import WebView  # noqa: E402

__all__ = ["WebView"]

"""A live view of a cell in web browsers; see :class:`WebView` and ``python -m marnox serve``."""

from marnox.web.view import WebView

__all__ = ["WebView"]

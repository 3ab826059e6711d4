"""``python -m marnox``: see :mod:`marnox.cli`."""

import sys

from marnox.cli import main

sys.exit(main())

"""Prints pip constraints that pin each runtime dependency to the floor pyproject.toml states.

The matrix's oldest run installs with them, so it tests the oldest releases the package's
metadata allows, and a floor changed in pyproject.toml changes what that run tests.

usage: oldest_pins.py PYPROJECT
"""

import re
import sys
import tomllib
from pathlib import Path

FLOOR = re.compile(r"(?P<name>[A-Za-z0-9_.-]+)\s*>=\s*(?P<version>[^,;\s]+)")


def main(pyproject: str) -> None:
    metadata = tomllib.loads(Path(pyproject).read_text(encoding="utf-8"))
    for requirement in metadata["project"]["dependencies"]:
        floor = FLOOR.fullmatch(requirement)
        if floor is None:
            sys.exit(f"{requirement!r}: a runtime dependency states its floor as 'name>=version'")
        print(f"{floor['name']}=={floor['version']}")


if __name__ == "__main__":
    main(*sys.argv[1:])

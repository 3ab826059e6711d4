"""Prints pip constraints that pin the named runtime dependencies to the floors pyproject.toml
states.

The matrix's oldest run installs with them, so it tests the oldest releases the package's
metadata allows, and a floor changed in pyproject.toml changes what that run tests.

usage: oldest_pins.py PYPROJECT NAME...
"""

import re
import sys
import tomllib
from pathlib import Path

FLOOR = re.compile(r"(?P<name>[A-Za-z0-9_.-]+)\s*>=\s*(?P<version>[^,;\s]+)")


def main(pyproject: str, *names: str) -> None:
    metadata = tomllib.loads(Path(pyproject).read_text(encoding="utf-8"))
    floors = {}
    for requirement in metadata["project"]["dependencies"]:
        floor = FLOOR.fullmatch(requirement)
        if floor is not None:
            floors[floor["name"]] = floor["version"]
    for name in names:
        if name not in floors:
            sys.exit(f"{name}: pyproject.toml states no floor of the form '{name}>=version'")
        print(f"{name}=={floors[name]}")


if __name__ == "__main__":
    main(*sys.argv[1:])

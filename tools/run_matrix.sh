#!/usr/bin/env bash
# The whole test suite on Python 3.10, 3.12 and 3.13, each in a new virtual environment
# that pip fills from the package's metadata (".[test,web,notebook]", build isolation on):
# 3.10 with the oldest numpy, VTK and protobuf the metadata allows (pinned to the floors
# pyproject.toml states), 3.12 and 3.13 with the newest. Ends with one line per run: Python,
# dependency versions, test count and time. Fails if any run failed.
set -uo pipefail
cd "$(dirname "$0")/.."

OLDEST_PINS=build/oldest-pins.txt
REPORT_VERSIONS='import platform; from importlib.metadata import version as v
print("Python", platform.python_version(), *(f"{p} {v(p)}" for p in ("numpy", "vtk", "protobuf")))'

source tools/interpreters.sh

summary=()
failed=0

# run NAME MINOR [pip install options...]
run() {
  local name=$1 minor=$2
  shift 2
  local venv=build/venv-$name log=build/matrix-$name.log start=$SECONDS python outcome versions
  echo "== $name: Python $minor${*:+ $*}"
  rm -rf "$venv"
  if ! python=$(interpreter "$minor"); then
    summary+=("$name: no Python $minor found")
    failed=1
    return
  fi
  if "$python" -m venv "$venv" \
    && "$venv/bin/python" -m pip install -q --disable-pip-version-check "$@" ".[test,web,notebook]" >"$log" 2>&1; then
    versions=$("$venv/bin/python" -c "$REPORT_VERSIONS")
    if ! "$venv/bin/python" -m pytest -q -p no:cacheprovider >>"$log" 2>&1; then
      failed=1
      # CI keeps only what is printed: show the failures, not just the count.
      grep -E '^(FAILED|ERROR) ' "$log" | head -n 40
    fi
    outcome=$(tail -n 1 "$log")
  else
    versions="Python $minor"
    outcome="install failed (see $log)"
    tail -n 20 "$log"
    failed=1
  fi
  summary+=("$name: $versions | $outcome | $((SECONDS - start)) s in all")
  tail -n 1 "$log"
}

mkdir -p build
"$(interpreter 3.13)" tools/oldest_pins.py pyproject.toml numpy vtk protobuf >"$OLDEST_PINS" || exit 1
run oldest 3.10 -c "$OLDEST_PINS"
run py312 3.12
run newest 3.13

printf '%s\n' "== matrix" "${summary[@]}"
exit "$failed"

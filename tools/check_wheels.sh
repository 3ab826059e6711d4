#!/usr/bin/env bash
# Installs what tools/build_wheels.sh wrote to dist/ as users would, and uses it. For the
# oldest and the newest supported Python, a new virtual environment takes the wheel and
# every dependency as wheels (nothing may be compiled); the sdist is built and installed in
# one more with this machine's compiler. Each then runs `python -m marnox demo` and
# tools/smoke_test.py from a folder outside the checkout, so the source tree is not imported.
# pip's cache is kept: VTK alone is over 100 MB a download.
set -euo pipefail
cd "$(dirname "$0")/.."
source tools/interpreters.sh

ROOT=$PWD
PYTHON=${PYTHON:-python3}
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT

sdist=$(ls dist/marnox-*.tar.gz 2>/dev/null) || { echo "no sdist in dist/: run make wheel"; exit 1; }
version=${sdist#dist/marnox-}
version=${version%.tar.gz}

# What the wheel must hold besides the modules, and what it must not: no grafted libraries.
CONTENTS='import sys, zipfile
names = zipfile.ZipFile(sys.argv[1]).namelist()
needed = ["orvane/api/project_pb2.py", "marnox/project.pyi", "marnox/viewer.pyi", "marnox/py.typed",
          "marnox/web/static/index.html", "marnox/recording/schemas.binpb"]
missing = [name for name in needed if name not in names]
grafted = [name for name in names if ".libs/" in name]
sys.exit(f"missing {missing}, grafted {grafted}" if missing or grafted else 0)'

summary=()

# check NAME PYTHON PIP-INSTALL-ARGS...
check() {
  local name=$1 python=$2 start=$SECONDS
  shift 2
  local venv=$WORK/venv-$name log=$ROOT/build/wheel-check-$name.log
  echo "== $name: $("$python" --version) pip install $*"
  "$python" -m venv "$venv"
  if ! "$venv/bin/python" -m pip install -q --disable-pip-version-check "$@" >"$log" 2>&1; then
    tail -n 30 "$log"
    exit 1
  fi
  (
    cd "$WORK"
    reported=$("$venv/bin/python" -m marnox --version)
    [ "$reported" = "python -m marnox $version" ] || { echo "--version says: $reported"; exit 1; }
    "$venv/bin/python" -m marnox demo --out "demo-$name" >>"$log" 2>&1 \
      || { tail -n 30 "$log"; exit 1; }
    for picture in workspace.png images.png; do
      [ -s "demo-$name/$picture" ] || { echo "demo wrote no $picture"; exit 1; }
    done
    "$venv/bin/python" "$ROOT/tools/smoke_test.py" "demo-$name/sample-cell.mxproj" "smoke-$name"
  )
  summary+=("$name: passed in $((SECONDS - start)) s")
}

mkdir -p build
for minor in 3.10 3.13; do
  python=$(interpreter "$minor") || { echo "no Python $minor found (pyenv install $minor)"; exit 1; }
  tag=cp${minor/./}
  wheel=$(ls dist/marnox-"$version"-"$tag"-"$tag"-manylinux*.whl) \
    || { echo "no wheel for Python $minor in dist/: run make wheel"; exit 1; }
  "$python" -c "$CONTENTS" "$wheel"
  check "wheel-$minor" "$python" --only-binary :all: "$wheel"
done
check sdist "$PYTHON" "$sdist"

printf '%s\n' "== wheel checks" "${summary[@]}"

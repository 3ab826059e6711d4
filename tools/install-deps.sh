#!/usr/bin/env bash
# Installs what building, testing and running marnox needs on a Debian machine:
# the system libraries for on-screen (Xvfb) and off-screen (EGL/OSMesa) rendering,
# headless Chromium for the web view's browser tests, and the Python packages for
# the build and the tests. Safe to run again.
set -euo pipefail

PYTHON=${PYTHON:-python3}
SYSTEM_PACKAGES=(xvfb xauth libegl1 libegl-mesa0 libgl1-mesa-dri libglx-mesa0 libosmesa6)

missing=()
for package in "${SYSTEM_PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" \
    || missing+=("$package")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing system packages: ${missing[*]}"
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO="sudo"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# What building and linting need; the package's own dependencies and its test and web
# extras come from its metadata when the Makefile installs it.
"$PYTHON" -m pip install -q --disable-pip-version-check \
  "scikit-build-core>=0.10" "nanobind>=2.4" "grpcio-tools==1.85.4" ruff clang-format

# The web view's browser tests drive Debian's Chromium; without it they skip and say why.
BROWSER_PACKAGES=(chromium chromium-driver)
if ! command -v chromium >/dev/null || ! command -v chromedriver >/dev/null; then
  echo "Installing system packages: ${BROWSER_PACKAGES[*]}"
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO="sudo"
  { $SUDO apt-get update -qq \
    && DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends \
      "${BROWSER_PACKAGES[@]}"; } \
    || echo "Could not install ${BROWSER_PACKAGES[*]}: the browser tests will be skipped"
fi

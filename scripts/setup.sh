#!/usr/bin/env bash
# Installs the distribution packages the project needs. Idempotent: quiet and
# quick when everything is already there.
set -euo pipefail

packages=(
  cmake ninja-build g++ clang pkg-config
  qt6-base-dev libhidapi-dev libudev-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  fonts-liberation2 fonts-noto-color-emoji fonts-droid-fallback
  dpkg-dev file help2man lintian man-db  # the .deb: dependencies, manual pages, checks
  fonts-symbola
  fuse3 libfuse3-dev  # the hidraw stand-in the end-to-end tests of the real HID path run against
  nlohmann-json3-dev  # setup files and the JSON lists of corvelctl export
  pybind11-dev python3-pybind11 python3-dev python3-pytest  # the Python module corvel and its tests
  libcli11-dev  # the options of the library's C++ benchmark program
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}" >&2
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq >/dev/null
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null

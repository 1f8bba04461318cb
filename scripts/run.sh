#!/usr/bin/env bash
# Sets up, builds, and runs the window against the simulated lamp board.
# Without a display it runs headless and saves a picture of the window.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake --preset default >/dev/null
cmake --build --preset default >/dev/null
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
  shot="$PWD/build/default/corvelgui-simulated.png"
  echo "No display: running headless; the window is saved to $shot" >&2
  QT_QPA_PLATFORM=offscreen exec build/default/app/corvelgui --simulate "$@" --screenshot "$shot" --after 4000
fi
exec build/default/app/corvelgui --simulate "$@"

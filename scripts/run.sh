#!/usr/bin/env bash
# Sets up, builds, and runs the tool against the simulated lamp board.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake --preset default >/dev/null
cmake --build --preset default >/dev/null
exec build/default/cli/corvelctl --sim info "$@"

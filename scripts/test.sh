#!/usr/bin/env bash
# Sets up, builds and runs every test (unit, gui, e2e, slow) of the default
# build. Benchmarks are built but not run.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake --preset default >/dev/null
cmake --build --preset default
ctest --preset default

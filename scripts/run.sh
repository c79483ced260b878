#!/usr/bin/env bash
# Installs what is missing of the build and run packages, builds Clipvane and
# clipvane-batch and starts Clipvane. The tests are configured only when their
# packages are installed too (bash scripts/install-deps.sh --test).
#   CLIPVANE_RUN_BUILD_DIR  the build folder (default: build)
#   CLIPVANE_RUN_NO_START=1 builds and does not start the window
# tests/install/test_run_build.sh builds through this script with every
# test-only package hidden, so that these lines are the ones checked.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${CLIPVANE_RUN_BUILD_DIR:-build}

bash scripts/install-deps.sh
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$build" --target clipvane clipvane-batch
[ "${CLIPVANE_RUN_NO_START:-0}" = 1 ] && exit 0
exec "$build/bin/clipvane" "$@"

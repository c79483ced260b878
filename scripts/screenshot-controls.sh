#!/usr/bin/env bash
# Starts the controls demo (every control in the skinned frame) on a private
# Xvfb display and saves a PNG screenshot of its window.
#   bash scripts/screenshot-controls.sh [output.png]
# Default output: build/controls-screenshot.png, or ...@2x.png when
# QT_SCALE_FACTOR=2 is set (the window is then drawn at twice the size).
# Builds the demo in BUILD_DIR (default: build) unless CLIPVANE_DEMO names a
# demo program that is already built. Installs missing packages first.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${BUILD_DIR:-build}
scale=${QT_SCALE_FACTOR:-1}

demo=${CLIPVANE_DEMO:-}
if [ -z "$demo" ]; then
    bash scripts/install-deps.sh --test
    [ -f "$build/build.ninja" ] || cmake -S . -B "$build" -G Ninja
    cmake --build "$build" --target clipvane-controls-demo -j2
    demo="$(realpath -m "$build")/bin/clipvane-controls-demo"
fi
suffix=""
[ "$scale" != 1 ] && suffix="@${scale}x"
out=${1:-$build/controls-screenshot$suffix.png}
mkdir -p "$(dirname "$out")"
out=$(cd "$(dirname "$out")" && pwd)/$(basename "$out")

# shellcheck source=scripts/xvfb-session.sh
. scripts/xvfb-session.sh
demo_pid=""
cleanup() {
    if [ -n "$demo_pid" ]; then
        kill "$demo_pid" 2>/dev/null || true
        wait "$demo_pid" 2>/dev/null || true
    fi
    xvfb_stop
}
trap cleanup EXIT

xvfb_start "$((800 * scale))x$((640 * scale))"
"$demo" >"$XVFB_TMP/demo.log" 2>&1 &
demo_pid=$!
if ! window=$(xvfb_find_window "Clipvane Controls"); then
    echo "screenshot-controls: the demo window did not appear" >&2
    kill -0 "$demo_pid" 2>/dev/null || echo "screenshot-controls: the demo has ended" >&2
    xdotool search --name . getwindowname %@ >&2 || true
    cat "$XVFB_TMP/demo.log" >&2
    exit 1
fi
# Let the first paint reach the screen.
sleep 1
import -window "$window" "$out"
echo "screenshot-controls: $out"

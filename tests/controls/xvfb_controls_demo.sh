#!/usr/bin/env bash
# The controls demo as a real window on a private Xvfb display:
#   1. scripts/screenshot-controls.sh saves its window at scale 1 and 2;
#   2. a drag on the caption band moves the window (no window manager: the
#      frame moves itself);
#   3. a click on the close button closes the window and ends the demo.
# Usage: xvfb_controls_demo.sh <source folder> <clipvane-controls-demo>
set -euo pipefail
root=$1
demo=$2
title="Clipvane Controls"
# In sanitizer builds: libxkbcommon-x11, which Qt's X11 support calls at start,
# hands strndup a buffer without a terminating zero, which strict string
# checks report although strndup reads no further than its length.
if [ -n "${ASAN_OPTIONS:-}" ]; then
    export ASAN_OPTIONS="$ASAN_OPTIONS:strict_string_checks=0"
fi
work=$(mktemp -d "${TMPDIR:-/tmp}/clipvane-demo-test-XXXXXX")
demo_pid=""

# shellcheck source=scripts/xvfb-session.sh
. "$root/scripts/xvfb-session.sh"
cleanup() {
    if [ -n "$demo_pid" ]; then
        kill "$demo_pid" 2>/dev/null || true
        wait "$demo_pid" 2>/dev/null || true
    fi
    xvfb_stop
    rm -rf "$work"
}
trap cleanup EXIT
fail() {
    echo "FAIL: $*" >&2
    [ -f "$work/demo.log" ] && cat "$work/demo.log" >&2
    exit 1
}

for scale in 1 2; do
    CLIPVANE_DEMO="$demo" QT_SCALE_FACTOR=$scale \
        bash "$root/scripts/screenshot-controls.sh" "$work/shot-$scale.png"
    size=$(identify -format '%wx%h' "$work/shot-$scale.png")
    [ "$size" = "$((700 * scale))x$((550 * scale))" ] || fail "screenshot at scale $scale is $size"
    # Not an empty picture: the frame's dark grey and the caption's white title.
    colours=$(convert "$work/shot-$scale.png" -format '%k' info:)
    [ "$colours" -gt 100 ] || fail "screenshot at scale $scale has only $colours colours"
done

xvfb_start 1024x768
"$demo" >"$work/demo.log" 2>&1 &
demo_pid=$!
window=$(xvfb_find_window "$title") || fail "the demo window did not appear"
eval "$(xdotool getwindowgeometry --shell "$window")"
[ "$WIDTH" = 700 ] && [ "$HEIGHT" = 550 ] || fail "window is ${WIDTH}x$HEIGHT"

# Drag the caption band by (40, 30).
xdotool mousemove --sync $((X + 120)) $((Y + 20)) mousedown 1
xdotool mousemove --sync $((X + 140)) $((Y + 35))
xdotool mousemove --sync $((X + 160)) $((Y + 50)) mouseup 1
sleep 0.3
old_x=$X old_y=$Y
eval "$(xdotool getwindowgeometry --shell "$window")"
[ "$X" = $((old_x + 40)) ] && [ "$Y" = $((old_y + 30)) ] ||
    fail "drag moved the window from $old_x,$old_y to $X,$Y"

# Click the close button: its square starts at (w - 32, 6).
xdotool mousemove --sync $((X + WIDTH - 32 + 7)) $((Y + 6 + 7)) click 1
for _ in $(seq 1 100); do
    kill -0 "$demo_pid" 2>/dev/null || break
    sleep 0.1
done
if kill -0 "$demo_pid" 2>/dev/null; then
    fail "the demo is still running after a click on its close button"
fi
wait "$demo_pid" || fail "the demo exited with status $?"
demo_pid=""
if xdotool search --onlyvisible --name "^${title}\$" >/dev/null 2>&1; then
    fail "the window is still there"
fi
echo "PASS: screenshots at both scales, drag, close"

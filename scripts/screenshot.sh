#!/usr/bin/env bash
# Starts the real Clipvane on a private Xvfb display with a temporary home, adds
# a generated movie through the Add Movies dialog and presses Make, all with real
# mouse and keyboard input (xdotool), and saves a PNG of the window while the
# movie is being encoded.
#   bash scripts/screenshot.sh [output.png]      (default: docs/screenshot.png)
# SCREENSHOT_MOVIE_SECONDS (default 300): length of the 640x480 movie; long
# enough that the picture is taken in the middle of the encode.
# Builds in BUILD_DIR (default: build). Installs missing packages first.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
build=${BUILD_DIR:-build}
seconds=${SCREENSHOT_MOVIE_SECONDS:-300}
out=${1:-docs/screenshot.png}
mkdir -p "$(dirname "$out")"
out=$(cd "$(dirname "$out")" && pwd)/$(basename "$out")

bash scripts/install-deps.sh --test
[ -f "$build/build.ninja" ] || cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$build" --target clipvane -j2

# shellcheck source=scripts/xvfb-session.sh
. scripts/xvfb-session.sh
app_pid=""
cleanup() {
    if [ -n "$app_pid" ]; then
        # The encoder Clipvane started, then Clipvane itself; both by process id.
        pkill -TERM -P "$app_pid" 2>/dev/null || true
        kill "$app_pid" 2>/dev/null || true
        wait "$app_pid" 2>/dev/null || true
    fi
    xvfb_stop
}
trap cleanup EXIT

xvfb_start 1024x768
movie="$XVFB_TMP/Movies/Holiday at the sea.mpg"
mkdir -p "$(dirname "$movie")"
echo "screenshot: generating a ${seconds}s 640x480 movie"
ffmpeg -hide_banner -loglevel error -nostdin -y \
    -f lavfi -i "testsrc2=size=640x480:rate=25" -f lavfi -i "sine=frequency=440" \
    -t "$seconds" -q:v 6 "$movie"

# No update server: the check is refused at once instead of waiting on the network.
CLIPVANE_VERSION_URL=http://127.0.0.1:1/v_encoder.html \
    "$root/$build/bin/clipvane" >"$XVFB_TMP/clipvane.log" 2>&1 &
app_pid=$!
if ! window=$(xvfb_find_window "Tolva Clipvane"); then
    echo "screenshot: the main window did not appear" >&2
    cat "$XVFB_TMP/clipvane.log" >&2
    exit 1
fi

# Centres of the buttons in window coordinates: the form's place in the frame
# (3, 39) plus the middle of the button's place on the form.
click() {
    xdotool mousemove --window "$window" "$1" "$2"
    sleep 0.2
    xdotool click 1
}
add_movies=(327 257)
make=(588 512)

sleep 1
click "${add_movies[@]}"
if ! dialog=$(xvfb_find_window "Add Movie Files"); then
    echo "screenshot: the Add Movie Files dialog did not appear" >&2
    exit 1
fi
xdotool windowfocus --sync "$dialog"
sleep 0.5
# The file name field has the focus: type the movie's path and confirm.
xdotool type --delay 5 "$movie"
xdotool key Return
sleep 1.5

click "${make[@]}"
# Two ticks of the one-second timer, so that the times and both bars show.
sleep 2.5
import -window "$window" "$out"
echo "screenshot: $out"

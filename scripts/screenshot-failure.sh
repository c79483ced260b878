#!/usr/bin/env bash
# Starts the real Clipvane on a private Xvfb display with a temporary home, adds
# a damaged movie (a generated AVI cut to its first 4 KiB) through the Add Movies
# dialog, presses Make, saves a PNG of the window with the finish message, closes
# it, hovers over the failed row's status cell and saves a PNG with its tooltip;
# all with real mouse and keyboard input (xdotool). Prints the run's log.
#   bash scripts/screenshot-failure.sh [output-folder]   (default: build/screenshots)
# writes failed-message.png and failed-row.png there (docs/failed-row.png is one).
# Builds in BUILD_DIR (default: build). Installs missing packages first.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
build=${BUILD_DIR:-build}
out=${1:-$build/screenshots}
mkdir -p "$out"
out=$(cd "$out" && pwd)

bash scripts/install-deps.sh --test
[ -f "$build/build.ninja" ] || cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$build" --target clipvane -j2

# shellcheck source=scripts/xvfb-session.sh
. scripts/xvfb-session.sh
app_pid=""
cleanup() {
    if [ -n "$app_pid" ]; then
        kill "$app_pid" 2>/dev/null || true
        wait "$app_pid" 2>/dev/null || true
    fi
    xvfb_stop
}
trap cleanup EXIT

xvfb_start 1024x768
movie="$XVFB_TMP/Movies/Holiday at the sea.avi"
mkdir -p "$(dirname "$movie")"
ffmpeg -hide_banner -loglevel error -nostdin -y \
    -f lavfi -i "testsrc2=size=320x240:rate=25" -f lavfi -i "sine=frequency=440" \
    -t 3 "$XVFB_TMP/whole.avi"
head -c 4096 "$XVFB_TMP/whole.avi" >"$movie"
# The run opens the output folder at its end: nothing may be opened here.
mkdir -p "$XVFB_TMP/bin"
printf '#!/bin/sh\nexit 0\n' >"$XVFB_TMP/bin/xdg-open"
chmod +x "$XVFB_TMP/bin/xdg-open"

# No update server: the check is refused at once instead of waiting on the network.
PATH="$XVFB_TMP/bin:$PATH" CLIPVANE_VERSION_URL=http://127.0.0.1:1/v_encoder.html \
    "$root/$build/bin/clipvane" >"$XVFB_TMP/clipvane.log" 2>&1 &
app_pid=$!
if ! window=$(xvfb_find_window "Tolva Clipvane"); then
    echo "screenshot-failure: the main window did not appear" >&2
    cat "$XVFB_TMP/clipvane.log" >&2
    exit 1
fi

# Places in window coordinates, as in scripts/screenshot.sh: the form's place in
# the frame (3, 39) plus the place on the form.
click() {
    xdotool mousemove --window "$window" "$1" "$2"
    sleep 0.2
    xdotool click 1
}
add_movies=(327 257)
make=(588 512)
first_status_cell=(43 92)

sleep 1
click "${add_movies[@]}"
dialog=$(xvfb_find_window "Add Movie Files")
xdotool windowfocus --sync "$dialog"
sleep 0.5
xdotool type --delay 5 "$movie"
xdotool key Return
sleep 1.5

# The window's part of the screen, with the message box or tooltip over it.
shoot() {
    local X Y WIDTH HEIGHT SCREEN WINDOW
    eval "$(xdotool getwindowgeometry --shell "$window")"
    import -window root -crop "${WIDTH}x${HEIGHT}+${X}+${Y}" +repage "$1"
}

click "${make[@]}"
sleep 3
shoot "$out/failed-message.png"
xdotool key Return
sleep 1
# Qt shows tooltips in the active window only; without a window manager the
# input focus has to be given back by hand once the message box has gone.
xdotool windowfocus --sync "$window"
xdotool mousemove --window "$window" "${first_status_cell[@]}"
sleep 0.3
xdotool mousemove_relative 1 0
sleep 2
shoot "$out/failed-row.png"
echo "screenshot-failure: $out/failed-message.png $out/failed-row.png"
cat "$XDG_STATE_HOME"/Tolva/Clipvane/logs/*.log

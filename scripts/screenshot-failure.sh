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

# shellcheck source=scripts/clipvane-window.sh
. scripts/clipvane-window.sh
clipvane_build
clipvane_start_xvfb

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

clipvane_start PATH="$XVFB_TMP/bin:$PATH"
clipvane_add_movie "$movie"

# The window's part of the screen, with the message box or tooltip over it.
shoot() {
    local X Y WIDTH HEIGHT SCREEN WINDOW
    eval "$(xdotool getwindowgeometry --shell "$window")"
    import -window root -crop "${WIDTH}x${HEIGHT}+${X}+${Y}" +repage "$1"
}

clipvane_press_make
sleep 3
shoot "$out/failed-message.png"
xdotool key Return
sleep 1
# Qt shows tooltips in the active window only; without a window manager the
# input focus has to be given back by hand once the message box has gone.
xdotool windowfocus --sync "$window"
# The first row's status cell.
xdotool mousemove --window "$window" 43 92
sleep 0.3
xdotool mousemove_relative 1 0
sleep 2
shoot "$out/failed-row.png"
echo "screenshot-failure: $out/failed-message.png $out/failed-row.png"
cat "$XDG_STATE_HOME"/Tolva/Clipvane/logs/*.log

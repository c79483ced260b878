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

# shellcheck source=scripts/clipvane-window.sh
. scripts/clipvane-window.sh
clipvane_build
clipvane_start_xvfb

movie="$XVFB_TMP/Movies/Holiday at the sea.mpg"
mkdir -p "$(dirname "$movie")"
echo "screenshot: generating a ${seconds}s 640x480 movie"
ffmpeg -hide_banner -loglevel error -nostdin -y \
    -f lavfi -i "testsrc2=size=640x480:rate=25" -f lavfi -i "sine=frequency=440" \
    -t "$seconds" -q:v 6 "$movie"

clipvane_start
clipvane_add_movie "$movie"
clipvane_press_make
# Two ticks of the one-second timer, so that the times and both bars show.
sleep 2.5
import -window "$window" "$out"
echo "screenshot: $out"

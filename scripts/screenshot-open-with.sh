#!/usr/bin/env bash
# Starts the real Clipvane on a private Xvfb display with a temporary home and a
# long generated movie on its command line (as a file manager's "Open With"
# starts it), presses Make with real input (xdotool), and while it encodes
# starts Clipvane twice more, with a folder of movies and with a movie: both
# later starts hand their files to the running window and end, and the window
# says that two wait for the end of the run. Saves a PNG of the window then.
#   bash scripts/screenshot-open-with.sh [output.png]   (default: docs/open-with.png)
# Builds in BUILD_DIR (default: build). Installs missing packages first.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
build=${BUILD_DIR:-build}
out=${1:-docs/open-with.png}
mkdir -p "$(dirname "$out")"
out=$(cd "$(dirname "$out")" && pwd)/$(basename "$out")

# shellcheck source=scripts/clipvane-window.sh
. scripts/clipvane-window.sh
clipvane_build
clipvane_start_xvfb

movies="$XVFB_TMP/Movies"
mkdir -p "$movies/Trip/Day 1" "$movies/Trip/Day 2"
clip() {
    ffmpeg -hide_banner -loglevel error -nostdin -y -f lavfi -i "testsrc2=size=640x360:rate=25" \
        -f lavfi -i "sine=frequency=440" -t "$1" -c:v libx264 -preset ultrafast -c:a aac "$2"
}
clip 600 "$movies/Concert.mp4"
clip 4 "$movies/Trip/Day 1/Beach.mov"
clip 4 "$movies/Trip/Day 2/Harbour.mov"
clip 4 "$movies/Birthday.mp4"
# The run opens the output folder at its end: nothing may be opened here.
mkdir -p "$XVFB_TMP/bin"
printf '#!/bin/sh\nexit 0\n' >"$XVFB_TMP/bin/xdg-open"
chmod +x "$XVFB_TMP/bin/xdg-open"
export PATH="$XVFB_TMP/bin:$PATH"

clipvane_start -- "$movies/Concert.mp4"
clipvane_press_make
sleep 2
for later in "$movies/Trip" "$movies/Birthday.mp4"; do
    if ! "$root/$build/bin/clipvane" "$later"; then
        echo "screenshot-open-with: the later start with $later failed" >&2
        exit 1
    fi
done
sleep 1.2
import -window "$window" "$out"
echo "screenshot-open-with: $out"

#!/usr/bin/env bash
# Starts the real Clipvane on a private Xvfb display with a temporary home, adds
# three generated movies through the Add Movies dialog and presses Make, all
# with real mouse and keyboard input (xdotool), and saves a PNG of the window
# while two of the movies are being encoded at once and the third waits.
#   bash scripts/screenshot.sh [output.png]      (default: docs/screenshot.png)
# SCREENSHOT_MOVIE_SECONDS (default 300): length of the first 640x480 movie;
# the second is two thirds, the third one third as long, so that the first two
# are encoded at once (the longest first) and the third waits. The picture is
# taken when the second's output is about 40 % written, in the middle of both
# encodes. The stored "Parallel" is 2, so that the picture is the same on any
# number of cores.
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

# Two encoders at once, whatever the machine has.
mkdir -p "$XDG_CONFIG_HOME/Tolva"
printf '[General]\nParallel=2\n' >"$XDG_CONFIG_HOME/Tolva/Clipvane.conf"

movies=("Holiday at the sea" "Birthday party" "Mountain walk")
lengths=("$seconds" $((seconds * 2 / 3)) $((seconds / 3)))
mkdir -p "$XVFB_TMP/Movies"
for i in 0 1 2; do
    echo "screenshot: generating \"${movies[$i]}\", ${lengths[$i]}s 640x480"
    ffmpeg -hide_banner -loglevel error -nostdin -y \
        -f lavfi -i "testsrc2=size=640x480:rate=25" -f lavfi -i "sine=frequency=$((440 + 110 * i))" \
        -t "${lengths[$i]}" -q:v 6 "$XVFB_TMP/Movies/${movies[$i]}.mpg"
done

clipvane_start
for name in "${movies[@]}"; do
    clipvane_add_movie "$XVFB_TMP/Movies/$name.mpg"
done
clipvane_press_make
# Until the second movie's hidden output (the encoder writes it beside the
# claimed name) holds a few megabytes (the first movie's job looks at its key
# frames before its encoder starts), then a tick of the one-second
# timer, so that the times and all bars show.
folder="$HOME/Documents/Tolva/Encoded Movies"
for _ in $(seq 1 600); do
    part=$(find "$folder" -maxdepth 1 -name ".\\[Tolva\\]${movies[1]}.*.part" -size +8M 2>/dev/null)
    [ -n "$part" ] && break
    sleep 0.1
done
sleep 1.2
import -window "$window" "$out"
echo "screenshot: $out"

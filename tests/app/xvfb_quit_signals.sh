#!/usr/bin/env bash
# The real program on a private Xvfb display: a generated movie added through
# Add Movies and Make pressed with real input (xdotool), then SIGTERM, and in a
# second round SIGINT, while the movie is being encoded. Clipvane must stop the
# encoder, delete the incomplete output, end its log and quit, asking nothing.
# Usage: xvfb_quit_signals.sh <source folder> <build folder>
set -euo pipefail
root=$(cd "$1" && pwd)
build=$(realpath --relative-to="$root" "$2")
for tool in Xvfb xdotool ffmpeg; do
    command -v "$tool" >/dev/null || {
        echo "SKIP: $tool is missing"
        exit 77
    }
done
# In sanitizer builds: see tests/controls/xvfb_controls_demo.sh.
if [ -n "${ASAN_OPTIONS:-}" ]; then
    export ASAN_OPTIONS="$ASAN_OPTIONS:strict_string_checks=0"
fi

# shellcheck source=scripts/clipvane-window.sh
. "$root/scripts/clipvane-window.sh"
fail() {
    echo "FAIL: $*" >&2
    [ -f "$XVFB_TMP/clipvane.log" ] && cat "$XVFB_TMP/clipvane.log" >&2
    exit 1
}
clipvane_start_xvfb

# Long enough that the encode is still going when the signal comes (a first
# start encodes with "Phone and Tablet": ffmpeg does several seconds of such a
# movie per second), and shorter than the 4 minutes from which a movie is made
# in segments: here the encoder writes the output itself.
movie="$XVFB_TMP/Movies/Long film.mpg"
mkdir -p "$(dirname "$movie")"
ffmpeg -hide_banner -loglevel error -nostdin -y -f lavfi -i "testsrc2=size=640x480:rate=25" \
    -f lavfi -i "sine=frequency=440" -t 200 -q:v 8 "$movie"
out="$HOME/Documents/Tolva/Encoded Movies"
logs="$XDG_STATE_HOME/Tolva/Clipvane/logs"

for sig in TERM INT; do
    clipvane_start
    clipvane_add_movie "$movie"
    clipvane_press_make
    encoder=""
    for _ in $(seq 1 100); do
        encoder=$(pgrep -P "$app_pid" || true)
        # The encoder writes a hidden file beside the output's claimed name.
        written=$(find "$out" -maxdepth 1 -name '.\[Tolva\]Long film.mp4.*.part' -size +0 2>/dev/null)
        [ -n "$encoder" ] && [ -n "$written" ] && break
        sleep 0.1
    done
    [ -n "$encoder" ] || fail "SIG$sig: no encoder was started"
    [ -n "$written" ] || fail "SIG$sig: the encoder wrote nothing: $(ls -A "$out")"

    kill -"$sig" "$app_pid"
    for _ in $(seq 1 100); do
        kill -0 "$app_pid" 2>/dev/null || break
        sleep 0.1
    done
    kill -0 "$app_pid" 2>/dev/null && fail "SIG$sig: Clipvane is still running"
    status=0
    wait "$app_pid" || status=$?
    app_pid=""
    [ "$status" = 0 ] || fail "SIG$sig: Clipvane exited with status $status"
    kill -0 "$encoder" 2>/dev/null && fail "SIG$sig: the encoder $encoder is still running"
    [ -z "$(ls -A "$out")" ] || fail "SIG$sig: the output folder holds $(ls "$out")"
    log="$logs/$(ls "$logs" | sort | tail -n 1)"
    grep -q "^  End:     stopped: Clipvane was asked to quit$" "$log" ||
        fail "SIG$sig: the log has no stopped job: $(cat "$log")"
    grep -q "^  Removed: the incomplete output file$" "$log" ||
        fail "SIG$sig: the log does not say the output was removed"
    tail -n 1 "$log" | grep -q "^Run stopped .*: Clipvane was asked to quit\.$" ||
        fail "SIG$sig: the log does not end with the stop: $(tail -n 1 "$log")"
    echo "SIG$sig: encoder stopped, incomplete output deleted, log ended, Clipvane quit"
done
echo "PASS"

#!/usr/bin/env bash
# Parallel-encoding benchmark: two batches through the run with the real
# encoder, each one at a time ("Parallel" 1) and automatically (one encoder per
# core), in one process; prints both wall times, the speed-up, the ideal and the
# front end's CPU share against the targets (parallel_bench.cpp):
#   equal batch: 8 movies of PARALLEL_BENCH_SECONDS (default 30) each;
#   mixed batch: 6 movies of PARALLEL_BENCH_SHORT (default 20) seconds and,
#                listed last, one as long as those six together;
# by default both batches hold the same 240 s of video.
# The movies (640x480, sound) are generated once into a cache folder
# (PARALLEL_BENCH_MEDIA, default ${TMPDIR:-/tmp}/clipvane-bench-parallel-v1-...)
# and reused. BUILD_DIR (default build-bench), PARALLEL_BENCH_ROUNDS (default 1).
set -euo pipefail
cd "$(dirname "$0")/.."
# shellcheck source=bench/bench-common.sh
. bench/bench-common.sh
build=${BUILD_DIR:-build-bench}
seconds=${PARALLEL_BENCH_SECONDS:-30}
short=${PARALLEL_BENCH_SHORT:-20}
rounds=${PARALLEL_BENCH_ROUNDS:-1}
media=${PARALLEL_BENCH_MEDIA:-${TMPDIR:-/tmp}/clipvane-bench-parallel-v1-${seconds}-${short}}
width=640 height=480

bench_needs ffmpeg mencoder

bench_build parallel_bench

# movie FILE SECONDS FREQUENCY: written under a hidden name and renamed, so that
# a half-written movie is never used.
movie() {
    [ -s "$1" ] && return 0
    local part
    part="$(dirname "$1")/.part-$(basename "$1")"
    ffmpeg -hide_banner -loglevel error -nostdin -y \
        -f lavfi -i "testsrc2=size=${width}x${height}:rate=25" \
        -f lavfi -i "sine=frequency=$3:sample_rate=44100" -t "$2" "$part"
    mv "$part" "$1"
}
mkdir -p "$media/equal" "$media/mixed"
for i in 1 2 3 4 5 6 7 8; do
    movie "$(printf '%s/equal/movie-%02d.mpg' "$media" "$i")" "$seconds" $((300 + 50 * i))
done
for i in 1 2 3 4 5 6; do
    movie "$(printf '%s/mixed/%02d-short.mpg' "$media" "$i")" "$short" $((300 + 50 * i))
done
movie "$media/mixed/07-long.mpg" $((6 * short)) 880

"$build/bin/parallel_bench" "$media/equal" "$media/mixed" "$width" "$height" "$rounds"

#!/usr/bin/env bash
# Encoding-run benchmark: the same generated movies encoded by the real encoder
# through the run and directly, in one process; prints the wall-time ratio and the
# front end's CPU share (run_bench.cpp). RUN_BENCH_PRESET names the preset
# (default "Pocket PC Normal", mencoder; "Phone and Tablet" measures ffmpeg).
# The movies are generated once into a cache folder and reused by later runs.
#   BUILD_DIR (default build-bench), RUN_BENCH_MEDIA (default
#   ${TMPDIR:-/tmp}/clipvane-bench-run-v1-<count>x<seconds>), RUN_BENCH_MOVIES
#   (default 6), RUN_BENCH_SECONDS (default 20), RUN_BENCH_ROUNDS (default 5).
set -euo pipefail
cd "$(dirname "$0")/.."
# shellcheck source=bench/bench-common.sh
. bench/bench-common.sh
build=${BUILD_DIR:-build-bench}
count=${RUN_BENCH_MOVIES:-6}
seconds=${RUN_BENCH_SECONDS:-20}
rounds=${RUN_BENCH_ROUNDS:-5}
preset=${RUN_BENCH_PRESET:-Pocket PC Normal}
media=${RUN_BENCH_MEDIA:-${TMPDIR:-/tmp}/clipvane-bench-run-v1-${count}x${seconds}}
width=640 height=480

bench_needs ffmpeg mencoder

bench_build run_bench

mkdir -p "$media"
for i in $(seq 1 "$count"); do
    out=$(printf '%s/movie-%02d.mpg' "$media" "$i")
    [ -s "$out" ] && continue
    # Written under a hidden name and renamed: a half-written movie is never used.
    part=$(printf '%s/.part-%02d.mpg' "$media" "$i")
    ffmpeg -hide_banner -loglevel error -nostdin -y \
        -f lavfi -i "testsrc2=size=${width}x${height}:rate=25" \
        -f lavfi -i "sine=frequency=$((300 + 50 * i)):sample_rate=44100" -t "$seconds" "$part"
    mv "$part" "$out"
done

echo "$(nproc) cores; $(uptime)"
"$build/bin/run_bench" "$media" "$width" "$height" "$rounds" "$preset"
uptime

#!/usr/bin/env bash
# Segmented encodes (segments_bench.cpp): the benchmarks' 1080p movie with real
# motion (bench_motion_movie, played over again up to SEGMENTS_BENCH_SECONDS)
# through "Small H.265" whole, then in segments of SEGMENTS_BENCH_SEGMENT
# seconds run SEGMENTS_BENCH_AT_ONCE at a time (the sound beside them, the join
# after them), each ffmpeg at nice +10 in a session of its own after the machine
# has quietened. Prints the wall and CPU times against the whole encode (target:
# wall at most 0.9 times) and compares the outputs: SSIM against the source
# (within 0.001 of the whole encode's), bytes (within 2 %), frame count (equal),
# sound and picture ending within one frame of each other.
#   BUILD_DIR (default build-bench), SEGMENTS_BENCH_SECONDS (default 240),
#   SEGMENTS_BENCH_SEGMENT (default 60), SEGMENTS_BENCH_AT_ONCE (default 2),
#   SEGMENTS_BENCH_PRESET (default "Small H.265"), SEGMENTS_BENCH_THREADS (the
#   segments' -threads; default 0, ffmpeg's own), SEGMENTS_BENCH_WAIT (the
#   longest wait for a quiet machine, s; default 600), SEGMENTS_BENCH_OUT
#   (default ${TMPDIR:-/tmp}/clipvane-bench-segments: the outputs).
#   SEGMENTS_BENCH_KINDS=1 first runs every input kind of the tests through
#   each ffmpeg preset in segments of a second and compares each join with the
#   whole encode picture by picture (a few minutes).
set -euo pipefail
cd "$(dirname "$0")/.."
# shellcheck source=bench/bench-common.sh
. bench/bench-common.sh
build=${BUILD_DIR:-build-bench}
seconds=${SEGMENTS_BENCH_SECONDS:-240}
segment=${SEGMENTS_BENCH_SEGMENT:-60}
atonce=${SEGMENTS_BENCH_AT_ONCE:-2}
preset=${SEGMENTS_BENCH_PRESET:-Small H.265}
wait=${SEGMENTS_BENCH_WAIT:-600}
out=${SEGMENTS_BENCH_OUT:-${TMPDIR:-/tmp}/clipvane-bench-segments}

bench_needs ffmpeg ffprobe
bench_build segments_bench

source=$(bench_long_movie "$seconds")
rm -rf "$out"
mkdir -p "$out"

echo "$(nproc) cores; $(uptime)"
if [ "${SEGMENTS_BENCH_KINDS:-0}" = 1 ]; then
    "$build/bin/segments_bench" kinds "$out/kinds" "Phone and Tablet" "Full HD" "Small H.265" \
        "Smallest AV1" | tee "$out/kinds.txt"
fi
"$build/bin/segments_bench" compare "$source" "$out" "$preset" "$segment" "$atonce" "$wait" |
    tee "$out/times.txt"
uptime

# ssim OUTPUT: the SSIM ("All": Y, U and V) of OUTPUT against the source scaled
# (Lanczos) to OUTPUT's size, frames matched from their own starts.
ssim() {
    local size rate
    size=$(ffprobe -v error -select_streams v:0 -show_entries stream=width,height -of csv=p=0:s=x "$1")
    rate=$(ffprobe -v error -select_streams v:0 -show_entries stream=avg_frame_rate -of csv=p=0 "$1")
    ffmpeg -nostdin -hide_banner -nostats -i "$1" -i "$source" -lavfi \
        "[0:v]setpts=PTS-STARTPTS,format=yuv420p[a];[1:v]setpts=PTS-STARTPTS,fps=$rate,scale=${size/x/:}:flags=lanczos+accurate_rnd,format=yuv420p[b];[a][b]ssim=shortest=1" \
        -f null - 2>&1 | sed -n 's/.* All:\([0-9.]*\).*/\1/p'
}
extension=mp4
[ "$preset" = "Smallest AV1" ] && extension=webm
wssim=$(ssim "$out/whole.$extension")
jssim=$(ssim "$out/joined.$extension")
rate=$(ffprobe -v error -select_streams v:0 -show_entries stream=avg_frame_rate -of csv=p=0 "$out/whole.$extension")
read -r _ _ wframes _ wbytes _ wpicture _ wsound < <(grep -E '^whole +frames' "$out/times.txt")
read -r _ _ jframes _ jbytes _ jpicture _ jsound < <(grep -E '^joined +frames' "$out/times.txt")
wall=$(sed -n 's/^segmented \/ whole: wall \([0-9.]*\).*/\1/p' "$out/times.txt")
awk -v ws="$wssim" -v js="$jssim" -v wb="$wbytes" -v jb="$jbytes" -v wf="$wframes" -v jf="$jframes" \
    -v wp="$wpicture" -v jp="$jpicture" -v wa="$wsound" -v ja="$jsound" \
    -v rate="$rate" -v wall="$wall" 'BEGIN {
    split(rate, r, "/"); frame = r[2] / r[1]
    printf "SSIM whole %.5f, segmented %.5f: %+.5f (target within 0.001) %s\n", ws, js, js - ws,
        (js - ws <= 0.001 && ws - js <= 0.001 ? "ok" : "MISSED")
    printf "bytes segmented / whole %.4f (target within 2 %%) %s\n", jb / wb,
        (jb / wb <= 1.02 && jb / wb >= 0.98 ? "ok" : "MISSED")
    printf "frames whole %d, segmented %d (target equal) %s\n", wf, jf, (wf == jf ? "ok" : "MISSED")
    printf "sound ends after the picture by %.3f s whole, %.3f s segmented (target within %.3f s) %s\n",
        wa - wp, ja - jp, frame, (ja - jp <= frame && jp - ja <= frame ? "ok" : "MISSED")
    printf "wall segmented / whole %.3f (target <= 0.9) %s\n", wall, (wall <= 0.9 ? "ok" : "MISSED")
}'

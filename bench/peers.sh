#!/usr/bin/env bash
# Peer benchmark: "Phone and Tablet" through the run against
# HandBrakeCLI --preset "Fast 720p30" on the benchmarks' 24 s 1920x1080 movie at
# 30 fps with real motion and sound (bench_motion_movie): wall and CPU time
# (peers_bench.cpp, the two in turns), bytes, and the SSIM of each output against
# the source scaled to that output's size, frames matched by time.
# HandBrake keeps at most 30 pictures a second and crops black borders; the
# movie is 30 fps and has no borders, so both outputs show the whole picture at
# the source's rate: the script prints HandBrake's autocrop and frame-rate lines
# to show it. HandBrakeCLI is Debian's handbrake-cli, installed when missing.
# Each encode first waits until the machine's other processes leave it all but
# idle, and the wall times compared are those of the encodes they left quiet.
#   BUILD_DIR (default build-bench), PEERS_BENCH_ROUNDS (default 3),
#   PEERS_BENCH_WAIT (the longest wait for a quiet machine, s; default 600),
#   PEERS_BENCH_OUT (default ${TMPDIR:-/tmp}/clipvane-bench-peers: the outputs).
set -euo pipefail
cd "$(dirname "$0")/.."
# shellcheck source=bench/bench-common.sh
. bench/bench-common.sh
build=${BUILD_DIR:-build-bench}
rounds=${PEERS_BENCH_ROUNDS:-3}
wait=${PEERS_BENCH_WAIT:-600}
out=${PEERS_BENCH_OUT:-${TMPDIR:-/tmp}/clipvane-bench-peers}

bench_needs ffmpeg ffprobe
if ! command -v HandBrakeCLI >/dev/null; then
    sudo=()
    [ "$(id -u)" -eq 0 ] || sudo=(sudo)
    "${sudo[@]}" apt-get install -y handbrake-cli
fi

bench_build peers_bench

source=${TMPDIR:-/tmp}/clipvane-bench-motion-v1/movie-24s.mp4
bench_motion_movie "$source"
rm -rf "$out"
mkdir -p "$out"

echo "$(nproc) cores; $(uptime)"
"$build/bin/peers_bench" "$source" "$out" "$rounds" "Phone and Tablet" "Fast 720p30" "$wait" |
    tee "$out/times.txt"
uptime
ours="$out/clipvane/$(basename "$source")"
theirs="$out/handbrake.mp4"

echo "HandBrake's scan and picture:"
grep -oE "scan: [0-9]+ previews, .*autocrop = [0-9/]+|frame rate: .*|Crop and Scale .*" \
    "$out/handbrake.log" | sed 's/^/  /'

# ssim OUTPUT: the SSIM ("All": Y, U and V) of OUTPUT against the source scaled
# (Lanczos) to OUTPUT's size, both at 30 fps from their own starts.
ssim() {
    local size
    size=$(ffprobe -v error -select_streams v:0 -show_entries stream=width,height -of csv=p=0:s=x "$1")
    size=${size/x/:}
    ffmpeg -nostdin -hide_banner -nostats -i "$1" -i "$source" -lavfi \
        "[0:v]setpts=PTS-STARTPTS,fps=30,format=yuv420p[a];[1:v]setpts=PTS-STARTPTS,fps=30,scale=$size:flags=lanczos+accurate_rnd,format=yuv420p[b];[a][b]ssim=shortest=1" \
        -f null - 2>&1 | sed -n 's/.* All:\([0-9.]*\).*/\1/p'
}
# describe OUTPUT: its width, height, frame rate, frames, bytes and SSIM.
describe() {
    local picture
    picture=$(ffprobe -v error -select_streams v:0 -count_packets \
        -show_entries stream=width,height,avg_frame_rate,nb_read_packets -of csv=p=0 "$1")
    echo "${picture//,/ } $(stat -c %s "$1") $(ssim "$1")"
}
read -r ow oh orate oframes obytes ossim < <(describe "$ours")
read -r hw hh hrate hframes hbytes hssim < <(describe "$theirs")
if [ -z "$ossim" ] || [ -z "$hssim" ]; then
    echo "peers.sh: the SSIM of an output could not be measured" >&2
    exit 1
fi
wall=$(sed -n 's/.*wall Clipvane \/ HandBrake: \([0-9.]*\).*/\1/p' "$out/times.txt")
cpu=$(sed -n 's/.*; CPU: \([0-9.]*\).*/\1/p' "$out/times.txt")
printf '%-10s %9s %7s %7s %12s %8s\n' "" picture fps frames bytes SSIM
printf '%-10s %9s %7s %7s %12s %8s\n' Clipvane "${ow}x$oh" "$orate" "$oframes" "$obytes" "$ossim" \
    HandBrake "${hw}x$hh" "$hrate" "$hframes" "$hbytes" "$hssim"
awk -v w="$wall" -v c="$cpu" -v ob="$obytes" -v hb="$hbytes" -v os="$ossim" -v hs="$hssim" 'BEGIN {
    printf "Clipvane / HandBrake: wall %.3f (target <= 0.7) %s, CPU %.3f, bytes %.3f (target <= 1.1) %s, SSIM %+.5f (target >= 0) %s\n",
        w, (w <= 0.7 ? "ok" : "MISSED"), c, ob / hb, (ob / hb <= 1.1 ? "ok" : "MISSED"),
        os - hs, (os >= hs ? "ok" : "MISSED")
}'

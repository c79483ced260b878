#!/usr/bin/env bash
# Preset sizes: each preset through the run on two 24 s 1920x1080 movies
# at 30 fps with sound: the benchmarks' busy movie (bench_motion_movie: fine
# detail in motion all over the picture, light noise) and a calm one (a detailed
# still scene panned slowly, one small moving picture, the same noise); prints
# each output's picture, bytes, video bit rate and what ten minutes of such a
# movie come to (sizes_bench.cpp). The README's preset table comes from it.
#   BUILD_DIR (default build-bench), SIZES_BENCH_OUT (default
#   ${TMPDIR:-/tmp}/clipvane-bench-sizes: the outputs).
set -euo pipefail
cd "$(dirname "$0")/.."
# shellcheck source=bench/bench-common.sh
. bench/bench-common.sh
build=${BUILD_DIR:-build-bench}
out=${SIZES_BENCH_OUT:-${TMPDIR:-/tmp}/clipvane-bench-sizes}

bench_needs ffmpeg mencoder

bench_build sizes_bench

media=${TMPDIR:-/tmp}/clipvane-bench-motion-v1
busy=$media/movie-24s.mp4
calm=$media/calm-24s.mp4
bench_motion_movie "$busy"
if [ ! -s "$calm" ]; then
    still="$media/.calm-still.png"
    ffmpeg -nostdin -hide_banner -loglevel error -y -f lavfi \
        -i "mandelbrot=size=2240x1260:rate=1:start_scale=0.02:end_scale=0.02:start_x=-0.743643887037151:start_y=0.13182590420533:outer=normalized_iteration_count" \
        -frames:v 1 "$still"
    ffmpeg -nostdin -hide_banner -loglevel error -y -loop 1 -framerate 30 -i "$still" \
        -f lavfi -i testsrc2=size=320x180:rate=30 \
        -f lavfi -i "anoisesrc=color=pink:sample_rate=48000:seed=7:amplitude=0.1" \
        -f lavfi -i "sine=frequency=330:sample_rate=48000" \
        -filter_complex "[0:v]gblur=sigma=1.5,crop=1920:1080:x='320*t/24':y='180*t/24',format=yuv420p[bg];[1:v]format=yuv420p[fg];[bg][fg]overlay=x='200+60*t':y='600',noise=alls=1:allf=t[v];[2:a][3:a]amix=inputs=2,aformat=channel_layouts=stereo[a]" \
        -map "[v]" -map "[a]" -t 24 -r 30 -c:v libx264 -preset faster -crf 18 -pix_fmt yuv420p \
        -c:a aac -b:a 192k -f mp4 "$media/.part-calm.mp4"
    rm -f "$still"
    mv "$media/.part-calm.mp4" "$calm"
fi

rm -rf "$out"
mkdir -p "$out"
echo "$(nproc) cores; $(uptime)"
"$build/bin/sizes_bench" "$out" "$busy" "$calm"
uptime

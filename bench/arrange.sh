#!/usr/bin/env bash
# Arrangement benchmark: a batch of 4 movies (1920x1080, 30 fps, 8 s each, real
# motion and sound), and its first 3 (one movie ends up encoding alone), through
# the run with "Phone and Tablet" under each way of
# sharing the cores: 1, 2, 4 and one per core encodes at once, each encoder given
# the cores divided among them or left to ffmpeg's own thread count, and
# "Automatic"; prints each one's wall and CPU time and Automatic against the
# fastest (arrange_bench.cpp; target: at most 1.05 times). Each arrangement first
# waits until the machine's other processes leave it all but idle, and the
# comparison uses the encodes they left quiet.
# The movies are cut once from the benchmarks' 24 s movie (bench_motion_movie)
# into a cache folder and reused.
#   BUILD_DIR (default build-bench), ARRANGE_BENCH_MEDIA (default
#   ${TMPDIR:-/tmp}/clipvane-bench-arrange-v1), ARRANGE_BENCH_ROUNDS (default 3),
#   ARRANGE_BENCH_PRESET (default "Phone and Tablet"), ARRANGE_BENCH_WAIT (the
#   longest wait for a quiet machine before each arrangement, s; default 600).
set -euo pipefail
cd "$(dirname "$0")/.."
# shellcheck source=bench/bench-common.sh
. bench/bench-common.sh
build=${BUILD_DIR:-build-bench}
media=${ARRANGE_BENCH_MEDIA:-${TMPDIR:-/tmp}/clipvane-bench-arrange-v1}
rounds=${ARRANGE_BENCH_ROUNDS:-3}
preset=${ARRANGE_BENCH_PRESET:-Phone and Tablet}
wait=${ARRANGE_BENCH_WAIT:-600}

bench_needs ffmpeg

bench_build arrange_bench

source=${TMPDIR:-/tmp}/clipvane-bench-motion-v1/movie-24s.mp4
bench_motion_movie "$source"
mkdir -p "$media"
# Four 8 s stretches spread over the 24 s (the last two overlap by a third).
for i in 0 1 2 3; do
    out="$media/movie-$((i + 1)).mp4"
    [ -s "$out" ] && continue
    part="$media/.part-$((i + 1)).mp4"
    ffmpeg -nostdin -hide_banner -loglevel error -y -ss "$((i * 16 / 3))" -i "$source" -t 8 \
        -c:v libx264 -preset faster -crf 18 -pix_fmt yuv420p -c:a aac -b:a 192k -f mp4 "$part"
    mv "$part" "$out"
done

echo "$(nproc) cores; $(uptime)"
"$build/bin/arrange_bench" "$media" "$rounds" "$preset" "$wait"
uptime

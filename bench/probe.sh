#!/usr/bin/env bash
# Probing benchmark: 200 small movies of mixed containers, probed in-process by
# Clipvane and by one ffprobe process per file, in the same run.
# The movies are generated once into a cache folder and reused by later runs.
#   BUILD_DIR (default build-bench), PROBE_BENCH_MEDIA (default
#   ${TMPDIR:-/tmp}/clipvane-bench-probe-v1), PROBE_BENCH_FILES (default 200).
set -euo pipefail
cd "$(dirname "$0")/.."
# shellcheck source=bench/bench-common.sh
. bench/bench-common.sh
build=${BUILD_DIR:-build-bench}
media=${PROBE_BENCH_MEDIA:-${TMPDIR:-/tmp}/clipvane-bench-probe-v1}
count=${PROBE_BENCH_FILES:-200}

bench_needs ffmpeg ffprobe

bench_build probe_bench

# One movie: <index>; container, picture size and length vary with the index.
make_movie() {
    local i=$1 media=$2
    local containers=(mpg vob mkv avi wmv asf ogm mp4avi)
    local sizes=(160x120 320x240 176x144 352x288 128x96)
    local kind=${containers[$((i % 8))]}
    local size=${sizes[$(((i / 8) % 5))]}
    local seconds=$((1 + i % 3)).5
    local ext=$kind args=()
    case $kind in
    vob) args=(-c:v mpeg2video -c:a mp2 -f vob) ;;
    wmv) args=(-c:v wmv2 -c:a wmav2) ;;
    ogm) args=(-c:v libtheora -c:a libvorbis -f ogg) ;;
    mp4avi) args=(-f mp4) ext=avi ;;
    esac
    local name out part
    name=$(printf 'movie-%03d.%s' "$i" "$ext")
    out=$media/$name
    # Written under a hidden name that keeps the extension (ffmpeg picks the
    # container by it), then renamed: a half-written movie is never benchmarked.
    part=$media/.part-$name
    [ -s "$out" ] && return 0
    ffmpeg -hide_banner -loglevel error -nostdin -y -f lavfi -i "testsrc2=size=$size:rate=25" \
        -f lavfi -i "sine=frequency=440:sample_rate=44100" -t "$seconds" "${args[@]}" "$part" &&
        mv "$part" "$out"
}
export -f make_movie

mkdir -p "$media"
have=$(find "$media" -maxdepth 1 -name 'movie-*' | wc -l)
if [ "$have" -lt "$count" ]; then
    echo "generating $count movies in $media (once)"
    seq 0 $((count - 1)) | xargs -P 2 -I{} bash -c 'make_movie "$@"' _ {} "$media"
fi

"$build/bin/probe_bench" "$media"

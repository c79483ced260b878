#!/usr/bin/env bash
# HDR benchmark: the same 1080p movie with real motion and sound as PQ HDR and as
# SDR, both 10 s of HEVC as phones record them (cut from the benchmarks' movie,
# bench_motion_movie; the HDR one 10-bit BT.2020 with its white at 203 cd/m² and
# HDR10 metadata), encoded in turns through the run with "Phone and Tablet"
# (hdr_bench.cpp): the HDR movie is tone mapped, the SDR one only scaled. Prints
# each encode's wall and CPU time and the HDR movie's time over the SDR one's
# (target at most 1.4), then each output's colour tags. Each encode first waits
# until the machine's other processes leave it all but idle.
#   BUILD_DIR (default build-bench), HDR_BENCH_ROUNDS (default 3),
#   HDR_BENCH_WAIT (the longest wait for a quiet machine, s; default 600),
#   HDR_BENCH_OUT (default ${TMPDIR:-/tmp}/clipvane-bench-hdr: the outputs).
set -euo pipefail
cd "$(dirname "$0")/.."
# shellcheck source=bench/bench-common.sh
. bench/bench-common.sh
build=${BUILD_DIR:-build-bench}
rounds=${HDR_BENCH_ROUNDS:-3}
wait=${HDR_BENCH_WAIT:-600}
out=${HDR_BENCH_OUT:-${TMPDIR:-/tmp}/clipvane-bench-hdr}

bench_needs ffmpeg ffprobe

bench_build hdr_bench

media=${TMPDIR:-/tmp}/clipvane-bench-motion-v1
source=$media/movie-24s.mp4
bench_motion_movie "$source"
# phone_movie NAME FILTER X265-PARAMS TAGS...: 10 s of the movie as a phone's HEVC.
phone_movie() {
    local movie=$media/$1.mp4
    [ -s "$movie" ] && return 0
    ffmpeg -nostdin -hide_banner -loglevel error -y -i "$source" -t 10 -vf "$2" \
        -c:v libx265 -preset fast -crf 20 -x265-params "log-level=error$3" "${@:4}" \
        -tag:v hvc1 -c:a copy -f mp4 "$media/.part-$1.mp4"
    mv "$media/.part-$1.mp4" "$movie"
}
phone_movie sdr-10s format=yuv420p "" -color_primaries bt709 -color_trc bt709 -colorspace bt709
phone_movie pq-10s \
    "zscale=tin=bt709:pin=bt709:min=bt709:rin=tv:t=smpte2084:p=bt2020:m=bt2020nc:r=tv:npl=203,format=yuv420p10le" \
    ":master-display=G(13250,34500)B(7500,3000)R(34000,16000)WP(15635,16450)L(10000000,50):max-cll=1000,400" \
    -color_primaries bt2020 -color_trc smpte2084 -colorspace bt2020nc
rm -rf "$out"
mkdir -p "$out"

echo "$(nproc) cores; $(uptime)"
"$build/bin/hdr_bench" "$media/sdr-10s.mp4" "$media/pq-10s.mp4" "$out" "$rounds" \
    "Phone and Tablet" "$wait"
uptime
for movie in "$media/sdr-10s.mp4" "$media/pq-10s.mp4" "$out"/sdr/*.mp4 "$out"/hdr/*.mp4; do
    printf '%s: %s\n' "${movie#"$media"/}" "$(ffprobe -v error -select_streams v:0 \
        -show_entries stream=width,height,pix_fmt,color_transfer,color_primaries,color_space \
        -of csv=p=0 "$movie")"
done

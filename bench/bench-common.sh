# shellcheck shell=bash
# Sourced by the benchmark scripts, from the checkout's top folder, with build set.
#   bench_needs TOOL ...    stops with a hint when a tool is not installed
#   bench_build TARGET      configures the build folder once, then builds TARGET
#   bench_motion_movie FILE the 1080p movie with real motion (below)
#   bench_long_movie SECONDS the same played over again up to SECONDS: its path
#   bench_wait_quiet LIMIT  waits up to LIMIT s until the others leave the cores idle

bench_needs() {
    local tool
    for tool in "$@"; do
        command -v "$tool" >/dev/null || {
            echo "$(basename "$0") needs $tool (bash scripts/install-deps.sh --test)" >&2
            exit 2
        }
    done
}

bench_build() {
    if [ ! -f "${build:?}/build.ninja" ]; then
        cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
    fi
    cmake --build "$build" -j 2 --target "$1"
}

# bench_motion_movie FILE: the benchmarks' 24 s 1080p movie at 30 fps with real
# motion and sound, made once and reused (a file that exists is kept). A
# Mandelbrot zoom (fine detail everywhere, moving all the time) played forward,
# backward and forward, softened and scaled to 1920x1080, under a moving test
# picture with sharp edges and text, with light sensor-like noise; pink noise and
# two tones for sound. No black borders. The zoom is drawn on one core and takes
# a few minutes the first time.
bench_motion_movie() {
    [ -s "$1" ] && return 0
    local folder part zoom
    folder=$(dirname "$1")
    part="$folder/.part-$(basename "$1")"
    zoom="$folder/.zoom-$(basename "$1" .mp4).mkv"
    mkdir -p "$folder"
    ffmpeg -nostdin -hide_banner -loglevel error -y -f lavfi \
        -i "mandelbrot=size=960x540:rate=30:start_scale=3:end_scale=0.3:end_pts=24:start_x=-0.743643887037151:start_y=0.13182590420533" \
        -t 8 -c:v ffv1 "$zoom"
    ffmpeg -nostdin -hide_banner -loglevel error -y -i "$zoom" -i "$zoom" -i "$zoom" \
        -f lavfi -i testsrc2=size=480x270:rate=30 \
        -f lavfi -i "anoisesrc=color=pink:sample_rate=48000:seed=7:amplitude=0.25" \
        -f lavfi -i "sine=frequency=330:sample_rate=48000" \
        -f lavfi -i "sine=frequency=495:sample_rate=48000" \
        -filter_complex "[1:v]reverse[r];[0:v][r][2:v]concat=n=3:v=1:a=0,gblur=sigma=2.5,scale=1920:1080:flags=bicubic,format=yuv420p[bg];[3:v]format=yuv420p[fg];[bg][fg]overlay=x='(W-w)/2+(W-w)/2*sin(t*0.7)':y='(H-h)/2+(H-h)/2*cos(t*0.45)',noise=alls=1:allf=t[v];[4:a][5:a][6:a]amix=inputs=3,aformat=channel_layouts=stereo,tremolo=f=0.3:d=0.5,volume=4[a]" \
        -map "[v]" -map "[a]" -t 24 -r 30 -c:v libx264 -preset faster -crf 18 -pix_fmt yuv420p \
        -c:a aac -b:a 192k -f mp4 "$part"
    rm -f "$zoom"
    mv "$part" "$1"
}

# bench_long_movie SECONDS: prints the path of the motion movie played over
# again up to SECONDS (made once beside it, the sound and picture copied).
bench_long_movie() {
    local media=${TMPDIR:-/tmp}/clipvane-bench-motion-v1 long
    bench_motion_movie "$media/movie-24s.mp4"
    long=$media/movie-${1}s.mp4
    if [ "$1" = 24 ]; then
        long=$media/movie-24s.mp4
    elif [ ! -s "$long" ]; then
        ffmpeg -nostdin -hide_banner -loglevel error -y -stream_loop -1 -i "$media/movie-24s.mp4" \
            -t "$1" -c copy "$long.part.mp4"
        mv "$long.part.mp4" "$long"
    fi
    echo "$long"
}

# bench_wait_quiet LIMIT: waits (up to LIMIT seconds) until the machine's
# processes keep less than a tenth of the cores busy over 3 s, as the C++
# benchmarks do (BenchSupport's WaitForQuiet); prints the busy share it ended
# at, in per cent.
bench_wait_quiet() {
    local deadline=$((SECONDS + $1)) busy
    while :; do
        busy=$(
            read -r _ u n s i w q sq st _ </proc/stat
            a=$((u + n + s + q + sq + st)) b=$((i + w))
            sleep 3
            read -r _ u n s i w q sq st _ </proc/stat
            c=$((u + n + s + q + sq + st)) d=$((i + w))
            echo $((100 * (c - a) / ((c - a) + (d - b) + 1)))
        )
        if [ "$busy" -lt 10 ] || [ "$SECONDS" -ge "$deadline" ]; then
            echo "$busy"
            return 0
        fi
    done
}

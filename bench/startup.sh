#!/usr/bin/env bash
# Start-up benchmark: the time from launching Clipvane to its first painted main
# window, and its resident memory once the window has settled, against an empty
# Qt Widgets window of the same size started the same way (startup_bench.cpp),
# on a private Xvfb display with a temporary home. The update check runs against
# a port on 127.0.0.1 that refuses connections. Launches alternate between the
# two; the first of each is a warm-up and is not counted.
#   BUILD_DIR (default build-bench), STARTUP_BENCH_ROUNDS (default 10).
# Targets: under 0.5 s to the first paint, under 80 MB resident.
set -euo pipefail
cd "$(dirname "$0")/.."
# shellcheck source=bench/bench-common.sh
. bench/bench-common.sh
build=${BUILD_DIR:-build-bench}
rounds=${STARTUP_BENCH_ROUNDS:-10}

bench_needs Xvfb xdotool
bench_build startup_bench
# BUILD_DIR may be relative to the checkout or absolute.
bench=$(realpath -m "$build")/bin/startup_bench

# A local port that nothing listens on.
port=1
while (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; do
    port=$((port + 1))
done
export CLIPVANE_VERSION_URL="http://127.0.0.1:$port/v_encoder.html"

# shellcheck source=scripts/xvfb-session.sh
. scripts/xvfb-session.sh
trap xvfb_stop EXIT
xvfb_start 1024x768

# One launch: prints "<microseconds to the first paint> <resident KiB>".
launch() {
    local start output painted rss
    start=$(date +%s%N)
    output=$("$bench" "$1")
    painted=$(sed -n 's/^painted_ns=//p' <<<"$output")
    rss=$(sed -n 's/^rss_kb=//p' <<<"$output")
    [ -n "$painted" ] && [ -n "$rss" ] || {
        echo "startup.sh: $1 printed no figures" >&2
        exit 1
    }
    echo "$(((painted - start) / 1000)) $rss"
}

app_ms=() app_kb=() empty_ms=() empty_kb=()
launch --app >/dev/null
launch --empty >/dev/null
for _ in $(seq 1 "$rounds"); do
    read -r ms kb < <(launch --app)
    app_ms+=("$ms") app_kb+=("$kb")
    read -r ms kb < <(launch --empty)
    empty_ms+=("$ms") empty_kb+=("$kb")
done

median() { printf '%s\n' "$@" | sort -n | awk '{a[NR]=$1} END {print (NR % 2) ? a[(NR+1)/2] : int((a[NR/2]+a[NR/2+1])/2)}'; }
am=$(median "${app_ms[@]}") em=$(median "${empty_ms[@]}")
ak=$(median "${app_kb[@]}") ek=$(median "${empty_kb[@]}")
awk -v am="$am" -v em="$em" -v ak="$ak" -v ek="$ek" -v n="$rounds" 'BEGIN {
    printf "launches: %d of each, medians\n", n
    printf "first paint  Clipvane %7.1f ms   empty window %7.1f ms   ratio %.2f   target < 500 ms: %s\n",
        am / 1000, em / 1000, am / em, (am < 500000 ? "met" : "MISSED")
    printf "resident     Clipvane %7.1f MiB  empty window %7.1f MiB  ratio %.2f   target < 80 MiB: %s\n",
        ak / 1024, ek / 1024, ak / ek, (ak < 80 * 1024 ? "met" : "MISSED")
}'

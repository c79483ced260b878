#!/usr/bin/env bash
# One long movie spread over the cores and over GNU parallel's hosts, and a run
# killed at 80 % resumed, all through clipvane-batch as a person runs it: the
# benchmarks' 1080p movie with real motion played over again up to
# SPREAD_BENCH_SECONDS through SPREAD_BENCH_PRESET,
#   whole         clipvane-batch --jobs 1, the movie not cut (its segment
#                 limits set above its length): the baseline;
#   side by side  clipvane-batch --jobs 2: the run puts the movie's segments
#                 in both encoder slots;
#   parallel      scripts/cluster/parallel.sh -S : -j 2 --segments: the
#                 segments as GNU parallel jobs on this machine, then the join;
#   resumed       clipvane-batch --jobs 1 killed with SIGKILL once its total
#                 progress reaches 80 %, then started again: the second run's
#                 time (one segment at a time, so that the kill loses at most
#                 the one segment being made).
# Each after waiting up to SPREAD_BENCH_WAIT seconds for a quiet machine. Prints
# each way's wall and CPU time (the processes' own and their children's), the
# ratios to the whole encode (targets: side by side and parallel at most 0.9,
# resumed at most 0.3), the outputs' frame counts (equal to the whole's) and the
# segments' times from the run's log, for the estimate of more cores and hosts.
#   BUILD_DIR (default build-bench), SPREAD_BENCH_SECONDS (default 240),
#   SPREAD_BENCH_SEGMENT (default 60), SPREAD_BENCH_PRESET (default "Small
#   H.265"), SPREAD_BENCH_WAIT (default 600), SPREAD_BENCH_OUT (default
#   ${TMPDIR:-/tmp}/clipvane-bench-spread), SPREAD_BENCH_WAYS (default
#   "whole side parallel resumed").
set -euo pipefail
cd "$(dirname "$0")/.."
# shellcheck source=bench/bench-common.sh
. bench/bench-common.sh
build=${BUILD_DIR:-build-bench}
seconds=${SPREAD_BENCH_SECONDS:-240}
segment=${SPREAD_BENCH_SEGMENT:-60}
preset=${SPREAD_BENCH_PRESET:-Small H.265}
wait=${SPREAD_BENCH_WAIT:-600}
out=${SPREAD_BENCH_OUT:-${TMPDIR:-/tmp}/clipvane-bench-spread}
ways=${SPREAD_BENCH_WAYS:-whole side parallel resumed}

bench_needs ffmpeg ffprobe parallel
bench_build clipvane-batch
batch=$PWD/$build/bin/clipvane-batch
source=$(bench_long_movie "$seconds")
# The ways asked for start afresh; the others' figures (the whole encode's) stay.
for w in $ways; do
    rm -rf "${out:?}/$w" "$out/$w.time" "$out/$w.log"
done
[ "${ways/resumed/}" = "$ways" ] || rm -rf "$out/killed.log" "$out/home/state"
mkdir -p "$out/home"
# The benchmark's own settings, state (the segments' work folders) and logs.
export XDG_CONFIG_HOME=$out/home/config XDG_STATE_HOME=$out/home/state \
    XDG_CACHE_HOME=$out/home/cache XDG_DATA_HOME=$out/home/data
cut=(--segment-limits "$segment,$seconds")
whole=(--segment-limits "$segment,$((seconds * 10))")

echo "$(nproc) cores; $(uptime); $seconds s movie, segments of about $segment s, \"$preset\""
frames() {
    ffprobe -v error -select_streams v:0 -count_packets -show_entries stream=nb_read_packets \
        -of csv=p=0 "$(find "$1" -name '*.mp4' -o -name '*.webm' | head -n1)"
}
# way NAME COMMAND...: times COMMAND after the wait, into $out/NAME.time
# ("wall user system") and $out/NAME.log.
way() {
    local name=$1 busy
    shift
    busy=$(bench_wait_quiet "$wait")
    /usr/bin/time -f "%e %U %S" -o "$out/$name.time" "$@" >"$out/$name.log" 2>&1 ||
        echo "$name: exit code $?" >&2
    echo "$name: others' share before ${busy} %; wall, user, system s: $(cat "$out/$name.time")"
}
for w in $ways; do
    case $w in
    whole)
        way whole "$batch" --jobs 1 --preset "$preset" "${whole[@]}" --output "$out/whole" "$source"
        ;;
    side)
        way side "$batch" --jobs 2 --preset "$preset" "${cut[@]}" --output "$out/side" "$source"
        ;;
    parallel)
        way parallel bash scripts/cluster/parallel.sh -S : -j 2 --batch "$batch" \
            --preset "$preset" --segments "$source" "$out/parallel" -- "${cut[@]}"
        ;;
    resumed)
        # The first run, killed once its total progress reaches 80 %.
        bench_wait_quiet "$wait" >/dev/null
        "$batch" --json --jobs 1 --preset "$preset" "${cut[@]}" --output "$out/resumed" \
            "$source" >"$out/killed.log" 2>&1 &
        pid=$!
        while kill -0 "$pid" 2>/dev/null; do
            percent=$(grep -o '"totalPercent":[0-9]*' "$out/killed.log" | tail -n1 | cut -d: -f2 || true)
            if [ "${percent:-0}" -ge 80 ]; then
                kill -KILL "$pid"
                break
            fi
            sleep 0.2
        done
        wait "$pid" 2>/dev/null || true
        echo "resumed: killed at ${percent:-?} %"
        # Its encoders end at their next progress line, on the closed pipe.
        sleep 3
        way resumed "$batch" --jobs 1 --preset "$preset" "${cut[@]}" --output "$out/resumed" \
            "$source"
        ;;
    esac
done

[ -f "$out/whole.time" ] || exit 0
read -r wwall wuser wsys <"$out/whole.time"
wframes=$(frames "$out/whole")
echo "whole: $wframes frames"
for w in side parallel resumed; do
    [ -f "$out/$w.time" ] || continue
    read -r wall user sys <"$out/$w.time"
    f=$(frames "$out/$w" 2>/dev/null || echo 0)
    target=0.9
    [ "$w" = resumed ] && target=0.3
    awk -v n="$w" -v w="$wall" -v u="$user" -v s="$sys" -v ww="$wwall" -v wu="$wuser" \
        -v ws="$wsys" -v f="$f" -v wf="$wframes" -v t="$target" 'BEGIN {
        printf "%s / whole: wall %.3f (target <= %s) %s, CPU %.3f; frames %d %s\n", n, w / ww, t,
            (w / ww <= t ? "ok" : "MISSED"), (u + s) / (wu + ws), f, (f == wf ? "equal" : "DIFFER")
    }'
done
# The segments' times, from the run's log (for the estimate of more cores).
log=$(find "$out/home" -name "*.log" 2>/dev/null | sort | tail -n1)
[ -n "$log" ] && grep -iE 'segment|sound|join' "$log" | tail -n 40
uptime

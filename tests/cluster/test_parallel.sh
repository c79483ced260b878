#!/usr/bin/env bash
# The cluster recipes: scripts/cluster/parallel.sh spreads a folder tree of four
# movies (one name twice, odd characters) over GNU parallel with this machine
# as its only host (-S :), and every output must come out whole in the mirrored
# tree with exit code 0; a damaged movie among them makes the exit code 1. Both
# recipes pass shellcheck; the Slurm array script's tasks, run one by one as
# Slurm would run them with relative folders, give the same tree, and their
# logs name each movie and its result.
#   test_parallel.sh <source folder> <build folder>
set -euo pipefail
source_dir=$1
build=$2
tmp=$(mktemp -d "${TMPDIR:-/tmp}/clipvane-cluster-XXXXXX")
trap 'rm -rf -- "$tmp"' EXIT
fail() {
    echo "FAIL: $*" >&2
    exit 1
}

shellcheck "$source_dir/scripts/cluster/parallel.sh" "$source_dir/scripts/cluster/slurm-array.sh" ||
    fail "the cluster scripts do not pass shellcheck"

export HOME="$tmp/home" XDG_CONFIG_HOME="$tmp/home/.config" XDG_STATE_HOME="$tmp/home/.state" \
    XDG_CACHE_HOME="$tmp/home/.cache" XDG_DATA_HOME="$tmp/home/.local/share"
mkdir -p "$HOME" "$tmp/Trip/Day 1" "$tmp/Trip/Day 2"
movie() {
    ffmpeg -v error -nostdin -f lavfi -i "testsrc2=size=160x120:rate=25:duration=2" \
        -f lavfi -i "sine=duration=2" -c:v libx264 -c:a aac -shortest "$1"
}
movie "$tmp/Trip/a.mov"
movie "$tmp/Trip/Day 1/a.mov"
movie "$tmp/Trip/Day 1/it's 100% ü.mp4"
movie "$tmp/Trip/Day 2/b c.mkv"

run() {
    bash "$source_dir/scripts/cluster/parallel.sh" -S : --batch "$build/bin/clipvane-batch" \
        --preset "Phone and Tablet" "$tmp/Trip" "$tmp/Out" >"$tmp/log" 2>&1
}
run || { cat "$tmp/log" >&2; fail "parallel.sh ended with $?"; }
for output in "Trip/[Tolva]a.mp4" "Trip/Day 1/[Tolva]a.mp4" "Trip/Day 1/[Tolva]it's 100% ü.mp4" \
    "Trip/Day 2/[Tolva]b c.mp4"; do
    seconds=$(ffprobe -v error -show_entries format=duration -of csv=p=0 "$tmp/Out/$output") ||
        fail "no readable output $output among: $(cd "$tmp/Out" && find . -type f)"
    ffmpeg -v error -nostdin -i "$tmp/Out/$output" -f null - 2>"$tmp/decode" && [ ! -s "$tmp/decode" ] ||
        fail "$output does not decode cleanly: $(cat "$tmp/decode")"
    awk -v s="$seconds" 'BEGIN { exit !(s > 1.8 && s < 2.2) }' || fail "$output lasts $seconds s"
done
[ "$(find "$tmp/Out" -type f | wc -l)" = 4 ] || fail "outputs: $(find "$tmp/Out" -type f)"

# The Slurm array script, each task run here as Slurm would with its task id,
# from the folder above the movies, FOLDER and OUTPUT relative (FOLDER written
# another way in each task): the same tree, both a.mov kept. A log names its
# movie first and its result last; a line outside FOLDER is refused.
"$build/bin/clipvane-batch" --list-movies "$tmp/Trip" >"$tmp/list"
[ "$(wc -l <"$tmp/list")" = 4 ] || fail "--list-movies: $(cat "$tmp/list")"
echo "$tmp/Trip/../Tripod/a.mov" >>"$tmp/list"
slurm() {
    (cd "$tmp" && SLURM_ARRAY_TASK_ID=$1 CLIPVANE_BATCH="$build/bin/clipvane-batch" bash \
        "$source_dir/scripts/cluster/slurm-array.sh" list "$2" Slurm --preset "Phone and Tablet") \
        >"$tmp/task$1.log" 2>&1
}
folders=(Trip ./Trip/ Trip/../Trip "$tmp/Trip")
for task in 1 2 3 4; do
    slurm $task "${folders[task - 1]}" || { cat "$tmp/task$task.log" >&2; fail "slurm task $task"; }
    { [ "$(head -n 1 "$tmp/task$task.log")" = "movie: $(sed -n ${task}p "$tmp/list")" ] &&
        [ "$(tail -n 1 "$tmp/task$task.log")" = "result: finished" ]; } ||
        fail "the log of task $task: $(cat "$tmp/task$task.log")"
done
[ "$(cd "$tmp/Slurm" && find . -type f | sort)" = "$(cd "$tmp/Out" && find . -type f | sort)" ] ||
    fail "the Slurm tasks' outputs: $(find "$tmp/Slurm" -type f)"
status=0
slurm 5 Trip || status=$?
{ [ "$status" = 2 ] && grep -qF "'$tmp/Trip/../Tripod/a.mov' is not under" "$tmp/task5.log"; } ||
    fail "a line outside FOLDER: $status, $(cat "$tmp/task5.log")"

head -c 3000 "$tmp/Trip/a.mov" >"$tmp/Trip/Day 2/damaged.mp4"
rm -rf "$tmp/Out"
status=0
run || status=$?
[ "$status" = 1 ] || { cat "$tmp/log" >&2; fail "with a damaged movie parallel.sh ended with $status"; }
[ "$(find "$tmp/Out" -type f | wc -l)" = 4 ] || fail "the good movies did not all come out"
echo "$tmp/Trip/Day 2/damaged.mp4" >>"$tmp/list"
status=0
slurm 6 Trip || status=$?
{ [ "$status" = 1 ] && [ "$(cd "$tmp" && grep -l '^result: failed' task*.log)" = task6.log ]; } ||
    fail "the damaged movie's task: $status, $(cat "$tmp/task6.log")"
echo "cluster recipes: ok"

#!/usr/bin/env bash
# One long movie over the cluster recipes, cut into 1 s segments: slurm-array.sh
# --segments submits (to a stand-in sbatch that records what it is given) a job
# array of a task per segment and the sound and a join job after it; each task
# is then run here as Slurm would, with SLURM_ARRAY_TASK_ID, and the join. A
# join with a segment missing fails and names it, the task run again lets it
# through, and the output holds as many pictures as the whole encode's and
# decodes cleanly. A short movie is submitted as one whole job. parallel.sh
# --segments over -S : gives the same output.
#   test_segments.sh <source folder> <build folder>
set -euo pipefail
source_dir=$1
build=$2
tmp=$(mktemp -d "${TMPDIR:-/tmp}/clipvane-segments-XXXXXX")
trap 'rm -rf -- "$tmp"' EXIT
fail() {
    echo "FAIL: $*" >&2
    exit 1
}

export HOME="$tmp/home" XDG_CONFIG_HOME="$tmp/home/.config" XDG_STATE_HOME="$tmp/home/.state" \
    XDG_CACHE_HOME="$tmp/home/.cache" XDG_DATA_HOME="$tmp/home/.local/share"
export CLIPVANE_BATCH="$build/bin/clipvane-batch"
mkdir -p "$HOME" "$tmp/bin" "$tmp/Films" "$tmp/calls"
ffmpeg -v error -nostdin -f lavfi -i "testsrc2=size=320x240:rate=25:duration=4" \
    -f lavfi -i "sine=duration=4" -c:v libx264 -g 12 -c:a aac -shortest "$tmp/Films/it's 1 ü.mp4"
ffmpeg -v error -nostdin -f lavfi -i "testsrc2=size=160x120:rate=25:duration=1" \
    -c:v libx264 "$tmp/Films/short.mp4"
options=(--preset "Phone and Tablet" --segment-limits "1,2")
frames() {
    ffprobe -v error -count_frames -select_streams v:0 -show_entries stream=nb_read_frames \
        -of csv=p=0 "$1"
}
"$CLIPVANE_BATCH" "${options[@]:0:2}" --output "$tmp/Whole" "$tmp/Films/it's 1 ü.mp4" >/dev/null
whole=$(frames "$tmp/Whole/[Tolva]it's 1 ü.mp4")
[ "$whole" = 100 ] || fail "the whole encode holds $whole pictures"
# A whole movie of as many pictures as the whole encode, that decodes cleanly.
check() {
    [ -f "$1" ] || fail "no output $1"
    [ "$(frames "$1")" = "$whole" ] || fail "$1 holds $(frames "$1") pictures, not $whole"
    { ffmpeg -v error -nostdin -i "$1" -f null - 2>"$tmp/decode" && [ ! -s "$tmp/decode" ]; } ||
        fail "$1 does not decode cleanly: $(cat "$tmp/decode")"
}

# The stand-in sbatch: each call's arguments NUL-separated in calls/<n>, and
# the job id 100 + n printed as --parsable does.
cat >"$tmp/bin/sbatch" <<'EOF'
#!/usr/bin/env bash
n=$(($(find "$CALLS" -type f | wc -l) + 1))
printf '%s\0' "$@" >"$CALLS/$n"
echo $((100 + n))
EOF
chmod +x "$tmp/bin/sbatch"
submit() {
    rm -f "$tmp/calls/"*
    (cd "$tmp" && PATH="$tmp/bin:$PATH" CALLS="$tmp/calls" bash \
        "$source_dir/scripts/cluster/slurm-array.sh" --segments "$1" Slurm "${options[@]}") \
        >"$tmp/submit.log" 2>&1 || { cat "$tmp/submit.log" >&2; fail "submitting $1"; }
}
# Runs what call n submitted, as its task (or job) would: the script, its
# arguments after sbatch's own options, in the folder sbatch ran from.
task() {
    local call=$1 id=$2 args
    mapfile -d '' args <"$tmp/calls/$call"
    while [[ ${args[0]} == --* ]]; do args=("${args[@]:1}"); done
    (cd "$tmp" && SLURM_ARRAY_TASK_ID=$id bash "${args[@]}") >"$tmp/task.log" 2>&1
}
log_is() {
    { [ "$(head -n 1 "$tmp/task.log")" = "movie: $1" ] &&
        [ "$(tail -n 1 "$tmp/task.log")" = "result: $2" ]; } || fail "the log of $1: $(cat "$tmp/task.log")"
}

submit "Films/it's 1 ü.mp4"
movie="$tmp/Films/it's 1 ü.mp4"
mapfile -d '' array <"$tmp/calls/1"
mapfile -d '' join <"$tmp/calls/2"
[ "${array[1]}" = --array=1-5 ] || fail "the array: ${array[*]}"
[[ " ${join[*]} " == *" --dependency=afterok:101 "* ]] || fail "the join: ${join[*]}"
for id in 1 2 3 4 5; do
    piece="segment $id of 4"
    [ $id = 5 ] && piece=sound
    task 1 $id || fail "task $id: $(cat "$tmp/task.log")"
    log_is "$movie ($piece)" finished
done
rm -- "$tmp/Slurm/.clipvane-segments-"*/video-0002.mp4
status=0
task 2 "" || status=$?
{ [ "$status" = 1 ] && grep -qF "Segment 2 of 4 (video-0002.mp4) is missing." "$tmp/task.log"; } ||
    fail "the join with a segment missing: $status, $(cat "$tmp/task.log")"
log_is "$movie (join)" failed
[ ! -e "$tmp/Slurm/[Tolva]it's 1 ü.mp4" ] || fail "a refused join wrote an output"
task 1 2 || fail "task 2 again: $(cat "$tmp/task.log")"
task 2 "" || fail "the join: $(cat "$tmp/task.log")"
log_is "$movie (join)" finished
check "$tmp/Slurm/[Tolva]it's 1 ü.mp4"
[ "$(find "$tmp/Slurm" -mindepth 1 | wc -l)" = 1 ] || fail "left in Slurm: $(find "$tmp/Slurm")"

submit Films/short.mp4
[ "$(find "$tmp/calls" -type f | wc -l)" = 1 ] || fail "a short movie: $(cat "$tmp/calls/"*)"
task 1 "" || fail "the short movie's job: $(cat "$tmp/task.log")"
log_is "$tmp/Films/short.mp4" finished
[ -f "$tmp/Slurm/[Tolva]short.mp4" ] || fail "the short movie's output: $(find "$tmp/Slurm")"

bash "$source_dir/scripts/cluster/parallel.sh" -S : --batch "$CLIPVANE_BATCH" --segments \
    "${options[@]:0:2}" "$movie" "$tmp/Parallel" -- "${options[@]:2}" >"$tmp/log" 2>&1 ||
    { cat "$tmp/log" >&2; fail "parallel.sh --segments"; }
check "$tmp/Parallel/[Tolva]it's 1 ü.mp4"
[ "$(find "$tmp/Parallel" -mindepth 1 | wc -l)" = 1 ] || fail "left: $(find "$tmp/Parallel")"
echo "cluster segments: ok"

#!/usr/bin/env bash
#SBATCH --job-name=clipvane
#SBATCH --cpus-per-task=2
#SBATCH --mem=2G
#SBATCH --time=04:00:00
#SBATCH --output=clipvane-%A_%a.log
#
# A Slurm job array that encodes a folder of movies with clipvane-batch, one
# movie per task: task N takes the Nth line of a list of movies
# (SLURM_ARRAY_TASK_ID), and its output keeps the folder's tree.
#
# Usage (a folder of movies):
#   clipvane-batch --list-movies /shared/Movies > movies.txt
#   sbatch --array=1-$(wc -l < movies.txt) scripts/cluster/slurm-array.sh \
#       movies.txt /shared/Movies /shared/Encoded [clipvane-batch options...]
#
#   LIST    the movies, one path per line (clipvane-batch --list-movies FOLDER
#           prints them, as clipvane-batch finds them)
#   FOLDER  the folder the list was made of: /shared/Movies/Day 1/a.mov is
#           encoded to /shared/Encoded/Movies/Day 1/[Tolva]a.mp4. A line that
#           is not under FOLDER is refused (exit code 2).
#   OUTPUT  the output folder
#   Relative paths (FOLDER, OUTPUT, the list's lines) are taken from the job's
#   working directory, the directory sbatch was run from unless sbatch's
#   --chdir says another; Movies, ./Movies and Movies/../Movies are one folder.
#   The options (--preset NAME, --sample, --overwrite rename|skip|replace, ...)
#   go to clipvane-batch as they are. CLIPVANE_BATCH names the program
#   (default: clipvane-batch on the PATH).
#
# The logs: Slurm writes each task's clipvane-<job>_<task>.log into the job's
# working directory (the directory sbatch was run from, unless --chdir or an
# --output given to sbatch says otherwise). A log's first line names the task's
# movie ("movie: PATH"), its last line the result ("result: finished", "result:
# failed", "result: stopped", ...), so without sacct
#   grep -l '^result: failed' clipvane-*.log    the logs of the failed movies
#   grep -L '^result: ' clipvane-*.log          tasks ended before their result
#                                               (killed, e.g. at --time)
#
# The shared folder: the list, the movies and OUTPUT must lie on a folder that
# every node mounts at the same path, and every node needs clipvane-batch. The
# #SBATCH lines above are defaults: sbatch's own options override them
# (--array=1-500%20 runs at most 20 tasks at once; --cpus-per-task for the
# H.264 and H.265 presets, whose encoder uses every core it gets). Movies whose
# outputs would have the same name (a.mov and a.mkv in one folder) are encoded
# together by the task of the first of them; the others' tasks end at once.
# The exit code is clipvane-batch's: 0 finished, 1 failed, 2 bad usage; sacct
# shows each task's.
#
# One long movie over many nodes (run this on the login node, which plans the
# segments and so needs clipvane-batch too, not with sbatch):
#   scripts/cluster/slurm-array.sh --segments MOVIE OUTPUT [clipvane-batch options...]
# plans the movie's segments (clipvane-batch --segments plan), then submits a
# job array with one task per segment and one for the sound, and a join job
# that runs when every task has succeeded (--dependency=afterok) and writes
# OUTPUT/[Tolva]<movie's name>.mp4. The pieces are kept in a work folder beside
# the output (OUTPUT/.clipvane-segments-<a hash of MOVIE's path>, or the folder
# CLIPVANE_WORK names), which must lie on the shared folder too, and which the
# join removes. A movie that is encoded whole (short, the "Pocket PC Normal" or
# "Share (25 MB)" preset, ...) is submitted as one job. Each task's log names
# the movie and its piece first ("movie: PATH (segment 3 of 12)", "(sound)",
# "(join)") and its result last. Should a task fail, the join is not run
# (--kill-on-invalid-dep): the same command again keeps the finished pieces,
# and their tasks end at once. sbatch's own options can be given through its
# SBATCH_* environment variables (SBATCH_PARTITION, SBATCH_TIMELIMIT, ...).
set -euo pipefail

# The last line of every log: the task's result, then its exit code.
finish() {
    echo "result: $1"
    exit "$2"
}
# The result of a clipvane-batch step that has ended with status.
finish_step() {
    case $1 in
    0) finish finished 0 ;;
    1) finish failed 1 ;;
    2) finish "bad usage" 2 ;;
    130 | 143) finish stopped "$1" ;;
    *) finish "failed (exit code $1)" "$1" ;;
    esac
}
batch=${CLIPVANE_BATCH:-clipvane-batch}

case ${1:-} in
--segments)
    # On the login node: the plan, then the jobs.
    if [ $# -lt 3 ] || [ -z "$2" ] || [ -z "$3" ]; then
        echo "usage: slurm-array.sh --segments MOVIE OUTPUT [clipvane-batch options]" >&2
        exit 2
    fi
    script=$(realpath -- "${BASH_SOURCE[0]}")
    movie=$(realpath -m -s -- "$2")
    output=$(realpath -m -- "$3")
    shift 3
    work=${CLIPVANE_WORK:-$output/.clipvane-segments-$(printf '%s' "$movie" | sha1sum | cut -c1-16)}
    work=$(realpath -m -- "$work")
    count=$("$batch" "$@" --output "$output" --work "$work" --segments plan -- "$movie") ||
        exit $?
    if [ "$count" = 0 ]; then
        job=$(sbatch --parsable --output=clipvane-%j.log "$script" --segment-whole "$movie" \
            "$output" "$@")
        echo "submitted job ${job%%;*}: $movie is encoded whole"
        exit 0
    fi
    array=$(sbatch --parsable --array=1-$((count + 1)) "$script" --segment-piece "$count" \
        "$work" "$movie" "$output" "$@")
    array=${array%%;*}
    join=$(sbatch --parsable --dependency=afterok:"$array" --kill-on-invalid-dep=yes \
        --output=clipvane-%j-join.log "$script" --segment-join "$work" "$movie" "$output" "$@")
    echo "submitted job array $array ($count segments and the sound of $movie) and the join," \
        "job ${join%%;*}"
    exit 0
    ;;
--segment-piece)
    # An array task: segment N for task N, the sound for the task after the last.
    [ $# -ge 5 ] || finish "bad usage" 2
    count=$2 work=$3 movie=$4 output=$5
    shift 5
    task=${SLURM_ARRAY_TASK_ID:-}
    if ! [[ $task =~ ^[0-9]+$ ]] || [ "$task" -lt 1 ] || [ "$task" -gt $((count + 1)) ]; then
        echo "slurm-array.sh: task '$task' of $count segments and the sound" >&2
        finish "bad usage" 2
    fi
    piece=$task
    if [ "$task" -gt "$count" ]; then
        piece=sound
        echo "movie: $movie (sound)"
    else
        echo "movie: $movie (segment $task of $count)"
    fi
    trap : TERM INT
    status=0
    "$batch" "$@" --output "$output" --work "$work" --segments "$piece" -- "$movie" || status=$?
    finish_step "$status"
    ;;
--segment-join | --segment-whole)
    role=$1
    shift
    if [ "$role" = --segment-join ]; then
        [ $# -ge 3 ] || finish "bad usage" 2
        work=$1
        shift
        echo "movie: $1 (join)"
        step=(--work "$work" --segments join)
    else
        [ $# -ge 2 ] || finish "bad usage" 2
        echo "movie: $1"
        step=(--jobs 1)
    fi
    movie=$1 output=$2
    shift 2
    trap : TERM INT
    status=0
    "$batch" "$@" --output "$output" "${step[@]}" -- "$movie" || status=$?
    finish_step "$status"
    ;;
esac
if [ $# -lt 3 ] || [ -z "$2" ] || [ -z "$3" ]; then
    echo "usage: sbatch --array=1-<movies> slurm-array.sh LIST FOLDER OUTPUT [clipvane-batch options]" >&2
    finish "bad usage" 2
fi
list=$1
folder=$2
output=$3
shift 3
task=${SLURM_ARRAY_TASK_ID:-}
[[ $task =~ ^[0-9]+$ ]] || {
    echo "slurm-array.sh: no SLURM_ARRAY_TASK_ID: submit it with sbatch --array=1-<movies>" >&2
    finish "bad usage" 2
}
[ -r "$list" ] || {
    echo "slurm-array.sh: cannot read the list '$list'" >&2
    finish "bad usage" 2
}

# The task's movie, and the others of the list whose output would have the
# same name (the same folder and name without extension, in any case): the
# first of them takes them all.
# (Into $key, without a subshell: the list may be long.)
key_of() {
    local name=${1##*/}
    key="${1%/*}/${name%.*}"
    key=${key,,}
}
mapfile -t movies <"$list"
if [ "$task" -lt 1 ] || [ "$task" -gt ${#movies[@]} ]; then
    echo "slurm-array.sh: task $task, but '$list' holds ${#movies[@]} movies" >&2
    finish "bad usage" 2
fi
echo "movie: ${movies[task - 1]}"
key_of "${movies[task - 1]}"
mine=$key
group=()
for i in "${!movies[@]}"; do
    key_of "${movies[i]}"
    [ "$key" = "$mine" ] || continue
    if [ ${#group[@]} -eq 0 ] && [ "$i" -ne $((task - 1)) ]; then
        finish "encoded by task $((i + 1))" 0
    fi
    group+=("${movies[i]}")
done

# The folder the movies' outputs go to: their folder under FOLDER, below
# FOLDER's own name in OUTPUT. Paths are compared as written (made absolute,
# "." and ".." resolved) and, failing that, with their links resolved, so that
# a list made through a link to the shared folder still matches.
folder_plain=$(realpath -m -s -- "$folder")
folder_real=$(realpath -m -- "$folder")
output=$(realpath -m -- "$output")
out=""
for movie in "${group[@]}"; do
    plain="" real=""
    if [ -n "$movie" ]; then
        plain=$(realpath -m -s -- "$movie")
        real=$(realpath -m -- "$movie")
    fi
    if [[ $plain == "${folder_plain%/}"/* ]]; then
        relative=${plain#"${folder_plain%/}"/}
    elif [[ $real == "${folder_real%/}"/* ]]; then
        relative=${real#"${folder_real%/}"/}
    else
        echo "slurm-array.sh: the movie '$movie' is not under the folder '$folder_plain'" >&2
        finish "refused: not under FOLDER" 2
    fi
    if [ -z "$out" ]; then
        out=$output
        [ "$folder_plain" = / ] || out="$out/$(basename -- "$folder_plain")"
        sub=$(dirname -- "$relative")
        [ "$sub" = . ] || out="$out/$sub"
    fi
done

# Slurm's time limit and scancel send SIGTERM to the task's processes:
# clipvane-batch stops and removes its unfinished output, and this shell waits
# for it (a trap, not the default of ending at once) to write the result.
trap : TERM INT
status=0
"$batch" --jobs 1 "$@" --output "$out" -- "${group[@]}" || status=$?
finish_step "$status"

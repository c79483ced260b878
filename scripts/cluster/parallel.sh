#!/usr/bin/env bash
# Spreads a folder of movies over several machines with GNU parallel: one
# clipvane-batch --jobs 1 per movie on the hosts of an --sshloginfile, the
# folder's tree kept in the output folder. See usage below and the README.
set -euo pipefail

usage() {
    cat <<'EOF'
Usage: parallel.sh (--sshloginfile FILE | -S LOGINS) [options] FOLDER OUTPUT
                   [-- clipvane-batch options]
       parallel.sh (--sshloginfile FILE | -S LOGINS) [options] --segments MOVIE
                   OUTPUT [-- clipvane-batch options]

Encodes every movie under FOLDER with clipvane-batch, one movie per job, on
the hosts GNU parallel reaches, into OUTPUT with FOLDER's tree kept:
FOLDER/Day 1/a.mov becomes OUTPUT/<FOLDER's name>/Day 1/[Tolva]a.mp4.

The shared folder: FOLDER must lie on a folder that every host mounts at the
same path (NFS, SMB, ...), since each host reads its movies from there. So
must OUTPUT, where each host writes its outputs, unless --return is given:
then each host writes into /tmp on its own disk, and the outputs are fetched
back (rsync) into OUTPUT on this machine when each job ends.

With --segments, one long MOVIE is spread over the hosts instead: its
segments are planned here, each segment and the sound is encoded by a job of
its own on the hosts, and when every one has succeeded they are joined here
into OUTPUT/[Tolva]<movie's name>.mp4. The pieces are kept in a work folder
on the shared folder (--work; by default OUTPUT/.clipvane-segments-<a hash of
MOVIE's path>), which every host must reach at the same path, as MOVIE; the
join removes it. Should a piece fail, the same command again keeps the
finished ones. A movie that is encoded whole (a short one, "Share (25 MB)",
...) is encoded by one job.

Options:
  --segments           spread one long MOVIE's segments over the hosts
  --work DIR           with --segments, the folder of the pieces
  --sshloginfile FILE  the hosts, one per line as GNU parallel reads them
                       (":" is this machine, "4/host" runs 4 jobs there)
  -S LOGINS            the hosts on the command line, as GNU parallel takes them
  -j, --jobs N         jobs per host (GNU parallel's default: one per core)
  --return             fetch the outputs back into OUTPUT on this machine
  --preset NAME        encode with this preset (clipvane-batch --list-presets)
  --sample             encode only the first 60 seconds of each movie
  --overwrite MODE     outputs that exist: rename (the default), skip or replace
  --batch PROGRAM      clipvane-batch on this machine and the hosts
                       (default: clipvane-batch on the PATH)
  -h, --help           show this text
Options after "--" go to clipvane-batch as they are.

Every host needs clipvane-batch (the Clipvane package) and its settings: the
prefix and the stored preset come from each host's own. Movies whose outputs
would have the same name (a.mov and a.mkv in one folder) go to one job, which
names them apart.
Exit code: 0 when every movie finished, 1 when any failed, 2 bad usage.
EOF
}

die() {
    echo "parallel.sh: $*" >&2
    echo "Try 'parallel.sh --help' for more information." >&2
    exit 2
}

logins=()
jobs=()
fetch=0
batch=clipvane-batch
overwrite=rename
segments=0
work=""
options=()
places=()
while [ $# -gt 0 ]; do
    case $1 in
    -h | --help)
        usage
        exit 0
        ;;
    --sshloginfile | --slf | -S | -j | --jobs | --preset | --overwrite | --batch | --work)
        [ $# -ge 2 ] || die "$1 needs a value"
        case $1 in
        -S) logins+=(-S "$2") ;;
        -j | --jobs) jobs=(--jobs "$2") ;;
        --preset) options+=(--preset "$2") ;;
        --overwrite)
            case $2 in
            rename | skip | replace) overwrite=$2 ;;
            *) die "--overwrite takes rename, skip or replace, not '$2'" ;;
            esac
            options+=(--overwrite "$2")
            ;;
        --batch) batch=$2 ;;
        --work) work=$2 ;;
        *) logins+=(--sshloginfile "$2") ;;
        esac
        shift 2
        ;;
    --return)
        fetch=1
        shift
        ;;
    --segments)
        segments=1
        shift
        ;;
    --sample)
        options+=(--sample)
        shift
        ;;
    --)
        shift
        options+=("$@")
        break
        ;;
    -*) die "unknown option '$1'" ;;
    *)
        places+=("$1")
        shift
        ;;
    esac
done
[ ${#logins[@]} -gt 0 ] || die "no hosts: give --sshloginfile FILE or -S LOGINS"
command -v parallel >/dev/null || die "GNU parallel is missing (apt-get install parallel)"

if [ "$segments" = 1 ]; then
    [ ${#places[@]} -eq 2 ] || die "give one MOVIE and one OUTPUT"
    [ "$fetch" = 0 ] || die "--segments needs OUTPUT on the shared folder, not --return"
    [ -f "${places[0]}" ] || die "'${places[0]}' is not a movie file"
    movie=$(realpath -s -- "${places[0]}")
    mkdir -p -- "${places[1]}" || die "cannot make the output folder '${places[1]}'"
    output=$(realpath -- "${places[1]}")
    [ -n "$work" ] ||
        work=$output/.clipvane-segments-$(printf '%s' "$movie" | sha1sum | cut -c1-16)
    work=$(realpath -m -- "$work")
    common=("${options[@]}" --output "$output")
    count=$("$batch" "${common[@]}" --work "$work" --segments plan -- "$movie") || exit $?
    pieces=(whole)
    if [ "$count" != 0 ]; then
        pieces=()
        for ((n = 1; n <= count; n++)); do
            pieces+=("$n")
        done
        pieces+=(sound)
    fi
    # Each job: one piece with clipvane-batch --segments, or the whole movie.
    quoted=$(printf '%q ' "${common[@]}")
    # shellcheck disable=SC2016 # expanded by the job's shell
    job='program=$1 work=$2 movie=$3 piece=$4
if [ "$piece" = whole ]; then exec "$program" --jobs 1 '$quoted'-- "$movie"; fi
exec "$program" '$quoted'--work "$work" --segments "$piece" -- "$movie"'
    status=0
    parallel --will-cite --no-notice -q "${logins[@]}" "${jobs[@]}" bash -c "$job" \
        clipvane-piece "$batch" "$work" "$movie" {} ::: "${pieces[@]}" || status=$?
    [ "$status" = 0 ] || {
        echo "parallel.sh: some pieces of '$movie' failed (GNU parallel's exit code $status);" \
            "the same command again keeps the finished ones" >&2
        exit 1
    }
    [ "$count" = 0 ] && exit 0
    "$batch" "${common[@]}" --work "$work" --segments join -- "$movie" || exit 1
    exit 0
fi

[ ${#places[@]} -eq 2 ] || die "give one FOLDER and one OUTPUT"
[ -d "${places[0]}" ] || die "'${places[0]}' is not a folder"
folder=$(realpath -- "${places[0]}")
mkdir -p -- "${places[1]}" || die "cannot make the output folder '${places[1]}'"
output=$(realpath -- "${places[1]}")

tmp=$(mktemp -d "${TMPDIR:-/tmp}/clipvane-parallel-XXXXXX")
# Where the hosts write with --return: the same path on every host, so that
# GNU parallel fetches each job's folder to the same path here.
stage=/tmp/clipvane-return-$(hostname)-$$
cleanup() {
    rm -rf -- "$tmp"
    [ "$fetch" = 0 ] || rm -rf -- "$stage"
}
trap cleanup EXIT

# The movies as clipvane-batch finds them, which also checks the options.
"$batch" --list-movies --null "${options[@]}" -- "$folder" >"$tmp/movies" || exit 2

# One record per job: the relative output folder, then its movies, separated
# by \037 and ended by NUL. Movies whose outputs would share a name form one
# record: run apart, two hosts would write the same file at once.
parent=$(dirname -- "$folder")
declare -A records=()
keys=()
while IFS= read -r -d '' movie; do
    relative=${movie#"$parent"/}
    subfolder=$(dirname -- "$relative")
    name=${movie##*/}
    key="$subfolder/${name%.*}"
    key=${key,,}
    if [ -z "${records[$key]+set}" ]; then
        keys+=("$key")
        records[$key]=$subfolder
    fi
    records[$key]+=$'\037'$movie
done <"$tmp/movies"
[ ${#keys[@]} -gt 0 ] || {
    echo "parallel.sh: no movies under '$folder'" >&2
    exit 0
}
for key in "${keys[@]}"; do
    printf '%s\0' "${records[$key]}"
done >"$tmp/records"

if [ "$fetch" = 1 ]; then
    base="$stage/{#}"
    transfer=(--return "$stage/{#}" --cleanup)
else
    base=$output
    transfer=()
fi
# Each job: clipvane-batch with the options, into <base>/<relative folder>.
quoted=""
[ ${#options[@]} -eq 0 ] || quoted=$(printf '%q ' "${options[@]}")
# shellcheck disable=SC2016 # expanded by the job's shell
job='program=$1 out=$2/$3; shift 3; exec "$program" --jobs 1 '$quoted'--output "$out" -- "$@"'
status=0
parallel --will-cite --no-notice -0 -q --colsep '\037' "${logins[@]}" "${jobs[@]}" \
    "${transfer[@]}" bash -c "$job" clipvane-job "$batch" "$base" {} <"$tmp/records" ||
    status=$?

# With --return, the fetched outputs join OUTPUT; one that exists there is
# renamed, skipped or replaced as --overwrite says.
place() {
    local source=$1 target=$2
    mkdir -p -- "$(dirname -- "$target")"
    if [ -e "$target" ]; then
        case $overwrite in
        skip)
            echo "parallel.sh: skipped $source: $target exists already" >&2
            return
            ;;
        rename)
            local stem=${target%.*} extension=.${target##*.} n=2
            while [ -e "$stem ($n)$extension" ]; do
                n=$((n + 1))
            done
            target="$stem ($n)$extension"
            ;;
        esac
    fi
    mv -f -- "$source" "$target"
}
if [ "$fetch" = 1 ] && [ -d "$stage" ]; then
    while IFS= read -r -d '' file; do
        place "$file" "$output/${file#"$stage"/*/}"
    done < <(find "$stage" -type f -print0)
fi

[ "$status" = 0 ] || {
    echo "parallel.sh: some movies failed (GNU parallel's exit code $status)" >&2
    exit 1
}

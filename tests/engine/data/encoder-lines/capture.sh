#!/usr/bin/env bash
# Captures what the real mencoder prints when an encode is broken on purpose,
# one file per case, as the run keeps the lines: standard output and standard
# error in the order written, the "Pos:" progress records and empty lines left
# out. test_failure_reason.cpp reads the files; run this again after an encoder
# update and compare. The argument strings are those of the "Pocket PC Normal"
# preset (with the AVI reader of libavformat where the run uses it).
# Needs root for the read-only mount, and setpriv to run two cases as "nobody".
set -euo pipefail
out=$(cd "$(dirname "$0")" && pwd)
tmp=$(mktemp -d)
chmod 755 "$tmp"
trap 'umount "$tmp/ro" 2>/dev/null || true; rm -rf "$tmp"' EXIT
cd "$tmp"

preset() { # size: W H SCALE_W SCALE_H
    echo "-ofps 15.000 -vf-add crop=320:180:-1:-1  -vf-add scale=$3:$4 -vf-add expand=$1:$2:-1:-1:1" \
        "-srate 44100 -ovc lavc -lavcopts vcodec=${5:-mpeg4}   -lavcopts vbitrate=150  -ffourcc DIVX" \
        "-oac mp3lame -lameopts vbr=3  -lameopts br=64 -lameopts vol=0 -lameopts mode=1" \
        "-lameopts aq=7 -lameopts padding=3 -af volnorm -slang ko-KR,kr-KR"
}
lavf="-demuxer lavf -lavfdopts o=fflags=+genpts"
# case INPUT OUTPUT ARGS [USER]: writes <case>.txt
capture() {
    local name=$1 input=$2 output=$3 args=$4 user=${5:-}
    local run=()
    [ -n "$user" ] && run=(setpriv --reuid="$user" --regid="$user" --clear-groups)
    # shellcheck disable=SC2046,SC2086
    "${run[@]}" mencoder $args -noodml "$input" -o "$output" $(preset 320 240 320 180) \
        </dev/null >"$name.raw" 2>&1 || true
    tr '\r' '\n' <"$name.raw" | grep -v '^Pos:' | sed 's/[[:space:]]*$//' | grep -v '^$' \
        >"$out/$name.txt"
}

ffmpeg -v error -y -f lavfi -i testsrc=size=320x240:rate=25 -f lavfi -i sine=frequency=440 \
    -t 3 -c:v mpeg4 -c:a mp3 -shortest movie.avi
ffmpeg -v error -y -i movie.avi -c:v mpeg2video -c:a mp2 movie.mpg
head -c 4096 movie.avi >cut.avi
head -c 4096 movie.mpg >cut.mpg
echo "Shopping list: milk." >notes.avi
cp movie.avi locked.avi
chmod 000 locked.avi
mkdir -p ro noperm out
chmod 555 noperm
chmod 777 out

capture whole-movie movie.avi out/whole.avi "$lavf"
capture movie-gone "$tmp/gone.avi" out/gone.avi ""
capture movie-unreadable "$tmp/locked.avi" out/locked.avi "" 65534
capture damaged-cut-avi cut.avi out/cut.avi "$lavf"
capture damaged-cut-mpg cut.mpg out/cut-mpg.avi ""
capture damaged-text-avi notes.avi out/notes.avi ""
capture output-no-permission movie.avi "$tmp/noperm/out.avi" "$lavf" 65534
if mount -t tmpfs -o size=1m,ro tmpfs ro 2>/dev/null; then
    capture output-read-only movie.avi "$tmp/ro/out.avi" "$lavf"
    umount ro
else
    echo "capture.sh: output-read-only skipped, no mount allowed" >&2
fi
# Width=99999 as the run makes it, for the preset's encoder and for WMV8.
for codec in mpeg4 wmv2; do
    # shellcheck disable=SC2046,SC2086
    mencoder $lavf -noodml movie.avi -o out/wide.avi $(preset 99999 240 424 240 $codec) \
        </dev/null 2>&1 | tr '\r' '\n' | grep -v '^Pos:' | sed 's/[[:space:]]*$//' |
        grep -v '^$' >"$out/width-99999-$codec.txt" || true
done

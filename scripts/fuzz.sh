#!/usr/bin/env bash
# Builds the libFuzzer targets with clang in build-fuzz and runs each for a short,
# bounded time on a seed corpus made here. Fails on any crash, overrun or leak.
#   FUZZ_SECONDS (default 60): time per target.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
dir=${FUZZ_BUILD_DIR:-build-fuzz}
seconds=${FUZZ_SECONDS:-60}

CC=clang CXX=clang++ cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCLIPVANE_BUILD_FUZZERS=ON -DCLIPVANE_BUILD_TESTS=OFF >/dev/null
cmake --build "$dir" -j "$(nproc)" --target fuzz_avi_header

# Seeds: a sound AVI header with an audio stream, a video-only one, and a few
# near misses, written with printf so that nothing binary lives in the tree.
corpus="$dir/corpus/avi_header"
mkdir -p "$corpus"
le32() { printf "\\x$(printf %02x $(($1 & 255)))\\x$(printf %02x $((($1 >> 8) & 255)))\\x$(printf %02x $((($1 >> 16) & 255)))\\x$(printf %02x $((($1 >> 24) & 255)))"; }
avih() { printf 'avih'; le32 56; le32 40000; le32 0; le32 0; le32 16; le32 50; le32 0; le32 2; le32 0; le32 "$1"; le32 "$2"; printf '%016d' 0 | tr 0 '\0'; }
strh() { printf 'strh'; le32 56; printf '%s' "$1"; le32 0; le32 0; le32 0; le32 0; le32 "$2"; le32 "$3"; le32 "$4"; le32 "$5"; le32 0; le32 0; le32 0; le32 0; le32 0; }
list() { local body; body=$(mktemp); cat >"$body"; printf LIST; le32 $(($(stat -c %s "$body") + 4)); printf '%s' "$1"; cat "$body"; rm -f "$body"; }
riff() { local body; body=$(mktemp); cat >"$body"; printf RIFF; le32 $(($(stat -c %s "$body") + 4)); printf 'AVI '; cat "$body"; rm -f "$body"; }
{ { avih 320 240; strh vids 1 25 0 50 | list strl; strh auds 1 8000 0 28000 | list strl; } | list hdrl; } | riff >"$corpus/audio.avi"
{ { avih 720 576; strh vids 1 25 0 50 | list strl; } | list hdrl; } | riff >"$corpus/video.avi"
head -c 40 "$corpus/audio.avi" >"$corpus/cut.avi"
printf 'RIFF\xff\xff\xff\xffAVI LIST\xff\xff\xff\xffhdrl' >"$corpus/huge.avi"
printf 'RIFF\x04\x00\x00\x00WAVE' >"$corpus/wave.avi"

export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"
artifacts="$dir/artifacts/"
mkdir -p "$artifacts"
echo "=== fuzz_avi_header: ${seconds}s"
set +e
"$dir/bin/fuzz_avi_header" -max_total_time="$seconds" -max_len=4096 -timeout=10 -rss_limit_mb=2048 \
    -artifact_prefix="$artifacts" -print_final_stats=1 "$corpus" 2>&1 | tail -n 25
status=${PIPESTATUS[0]}
set -e
if [ "$status" -ne 0 ]; then
    echo "fuzz_avi_header failed (exit $status); reproducer in $root/$artifacts" >&2
    exit "$status"
fi
echo "=== fuzz_avi_header: no crash"

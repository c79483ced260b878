#!/usr/bin/env bash
# Output lengths: every input kind of the tests at 1, 2 and 10 s (160x120,
# 25 fps, with sound) and a Sampling run of each at 70 s, through the run with
# each preset; prints how much shorter than its input each output is
# (lengths_bench.cpp). The whole-movie check's tolerance comes from it.
#   BUILD_DIR (default build-bench), LENGTHS_BENCH_DIR (default
#   ${TMPDIR:-/tmp}/clipvane-bench-lengths: the movies and outputs).
set -euo pipefail
cd "$(dirname "$0")/.."
# shellcheck source=bench/bench-common.sh
. bench/bench-common.sh
build=${BUILD_DIR:-build-bench}
folder=${LENGTHS_BENCH_DIR:-${TMPDIR:-/tmp}/clipvane-bench-lengths}

bench_needs ffmpeg mencoder

bench_build lengths_bench

mkdir -p "$folder"
"$build/bin/lengths_bench" "$folder" 1 2 10 --sample 70

#!/usr/bin/env bash
# Job-list saving benchmark: 1,000 files added as Add Movies adds them, with the
# list saved as it changes and without, in the same run (joblist_bench.cpp).
#   BUILD_DIR (default build-bench), JOBLIST_BENCH_ROUNDS (default 5).
set -euo pipefail
cd "$(dirname "$0")/.."
# shellcheck source=bench/bench-common.sh
. bench/bench-common.sh
build=${BUILD_DIR:-build-bench}
rounds=${JOBLIST_BENCH_ROUNDS:-5}

bench_build joblist_bench

tmp=$(mktemp -d "${TMPDIR:-/tmp}/clipvane-bench-joblist-XXXXXX")
trap 'rm -rf "$tmp"' EXIT
"$build/bin/joblist_bench" "$tmp" "$rounds"

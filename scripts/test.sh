#!/usr/bin/env bash
# Installs what is missing, builds Clipvane and runs every test:
#   1. the normal build, all tests, and its Debian package built, installed (see
#      tests/install/test_package.sh) and started;
#   2. the README's first command, scripts/run.sh, building in build-run with
#      every test-only package hidden, and both programs started
#      (tests/install/test_run_build.sh);
#   3. an AddressSanitizer + UndefinedBehaviorSanitizer build, all tests;
#   4. a ThreadSanitizer build, the tests labelled "threads";
#   5. a short bounded run of the fuzz targets.
# Before building, every C++ file is checked against .clang-format.
# --quick runs step 1 only (for development).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

quick=0
[ "${1:-}" = "--quick" ] && quick=1

bash scripts/install-deps.sh --test

if command -v git >/dev/null && [ -d .git ]; then
    bash scripts/check-format.sh
fi

jobs=$(nproc)
export CTEST_OUTPUT_ON_FAILURE=1
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:strict_string_checks=1"
export LSAN_OPTIONS="suppressions=$root/tests/sanitizers/lsan.supp:print_suppressions=0"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
export TSAN_OPTIONS="suppressions=$root/tests/sanitizers/tsan.supp:halt_on_error=1:second_deadlock_stack=1"

build_and_test() {
    local dir=$1 label=$2
    shift 2
    echo "=== $dir: configure and build"
    cmake -S . -B "$dir" -G Ninja -DCLIPVANE_BUILD_TESTS=ON "$@"
    cmake --build "$dir" -j "$jobs"
    echo "=== $dir: tests"
    if [ -n "$label" ]; then
        ctest --test-dir "$dir" -L "$label" -j "$jobs" --timeout 300
    else
        ctest --test-dir "$dir" -j "$jobs" --timeout 300
    fi
}

build_and_test build "" -DCMAKE_BUILD_TYPE=RelWithDebInfo
echo "=== build: the Debian package"
bash tests/install/test_package.sh build
[ "$quick" = 1 ] && exit 0

echo "=== build-run: scripts/run.sh with the test-only packages hidden"
bash tests/install/test_run_build.sh build-run

build_and_test build-asan "" -DCMAKE_BUILD_TYPE=Debug -DCLIPVANE_SANITIZE=address,undefined
build_and_test build-tsan threads -DCMAKE_BUILD_TYPE=Debug -DCLIPVANE_SANITIZE=thread

if [ -x scripts/fuzz.sh ]; then
    bash scripts/fuzz.sh
fi

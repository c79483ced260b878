#!/usr/bin/env bash
# Builds Clipvane as the README's first command does, through scripts/run.sh
# itself, on what a machine with only the build and run packages offers: every
# installed test-only package (install-deps.sh --list-test-only) is hidden from
# pkg-config (PKG_CONFIG_LIBDIR is a folder of links to every other .pc file)
# and from CMake (its package folders are ignored and find_package of its
# packages' names is disabled), so that a CMake file outside the tests that asks
# for one of them fails here. Then clipvane-batch --version runs, and clipvane
# starts on the offscreen platform, stays up and ends on SIGTERM. scripts/test.sh
# runs it; ccache is used when present.
#   test_run_build.sh [build folder]   (default: build-run, made anew)
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=$(realpath -m -- "${1:-$root/build-run}")
app_pid=""
cleanup() {
    if [ -n "$app_pid" ]; then
        kill "$app_pid" 2>/dev/null || true
        wait "$app_pid" 2>/dev/null || true
    fi
}
trap cleanup EXIT
fail() {
    echo "FAIL: $*" >&2
    exit 1
}

hide=$build/hidden-test-packages
[ ! -e "$build" ] || [ -d "$hide" ] || fail "'$build' is not a folder of this check: give a new one"
rm -rf -- "$build"
mkdir -p "$hide/pkgconfig"

# What each installed test-only package gives pkg-config and CMake.
declare -A hidden_pc=() ignored=()
names=()
for pkg in $(bash "$root/scripts/install-deps.sh" --list-test-only); do
    dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed" || continue
    while IFS= read -r file; do
        base=${file##*/}
        case $file in
        */pkgconfig/*.pc) hidden_pc[$base]=1 ;;
        */cmake/*Config.cmake | */cmake/*-config.cmake | */cmake/*Targets.cmake)
            ignored[${file%/*}]=1
            case $base in
            *Config.cmake) names+=("${base%Config.cmake}") ;;
            *-config.cmake) names+=("${base%-config.cmake}") ;;
            esac
            ;;
        */Find*.cmake)
            base=${base#Find}
            names+=("${base%.cmake}")
            ;;
        esac
    done < <(dpkg -L "$pkg")
done

# pkg-config sees every other .pc file of its search path, in its order.
search=$(pkg-config --variable pc_path pkg-config)
[ -z "${PKG_CONFIG_PATH:-}" ] || search=$PKG_CONFIG_PATH:$search
IFS=: read -ra folders <<<"$search"
for folder in "${folders[@]}"; do
    for pc in "$folder"/*.pc; do
        base=${pc##*/}
        if [ -e "$pc" ] && [ -z "${hidden_pc[$base]+set}" ] && [ ! -e "$hide/pkgconfig/$base" ]; then
            ln -s "$pc" "$hide/pkgconfig/$base"
        fi
    done
done
export PKG_CONFIG_LIBDIR=$hide/pkgconfig
unset PKG_CONFIG_PATH

# CMake reads the rest from a toolchain file, which a new build folder takes
# from the environment: run.sh's own command line stays as it is.
{
    for folder in "${!ignored[@]}"; do
        printf 'list(APPEND CMAKE_IGNORE_PATH "%s")\n' "$folder"
    done
    for name in "${names[@]}"; do
        printf 'set(CMAKE_DISABLE_FIND_PACKAGE_%s TRUE)\n' "$name"
    done
} >"$hide/hide.cmake"
export CMAKE_TOOLCHAIN_FILE=$hide/hide.cmake
if command -v ccache >/dev/null; then
    export CMAKE_C_COMPILER_LAUNCHER=ccache CMAKE_CXX_COMPILER_LAUNCHER=ccache
fi
echo "run build: hidden ${!hidden_pc[*]} ${names[*]}"

CLIPVANE_RUN_BUILD_DIR=$build CLIPVANE_RUN_NO_START=1 bash "$root/scripts/run.sh" \
    >"$hide/run.log" 2>&1 ||
    { tail -n 40 "$hide/run.log" >&2; fail "scripts/run.sh does not build without the test packages"; }
grep -q -- '-- Tests and benchmarks not built: ' "$hide/run.log" ||
    fail "the tests were configured with their packages hidden, or no line said why not"

# Both programs start, with a home of their own and no session bus.
home=$hide/home
mkdir -p "$home/config" "$home/state" "$home/cache" "$home/data" "$home/runtime"
chmod 700 "$home/runtime"
export HOME=$home XDG_CONFIG_HOME=$home/config XDG_STATE_HOME=$home/state
export XDG_CACHE_HOME=$home/cache XDG_DATA_HOME=$home/data XDG_RUNTIME_DIR=$home/runtime
export DBUS_SESSION_BUS_ADDRESS=unix:path=$home/no-session-bus
"$build/bin/clipvane-batch" --version | grep -q '^clipvane-batch ' || fail "clipvane-batch --version"
QT_QPA_PLATFORM=offscreen CLIPVANE_VERSION_URL=http://127.0.0.1:1/v_encoder.html \
    "$build/bin/clipvane" >"$hide/clipvane.log" 2>&1 &
app_pid=$!
sleep 3
kill -0 "$app_pid" 2>/dev/null || { cat "$hide/clipvane.log" >&2; fail "clipvane ended at its start"; }
kill -TERM "$app_pid"
status=0
wait "$app_pid" || status=$?
app_pid=""
[ "$status" = 0 ] || { cat "$hide/clipvane.log" >&2; fail "clipvane ended with $status on SIGTERM"; }
echo "run build: ok ($(grep -- '-- Tests and benchmarks not built: ' "$hide/run.log" | cut -c4-))"

# Sourced by the benchmark scripts, from the checkout's top folder, with build set.
#   bench_needs TOOL ...    stops with a hint when a tool is not installed
#   bench_build TARGET      configures the build folder once, then builds TARGET

bench_needs() {
    local tool
    for tool in "$@"; do
        command -v "$tool" >/dev/null || {
            echo "$(basename "$0") needs $tool (bash scripts/install-deps.sh --test)" >&2
            exit 2
        }
    done
}

bench_build() {
    if [ ! -f "$build/build.ninja" ]; then
        cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
    fi
    cmake --build "$build" -j 2 --target "$1"
}

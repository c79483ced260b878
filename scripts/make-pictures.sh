#!/usr/bin/env bash
# Draws every picture of the program again into res/pictures (the files are
# committed; the normal build does not run the generator). Needs fonts-wine.
#   BUILD_DIR: the build folder to use (default: build)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${BUILD_DIR:-build}
[ -f "$build/build.ninja" ] || cmake -S . -B "$build" -G Ninja
cmake --build "$build" --target clipvane-make-pictures -j2
rm -f res/pictures/*.png
"$build/bin/clipvane-make-pictures" res/pictures
# The resource list is taken from the folder when CMake configures.
cmake "$build" >/dev/null
echo "make-pictures: $(ls res/pictures | wc -l) pictures in res/pictures"

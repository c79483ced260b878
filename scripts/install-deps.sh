#!/usr/bin/env bash
# Installs the Debian packages Clipvane needs to build, run and test.
# Packages that are already installed are skipped, so a second run is quick.
set -euo pipefail

BUILD_PKGS="cmake g++ ninja-build pkg-config qt6-base-dev qt6-base-dev-tools \
libavformat-dev libavcodec-dev libavutil-dev libcurl4-openssl-dev libfontconfig-dev libgtest-dev libuchardet-dev"
# RUN_PKGS is also what the Debian package depends on (cmake/Package.cmake reads
# this line; keep it on one line).
RUN_PKGS="mencoder mplayer ffmpeg fonts-liberation fonts-nanum fonts-ipafont-mincho fonts-ipafont-gothic fonts-wqy-microhei fonts-wine"
TEST_PKGS="ffmpeg xvfb xauth xdotool imagemagick dbus python3-dbusmock libcpp-httplib-dev \
clang libclang-rt-14-dev clang-format appstream desktop-file-utils dpkg-dev file parallel shellcheck"

want="$BUILD_PKGS $RUN_PKGS"
if [ "${1:-}" = "--test" ]; then
    want="$want $TEST_PKGS"
fi

missing=()
for pkg in $want; do
    if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$pkg")
    fi
done

if [ ${#missing[@]} -eq 0 ]; then
    echo "install-deps: all packages present"
    exit 0
fi

SUDO=""
if [ "$(id -u)" -ne 0 ]; then
    SUDO="sudo"
fi
echo "install-deps: installing ${missing[*]}"
$SUDO apt-get update
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y --no-install-recommends "${missing[@]}"

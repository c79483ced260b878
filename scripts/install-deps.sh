#!/usr/bin/env bash
# Installs the Debian packages Clipvane needs to build and run it, and with
# --test those its tests need too. Packages that are already installed are
# skipped, so a second run is quick.
#   install-deps.sh --list-test-only   prints the packages only the tests need
#                                      (tests/install/test_run_build.sh hides them)
set -euo pipefail

BUILD_PKGS="cmake g++ ninja-build pkg-config qt6-base-dev qt6-base-dev-tools \
libavformat-dev libavcodec-dev libavutil-dev libcurl4-openssl-dev libfontconfig-dev libuchardet-dev"
# RUN_PKGS is also what the Debian package depends on (cmake/Package.cmake reads
# this line; keep it on one line).
RUN_PKGS="mencoder mplayer ffmpeg fonts-liberation fonts-nanum fonts-ipafont-mincho fonts-ipafont-gothic fonts-wqy-microhei fonts-wine"
# The build finds libgtest-dev, libgmock-dev and libcpp-httplib-dev only for the
# tests (cmake/TestPackages.cmake).
TEST_PKGS="ffmpeg xvfb xauth xdotool imagemagick dbus python3-dbusmock \
libgtest-dev libgmock-dev libcpp-httplib-dev clang libclang-rt-14-dev clang-format appstream \
desktop-file-utils dpkg-dev file parallel shellcheck"

want="$BUILD_PKGS $RUN_PKGS"
case "${1:-}" in
--test)
    want="$want $TEST_PKGS"
    ;;
--list-test-only)
    for pkg in $TEST_PKGS; do
        case " $BUILD_PKGS $RUN_PKGS " in
        *" $pkg "*) ;;
        *) echo "$pkg" ;;
        esac
    done
    exit 0
    ;;
esac

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

#!/usr/bin/env bash
# Builds the Debian package of a build and checks it as a user gets it: the
# packages it depends on, that apt installs it, the desktop entry that puts
# Clipvane in the application menu, the AppStream metainfo (appstreamcli
# validate), and that the installed program starts and shows its window on a
# private Xvfb display. Only on CI (CLIPVANE_CI=1) and as root is the package
# really installed (apt-get install ./clipvane_*.deb); elsewhere apt only
# simulates the install and the package is unpacked into a temporary root.
#   test_package.sh <build folder>
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=$(cd "$1" && pwd)
tmp=$(mktemp -d "${TMPDIR:-/tmp}/clipvane-package-XXXXXX")
app_pid=""
. "$root/scripts/xvfb-session.sh"
cleanup() {
    if [ -n "$app_pid" ]; then
        kill "$app_pid" 2>/dev/null || true
        wait "$app_pid" 2>/dev/null || true
    fi
    xvfb_stop
    rm -rf "$tmp"
}
trap cleanup EXIT
fail() {
    echo "FAIL: $*" >&2
    exit 1
}

cpack --config "$build/CPackConfig.cmake" -G DEB -B "$tmp/out" >"$tmp/cpack.log" ||
    { cat "$tmp/cpack.log" >&2; fail "cpack could not build the package"; }
deb=$(echo "$tmp"/out/clipvane_*.deb)
[ -f "$deb" ] || fail "no clipvane_*.deb"

# The libraries it links, and the packages install-deps.sh names to run it.
depends=$(dpkg-deb -f "$deb" Depends)
run_packages=$(sed -n 's/^RUN_PKGS="\(.*\)"$/\1/p' "$root/scripts/install-deps.sh")
[ -n "$run_packages" ] || fail "no RUN_PKGS in install-deps.sh"
for pkg in $run_packages qt6-qpa-plugins libqt6widgets6 libqt6dbus6 libavformat59 libcurl4 libuchardet0; do
    grep -qE "(^|, )$pkg( |,|$)" <<<"$depends" || fail "the package does not depend on $pkg: $depends"
done

if [ "$(id -u)" -eq 0 ] && [ "${CLIPVANE_CI:-}" = 1 ]; then
    DEBIAN_FRONTEND=noninteractive apt-get install -y "$deb"
    installed=""
else
    apt-get install -s "$deb" >"$tmp/apt.log" 2>&1 ||
        { cat "$tmp/apt.log" >&2; fail "apt would not install the package"; }
    dpkg-deb -x "$deb" "$tmp/root"
    installed="$tmp/root"
fi

dpkg-deb -c "$deb" >"$tmp/contents"
grep -q ' \./usr/bin/clipvane-batch -> ' "$tmp/contents" || fail "the package has no /usr/bin/clipvane-batch"
[ -x "$installed/usr/lib/clipvane/clipvane-batch" ] ||
    fail "the package has no clipvane-batch beside the program"
if [ -z "$installed" ]; then
    clipvane-batch --version | grep -q '^clipvane-batch ' || fail "the installed clipvane-batch does not run"
fi

desktop="$installed/usr/share/applications/clipvane.desktop"
[ -f "$desktop" ] || fail "no desktop entry in the application menu's folder"
grep -qx 'Exec="/usr/bin/clipvane" %F' "$desktop" || fail "the desktop entry runs: $(grep '^Exec=' "$desktop")"
desktop-file-validate "$desktop" >"$tmp/desktop.log" 2>&1 ||
    { cat "$tmp/desktop.log" >&2; fail "the desktop entry does not validate"; }
[ -f "$installed/usr/share/icons/hicolor/48x48/apps/clipvane.png" ] || fail "no menu icon"
# The package's own file: an installed system holds other packages' metainfo too.
metainfo=$(dpkg-deb -c "$deb" | sed -n 's|.*\./usr/share/metainfo/\(.*\.metainfo\.xml\)$|\1|p')
metainfo="$installed/usr/share/metainfo/${metainfo:-none}"
[ -f "$metainfo" ] || fail "no AppStream metainfo"
appstreamcli validate --no-net "$metainfo" >"$tmp/validate.log" 2>&1 ||
    { cat "$tmp/validate.log" >&2; fail "the metainfo does not validate"; }
[ -x "$installed/usr/lib/clipvane/tools/mencoder" ] || fail "tools/mencoder does not lead to the encoder"

xvfb_start 1024x768
CLIPVANE_VERSION_URL=http://127.0.0.1:1/v_encoder.html "$installed/usr/bin/clipvane" \
    >"$tmp/clipvane.log" 2>&1 &
app_pid=$!
xvfb_find_window "Tolva Clipvane" >/dev/null ||
    { cat "$tmp/clipvane.log" >&2; fail "the installed program showed no window"; }
[ "$(readlink -f "/proc/$app_pid/exe")" = "$(readlink -f "$installed/usr/lib/clipvane/clipvane")" ] ||
    fail "the program runs from $(readlink "/proc/$app_pid/exe")"
echo "package: ok ($(basename "$deb"))"

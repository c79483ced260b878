#!/usr/bin/env bash
# Installs the build into a temporary prefix and checks what lands there: the
# program with its tools/ links beside it, the link in bin/, the desktop entry
# (which must validate), the icons and the AppStream metainfo (which must
# too). Then starts the installed program through bin/clipvane (on the
# offscreen platform, with a temporary home) and checks that its own folder,
# where it looks for tools/, is the installed one.
#   test_install.sh <build folder>
set -euo pipefail
build=$1
tmp=$(mktemp -d "${TMPDIR:-/tmp}/clipvane-install-XXXXXX")
pid=""
cleanup() {
    if [ -n "$pid" ]; then
        kill "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    fi
    rm -rf "$tmp"
}
trap cleanup EXIT
fail() {
    echo "FAIL: $*" >&2
    exit 1
}

prefix="$tmp/prefix with space"
cmake --install "$build" --prefix "$prefix" >/dev/null

app="$prefix/lib/clipvane/clipvane"
[ -x "$app" ] || fail "no program at $app"
for tool in mencoder mplayer ffmpeg; do
    [ -x "$prefix/lib/clipvane/tools/$tool" ] || fail "tools/$tool is missing or not runnable"
    [ "$(readlink -f "$prefix/lib/clipvane/tools/$tool")" = "$(readlink -f "$(command -v $tool)")" ] ||
        fail "tools/$tool does not lead to the system's $tool"
done
[ "$(readlink -f "$prefix/bin/clipvane")" = "$(readlink -f "$app")" ] || fail "bin/clipvane does not lead to the program"
[ "$(readlink -f "$prefix/bin/clipvane-batch")" = "$(readlink -f "$prefix/lib/clipvane/clipvane-batch")" ] ||
    fail "bin/clipvane-batch does not lead to the batch command"
desktop="$prefix/share/applications/clipvane.desktop"
[ -f "$desktop" ] || fail "no desktop entry"
grep -qx '\[Desktop Entry\]' "$desktop" || fail "desktop entry without its group"
# Files and folders from "Open With" come as %F; the MIME types are checked
# against the kinds Clipvane reads by test_jobs_folders.
grep -qx "Exec=\"$prefix/bin/clipvane\" %F" "$desktop" || fail "desktop entry runs: $(grep '^Exec=' "$desktop")"
grep -q '^MimeType=.*video/mp4;' "$desktop" || fail "desktop entry without its MIME types"
desktop-file-validate "$desktop" >"$tmp/desktop.log" 2>&1 ||
    { cat "$tmp/desktop.log" >&2; fail "the desktop entry does not validate"; }
grep -qx 'Icon=clipvane' "$desktop" || fail "desktop entry without the icon"
for size in 16 32 48 64 128 256; do
    icon="$prefix/share/icons/hicolor/${size}x${size}/apps/clipvane.png"
    [ -f "$icon" ] || fail "no ${size}x${size} icon"
done
metainfo=$(echo "$prefix"/share/metainfo/*.metainfo.xml)
[ -f "$metainfo" ] || fail "no AppStream metainfo beside the desktop entry"
grep -q '<launchable type="desktop-id">clipvane.desktop</launchable>' "$metainfo" ||
    fail "the metainfo does not name the desktop entry"
appstreamcli validate --no-net "$metainfo" >"$tmp/validate.log" 2>&1 ||
    { cat "$tmp/validate.log" >&2; fail "the metainfo does not validate"; }

mkdir -p "$tmp/home" "$tmp/runtime" && chmod 700 "$tmp/runtime"
HOME="$tmp/home" XDG_CONFIG_HOME="$tmp/home/.config" XDG_CACHE_HOME="$tmp/home/.cache" \
    XDG_RUNTIME_DIR="$tmp/runtime" QT_QPA_PLATFORM=offscreen \
    DBUS_SESSION_BUS_ADDRESS="unix:path=$tmp/no-session-bus" \
    CLIPVANE_VERSION_URL=http://127.0.0.1:1/v_encoder.html \
    "$prefix/bin/clipvane" >"$tmp/log" 2>&1 &
pid=$!
# Up once the first-run setup has written the settings.
for _ in $(seq 1 100); do
    [ -f "$tmp/home/.config/Tolva/Clipvane.conf" ] && break
    kill -0 "$pid" 2>/dev/null || { cat "$tmp/log" >&2; fail "the installed program ended at once"; }
    sleep 0.1
done
[ -f "$tmp/home/.config/Tolva/Clipvane.conf" ] || fail "the installed program did not come up"
[ "$(readlink -f "/proc/$pid/exe")" = "$(readlink -f "$app")" ] || fail "the program runs from $(readlink "/proc/$pid/exe")"

# The installed batch command finds its ffmpeg through tools/ and encodes a movie
# whole, with no display.
ffmpeg -v error -nostdin -f lavfi -i testsrc2=size=160x120:rate=25:duration=1 -c:v libx264 "$tmp/in.mkv"
env -u DISPLAY -u WAYLAND_DISPLAY HOME="$tmp/home" XDG_CONFIG_HOME="$tmp/home/.config" \
    XDG_STATE_HOME="$tmp/home/.state" "$prefix/bin/clipvane-batch" --preset "Phone and Tablet" \
    --output "$tmp/out" "$tmp/in.mkv" >"$tmp/batch.log" 2>&1 ||
    { cat "$tmp/batch.log" >&2; fail "the installed clipvane-batch did not encode"; }
grep -q "/tools/ffmpeg" "$tmp"/home/.state/Tolva/Clipvane/logs/* || fail "the batch command did not use tools/ffmpeg"
ffmpeg -v error -nostdin -i "$tmp/out/[Tolva]in.mp4" -f null - || fail "the batch command's output does not decode"
echo "install layout: ok"

# Sourced by the scripts that drive the real Clipvane window under Xvfb with real
# mouse and keyboard input (xdotool). Needs scripts/xvfb-session.sh and the
# variables root (the checkout) and build (the build folder, relative to root).
#   clipvane_start_xvfb               Xvfb with private folders; cleans up at exit
#   clipvane_start [VAR=value ...] [-- FILE ...]
#                                     starts Clipvane (extra environment, then its
#                                     own arguments) and sets window to its window id
#   clipvane_click X Y                clicks at a place in window coordinates
#   clipvane_add_movie PATH           Add Movies, types PATH into the file dialog
#   clipvane_press_make               Make
# Places in window coordinates are the form's place in the frame (3, 39) plus
# the place on the form.

# shellcheck source=scripts/xvfb-session.sh
. "$root/scripts/xvfb-session.sh"

clipvane_build() {
    bash "$root/scripts/install-deps.sh" --test
    [ -f "$root/$build/build.ninja" ] ||
        cmake -S "$root" -B "$root/$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
    cmake --build "$root/$build" --target clipvane -j2
}

app_pid=""
clipvane_cleanup() {
    if [ -n "$app_pid" ]; then
        # The encoder Clipvane started, then Clipvane itself; both by process id.
        pkill -TERM -P "$app_pid" 2>/dev/null || true
        kill "$app_pid" 2>/dev/null || true
        wait "$app_pid" 2>/dev/null || true
    fi
    xvfb_stop
}

clipvane_start_xvfb() {
    trap clipvane_cleanup EXIT
    xvfb_start 1024x768
}

clipvane_start() {
    local environment=()
    while [ $# -gt 0 ] && [ "$1" != -- ]; do
        environment+=("$1")
        shift
    done
    [ $# -gt 0 ] && shift
    # No update server: the check is refused at once instead of waiting on the network.
    env CLIPVANE_VERSION_URL=http://127.0.0.1:1/v_encoder.html "${environment[@]}" \
        "$root/$build/bin/clipvane" "$@" >"$XVFB_TMP/clipvane.log" 2>&1 &
    app_pid=$!
    if ! window=$(xvfb_find_window "Tolva Clipvane"); then
        echo "$(basename "$0"): the main window did not appear" >&2
        cat "$XVFB_TMP/clipvane.log" >&2
        exit 1
    fi
    sleep 1
}

clipvane_click() {
    xdotool mousemove --window "$window" "$1" "$2"
    sleep 0.2
    xdotool click 1
}

clipvane_add_movie() {
    clipvane_click 327 257
    local dialog
    if ! dialog=$(xvfb_find_window "Add Movie Files"); then
        echo "$(basename "$0"): the Add Movie Files dialog did not appear" >&2
        exit 1
    fi
    xdotool windowfocus --sync "$dialog"
    sleep 0.5
    # The file name field has the focus: type the movie's path and confirm.
    xdotool type --delay 5 "$1"
    xdotool key Return
    sleep 1.5
}

clipvane_press_make() {
    clipvane_click 588 512
}

# Sourced by scripts that need a real X display without touching the user's:
#   xvfb_start WIDTHxHEIGHT   starts Xvfb on a free display number, with a fresh
#                             temporary HOME and XDG folders and no session bus;
#                             sets DISPLAY
#   xvfb_find_window TITLE    prints the id of the visible window with exactly
#                             that title, waiting up to 20 s; fails otherwise
#   xvfb_stop                 stops what xvfb_start started, removes the folders
# Only processes started here are stopped, by their process ids.

xvfb_start() {
    local size=$1
    XVFB_TMP=$(mktemp -d "${TMPDIR:-/tmp}/clipvane-xvfb-XXXXXX")
    mkdir -p "$XVFB_TMP/home" "$XVFB_TMP/config" "$XVFB_TMP/cache" "$XVFB_TMP/data" \
        "$XVFB_TMP/state" "$XVFB_TMP/runtime"
    chmod 700 "$XVFB_TMP/runtime"
    export HOME="$XVFB_TMP/home" XDG_CONFIG_HOME="$XVFB_TMP/config" XDG_CACHE_HOME="$XVFB_TMP/cache"
    export XDG_DATA_HOME="$XVFB_TMP/data" XDG_STATE_HOME="$XVFB_TMP/state"
    export XDG_RUNTIME_DIR="$XVFB_TMP/runtime"
    # No session bus: a Clipvane started here must not meet (and hand its files
    # to) one on the user's own desktop; it uses its socket instead.
    export DBUS_SESSION_BUS_ADDRESS="unix:path=$XVFB_TMP/no-session-bus"
    # A display number that no other server holds, away from the low numbers
    # that other programs pick by habit; tried again if another server takes
    # it first. Ready once a client can talk to it.
    local attempt n
    for attempt in 1 2 3 4 5 6 7 8; do
        n=$((200 + RANDOM % 700))
        [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ] && continue
        # -noreset: the server would otherwise reset whenever its last client
        # leaves, and a program connecting during the reset fails.
        Xvfb ":$n" -screen 0 "${size}x24" -nolisten tcp -noreset >"$XVFB_TMP/xvfb.log" 2>&1 &
        XVFB_PID=$!
        local i
        for i in $(seq 1 100); do
            kill -0 "$XVFB_PID" 2>/dev/null || break
            if DISPLAY=":$n" xdotool getdisplaygeometry >/dev/null 2>&1; then
                export DISPLAY=":$n" QT_QPA_PLATFORM=xcb
                return 0
            fi
            sleep 0.1
        done
        kill "$XVFB_PID" 2>/dev/null || true
        wait "$XVFB_PID" 2>/dev/null || true
        XVFB_PID=""
    done
    echo "xvfb-session: Xvfb did not start" >&2
    cat "$XVFB_TMP/xvfb.log" >&2
    return 1
}

xvfb_find_window() {
    local title=$1 id="" i
    for i in $(seq 1 200); do
        id=$(xdotool search --onlyvisible --name "^${title}\$" 2>/dev/null | head -n 1 || true)
        [ -n "$id" ] && break
        sleep 0.1
    done
    [ -n "$id" ] || return 1
    echo "$id"
}

xvfb_stop() {
    if [ -n "${XVFB_PID:-}" ]; then
        kill "$XVFB_PID" 2>/dev/null || true
        wait "$XVFB_PID" 2>/dev/null || true
        XVFB_PID=""
    fi
    if [ -n "${XVFB_TMP:-}" ]; then
        rm -rf "$XVFB_TMP"
        XVFB_TMP=""
    fi
}

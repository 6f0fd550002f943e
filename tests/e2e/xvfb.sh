# Shared by the end-to-end scripts (sourced, not run): a scratch folder $work that
# goes away at exit with every process in $pids, and a virtual X display.
#   start_display      starts Xvfb and exports DISPLAY (exits 77 where it cannot run)
#   key KEYS...        presses keys in the focused window, then lets it settle

if ! command -v Xvfb >/dev/null || ! command -v xdotool >/dev/null; then
    echo "SKIP: Xvfb and xdotool are needed for the end-to-end test"
    exit 77
fi

work="$(mktemp -d)"
pids=()
cleanup() {
    for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

start_display() {
    Xvfb -displayfd 5 -screen 0 1024x768x24 -nolisten tcp 5>"$work/display" 2>"$work/xvfb.log" &
    pids+=($!)
    for _ in $(seq 50); do [ -s "$work/display" ] && break; sleep 0.1; done
    [ -s "$work/display" ] || { echo "SKIP: Xvfb did not start"; cat "$work/xvfb.log"; exit 77; }
    export DISPLAY=":$(cat "$work/display")"
    for _ in $(seq 50); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done # accepting clients
}

key() {
    xdotool key --clearmodifiers "$@"
    sleep 0.3
}

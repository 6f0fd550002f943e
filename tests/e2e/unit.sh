# Shared by the end-to-end scripts that talk to the virtual unit (sourced after
# xvfb.sh): the unit on a pseudo-terminal with commands through a pipe (fd 4), its
# log in $work/unit.log, and the editor's settings pointing COM1 at it.
#   start_unit UNIT   starts it and writes $work/cantavel.ini
#   wait_log PATTERN COUNT [SECONDS]   waits for COUNT matching lines in the log
#   fail MESSAGE      prints both logs and exits 1

fail() {
    echo "FAIL: $*"
    echo "--- unit log"; cat "$work/unit.log" || true
    echo "--- editor log"; cat "$work/editor.log" || true
    exit 1
}

wait_log() {
    local pattern="$1" count="$2" limit="${3:-10}" i=0
    while [ "$(grep -c -- "$pattern" "$work/unit.log" || true)" -lt "$count" ]; do
        sleep 0.1
        i=$((i + 1))
        [ "$i" -lt $((limit * 10)) ] || fail "no '$pattern' (x$count) from the unit"
    done
}

start_unit() {
    mkfifo "$work/unit.in"
    "$1" --quiet --link "$work/ttyUNIT" <"$work/unit.in" >"$work/unit.log" 2>&1 &
    pids+=($!)
    exec 4>"$work/unit.in"
    wait_log "^port: " 1 5
    cat >"$work/cantavel.ini" <<INI
[Config]
COM=COM1
index=01

[Ports]
COM1=$work/ttyUNIT
INI
}

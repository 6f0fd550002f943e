#!/usr/bin/env bash
# Start-up of the real editor under Xvfb: time from process start to its window being
# mapped, and peak memory, over N starts (median); then the CPU the running editor
# uses in Link mode with nothing happening, against the virtual unit.
#   bench/startup_bench.sh [build-dir] [starts]
set -euo pipefail
build="$(cd "${1:-build}" && pwd)"
starts="${2:-10}"
work="$(mktemp -d)"
pids=()
trap 'for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done; rm -rf "$work"' EXIT

cp "$build/cantavel" "$work/cantavel"
: >"$work/cantavel.ini" # a portable copy: your own settings are not touched
mkdir -m 700 "$work/run"
export XDG_RUNTIME_DIR="$work/run"
export CANTAVEL_INSTANCE="startup bench $$" # beside any editor already running
Xvfb -displayfd 5 -screen 0 1024x768x24 -nolisten tcp 5>"$work/display" 2>/dev/null &
pids+=($!)
for _ in $(seq 50); do [ -s "$work/display" ] && break; sleep 0.1; done
export DISPLAY=":$(cat "$work/display")"
for _ in $(seq 50); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done # accepting clients

# One X client watches for top-level windows being mapped, so that polling costs no
# X connections (a storm of them makes the server refuse new clients).
xev -root -event substructure >"$work/xev.log" 2>/dev/null &
pids+=($!)
sleep 0.5
# Time from process start to its first top-level window being mapped, and its peak
# memory a second later; the editor and the bare window take turns.
measure() { # program -> "ms kib"
    local before t0 t1 pid
    before=$(grep -c MapNotify "$work/xev.log" || true)
    t0=$(date +%s%N)
    QT_QPA_PLATFORM=xcb "$1" >"$work/editor.log" 2>&1 &
    pid=$!
    until [ "$(grep -c MapNotify "$work/xev.log" || true)" -gt "$before" ]; do
        kill -0 "$pid" 2>/dev/null || { echo "$1 ended early:" >&2; cat "$work/editor.log" >&2; exit 1; }
        sleep 0.002
    done
    t1=$(date +%s%N)
    sleep 1
    local kib
    kib="$(awk '/VmHWM/ {print $2}' "/proc/$pid/status")"
    kill "$pid"
    wait "$pid" 2>/dev/null || true
    echo "$(((t1 - t0) / 1000000)) $kib"
}
ms=()
kib=()
bare=()
for i in $(seq "$starts"); do
    read -r t k < <(measure "$work/cantavel")
    ms+=("$t")
    kib+=("$k")
    if [ -x "$build/cantavel-bare-window" ]; then
        read -r t k < <(measure "$build/cantavel-bare-window")
        bare+=("$t")
    fi
done
median() { printf '%s\n' "$@" | sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }
echo "start-up to mapped window: median $(median "${ms[@]}") ms over $starts starts (${ms[*]})"
if ((${#bare[@]})); then
    echo "bare Qt window, as many controls: median $(median "${bare[@]}") ms (${bare[*]})"
    awk -v a="$(median "${ms[@]}")" -v b="$(median "${bare[@]}")" \
        'BEGIN {printf "ratio editor / bare window:  %.2fx\n", a / b}'
fi
echo "peak memory (VmHWM):       median $(($(median "${kib[@]}") / 1024)) MiB"

# Idle in Link mode, with the virtual unit on the line.
"$build/cantavel-unit" --quiet --link "$work/ttyUNIT" </dev/null >"$work/unit.log" 2>&1 &
pids+=($!)
for _ in $(seq 50); do [ -L "$work/ttyUNIT" ] && break; sleep 0.1; done
printf '[Config]\nCOM=COM1\nindex=1\n\n[Ports]\nCOM1=%s\n' "$work/ttyUNIT" >"$work/cantavel.ini"
QT_QPA_PLATFORM=xcb "$work/cantavel" >/dev/null 2>&1 &
pid=$!
pids+=($pid)
window="$(xdotool search --sync --onlyvisible --pid "$pid" | head -n 1)"
xdotool windowfocus --sync "$window"
xdotool key alt+d l
sleep 1
grep -q "mode upload Default" "$work/unit.log" || { echo "Link did not come on"; exit 1; }
ticks() { awk '{print $14 + $15}' "/proc/$pid/stat"; }
hz=$(getconf CLK_TCK)
c0=$(ticks)
sleep 10
c1=$(ticks)
echo "idle in Link mode:         $((c1 - c0)) ticks of 1/$hz s in 10 s ($(awk -v t=$((c1 - c0)) -v h="$hz" 'BEGIN {printf "%.3f", 100 * t / h / 10}')% of a core)"

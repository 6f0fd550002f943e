#!/usr/bin/env bash
# The real editor in a real X server (Xvfb), driven only through the keyboard with
# xdotool, talking to the virtual unit over a pseudo-terminal. Checks what the unit
# decoded and what the editor wrote.
#   editor_e2e.sh EDITOR UNIT
# Exits 77 (skipped) where Xvfb cannot run.
set -euo pipefail
editor="$1"
unit="$2"

# shellcheck source=xvfb.sh
source "$(dirname "${BASH_SOURCE[0]}")/xvfb.sh"

# shellcheck source=unit.sh
source "$(dirname "${BASH_SOURCE[0]}")/unit.sh"

# A copy of the editor with its settings beside it (the file is written below).
cp "$editor" "$work/cantavel"
mkdir -m 700 "$work/run"
export XDG_RUNTIME_DIR="$work/run"
# A single-instance guard of its own, beside any editor already running.
export CANTAVEL_INSTANCE="end-to-end $$"

# The virtual unit, with commands through a pipe.
start_unit "$unit"

start_display

QT_QPA_PLATFORM=xcb "$work/cantavel" >"$work/editor.log" 2>&1 &
editor_pid=$!
pids+=($editor_pid)
window="$(timeout 20 xdotool search --sync --name '^Digital Cantavel Processor v1.5$' | head -n 1)" ||
    fail "no editor window"
xdotool windowfocus --sync "$window"
sleep 0.5

# Link on: Device > Link. The "Default" mode record goes out.
key alt+d
key l
wait_log "^mode upload Default (index 6): 55 04 20 05 64" 1

# The Delay slider: Tab along the focus chain to it, then one arrow key.
for _ in $(seq "${CANTAVEL_E2E_TABS_TO_DELAY:-25}"); do xdotool key Tab; done
sleep 0.2
key Right
wait_log "^live " 1
[ "$(grep -c '^live ' "$work/unit.log")" -eq 1 ] || fail "more than one live command"
grep -q '^live 0 echoDelay = 181$' "$work/unit.log" || fail "the Delay change did not arrive as 181"

# Upload All: Device > Upload All; seven frames in slot order.
key alt+d
key a
wait_log "upload" 8 15
order="$(grep 'upload' "$work/unit.log" | tail -n 7 | sed -E 's/^(mode|preset) upload (.*) \(index.*/\2/' | tr '\n' ',')"
[ "$order" = "Default,slot 1,slot 2,slot 3,slot 4,Mode A,Mode B," ] || fail "upload order: $order"

# Save As: Ctrl+Shift+S, a file name, Enter.
key ctrl+shift+s
sleep 0.5
xdotool type --delay 20 "$work/saved.cfg"
key Return
for _ in $(seq 50); do [ -s "$work/saved.cfg" ] && break; sleep 0.1; done
[ "$(stat -c %s "$work/saved.cfg" 2>/dev/null || echo 0)" -eq 294 ] || fail "Save As wrote no 294-byte file"
# The unit received everything the record holds: its image must be the file's.
echo "image $work/unit.img" >&4
wait_log "^image written" 1
cmp "$work/saved.cfg" "$work/unit.img" || fail "the saved file differs from what the unit received"

# Exit: File > Exit. The settings are written, the Ports section kept. (With no
# window manager to hand focus back after the file dialog, it is given back here.)
xdotool windowfocus --sync "$window"
sleep 0.3
key alt+f
key x
for _ in $(seq 50); do kill -0 "$editor_pid" 2>/dev/null || break; sleep 0.1; done
! kill -0 "$editor_pid" 2>/dev/null || fail "the editor did not exit"
grep -q '^COM1=' "$work/cantavel.ini" || fail "the Ports section was lost"
grep -q '^index=1$' "$work/cantavel.ini" || fail "no index in the settings"
echo "1 passed, 0 failed"

#!/usr/bin/env bash
# The preset library in the real editor under Xvfb: a folder of generated presets is
# added and scanned, a search by value finds one slot, the slot is dragged with the
# mouse onto a tab of the editor, the change is saved, undone and saved again.
#   library_e2e.sh EDITOR CFG
# Exits 77 (skipped) where Xvfb cannot run.
set -euo pipefail
editor="$1"
cfg="$2"

# shellcheck source=xvfb.sh
source "$(dirname "${BASH_SOURCE[0]}")/xvfb.sh"

fail() {
    echo "FAIL: $*"
    echo "--- editor log"; cat "$work/editor.log" || true
    [ -n "${DISPLAY:-}" ] && xwininfo -root -tree 2>/dev/null | grep -i cantavel || true
    exit 1
}

cp "$editor" "$work/cantavel"
: >"$work/cantavel.ini" # a portable copy: its settings stay in the scratch folder
mkdir -m 700 "$work/run"
export XDG_RUNTIME_DIR="$work/run" HOME="$work/home" XDG_DATA_HOME="$work/data"
export CANTAVEL_INSTANCE="library end-to-end $$"
mkdir -p "$HOME"

# Forty presets with echo delays under 200, one among them with slot 3 at 240.
presets="$work/presets"
mkdir -p "$presets/set-a" "$presets/set-b"
for i in $(seq 1 40); do
    file="$presets/set-$([ $((i % 2)) -eq 0 ] && echo a || echo b)/song-$i.cfg"
    "$cfg" new "$file"
    "$cfg" set "$file" "default.echoDelay=$((20 + i * 4))" "3.echoDelay=$((10 + i))" \
        "mode-a.keyIndex=#+$((i % 5 + 1))" >/dev/null
done
"$cfg" set "$presets/set-b/song-7.cfg" 3.echoDelay=240 3.echoLevel=77 3.keyIndex=#+3 \
    3.micTreble=-4 >/dev/null
"$cfg" library add "$presets"
"$cfg" library remove "$HOME/Documents/Cantavel" # only the generated folder

"$cfg" new "$work/edit.cfg"
cp "$work/edit.cfg" "$work/fresh.cfg"

start_display
QT_QPA_PLATFORM=xcb "$work/cantavel" "$work/edit.cfg" >"$work/editor.log" 2>&1 &
pids+=($!)
window="$(timeout 20 xdotool search --sync --name '^Digital Cantavel Processor v1.5' | head -n 1)" ||
    fail "no editor window"
xdotool windowmove --sync "$window" 320 0
xdotool windowfocus --sync "$window"
sleep 0.5

# View > Library (Ctrl+L): the window opens and scans on its own thread.
key ctrl+l
library="$(timeout 20 xdotool search --sync --name '^Library' | head -n 1)" || fail "no library window"
xdotool windowsize --sync "$library" 620 300
xdotool windowmove --sync "$library" 0 460
xdotool windowfocus --sync "$library"
sleep 1
xdotool type --delay 40 'delay>=200'
sleep 1
# CANTAVEL_E2E_SHOTS=DIR keeps a picture of the screen here.
if [ -n "${CANTAVEL_E2E_SHOTS:-}" ]; then
    "$(dirname "$editor")/cantavel-screenshots" --grab "$(xwininfo -root | awk '/Window id/ {print $4}')" \
        "$CANTAVEL_E2E_SHOTS/library-e2e.png"
fi

# The one slot found is the second row of the tree (its file is the first): drag it
# onto the editor's tab "2".
eval "$(xdotool getwindowgeometry --shell "$library")"
lib_x=$X lib_y=$Y
eval "$(xdotool getwindowgeometry --shell "$window")"
win_x=$X win_y=$Y
row_x=$((lib_x + ${CANTAVEL_E2E_ROW_X:-70}))
row_y=$((lib_y + ${CANTAVEL_E2E_ROW_Y:-78}))
tab_x=$((win_x + ${CANTAVEL_E2E_TAB_X:-115}))
tab_y=$((win_y + ${CANTAVEL_E2E_TAB_Y:-34}))
xdotool mousemove --sync "$row_x" "$row_y" click 1
sleep 0.3
xdotool mousedown 1
for step in 1 2 3 4 5 6 7 8; do
    xdotool mousemove --sync $((row_x + (tab_x - row_x) * step / 8)) $((row_y + (tab_y - row_y) * step / 8))
    sleep 0.1
done
sleep 0.3
xdotool mouseup 1
sleep 0.5

xdotool windowfocus --sync "$window"
key ctrl+s
shown="$("$cfg" show "$work/edit.cfg" --slot 2)"
echo "$shown" | grep -Eq '^2\.echoDelay +Delay +240 ' || fail "slot 2 did not take the dragged slot: $shown"
echo "$shown" | grep -Eq '^2\.keyIndex +Key +#\+3 ' || fail "slot 2 has not the dragged key: $shown"
echo "$shown" | grep -Eq '^2\.micTreble +Mic Treble +-4 ' || fail "slot 2 has not the dragged treble"
"$cfg" diff "$work/fresh.cfg" "$work/edit.cfg" | grep -v '^2\.' | grep -q . &&
    fail "more than slot 2 changed: $("$cfg" diff "$work/fresh.cfg" "$work/edit.cfg")"

# One step to undo: the file is again what it was, byte for byte.
key ctrl+z
key ctrl+s
cmp "$work/fresh.cfg" "$work/edit.cfg" || fail "undo did not bring every byte back"
echo "PASS: searched, dragged onto tab 2, saved, undone, saved"

#!/usr/bin/env bash
# Finding a sound in the real editor under Xvfb, by keyboard, with the virtual unit
# on a pseudo-terminal and Link on:
#   - Compare (F5) swaps "Default" with its saved values and back; the unit hears
#     each side;
#   - a blend towards "Mode A" is moved from end to end in about a second; the unit's
#     last value of every parameter that moved is the one the editor then saves;
#   - Randomize with the levels locked leaves every level byte as it was.
#   sound_e2e.sh EDITOR UNIT CFG
# Exits 77 (skipped) where Xvfb cannot run.
set -euo pipefail
editor="$1"
unit="$2"
cfg="$3"

# shellcheck source=xvfb.sh
source "$(dirname "${BASH_SOURCE[0]}")/xvfb.sh"
# shellcheck source=unit.sh
source "$(dirname "${BASH_SOURCE[0]}")/unit.sh"

cp "$editor" "$work/cantavel"
mkdir -m 700 "$work/run"
export XDG_RUNTIME_DIR="$work/run"
export CANTAVEL_INSTANCE="sound end-to-end $$"
start_unit "$unit"

# A record whose "Mode A" is far from "Default" in most of its values.
"$cfg" new "$work/live.cfg" >/dev/null
"$cfg" set "$work/live.cfg" mode-a.echoDelay=20 mode-a.echoRepeat=75 mode-a.echoLevel=70 \
    mode-a.reverbTime=75 mode-a.reverbLevel=70 mode-a.musicBass=8 mode-a.micTreble=-8 \
    mode-a.swFreq=240 mode-a.effectVolume=10 mode-a.keyIndex=#+3 mode-a.inputSource=DVD \
    mode-a.musicVolMax=30 mode-a.musicVolume=30 mode-a.swVol1=60 mode-a.swVol2=40 >/dev/null

# The stored values of "Default" in a file, one "id=value" line each, sorted.
values() {
    "$cfg" show "$1" --slot default --json |
        python3 -c 'import json,sys; [print("%s=%d" % (p["id"], p["stored"])) for p in json.load(sys.stdin)["slots"][0]["parameters"]]' |
        sort
}
# The last value the unit heard live of each parameter, after log line $1.
heard() {
    tail -n +"$(($1 + 1))" "$work/unit.log" | sed -nE 's/^live [0-9]+ ([A-Za-z0-9]+) = ([0-9]+).*/\1=\2/p' |
        awk -F= '{ last[$1] = $2 } END { for (k in last) print k "=" last[k] }' | sort
}
save() {
    local before
    before="$(stat -c %Y.%s "$work/live.cfg")"
    sleep 1.1 # a new modification time
    key ctrl+s
    for _ in $(seq 50); do [ "$(stat -c %Y.%s "$work/live.cfg")" != "$before" ] && return; sleep 0.1; done
    fail "Save did not write the file"
}

start_display
QT_QPA_PLATFORM=xcb "$work/cantavel" "$work/live.cfg" >"$work/editor.log" 2>&1 &
pids+=($!)
window="$(timeout 20 xdotool search --sync --name '^Digital Cantavel Processor v1.5' | head -n 1)" ||
    fail "no editor window"
xdotool windowfocus --sync "$window"
sleep 0.5

key alt+d
key l
wait_log "^mode upload Default (index 6): " 1

# Delay one step up, then Compare: the unit hears the saved 180, then 181 again.
for _ in $(seq "${CANTAVEL_E2E_TABS_TO_DELAY:-25}"); do xdotool key Tab; done
sleep 0.2
key Right
wait_log '^live 0 echoDelay = 181$' 1
key F5
wait_log '^live 0 echoDelay = 180$' 1
title="$(xdotool getwindowname "$window")"
case "$title" in *"  (comparing with saved)") ;; *) fail "caption while comparing: $title" ;; esac
key F5
wait_log '^live 0 echoDelay = 181$' 2
title="$(xdotool getwindowname "$window")"
case "$title" in *comparing*) fail "caption after comparing: $title" ;; esac
save
values "$work/live.cfg" >"$work/before-blend"

# Edit > Blend...: slot B "Mode A" (typed), the slider to the far end one step at a
# time for about a second, OK.
lines="$(wc -l <"$work/unit.log")"
key alt+e
key b
timeout 10 xdotool search --sync --name '^Blend$' >/dev/null || fail "no Blend dialog"
key M
xdotool key Tab
xdotool key --delay 10 --repeat 100 Right
sleep 0.5
key Return
xdotool windowfocus --sync "$window"
sleep 0.5
save
values "$work/live.cfg" >"$work/after-blend"
moved="$(comm -13 "$work/before-blend" "$work/after-blend" | cut -d= -f1)"
[ "$(echo "$moved" | wc -w)" -ge 12 ] || fail "the blend moved only: $moved"
heard "$lines" >"$work/heard"
for id in $moved; do
    grep -qx "$(grep "^$id=" "$work/after-blend")" "$work/heard" ||
        fail "the unit's last $id is not the saved one: $(grep "^$id=" "$work/heard" || echo none)"
done
grep -qx "$(grep '^echoDelay=' "$work/after-blend")" <<<"echoDelay=20" || fail "the blend did not reach Mode A's delay"

# Edit > Randomize... with its defaults (levels locked), OK.
key alt+e
key d
timeout 10 xdotool search --sync --name '^Randomize' >/dev/null || fail "no Randomize dialog"
key Return
xdotool windowfocus --sync "$window"
sleep 0.5
save
values "$work/live.cfg" >"$work/after-randomize"
levels='^(effectVolume|musicVolume|micVolume|musicVolMax|micVolMax|swVol1|swVol2)='
diff <(grep -E "$levels" "$work/after-blend") <(grep -E "$levels" "$work/after-randomize") ||
    fail "Randomize changed a level"
! cmp -s "$work/after-blend" "$work/after-randomize" || fail "Randomize changed nothing"
echo "the blend moved: $(echo $moved)"
echo "1 passed, 0 failed"

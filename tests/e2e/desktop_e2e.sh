#!/usr/bin/env bash
# The real editor under Xvfb as a desktop user meets it: options answered without a
# display, a file on the command line, a second start handing its file to the first,
# the question about unsaved changes (Save, Cancel) and the preset sheet exported
# through the file dialog, driven with xdotool.
#   desktop_e2e.sh EDITOR
# Exits 77 (skipped) where Xvfb cannot run.
set -euo pipefail
editor="$1"

# shellcheck source=xvfb.sh
source "$(dirname "${BASH_SOURCE[0]}")/xvfb.sh"

fail() {
    echo "FAIL: $*"
    echo "--- editor log"; cat "$work/editor.log" 2>/dev/null || true
    exit 1
}
title="Digital Cantavel Processor v1.5"

# Options need no display.
version="$(env -u DISPLAY -u WAYLAND_DISPLAY "$editor" --version)" || fail "--version failed"
[ "$version" = "Cantavel 1.0.0.0" ] || fail "--version said: $version"
env -u DISPLAY -u WAYLAND_DISPLAY "$editor" --help | grep -q '^Usage: cantavel' || fail "--help"
status=0
env -u DISPLAY "$editor" --no-such-option 2>"$work/err" || status=$?
[ "$status" -eq 2 ] || fail "an unknown option exited $status"
grep -q "no-such-option" "$work/err" || fail "an unknown option was not named"
# Without a display the toolkit would abort: one line and status 1 instead.
status=0
env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$editor" 2>"$work/err" || status=$?
[ "$status" -eq 1 ] || fail "a start without a display exited $status"
grep -q "^cantavel: no display" "$work/err" || fail "a start without a display said: $(cat "$work/err")"

cp "$editor" "$work/cantavel"
: >"$work/cantavel.ini" # a portable copy: its settings stay beside it
mkdir -m 700 "$work/run"
export XDG_RUNTIME_DIR="$work/run"
export CANTAVEL_INSTANCE="desktop end-to-end $$"
# Two files of zeros: loading brings their values into range, so each counts as
# changed as soon as it is open.
head -c 294 /dev/zero >"$work/a.cfg"
head -c 294 /dev/zero >"$work/b.cfg"

start_display
export QT_QPA_PLATFORM=xcb

# Waits for a window whose whole title is $1 (a regular expression); prints its id.
window_named() {
    timeout "${2:-20}" xdotool search --sync --name "$1" | head -n 1
}
regex() { sed 's/[][\.*^$]/\\&/g' <<<"$1"; }

cd "$work"
./cantavel a.cfg >"$work/editor.log" 2>&1 &
editor_pid=$!
pids+=($editor_pid)
main="$(window_named "^$(regex "*$title  [$work/a.cfg]")\$")" || fail "no window with a.cfg, marked changed"

# A second start with b.cfg hands it over and ends at once.
status=0
timeout 10 ./cantavel b.cfg >"$work/second.log" 2>&1 || status=$?
[ "$status" -eq 0 ] || fail "the second start exited $status"

# The first asks about a.cfg; Save (the default button) saves it, then b.cfg opens.
box="$(window_named "^$(regex "$title")\$")" || fail "no question about unsaved changes"
xdotool windowfocus --sync "$box"
key Return
window_named "^$(regex "*$title  [$work/b.cfg]")\$" 10 >/dev/null || fail "b.cfg was not opened"
[ "$(stat -c %s a.cfg)" -eq 294 ] || fail "a.cfg was not saved whole"
! cmp -s a.cfg <(head -c 294 /dev/zero) || fail "a.cfg was not saved"

# Closing asks again; Cancel keeps the editor and the changes.
xdotool windowfocus --sync "$main"
key ctrl+q
box="$(window_named "^$(regex "$title")\$")" || fail "closing did not ask"
xdotool windowfocus --sync "$box"
key Escape
sleep 0.5
kill -0 "$editor_pid" 2>/dev/null || fail "Cancel closed the editor"

# File > Export PDF... offers b.pdf beside b.cfg; the sheet names the file.
xdotool windowfocus --sync "$main"
key alt+f e
dialog="$(window_named "^Export PDF\$")" || fail "no Export PDF dialog"
xdotool windowfocus --sync "$dialog"
key Return
for _ in $(seq 50); do [ -s b.pdf ] && break; sleep 0.1; done
if command -v pdftotext >/dev/null; then
    sheet="$(pdftotext b.pdf -)" || fail "b.pdf is no PDF"
    grep -q "^b.cfg$" <<<"$sheet" || fail "the sheet does not name b.cfg: $sheet"
    grep -q "Mode B" <<<"$sheet" || fail "the sheet lacks Mode B"
fi

# Saved, the mark goes, and closing asks nothing.
xdotool windowfocus --sync "$main"
key ctrl+s
window_named "^$(regex "$title  [$work/b.cfg]")\$" 10 >/dev/null || fail "the mark stayed after Save"
key ctrl+q
for _ in $(seq 50); do kill -0 "$editor_pid" 2>/dev/null || break; sleep 0.1; done
! kill -0 "$editor_pid" 2>/dev/null || fail "the editor did not close"
wait "$editor_pid" || fail "the editor exited with an error"
grep -q "^File1=$work/b.cfg$" cantavel.ini || fail "b.cfg is not the newest recent file"
grep -q "^File2=$work/a.cfg$" cantavel.ini || fail "a.cfg is not among the recent files"
echo "1 passed, 0 failed"

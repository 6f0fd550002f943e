#!/usr/bin/env bash
# What a screen reader finds in the real editor: the editor under Xvfb on a session bus
# of its own (dbus-run-session), its accessibility tree read through AT-SPI as Orca
# reads it. Every control's role, name and value is checked by screen_reader.py.
#   screen_reader.sh EDITOR CFG_TOOL
# Exits 77 (skipped) where Xvfb, a session bus or AT-SPI cannot start.
set -euo pipefail
editor="$1"
cfg="$2"
here="$(dirname "${BASH_SOURCE[0]}")"

# Debian's own Python: pyatspi comes as a Debian package.
python=/usr/bin/python3
for tool in dbus-run-session "$python"; do
    command -v "$tool" >/dev/null || { echo "SKIP: $tool is needed to read the tree"; exit 77; }
done
"$python" -c 'import pyatspi' 2>/dev/null || { echo "SKIP: python3-pyatspi is not installed"; exit 77; }
if [ ! -x /usr/libexec/at-spi-bus-launcher ]; then
    echo "SKIP: at-spi2-core (the accessibility bus) is not installed"
    exit 77
fi

# shellcheck source=../e2e/xvfb.sh
source "$here/../e2e/xvfb.sh"

# Nothing of the user's: a home, settings and runtime folder of its own, a guard of its
# own beside any editor already running.
cp "$editor" "$work/cantavel" # its settings go to the scratch home's configuration folder
mkdir -p -m 700 "$work/home" "$work/run"
export HOME="$work/home" XDG_RUNTIME_DIR="$work/run"
export XDG_CONFIG_HOME="$work/home/.config" XDG_CACHE_HOME="$work/home/.cache"
export XDG_DATA_HOME="$work/home/.local/share" XDG_STATE_HOME="$work/home/.local/state"
export CANTAVEL_INSTANCE="screen reader $$"

# A preset whose values tell sign and item apart.
"$cfg" new "$work/voice.cfg" >/dev/null
"$cfg" set "$work/voice.cfg" default.musicBass=3 default.musicTreble=-6 default.micBass=-4 \
    default.micTreble=7 default.keyIndex=#+2 default.fbEx=2 default.inputSource=DVD \
    default.center=Mic default.echoDelay=120 default.swFreq=150 >/dev/null

start_display
status=0
QT_QPA_PLATFORM=xcb QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 QT_ACCESSIBILITY=1 \
    timeout 60 dbus-run-session -- "$python" "$here/screen_reader.py" \
    "$work/cantavel" "$work/voice.cfg" 2>"$work/session.log" || status=$?
if [ "$status" -ne 0 ] && [ "$status" -ne 77 ]; then
    echo "--- session log"
    grep -v 'Failed to set fd limit' "$work/session.log" || true
fi
exit "$status"

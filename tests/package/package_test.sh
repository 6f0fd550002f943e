#!/usr/bin/env bash
# The Debian package: its files, its control fields, and the programs run from a
# scratch root it is unpacked into (never installed on this machine).
#   package_test.sh TOP BUILD   the package of this build (scripts/package BUILD OUT)
#   package_test.sh --clone TOP the README's `scripts/package`, run in a fresh copy of
#                               the files git tracks in TOP (as they are in the working
#                               tree, so that a change is tested before its commit);
#                               then lintian, where it is installed
# The second is a whole Release build of the three programs; it says how long it took.
set -euo pipefail
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
fail() {
    echo "FAIL: $*"
    exit 1
}

if [ "$1" = --clone ]; then
    top="$2"
    clone=1
    command -v git >/dev/null && git -C "$top" rev-parse --git-dir >/dev/null 2>&1 || {
        echo "SKIP: $top is no git working tree"
        exit 77
    }
    # Only tracked files: what a clone holds, without build folders or stray files.
    mkdir "$work/src"
    git -C "$top" ls-files -z |
        tar -C "$top" --null --ignore-failed-read -T - -cf - 2>/dev/null |
        tar -C "$work/src" -xf -
    start=$(date +%s)
    deb="$(cd "$work/src" && scripts/package 2>"$work/package.log")" || {
        cat "$work/package.log"
        fail "scripts/package failed in a fresh copy"
    }
    echo "scripts/package in a fresh copy: $(($(date +%s) - start)) s"
    case "$deb" in "$work/src/build-package/cantavel_"*.deb) ;; *) fail "it named $deb" ;; esac
    prefix=usr
else
    top="$1"
    build="$2"
    clone=0
    deb="$("$top/scripts/package" "$build" "$work/out")" || fail "scripts/package failed"
    prefix="$(sed -n 's/^CMAKE_INSTALL_PREFIX:PATH=//p' "$build/CMakeCache.txt")"
    prefix="${prefix#/}"
fi
[ -f "$deb" ] || fail "no package"

# Contents, with the modes a package must have: programs and folders rwxr-xr-x,
# everything else rw-r--r--, all of it root's.
listing="$(dpkg-deb -c "$deb")"
files="$(awk '{print $6}' <<<"$listing")"
expect=(bin/cantavel bin/cantavel-cfg bin/cantavel-print
    share/applications/cantavel.desktop share/metainfo/com.varnholt.cantavel.metainfo.xml
    share/doc/cantavel/copyright share/doc/cantavel/changelog.gz
    share/icons/hicolor/scalable/apps/cantavel.svg)
for size in 32 48 64 128; do
    expect+=("share/icons/hicolor/${size}x${size}/apps/cantavel.png")
done
if ((clone)); then
    expect+=(share/man/man1/cantavel.1.gz share/man/man1/cantavel-cfg.1.gz
        share/man/man1/cantavel-print.1.gz)
fi
for f in "${expect[@]}"; do
    grep -qx "\./$prefix/$f" <<<"$files" || fail "the package lacks $prefix/$f"
done
awk '$2 != "root/root" ||
     ($1 ~ /^d/ && $1 != "drwxr-xr-x") ||
     ($1 ~ /^-/ && $6 ~ /\/bin\// && $1 != "-rwxr-xr-x") ||
     ($1 ~ /^-/ && $6 !~ /\/bin\// && $1 != "-rw-r--r--")' <<<"$listing" | grep . &&
    fail "files of the wrong owner or mode (above)"

# Control fields: dependencies from the libraries linked, a summary and a description.
depends="$(dpkg-deb -f "$deb" Depends)"
grep -q 'libqt6widgets6' <<<"$depends" || fail "dependencies not from the libraries: $depends"
grep -q 'libqt6serialport6' <<<"$depends" || fail "no serial port library in: $depends"
grep -q 'libqt6sql6-sqlite' <<<"$depends" || fail "no SQLite driver for the library in: $depends"
[ "$(dpkg-deb -f "$deb" Package)" = cantavel ] || fail "package name"
[ "$(dpkg-deb -f "$deb" Architecture)" = "$(dpkg --print-architecture)" ] || fail "architecture"
[ -n "$(dpkg-deb -f "$deb" Maintainer)" ] || fail "no maintainer"
description="$(dpkg-deb -f "$deb" Description)"
[ "$(head -n 1 <<<"$description")" = "Configuration editor for the Digital Cantavel Processor" ] ||
    fail "summary: $(head -n 1 <<<"$description")"
(($(wc -l <<<"$description") >= 3)) || fail "no extended description: $description"
version="$(dpkg-deb -f "$deb" Version)"

dpkg-deb -x "$deb" "$work/root"
root="$work/root/$prefix"
# The changelog's latest entry is this version; the copyright is machine-readable.
[ "$(zcat "$root/share/doc/cantavel/changelog.gz" | dpkg-parsechangelog -l - -S Version)" = \
    "$version" ] || fail "the changelog does not end at $version"
head -n 1 "$root/share/doc/cantavel/copyright" |
    grep -qx 'Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/' ||
    fail "copyright format"
for p in cantavel cantavel-cfg cantavel-print; do
    file -b "$root/bin/$p" | grep -q ', stripped' || fail "$p is not stripped"
    # Only the system's libraries are linked: a search path of its own would let a
    # library dropped beside the program be loaded first.
    ! readelf -d "$root/bin/$p" | grep -qE '\((RPATH|RUNPATH)\)' || fail "$p carries a library search path"
done
if ((clone)); then
    for p in cantavel cantavel-cfg cantavel-print; do
        page="$root/share/man/man1/$p.1.gz"
        zcat "$page" | grep -q "^$p \\\\- " || fail "the manual page of $p is not named $p"
        zcat "$page" | grep -qF '\fB\-\-help\fR' || fail "the manual page of $p lists no options"
    done
    zcat "$root/share/man/man1/cantavel-cfg.1.gz" | grep -q '^\.SS upload$' ||
        fail "the manual page of cantavel-cfg lacks its commands"
fi

# The programs run from where they were unpacked, without a display.
[ "$(env -u DISPLAY -u WAYLAND_DISPLAY "$root/bin/cantavel" --version)" = "Cantavel $version" ] ||
    fail "the unpacked editor did not run"
"$root/bin/cantavel-cfg" new "$work/new.cfg" || fail "the unpacked cantavel-cfg did not run"
[ "$(stat -c %s "$work/new.cfg")" = 294 ] || fail "cantavel-cfg new wrote no record"
# The library's index through the system's SQLite driver, in a home of its own.
mkdir -p "$work/home/presets"
cp "$work/new.cfg" "$work/home/presets/"
library() { HOME="$work/home" XDG_DATA_HOME="$work/home/data" "$root/bin/cantavel-cfg" library "$@"; }
library add "$work/home/presets" && library scan >/dev/null || fail "the unpacked library did not scan"
[ "$(library search new | wc -l)" = 7 ] || fail "the unpacked library found not the seven slots"
printf '<B>Cantavel</B>\n' >"$work/note.txt"
env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$root/bin/cantavel-print" \
    -o "$work/note.pdf" "$work/note.txt" || fail "the unpacked cantavel-print did not run"
[ "$(head -c 5 "$work/note.pdf")" = "%PDF-" ] || fail "cantavel-print wrote no PDF"
desktop-file-validate "$root/share/applications/cantavel.desktop" || fail "desktop entry"
appstreamcli validate --no-net "$root/share/metainfo/com.varnholt.cantavel.metainfo.xml" ||
    fail "metainfo"

if ((clone)); then
    if command -v lintian >/dev/null; then
        report="$(lintian "$deb" 2>&1 | grep -v '^running with root privileges')" || true
        [ -z "$report" ] || echo "$report"
        grep -q '^E:' <<<"$report" && fail "lintian reports errors"
    else
        echo "lintian is not installed: not run"
    fi
fi
echo "1 passed, 0 failed"

#!/usr/bin/env bash
# The Debian package of this build: its files, its dependencies, and the editor run
# from a scratch root it is unpacked into (never installed on this machine).
#   package_test.sh TOP BUILD
set -euo pipefail
top="$1"
build="$2"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
fail() {
    echo "FAIL: $*"
    exit 1
}

deb="$("$top/scripts/package" "$build" "$work/out")" || fail "scripts/package failed"
[ -f "$deb" ] || fail "no package"

prefix="$(sed -n 's/^CMAKE_INSTALL_PREFIX:PATH=//p' "$build/CMakeCache.txt")"
prefix="${prefix#/}"
files="$(dpkg-deb -c "$deb" | awk '{print $6}')"
for f in "bin/cantavel" "bin/cantavel-cfg" "share/applications/cantavel.desktop" \
    "share/metainfo/com.varnholt.cantavel.metainfo.xml" \
    "share/icons/hicolor/64x64/apps/cantavel.png" "share/icons/hicolor/32x32/apps/cantavel.png"; do
    grep -qx "\./$prefix/$f" <<<"$files" || fail "the package lacks $prefix/$f"
done
depends="$(dpkg-deb -f "$deb" Depends)"
grep -q 'libqt6widgets6' <<<"$depends" || fail "dependencies not from the libraries: $depends"
grep -q 'libqt6serialport6' <<<"$depends" || fail "no serial port library in: $depends"

dpkg-deb -x "$deb" "$work/root"
version="$(env -u DISPLAY -u WAYLAND_DISPLAY "$work/root/$prefix/bin/cantavel" --version)" ||
    fail "the unpacked editor did not run"
[ "$version" = "Cantavel 1.0.0.0" ] || fail "version: $version"
"$work/root/$prefix/bin/cantavel-cfg" new "$work/new.cfg" || fail "the unpacked cantavel-cfg did not run"
[ "$(stat -c %s "$work/new.cfg")" = 294 ] || fail "cantavel-cfg new wrote no record"
desktop-file-validate "$work/root/$prefix/share/applications/cantavel.desktop" ||
    fail "desktop entry"
appstreamcli validate --no-net "$work/root/$prefix/share/metainfo/com.varnholt.cantavel.metainfo.xml" ||
    fail "metainfo"
echo "1 passed, 0 failed"

#!/usr/bin/env bash
# Printing against the tools a user would pick instead, in one run: the same 10,000
# lines (tagged, and plain without tags) to PDF by cantavel-print, by a Qt program
# that prints a QTextDocument (cantavel-textdoc-print) and by groff -Tpdf where it is
# installed. The programs take turns, RUNS times each (default 3); medians of wall
# time and peak memory, and our time as a multiple of each peer's.
#   bench/print_peers.sh [build-dir] [runs]
# BEFORE=path/to/an/older/cantavel-print adds it as one more program to compare.
set -euo pipefail
build="$(cd "${1:-build}" && pwd)"
runs="${2:-3}"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
export QT_QPA_PLATFORM=offscreen

"$build/cantavel-print-bench" --write-documents "$work" 2>/dev/null
programs=(cantavel-print textdoc)
command -v groff >/dev/null && command -v gropdf >/dev/null && programs+=(groff)
[ -n "${BEFORE:-}" ] && programs+=(before)

run() { # program doc -> "seconds kib"
    local out="$work/$1-$2.pdf"
    case "$1" in
    cantavel-print) set -- "$build/cantavel-print" --font Arial --size 10 --page-numbers \
        -o "$out" "$work/$2.txt" ;;
    textdoc) set -- "$build/cantavel-textdoc-print" "$work/$2.txt" "$out" ;;
    before) set -- "$BEFORE" --font Arial --size 10 --page-numbers -o "$out" "$work/$2.txt" ;;
    groff) set -- sh -c 'groff -Tpdf "$1" >"$2"' groff "$work/$2.groff" "$out" ;;
    esac
    /usr/bin/time -f '%e %M' -o "$work/time" "$@" >/dev/null 2>"$work/err" ||
        { echo "$* failed:" >&2; cat "$work/err" >&2; exit 1; }
    cat "$work/time"
}

declare -A seconds kib
for _ in $(seq "$runs"); do
    for doc in tagged plain; do
        for p in "${programs[@]}"; do
            read -r s k < <(run "$p" "$doc")
            seconds[$p-$doc]+="$s "
            kib[$p-$doc]+="$k "
        done
    done
done

median() { tr ' ' '\n' <<<"$1" | grep . | sort -g | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }
printf '%-8s %-16s %10s %10s %12s\n' document program median-s peak-MiB ours/peer
for doc in tagged plain; do
    ours="$(median "${seconds[cantavel-print-$doc]}")"
    for p in "${programs[@]}"; do
        s="$(median "${seconds[$p-$doc]}")"
        k="$(median "${kib[$p-$doc]}")"
        printf '%-8s %-16s %10.2f %10d %11.2fx\n' "$doc" "$p" "$s" "$((k / 1024))" \
            "$(awk -v a="$ours" -v b="$s" 'BEGIN {print a / b}')"
    done
done

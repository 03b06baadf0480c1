#!/bin/sh
# CPU time of whole runs, side by side: each vemra binary given sequences the
# shared real sets (the mouse HCD set and the MassIVE-KB set) with its own
# recommended HCD settings (--print-params hcd), one thread, native output,
# REPEAT times (default 3); the least CPU time (user + system) of the
# repeats is printed, with the spectra per second it gives. With
# INSTRUCTIONS=1 each run is also counted under valgrind (callgrind), a
# figure that does not depend on what else the machine runs. THREADS=1,2
# prints the wall time of the MassIVE-KB set with one and two threads.
#
#   bench/speed.sh OLD_VEMRA NEW_VEMRA ...
set -eu

root=$(cd "$(dirname "$0")/.." && pwd)
data="$root/../shared/data/real"
[ -d "$data" ] || { echo "no shared data at $data" >&2; exit 1; }
[ -x /usr/bin/time ] || { echo "needs /usr/bin/time (Debian package time)" >&2; exit 1; }
[ $# -gt 0 ] || { echo "usage: bench/speed.sh VEMRA_BINARY ..." >&2; exit 2; }
repeat=${REPEAT:-3}
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT INT TERM

param() {  # $1 binary, $2 spectrum file, $3 threads
    "$1" --print-params hcd |
        sed -e '/^spec_path/d' -e '/^spec_type=/d' -e '/^out_path=/d' -e '/^ans_path=/d' -e '/^thread=/d' \
            -e '/^output_format=/d' >"$tmp/run.param"
    printf 'spec_path=1\nspec_path1=%s\nspec_type=MGF\nout_path=%s/out/\nthread=%s\n' "$2" "$tmp" "$3" >>"$tmp/run.param"
}

cpu() {  # $1 binary: least user + system seconds of the repeats
    best=""
    i=0
    while [ "$i" -lt "$repeat" ]; do
        /usr/bin/time -f '%U %S %e' -o "$tmp/time" "$1" "$tmp/run.param" >/dev/null 2>"$tmp/log" ||
            { cat "$tmp/log" >&2; exit 1; }
        t=$(awk '{ printf "%.2f", $1 + $2 }' "$tmp/time")
        best=$(awk -v a="$best" -v b="$t" 'BEGIN { print (a == "" || b < a) ? b : a }')
        i=$((i + 1))
    done
    echo "$best"
}

for bin in "$@"; do
    echo "== $bin ($("$bin" --version 2>/dev/null | head -n 1 || echo unknown version))"
    for set in hcd-mouse hcd-human-massivekb; do
        spectra="$data/$set/spectra.mgf"
        n=$(grep -c '^BEGIN IONS' "$spectra")
        param "$bin" "$spectra" 1
        t=$(cpu "$bin")
        line=$(awk -v t="$t" -v n="$n" -v s="$set" 'BEGIN { printf "  %-20s %4d spectra: %6.2f s CPU, %4.0f spectra/s", s, n, t, n / t }')
        if [ "${INSTRUCTIONS:-0}" = 1 ]; then
            valgrind --tool=callgrind --callgrind-out-file="$tmp/cg" "$bin" "$tmp/run.param" >/dev/null 2>"$tmp/vg"
            line="$line, $(sed -n 's/.*Collected : \([0-9]*\).*/\1/p' "$tmp/vg" | awk '{ printf "%.2fG instructions", $1 / 1e9 }')"
        fi
        echo "$line"
    done
    case ${THREADS:-} in
        *2*)
            spectra="$data/hcd-human-massivekb/spectra.mgf"
            for th in 1 2; do
                param "$bin" "$spectra" "$th"
                /usr/bin/time -f '%e' -o "$tmp/time" "$bin" "$tmp/run.param" >/dev/null 2>&1
                echo "  massivekb, $th thread(s): $(cat "$tmp/time") s wall"
            done
            ;;
    esac
done

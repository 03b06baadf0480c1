#!/bin/sh
# Peak memory and time of whole runs on real spectra as instruments write
# them: sets of the shared training corpus joined into one file, sequenced
# by the vemra binary with the recommended HCD settings and all three
# outputs, under /usr/bin/time.
#
#   one worker,  1,490 spectra: denovobench_qeplus_human_hcd + mm_hek293_velos_hcd
#   two workers, 2,432 spectra: the above + pepnet_human_hcd + mm_qc_02ng_hcd
#                               + spectracluster_proteometools_hcd + gleams_massivekb_ref_hcd
#
#   bench/memory.sh [VEMRA_BINARY ...]     (default: a Release build in build-bench)
#
# Several binaries (an older build, say) are measured one after the other on
# the same files, each with its own recommended settings (--print-params hcd).
# Nothing is written into the project except the build folder.
set -eu

root=$(cd "$(dirname "$0")/.." && pwd)
train="$root/../shared/data/train"
[ -d "$train" ] || { echo "no training corpus at $train" >&2; exit 1; }
[ -x /usr/bin/time ] || { echo "needs /usr/bin/time (Debian package time)" >&2; exit 1; }

if [ $# -eq 0 ]; then
    build=${BUILD_DIR:-"$root/build-bench"}
    cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DVEMRA_TESTS=OFF >/dev/null
    cmake --build "$build" -j2 --target vemra >/dev/null
    set -- "$build/vemra"
fi

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT INT TERM

join() {  # $1 output file, then set names
    out=$1
    shift
    : >"$out"
    for set in "$@"; do cat "$train/$set/labelled.mgf" >>"$out"; done
}
join "$tmp/one.mgf" denovobench_qeplus_human_hcd mm_hek293_velos_hcd
join "$tmp/two.mgf" denovobench_qeplus_human_hcd mm_hek293_velos_hcd pepnet_human_hcd mm_qc_02ng_hcd \
    spectracluster_proteometools_hcd gleams_massivekb_ref_hcd

run() {  # $1 binary, $2 spectrum file, $3 threads
    "$1" --print-params hcd |
        sed -e '/^spec_path/d' -e '/^spec_type=/d' -e '/^out_path=/d' -e '/^ans_path=/d' -e '/^thread=/d' \
            -e '/^output_format=/d' >"$tmp/run.param"
    {
        echo "spec_path=1"
        echo "spec_path1=$2"
        echo "spec_type=MGF"
        echo "out_path=$tmp/out/"
        echo "thread=$3"
        echo "output_format=native,mztab,tsv"
    } >>"$tmp/run.param"
    rm -rf "$tmp/out"
    n=$(grep -c '^BEGIN IONS' "$2")
    /usr/bin/time -f '%M %e %U %S' -o "$tmp/time" "$1" "$tmp/run.param" >/dev/null 2>"$tmp/log" ||
        { cat "$tmp/log" >&2; exit 1; }
    read -r kb wall user sys <"$tmp/time"
    awk -v kb="$kb" -v w="$wall" -v u="$user" -v s="$sys" -v n="$n" -v t="$3" 'BEGIN {
        printf "  %d thread(s), %d spectra: peak %.1f MB, %.1f s wall, %.1f s CPU, %.0f spectra/s\n",
               t, n, kb / 1024, w, u + s, n / w }'
}

for bin in "$@"; do
    echo "== $bin ($("$bin" --version 2>/dev/null | head -n 1 || echo unknown version))"
    run "$bin" "$tmp/one.mgf" 1
    run "$bin" "$tmp/two.mgf" 2
done

#!/bin/sh
# Streaming benchmark: generates HCD spectra sets of growing size and
# sequences each with the vemra binary under /usr/bin/time, printing the
# peak memory and the CPU and wall time per spectrum. Memory must stay flat
# (bounded by batch_size and the threads, not by the file) and the cost per
# spectrum must not grow with the file.
#
#   bench/stream_bench.sh                 (SIZES="10000 100000 1000000" THREADS=2 BUILD_DIR=...)
#   bench/stream_bench.sh --scaling       (1 and 2 threads on 10,000 spectra, also sorted by precursor)
#
# Nothing is written into the project except the build folder.
set -eu

root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-"$root/build-bench"}
sizes=${SIZES:-"10000 100000 1000000"}
threads=${THREADS:-2}

cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DVEMRA_TESTS=OFF >/dev/null
cmake --build "$build" -j2 --target vemra gen_spectra >/dev/null

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT INT TERM

params() {  # $1 spectrum file, $2 threads
    sed -e "s|^spec_path1=.*|spec_path1=$1|" -e "s|^out_path=.*|out_path=$tmp/out|" -e "s|^ans_path=.*|ans_path=|" \
        -e "s|^thread=.*|thread=$2|" "$root/examples/hcd.param" > "$tmp/run.param"
}

run() {  # $1 spectrum file, $2 threads, $3 label, $4 spectra
    params "$1" "$2"
    /usr/bin/time -f "%e %U %S %M" -o "$tmp/time" "$build/vemra" "$tmp/run.param" >/dev/null 2>"$tmp/err" ||
        { cat "$tmp/err"; exit 1; }
    read -r wall user sys rss < "$tmp/time"
    awk -v l="$3" -v n="$4" -v w="$wall" -v u="$user" -v s="$sys" -v m="$rss" -v t="$2" 'BEGIN {
        printf "%-28s %9d spectra  %2d threads  wall %8.1f s  %7.0f spectra/s  cpu %6.3f ms/spectrum  peak %6.1f MB\n",
               l, n, t, w, n / w, 1000 * (u + s) / n, m / 1024 }'
}

if [ "${1:-}" = "--scaling" ]; then
    "$build/tools/gen_spectra" --count 10000 --hcd s --etd s_etd "$tmp" >/dev/null
    # The same spectra sorted by precursor: the hardest case for equal fixed ranges.
    awk 'BEGIN { RS = "END IONS\n"; ORS = "" } /BEGIN IONS/ {
            match($0, /PEPMASS=[0-9.]+/); m = substr($0, RSTART + 8, RLENGTH - 8); print m "\t" NR "\n" > "/dev/stderr"
            blocks[NR] = $0 "END IONS\n" } ' "$tmp/s.mgf" 2> "$tmp/keys"
    sort -n "$tmp/keys" | cut -f2 > "$tmp/order"
    awk 'BEGIN { RS = "END IONS\n"; ORS = "" } NR == FNR { order[++n] = $0; next } /BEGIN IONS/ { b[FNR] = $0 "END IONS\n" }
         END { for (i = 1; i <= n; ++i) print b[order[i]] }' RS='\n' "$tmp/order" RS='END IONS\n' "$tmp/s.mgf" > "$tmp/sorted.mgf"
    for t in 1 2; do run "$tmp/s.mgf" "$t" "generated" 10000; done
    for t in 1 2; do run "$tmp/sorted.mgf" "$t" "sorted by precursor" 10000; done
    exit 0
fi

for n in $sizes; do
    "$build/tools/gen_spectra" --count "$n" --hcd "g$n" --etd "e$n" "$tmp" >/dev/null
    rm -f "$tmp/e$n.mgf"
    run "$tmp/g$n.mgf" "$threads" "generated HCD" "$n"
    rm -f "$tmp/g$n.mgf"
done

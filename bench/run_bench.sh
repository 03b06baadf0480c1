#!/bin/sh
# Benchmark of the whole engine: builds a Release tree, generates a large
# spectrum set with gen_spectra, and prints for HCD, ETD and paired mode the
# spectra per second per thread, the time share of every pipeline stage and
# the peak memory (run_bench), then times complete runs of the vemra binary.
# When the shared test data is next to the project, its real HCD spectra are
# measured too.
#
#   bench/run_bench.sh            (COUNT=20000 BUILD_DIR=... to change)
#
# Nothing is written into the project except the build folder.
set -eu

root=$(cd "$(dirname "$0")/.." && pwd)
data="$(dirname "$0")/../../shared/data"
build=${BUILD_DIR:-"$root/build-bench"}
count=${COUNT:-10000}

cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DVEMRA_BENCH=ON -DVEMRA_TESTS=OFF >/dev/null
cmake --build "$build" -j2 --target vemra gen_spectra run_bench >/dev/null

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT INT TERM

echo "== generating $count HCD and $count ETD spectra"
"$build/tools/gen_spectra" --count "$count" --hcd hcd_bench --etd etd_bench "$tmp"
ls -l "$tmp"

# The example parameter files name paths relative to the project root.
cd "$root"

echo
echo "== HCD, generated"
"$build/run_bench" examples/hcd.param "$tmp/hcd_bench.mgf"
echo
echo "== ETD, generated"
"$build/run_bench" examples/etd.param "$tmp/etd_bench.mgf"
echo
echo "== HCD+ETD pairs, generated"
"$build/run_bench" examples/paired.param "$tmp/hcd_bench.mgf" "$tmp/etd_bench.mgf"

# Real spectra: the mouse set (peaks already filtered by its source, short
# peptides) and MassIVE-KB (as instruments write them).
for set in hcd-mouse:20 hcd-human-massivekb:2; do
    real="$data/real/${set%%:*}/spectra.mgf"
    if [ -f "$real" ]; then
        echo
        echo "== HCD, real spectra ($real)"
        "$build/run_bench" --repeat "${set##*:}" examples/hcd.param "$real"
    fi
done

# Whole-program runs: a copy of each example parameter file pointed at the
# generated set, with the results in the temporary folder.
run_vemra() {
    mode=$1
    param=$2
    shift 2
    # The [file] section is the last one, so the new keys land in it.
    sed -e '/^spec_path/d' -e '/^out_path=/d' -e '/^ans_path=/d' "$param" >"$tmp/$mode.param"
    {
        echo "spec_path=$#"
        k=1
        for f in "$@"; do
            echo "spec_path$k=$f"
            k=$((k + 1))
        done
        echo "out_path=$tmp/out"
        echo "ans_path=$tmp/answers.txt"
    } >>"$tmp/$mode.param"
    echo
    echo "== vemra binary, $mode, generated ($(grep '^thread=' "$param"))"
    if [ -x /usr/bin/time ]; then
        /usr/bin/time -v "$build/vemra" "$tmp/$mode.param" bench >"$tmp/$mode.log" 2>"$tmp/$mode.time" || true
        grep -E 'Elapsed|Maximum resident|Exit status' "$tmp/$mode.time" | sed 's/^[[:space:]]*//'
    else
        start=$(date +%s.%N)
        "$build/vemra" "$tmp/$mode.param" bench >"$tmp/$mode.log" || true
        end=$(date +%s.%N)
        echo "elapsed: $(echo "$end - $start" | bc) s"
    fi
    tail -n 1 "$tmp/$mode.log" | tr -d '\r'
}

run_vemra HCD examples/hcd.param "$tmp/hcd_bench.mgf"
run_vemra ETD examples/etd.param "$tmp/etd_bench.mgf"
run_vemra paired examples/paired.param "$tmp/hcd_bench.mgf" "$tmp/etd_bench.mgf"

#!/bin/sh
# Builds the reader fuzz harnesses with libFuzzer + AddressSanitizer and runs
# each for a while (default 30 s): tests/fuzz/run.sh [seconds]
set -eu
secs=${1:-30}
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
out=${FUZZ_OUT:-$root/build-fuzz}
mkdir -p "$out"
src="$root/src/input/Spectrum.cpp $root/src/input/TextScan.cpp $root/src/input/MGFInput.cpp \
     $root/src/input/MS2Input.cpp $root/src/input/DTAInput.cpp"
for h in mgf ms2 dta; do
    clang++ -std=c++20 -O1 -g -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined \
        -I"$root/src" $src "$here/fuzz_$h.cc" -o "$out/fuzz_$h"
done
mkdir -p "$out/corpus_mgf" "$out/corpus_ms2" "$out/corpus_dta"
printf 'BEGIN IONS\nTITLE=a 1\r\nPEPMASS=500.25 100\nCHARGE=3+\n100.5 20\n200 1e3\nEND IONS\n' > "$out/corpus_mgf/seed"
printf 'H\tx\nS\t12\t12\t500.5\nI\tRTime\t1\nZ\t2\t1000.3\n300 2\n100.5 20\n\nS 13 13 1\n' > "$out/corpus_ms2/seed"
printf '1000.5 2\n300.1 55 extra\n\n400\nabc\n|900 3\n100 1\n' > "$out/corpus_dta/seed"
for h in mgf ms2 dta; do
    echo "== fuzz_$h ($secs s)"
    "$out/fuzz_$h" -max_total_time="$secs" -max_len=4096 -timeout=10 -rss_limit_mb=2048 \
        "$out/corpus_$h" 2>&1 | tail -n 3
done

#!/bin/sh
# Builds the fuzz harnesses (libFuzzer + AddressSanitizer + UBSan, through
# CMake with -DVEMRA_FUZZ=ON, so every harness links the whole engine
# library) and runs each for a while (default 30 s): the spectrum readers
# (MGF, MS2, DTA, and mzML / mzXML in one harness), the parameter and
# answer-file reader, and the whole per-spectrum pipeline behind the MGF
# reader. Exits non-zero when a harness fails; the failing input is kept in
# the build folder (crash-*, timeout-*, oom-*).
#   tests/fuzz/run.sh [seconds]        needs clang++; explores for that long
#   tests/fuzz/run.sh repeat           the suite's run: a fixed seed and a
#                                      fixed number of inputs per harness
#                                      from the seeds alone, so a verdict is
#                                      the same on every run of one commit
# Inputs that once failed are kept in tests/fuzz/regress/<harness>/ and run
# first every time.
set -eu
secs=${1:-30}
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
out=${FUZZ_OUT:-$root/build-fuzz}
jobs=${FUZZ_JOBS:-2}
cmake -S "$root" -B "$out" -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVEMRA_FUZZ=ON \
    -DVEMRA_TESTS=OFF >/dev/null
harnesses=$(cd "$here" && ls fuzz_*.cc | sed 's/\.cc$//')
# shellcheck disable=SC2086
cmake --build "$out" -j"$jobs" --target seed_xml $harnesses
if [ "$secs" = repeat ]; then
    # Exploration grows the corpus; the repeatable run starts from the seeds.
    for h in $harnesses; do rm -rf "$out/corpus_${h#fuzz_}"; done
fi
for h in $harnesses; do
    mkdir -p "$out/corpus_${h#fuzz_}"
    for f in "$here/regress/${h#fuzz_}"/*; do
        if [ -f "$f" ]; then cp "$f" "$out/corpus_${h#fuzz_}/"; fi
    done
done
# mzML / mzXML seeds in every array coding, written from the HCD example.
"$out/seed_xml" "$root/examples/hcd_example.mgf" "$out/corpus_mzml"
cp "$root"/examples/hcd.param "$out/corpus_param/seed"
printf '\0011\tt1\t1\t2\t3\tx\tPEPK\ty\t4\tYES\n1\tt2\t1\t2\t3\tx\tPEPK\ty\t4\tYES\n' >> "$out/corpus_param/seed"
head -c 3000 "$root"/examples/hcd_example.mgf > "$out/corpus_pipeline/seed"
printf 'BEGIN IONS\nTITLE=a 1\r\nPEPMASS=500.25 100\nCHARGE=3+\n100.5 20\n200 1e3\nEND IONS\n' > "$out/corpus_mgf/seed"
printf 'H\tx\nS\t12\t12\t500.5\nI\tRTime\t1\nZ\t2\t1000.3\nZ\t3\t1500\n300 2\n100.5 20\n\nS 13 13 1\n' > "$out/corpus_ms2/seed"
printf '1000.5 2\n300.1 55 extra\n\n400\nabc\n|900 3\n100 1\n' > "$out/corpus_dta/seed"
failed=""
for h in $harnesses; do
    if [ "$secs" = repeat ]; then
        # About half a minute each on one core.
        case $h in
            fuzz_dta) n=50000 ;; fuzz_mgf | fuzz_ms2) n=20000 ;; fuzz_mzml) n=60000 ;;
            fuzz_param) n=6000 ;; *) n=1000 ;;
        esac
        budget="-seed=1 -runs=$n"
        echo "== $h ($n inputs)"
    else
        budget="-max_total_time=$secs"
        echo "== $h ($secs s)"
    fi
    # The readers report every damaged input on stderr: only the verdict is shown.
    # shellcheck disable=SC2086
    if "$out/$h" $budget -max_len=4096 -timeout=10 -rss_limit_mb=2048 -artifact_prefix="$out/" \
        "$out/corpus_${h#fuzz_}" </dev/null >"$out/$h.log" 2>&1; then
        grep -aE '^(#[0-9]+ *DONE|Done [0-9]+ runs)' "$out/$h.log" | tail -n 1 || true
    else
        failed="$failed $h"
        tail -n 30 "$out/$h.log"
    fi
done
if [ -n "$failed" ]; then
    echo "fuzzing found faults in:$failed"
    exit 1
fi

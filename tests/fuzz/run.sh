#!/bin/sh
# Builds the fuzz harnesses with libFuzzer + AddressSanitizer and runs each
# for a while (default 30 s): the spectrum readers (MGF, MS2, DTA, and mzML /
# mzXML in one harness), the parameter and answer-file reader, and the whole
# per-spectrum pipeline behind the MGF reader.   tests/fuzz/run.sh [seconds]
set -eu
secs=${1:-30}
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
out=${FUZZ_OUT:-$root/build-fuzz}
mkdir -p "$out"
src="$root/src/input/Spectrum.cpp $root/src/input/TextScan.cpp $root/src/input/LineFileInput.cpp $root/src/input/MGFInput.cpp \
     $root/src/input/MS2Input.cpp $root/src/input/DTAInput.cpp $root/src/input/XmlStream.cpp \
     $root/src/input/BinaryDecoder.cpp $root/src/input/XmlSpectrumInput.cpp $root/src/input/MzMLInput.cpp \
     $root/src/input/MzXMLInput.cpp"
libs="-lpugixml -lz -lmsnumpress"
engine="$src $(ls "$root"/src/conditions/*.cpp "$root"/src/preprocess/*.cpp "$root"/src/graph/*.cpp "$root"/src/scoring/*.cpp)"
for h in param pipeline; do
    clang++ -std=c++20 -O1 -g -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined \
        -I"$root/src" $engine "$here/fuzz_$h.cc" $libs -o "$out/fuzz_$h"
done
for h in mgf ms2 dta mzml; do
    clang++ -std=c++20 -O1 -g -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined \
        -I"$root/src" $src "$here/fuzz_$h.cc" $libs -o "$out/fuzz_$h"
done
mkdir -p "$out/corpus_mgf" "$out/corpus_ms2" "$out/corpus_dta" "$out/corpus_param" "$out/corpus_pipeline" \
    "$out/corpus_mzml"
# mzML / mzXML seeds in every array coding, written from the HCD example.
clang++ -std=c++20 -O1 -I"$root/src" -I"$root/tests/input" -DVEMRA_SOURCE_DIR="\"$root\"" "$here/seed_xml.cc" $src \
    $libs -o "$out/seed_xml"
"$out/seed_xml" "$root/examples/hcd_example.mgf" "$out/corpus_mzml"
cp "$root"/examples/hcd.param "$out/corpus_param/seed"
printf '\0011\tt1\t1\t2\t3\tx\tPEPK\ty\t4\tYES\n1\tt2\t1\t2\t3\tx\tPEPK\ty\t4\tYES\n' >> "$out/corpus_param/seed"
head -c 3000 "$root"/examples/hcd_example.mgf > "$out/corpus_pipeline/seed"
printf 'BEGIN IONS\nTITLE=a 1\r\nPEPMASS=500.25 100\nCHARGE=3+\n100.5 20\n200 1e3\nEND IONS\n' > "$out/corpus_mgf/seed"
printf 'H\tx\nS\t12\t12\t500.5\nI\tRTime\t1\nZ\t2\t1000.3\n300 2\n100.5 20\n\nS 13 13 1\n' > "$out/corpus_ms2/seed"
printf '1000.5 2\n300.1 55 extra\n\n400\nabc\n|900 3\n100 1\n' > "$out/corpus_dta/seed"
for h in mgf ms2 dta mzml param pipeline; do
    echo "== fuzz_$h ($secs s)"
    "$out/fuzz_$h" -max_total_time="$secs" -max_len=4096 -timeout=10 -rss_limit_mb=2048 \
        "$out/corpus_$h" </dev/null 2>&1 | tail -n 3
done

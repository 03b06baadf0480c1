#!/bin/sh
# Builds vemra and sequences the HCD example; results go to out/.
set -e
cd "$(dirname "$0")/.."
. scripts/deps.sh
need_packages g++ make cmake libpugixml-dev zlib1g-dev libmsnumpress-dev libcli11-dev
cmake -S . -B build-release -DCMAKE_BUILD_TYPE=Release -DVEMRA_TESTS=OFF >/dev/null
cmake --build build-release -j"$(nproc)" --target vemra
./build-release/vemra sequence examples/hcd_example.mgf -o out/
echo
echo "Results: out/hcd_example.txt, out/hcd_example.mztab and out/hcd_example.tsv (what became of every spectrum: out/hcd_example.summary.json)"

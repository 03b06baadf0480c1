#!/bin/sh
# Builds vemra and sequences the HCD example; results go to out/vemra+/.
set -e
cd "$(dirname "$0")/.."
. scripts/deps.sh
need_packages g++ make cmake libpugixml-dev zlib1g-dev libmsnumpress-dev libcli11-dev
cmake -S . -B build-release -DCMAKE_BUILD_TYPE=Release -DVEMRA_TESTS=OFF >/dev/null
cmake --build build-release -j"$(nproc)" --target vemra
./build-release/vemra examples/hcd.param
echo
echo "Results: out/vemra+/hcd_example.txt (run time in out/vemra+/time.txt, run history in denovo.log)"

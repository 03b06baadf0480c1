#!/bin/sh
# Error rate and speed of the fragmentation guess on every set of the shared
# test data (simulated, real and training sets): builds a Release tree with
# the benchmarks and runs bench/fragmentation_error.cpp on them.
#
#   bench/fragmentation_error.sh [--verbose] [--spectra N]   (BUILD_DIR=... to change)
#
# Nothing is written into the project except the build folder.
set -eu

root=$(cd "$(dirname "$0")/.." && pwd)
data="$root/../shared/data"
build=${BUILD_DIR:-"$root/build-bench"}

if [ ! -d "$data" ]; then
    echo "[error] no shared test data at $data" >&2
    exit 1
fi
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DVEMRA_BENCH=ON -DVEMRA_TESTS=OFF >/dev/null
cmake --build "$build" -j2 --target fragmentation_error >/dev/null
"$build/fragmentation_error" "$@" --shared "$data"

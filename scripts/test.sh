#!/bin/sh
# Builds and runs the whole test suite: a release build, the Snakemake
# workflow check and a short fuzz run of every harness, then the same suite
# under AddressSanitizer + UndefinedBehaviorSanitizer and under
# ThreadSanitizer.
set -e
cd "$(dirname "$0")/.."
. scripts/deps.sh
need_packages g++ make cmake libpugixml-dev zlib1g-dev libmsnumpress-dev libcli11-dev libgtest-dev
jobs="$(nproc)"
run_suite() {
    dir=$1; shift
    echo "== $dir"
    cmake -S . -B "$dir" "$@" >/dev/null
    cmake --build "$dir" -j"$jobs"
    (cd "$dir" && ctest --output-on-failure -j"$jobs")
}
run_suite build -DCMAKE_BUILD_TYPE=Release
# The Snakemake workflow against one plain run, once (the sanitizer builds
# add nothing to it). The engine does not need snakemake: it is installed
# where we may install packages, and the check is skipped elsewhere.
if command -v snakemake >/dev/null 2>&1 ||
   { [ "$(id -u)" = 0 ] && command -v apt-get >/dev/null 2>&1 && (need_packages snakemake); }; then
    echo "== workflow"
    sh tests/workflow/run.sh build/vemra
else
    echo "workflow check skipped: snakemake cannot be installed"
fi
# Every fuzz harness for a fixed number of inputs from a fixed seed (libFuzzer
# needs clang, installed where we may install packages; skipped elsewhere).
# A harness that finds a fault fails the suite and leaves its input in
# build-fuzz/. Longer exploration: sh tests/fuzz/run.sh SECONDS.
if command -v clang++ >/dev/null 2>&1 ||
   { [ "$(id -u)" = 0 ] && command -v apt-get >/dev/null 2>&1 && (need_packages clang); }; then
    echo "== fuzz (fixed seed)"
    FUZZ_JOBS="$jobs" sh tests/fuzz/run.sh repeat
else
    echo "fuzz smoke run skipped: clang cannot be installed"
fi
run_suite build-asan -DCMAKE_BUILD_TYPE=Debug -DVEMRA_SANITIZE=ON
# Some kernels (large mmap randomisation) cannot host ThreadSanitizer's
# memory layout; its suite is skipped there rather than failing for nothing.
probe=$(mktemp -d)
printf 'int main() { return 0; }\n' > "$probe/p.cpp"
if g++ -fsanitize=thread "$probe/p.cpp" -o "$probe/p" 2>/dev/null && "$probe/p" 2>/dev/null; then
    rm -rf "$probe"
    TSAN_OPTIONS="halt_on_error=1" run_suite build-tsan -DCMAKE_BUILD_TYPE=Debug -DVEMRA_TSAN=ON
else
    rm -rf "$probe"
    echo "== build-tsan skipped: ThreadSanitizer cannot run on this machine"
fi

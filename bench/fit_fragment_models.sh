#!/bin/sh
# Re-fits the fragment-intensity models, models/fragment_{hcd,cid,etd}.model,
# on the labelled training corpus beside the source (../shared/data/train),
# and prints their validation (leave one set out) and prediction cost:
#
#   bench/fit_fragment_models.sh            fit and validate all three
#   NO_VALIDATE=1 bench/fit_fragment_models.sh   fit only (a few seconds)
#   BUILD=build bench/fit_fragment_models.sh      use (and turn benchmarks on in) another build folder
#
# Fitting is deterministic: the same corpus gives the same files bit for bit.
set -eu

root=$(cd "$(dirname "$0")/.." && pwd)
corpus="../shared/data/train"
build=${BUILD:-"$root/build-bench"}
[ -d "$root/$corpus" ] || { echo "no training corpus at $root/$corpus"; exit 1; }

fresh=""
[ -f "$build/CMakeCache.txt" ] || fresh="-DCMAKE_BUILD_TYPE=Release -DVEMRA_TESTS=OFF"
cmake -S "$root" -B "$build" -DVEMRA_BENCH=ON $fresh >/dev/null
cmake --build "$build" -j2 --target fit_fragment_model >/dev/null

cd "$root"
for f in hcd cid etd; do
    F=$(echo "$f" | tr a-z A-Z)
    extra="--time"
    [ -n "${NO_VALIDATE:-}" ] || extra="$extra --validate"
    [ "$F" != HCD ] || [ -n "${NO_VALIDATE:-}" ] || extra="$extra --measure-on CID"
    "$build/fit_fragment_model" "$corpus" --fragmentation "$F" $extra -o "models/fragment_$f.model"
done

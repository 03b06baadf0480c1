#!/bin/sh
# Re-fits the default re-ranking model, models/hcd.model (compiled in as
# rerank_model=builtin:hcd), on the shared HCD development sets with the
# recommended settings, then rebuilds so the program carries it:
#
#   bench/train_model.sh                      fit on hcd-mouse + massivekb
#   MODEL=/tmp/m.model SETS=hcd-mouse bench/train_model.sh   another file / a subset
#                                             (no rebuild when MODEL is given)
#
# The sets run exactly as bench/accuracy.sh runs them. Fitting is
# deterministic: the same spectra and settings give the same file. After a
# re-fit the recommended golden files change:
#   VEMRA_UPDATE_GOLDEN=1 build/vemra_tests --gtest_filter='*Recommended*'
set -eu

root=$(cd "$(dirname "$0")/.." && pwd)
data="$root/../shared/data"
vemra=${VEMRA:-"$root/build/vemra"}
sets=${SETS:-"hcd-mouse massivekb"}
model=${MODEL:-}
[ -d "$data" ] || { echo "no shared data at $data"; exit 1; }

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT INT TERM

# param NAME KEY=VALUE... -- SPECTRA: examples/hcd.param for one set.
param() {
    name=$1
    shift
    p="$tmp/$name.param"
    keys=""
    while [ "$1" != "--" ]; do keys="$keys $1"; shift; done
    shift
    del=""
    for kv in $keys; do del="$del -e /^${kv%%=*}=/d"; done
    # The model being fitted is not the one the run ranks with.
    sed -e '/^spec_path/d' -e '/^out_path=/d' -e '/^ans_path=/d' -e '/^spec_type=/d' -e '/^thread=/d' \
        -e '/^rerank_model=/d' $del \
        "$root/examples/hcd.param" >"$p"
    {
        echo "spec_path=1"
        echo "spec_path1=$1"
        echo "spec_type=MGF"
        echo "thread=2"
        for kv in $keys; do echo "$kv"; done
    } >>"$p"
}

args=""
for s in $sets; do
    case $s in
    hcd-mouse)
        param hcd-mouse C=160.03065 -- "$data/real/hcd-mouse/spectra.mgf"
        args="$args $tmp/hcd-mouse.param $data/real/hcd-mouse/truth.tsv" ;;
    massivekb)
        # Prepared in urea: N-terminal carbamyl joins the recommended
        # modifications, as in bench/accuracy.sh.
        mods="var_nterm_mods=$(sed -n 's/^var_nterm_mods=//p' "$root/examples/hcd.param"),*:43.005814"
        param massivekb C=160.03065 "$mods" -- "$data/real/hcd-human-massivekb/spectra.mgf"
        args="$args $tmp/massivekb.param $data/real/hcd-human-massivekb/truth.tsv" ;;
    *) echo "unknown set $s"; exit 2 ;;
    esac
done

if [ -n "$model" ]; then
    "$vemra" train $args -o "$model"
else
    "$vemra" train $args -o "$root/models/hcd.model"
    cmake --build "$(dirname "$vemra")" -j2 --target vemra
fi

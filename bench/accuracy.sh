#!/bin/sh
# Accuracy on the shared spectra with known peptides: runs vemra on every
# set and prints what `vemra evaluate` says about it.
#
#   bench/accuracy.sh                     recommended settings (examples/*.param)
#   PARAMS=tests/e2e/params bench/accuracy.sh    the design's settings
#   EXTRA="key=value key=value" bench/accuracy.sh   extra keys for every set
#   SETS="hcd-mouse massivekb" bench/accuracy.sh    a subset
#
# VEMRA (default build/vemra) is the binary. Nothing is written into the
# project.
set -eu

root=$(cd "$(dirname "$0")/.." && pwd)
data="$root/../shared/data"
vemra=${VEMRA:-"$root/build/vemra"}
params=${PARAMS:-"$root/examples"}
extra=${EXTRA:-}
sets=${SETS:-"hcd-mouse massivekb cid-yeast hcd100 etd100 paired100"}
[ -d "$data" ] || { echo "no shared data at $data"; exit 0; }

tmp=${KEEP:-$(mktemp -d)}; mkdir -p "$tmp"
[ -n "${KEEP:-}" ] || trap 'rm -rf "$tmp"' EXIT INT TERM

# run NAME BASE_PARAM TRUTH SPEC_TYPE KEY=VALUE... -- SPECTRA...
run() {
    name=$1 base=$2 truth=$3 type=$4
    shift 4
    keys=""
    while [ "$1" != "--" ]; do keys="$keys $1"; shift; done
    shift
    p="$tmp/$name.param"
    # Drop the keys set here, then append them: the [file] section is the
    # last one, and the reader finds [meta] keys there too.
    del=""
    for kv in $keys $extra; do del="$del -e /^${kv%%=*}=/d"; done
    sed -e '/^spec_path/d' -e '/^out_path=/d' -e '/^ans_path=/d' -e '/^spec_type=/d' -e '/^thread=/d' $del \
        "$params/$base" >"$p"
    {
        echo "spec_path=$#"
        k=1
        for f in "$@"; do echo "spec_path$k=$f"; k=$((k + 1)); done
        echo "spec_type=$type"
        echo "out_path=$tmp/out"
        echo "thread=2"
        for kv in $keys $extra; do echo "$kv"; done
    } >>"$p"
    start=$(date +%s.%N)
    "$vemra" "$p" "$name" >/dev/null 2>"$tmp/$name.err" || { cat "$tmp/$name.err"; return; }
    end=$(date +%s.%N)
    first=$(basename "$1")
    result="$tmp/out/$name/${first%.*}.txt"
    echo "== $name ($(echo "$end - $start" | bc) s)"
    "$vemra" evaluate "$result" "$truth" | sed -n "${LINES_SHOWN:-3,8}p"
}

for s in $sets; do
    case $s in
    hcd-mouse) run hcd-mouse hcd.param "$data/real/hcd-mouse/truth.tsv" MGF C=160.03065 -- \
        "$data/real/hcd-mouse/spectra.mgf" ;;
    massivekb)
        # The set was prepared in urea: with variable modifications on,
        # N-terminal carbamyl joins the recommended ones.
        mods=""
        if grep -q '^var_nterm_mods=' "$params/hcd.param"; then
            mods="var_nterm_mods=$(sed -n 's/^var_nterm_mods=//p' "$params/hcd.param"),*:43.005814"
        fi
        run massivekb hcd.param "$data/real/hcd-human-massivekb/truth.tsv" MGF C=160.03065 $mods -- \
        "$data/real/hcd-human-massivekb/spectra.mgf" ;;
    cid-yeast)
        # Ion-trap fragments (0.5 Da) and precursors of a few tenths of a Da.
        run cid-yeast hcd.param "$data/real/cid-yeast-ms2/truth.tsv" MS2 C=160.03065 frag_tol=0.5 \
            frag_tol_type_ppm=0 pep_tol=0.3 pep_tol_type_ppm=0 -- "$data/real/cid-yeast-ms2/spectra.ms2" ;;
    hcd100) run hcd100 hcd.param "$data/simulated/hcd100_truth.tsv" MGF -- "$data/simulated/hcd100_hcd.mgf" ;;
    etd100) run etd100 etd.param "$data/simulated/etd100_truth.tsv" MGF -- "$data/simulated/etd100_etd.mgf" ;;
    paired100)
        # Paired records carry the HCD spectrum's title.
        grep '\.hcd	' "$data/simulated/paired100_truth.tsv" >"$tmp/paired_truth.tsv"
        run paired100 paired.param "$tmp/paired_truth.tsv" MGF -- "$data/simulated/paired100_hcd.mgf" \
            "$data/simulated/paired100_etd.mgf" ;;
    esac
done

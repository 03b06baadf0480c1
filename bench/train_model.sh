#!/bin/sh
# Rebuilds the shipped re-ranking models from the labelled training corpus
# beside the project (../shared/data/train) with the recommended settings,
# then rebuilds the program so that it carries them:
#
#   bench/train_model.sh                  models/hcd_boosted.model (rerank_model=builtin:hcd-boosted)
#                                         from the b/y sets
#   OUT=/tmp/m bench/train_model.sh       write hcd_boosted.model into another folder (no rebuild)
#   ROWS=/tmp/rows bench/train_model.sh   also keep the feature rows (ROWS.hcd) for fitting
#                                         experiments: vemra train --rows ROWS.hcd --per-set ...
#   ARGS="--per-set" bench/train_model.sh    extra vemra train options (--per-set prints every set)
#   MODELS=etd OUT=/tmp/m bench/train_model.sh   the c/z set alone: today none of its known
#                                         peptides is among the leading candidates, so the fit
#                                         stops with that error and no ETD model is shipped
#
# Each set gets its own parameter file: examples/hcd.param (etd.param for the
# ETD set) without its re-ranking model, C=160.03065, the set's fragment
# tolerance by its instrument (20 ppm high-resolution HCD, 0.05 Da Q-TOF,
# 0.5 Da ion traps, MALDI TOF/TOF and the ion-trap ETD set, as the table of
# src/rerank/TrainingCorpus.cpp lists them), the precursor tolerance of its
# search (0.5 Da for the sets searched with 1-3 Da windows, 50 ppm MALDI),
# and the fixed TMT or iTRAQ labels on K and the N terminus. The fit is
# deterministic: the same corpus gives the same files bit for bit. The
# development sets of ../shared/data/real are never fitted on.
set -eu

root=$(cd "$(dirname "$0")/.." && pwd)
corpus="$root/../shared/data/train"
vemra=${VEMRA:-"$root/build/vemra"}
out=${OUT:-}
rows=${ROWS:-}
args=${ARGS:-}
models=${MODELS:-hcd}
[ -d "$corpus" ] || { echo "no training corpus at $corpus"; exit 1; }
# Made now: the model is written only after the whole corpus is sequenced.
[ -z "$out" ] || mkdir -p "$out"

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT INT TERM

# The corpus table: "name KIND TOLERANCE" per listed set.
sed -n 's/^ *{"\([a-z0-9_]*\)", \([A-Z]*\), k\([A-Za-z]*\), \([a-zA-Z0-9.]*\)},.*/\1 \2 \3 \4/p' \
    "$root/src/rerank/TrainingCorpus.cpp" >"$tmp/sets"
[ -s "$tmp/sets" ] || { echo "no set table in src/rerank/TrainingCorpus.cpp"; exit 1; }

# param NAME KIND TOL WEIGHT: the set's parameter file.
param() {
    name=$1 kind=$2 tol=$3 weight=$4
    base=hcd.param
    keys="C=160.03065"
    [ "$kind" = ETD ] && base=etd.param
    case $tol in
    High) ;;
    Qtof) keys="$keys frag_tol=0.05 frag_tol_type_ppm=0" ;;
    *) keys="$keys frag_tol=0.5 frag_tol_type_ppm=0" ;;
    esac
    # Sets searched with 1-3 Da precursor windows (label weight kWide).
    [ "$weight" = kWide ] && keys="$keys pep_tol=0.5 pep_tol_type_ppm=0"
    case $name in
    *maldi*) keys="$keys pep_tol=50" ;;
    *tmt*) keys="$keys K=357.257895 n-term=229.162932" ;;
    *itraq*) keys="$keys K=272.197026 n-term=144.102063" ;;
    esac
    del=""
    for kv in $keys; do del="$del -e /^${kv%%=*}=/d"; done
    # The model being fitted is not the one the run ranks with.
    sed -e '/^spec_path/d' -e '/^out_path=/d' -e '/^ans_path=/d' -e '/^spec_type=/d' -e '/^thread=/d' \
        -e '/^rerank_model=/d' $del "$root/examples/$base" >"$tmp/$name.param"
    {
        echo "spec_path=1"
        echo "spec_path1=$corpus/$name/labelled.mgf"
        echo "spec_type=MGF"
        echo "thread=2"
        for kv in $keys; do echo "$kv"; done
    } >>"$tmp/$name.param"
}

for m in $models; do
    list=""
    while read -r name kind tol weight; do
        [ -f "$corpus/$name/labelled.mgf" ] || continue
        case $m in
        hcd) [ "$kind" != ETD ] || continue ;;
        etd) [ "$kind" = ETD ] || continue ;;
        esac
        param "$name" "$kind" "$tol" "$weight"
        list="$list $tmp/$name.param $corpus/$name/truth.tsv"
    done <"$tmp/sets"
    [ -n "$list" ] || { echo "no $m set in the corpus"; exit 1; }
    # The boosted HCD model ships beside the linear models/hcd.model (see
    # README, "Re-ranking"): builtin:hcd-boosted.
    name=$m
    [ "$m" = hcd ] && name=hcd_boosted
    target=${out:-"$root/models"}/$name.model
    keep=""
    [ -z "$rows" ] || keep="--save-rows $rows.$m"
    # The settings chosen by leave-one-set-out validation are the defaults
    # of vemra train (README, "Re-ranking"). Lists whose first candidate's
    # seen and missing ions do not follow the fragment model at all
    # (detection likelihood below -0.75: intensities that do not come from
    # real fragmentation) are ranked by the linear builtin:hcd instead.
    fallback=""
    [ "$m" = hcd ] && fallback="--fallback builtin:hcd --fallback-feature detection_likelihood --fallback-below -0.75"
    # shellcheck disable=SC2086
    "$vemra" train $list -o "$target" $keep $fallback $args
done

[ -n "$out" ] || cmake --build "$(dirname "$vemra")" -j2 --target vemra

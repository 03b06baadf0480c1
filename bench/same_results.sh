#!/bin/sh
# Checks that two vemra binaries write the same files on the shared spectra
# with known peptides: every set of bench/accuracy.sh with the recommended
# settings, all three outputs and the trace, then variations (the design's
# settings, the isotope-error pass, one thread and a small batch).
#
#   bench/same_results.sh OLD_VEMRA NEW_VEMRA
#
# Prints one line per run and "different: FILE" for every file that
# differs (the summary's seconds, counts only one binary knows, and time.txt
# aside); exits 1 when any does.
set -eu

old=$(realpath "$1") new=$(realpath "$2")
root=$(cd "$(dirname "$0")/.." && pwd)
data="$root/../shared/data"
[ -d "$data" ] || { echo "no shared data at $data"; exit 0; }
tmp=${KEEP:-$(mktemp -d)}; mkdir -p "$tmp"
[ -n "${KEEP:-}" ] || trap 'rm -rf "$tmp"' EXIT INT TERM
status=0

# run NAME BASE_PARAM KEY=VALUE... -- SPECTRA...
run() {
    name=$1 base=$2
    shift 2
    keys=""
    while [ "$1" != "--" ]; do keys="$keys $1"; shift; done
    shift
    for which in old new; do
        p="$tmp/$which-$name.param"
        del=""
        for kv in $keys; do del="$del -e /^${kv%%=*}=/d"; done
        sed -e '/^spec_path/d' -e '/^out_path=/d' -e '/^ans_path=/d' -e '/^spec_type=/d' -e '/^output_format=/d' \
            $del "$base" >"$p"
        {
            echo "spec_path=$#"
            k=1
            for f in "$@"; do echo "spec_path$k=$f"; k=$((k + 1)); done
            echo "out_path=$tmp/$which"
            echo "output_format=native,mztab,tsv"
            for kv in $keys; do echo "$kv"; done
        } >>"$p"
        bin=$old
        [ $which = new ] && bin=$new
        (cd "$tmp" && "$bin" "$p" "$name" >"$tmp/$which-$name.log" 2>&1) || true
    done
    same=yes
    for f in "$tmp/old/$name"/*; do
        b=$(basename "$f")
        case $b in time.txt) continue ;; esac
        if [ "${b%.summary.json}" != "$b" ]; then
            # Counts only one of the two binaries knows (added later) are left out.
            skip='"seconds"\|"version"\|"failed"\|"peaks_reduced"\|"damaged_skipped"'
            grep -v "$skip" "$f" | sed -e "s#$tmp/old/#OUT/#" -e "s/,$//" >"$tmp/a.json"
            grep -v "$skip" "$tmp/new/$name/$b" 2>/dev/null | sed -e "s#$tmp/new/#OUT/#" -e "s/,$//" >"$tmp/b.json" || true
            cmp -s "$tmp/a.json" "$tmp/b.json" || { echo "different: $name/$b"; same=no; }
        elif ! cmp -s "$f" "$tmp/new/$name/$b"; then
            echo "different: $name/$b"
            same=no
        fi
    done
    echo "$name: $same"
    [ $same = yes ] || status=1
}

rec="$root/examples"
design="$root/tests/e2e/params"
mouse="$data/real/hcd-mouse"
kb="$data/real/hcd-human-massivekb"
sim="$data/simulated"
for set in rec design; do
    eval dir=\$$set
    run "$set-mouse" "$dir/hcd.param" C=160.03065 spec_type=MGF trace=1 ans_path="$mouse/answers.txt" -- "$mouse/spectra.mgf"
    run "$set-massivekb" "$dir/hcd.param" C=160.03065 spec_type=MGF -- "$kb/spectra.mgf"
    run "$set-cid" "$dir/hcd.param" C=160.03065 spec_type=MS2 frag_tol=0.5 frag_tol_type_ppm=0 pep_tol=0.3 \
        pep_tol_type_ppm=0 -- "$data/real/cid-yeast-ms2/spectra.ms2"
    run "$set-hcd100" "$dir/hcd.param" spec_type=MGF trace=1 ans_path="$sim/hcd100_answers.txt" -- "$sim/hcd100_hcd.mgf"
    run "$set-etd100" "$dir/etd.param" spec_type=MGF -- "$sim/etd100_etd.mgf"
    run "$set-paired100" "$dir/paired.param" spec_type=MGF trace=1 ans_path="$sim/paired100_answers.txt" -- \
        "$sim/paired100_hcd.mgf" "$sim/paired100_etd.mgf"
done
run iso-mouse "$rec/hcd.param" C=160.03065 spec_type=MGF isotope_error=1 -- "$mouse/spectra.mgf"
run iso-paired "$rec/paired.param" spec_type=MGF isotope_error=1 -- "$sim/paired100_hcd.mgf" "$sim/paired100_etd.mgf"
run one-thread-batch7 "$rec/hcd.param" C=160.03065 spec_type=MGF thread=1 batch_size=7 -- "$kb/spectra.mgf"
run mzml "$rec/hcd.param" C=160.03065 spec_type=mzML -- "$mouse/converted/spectra.mzML"
exit $status

#!/bin/sh
# Runs the Snakemake workflow with 3 shards on the HCD example and on the
# paired example, and checks that the joined result files (native, mzTab and
# tsv) are byte for byte those of one plain vemra run, and that the joined
# summaries hold the same counts.
# Usage: tests/workflow/run.sh [VEMRA_BINARY]   (default build/vemra)
set -e
root=$(cd "$(dirname "$0")/../.." && pwd)
vemra=$(realpath "${1:-$root/build/vemra}")
if ! command -v snakemake >/dev/null 2>&1; then
    echo "workflow check skipped: snakemake cannot be installed"
    exit 0
fi

# Snakemake keeps its state in .snakemake/ of the folder it runs in.
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

# One template for both datasets, so one answer file for both; a relative
# ans_path also checks that the jobs find it from their own folders.
cat "$root/examples/answers.txt" "$root/examples/paired_answers.txt" > answers.txt
sed -e 's|^ans_path=.*|ans_path=answers.txt|' -e 's|^out_path=.*|out_path=plain|' \
    -e 's|^\[file\]|[file]\noutput_format=native,mztab,tsv|' "$root/examples/hcd.param" > template.param
sed "s|^spec_path1=.*|spec_path1=$root/examples/hcd_example.mgf|" template.param > hcd.param
sed -e 's|^spec_path=1|spec_path=2|' \
    -e "s|^spec_path1=.*|spec_path1=$root/examples/paired_hcd.mgf\nspec_path2=$root/examples/paired_etd.mgf|" \
    template.param > paired.param
"$vemra" hcd.param > plain.log 2>&1
"$vemra" paired.param >> plain.log 2>&1

cat > config.yaml <<EOF
spectra:
  - $root/examples/hcd_example.mgf
  - [$root/examples/paired_hcd.mgf, $root/examples/paired_etd.mgf]
template: template.param
shards: 3
threads: 1
vemra: $vemra
output: joined
EOF
if ! snakemake -s "$root/workflow/Snakefile" --configfile config.yaml --cores 2 > snakemake.log 2>&1; then
    cat snakemake.log
    exit 1
fi

# The summaries' own paths and times differ; every count must agree.
counts() { grep -v -e '"dataset"' -e '"result_file"' -e '"seconds"' "$1"; }
failed=0
for name in hcd_example paired_hcd; do
    for file in "$name.txt" "$name.mztab" "$name.tsv"; do
        if ! cmp "plain/vemra+/$file" "joined/$file"; then
            echo "FAILED: joined/$file differs from the plain run's"
            failed=1
        fi
    done
    if ! counts "plain/vemra+/$name.summary.json" > plain.counts ||
       ! counts "joined/$name.summary.json" > joined.counts ||
       ! diff plain.counts joined.counts; then
        echo "FAILED: joined/$name.summary.json counts differ from the plain run's"
        failed=1
    fi
done
[ "$failed" = 0 ] && echo "workflow check passed: 3 joined shards equal one plain run (HCD and paired examples)"
exit "$failed"

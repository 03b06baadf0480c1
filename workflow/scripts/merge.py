#!/usr/bin/env python3
"""Joins the shard results of one dataset into the whole dataset's results.

    merge.py PREFIX SHARD_FOLDER...

Every SHARD_FOLDER is the output folder of one `vemra ... --shard K/N` run,
given in the order K = 1..N; each holds one dataset's NAME.txt and
NAME.summary.json, and NAME.mztab and NAME.tsv where output_format asks for
them. They are joined into PREFIX.txt, PREFIX.summary.json, ... The shards' records already carry the
whole dataset's numbers, so joining them in order gives exactly the result
file of one unsharded run.
"""

import glob
import json
import os
import shutil
import sys


def concatenate(parts, target):
    """Native result file: the records of every shard, in shard order."""
    with open(target, "wb") as out:
        for part in parts:
            with open(part, "rb") as f:
                shutil.copyfileobj(f, out)


def add_counts(whole, shard):
    """Adds a shard's counts (and seconds) to the whole; texts stay shard 1's."""
    for key, value in shard.items():
        if isinstance(value, dict):
            add_counts(whole[key], value)
        elif isinstance(value, (int, float)):
            whole[key] += value


def json_text(value, depth=0):
    """The layout vemra writes: two-space indents, seconds to the millisecond."""
    if isinstance(value, dict):
        pad = "  " * (depth + 1)
        items = [f"{pad}{json_text(k)}: {json_text(v, depth + 1)}" for k, v in value.items()]
        return "{\n" + ",\n".join(items) + "\n" + "  " * depth + "}"
    if isinstance(value, str):
        escaped = "".join("\\" + c if c in '"\\' else f"\\u{ord(c):04x}" if ord(c) < 0x20 else c for c in value)
        return '"' + escaped + '"'
    if isinstance(value, float):
        return f"{value:.3f}"
    return str(value)


def merge_summaries(parts, target):
    """Summary: the counts and seconds of all shards summed; the result file is the joined one."""
    shards = []
    for part in parts:
        with open(part, encoding="utf-8") as f:
            shards.append(json.load(f))
    whole = shards[0]
    for shard in shards[1:]:
        add_counts(whole, shard)
    if whole["result_file"]:
        # The dataset's first result file (NAME.txt, else .mztab, else .tsv), joined.
        whole["result_file"] = target[: -len(".summary.json")] + os.path.splitext(whole["result_file"])[1]
    with open(target, "w", encoding="utf-8") as out:
        out.write(json_text(whole) + "\n")


def header_once(ends_header):
    """A joiner for tables with a header: shard 1 whole, then every later
    shard without its header (its lines up to the one ends_header accepts)."""
    def join(parts, target):
        with open(target, "wb") as out:
            for k, part in enumerate(parts):
                with open(part, "rb") as f:
                    if k > 0:
                        for line in f:
                            if ends_header(line):
                                break
                    shutil.copyfileobj(f, out)
    return join


# Result file suffix -> joiner. Every shard writes a table's whole header,
# even a shard with no spectrum; the rows already carry the whole dataset's
# numbers (PSM_ID, S<n>) and lines saying why a spectrum was not sequenced
# (mzTab COM lines after the header) are rows like any other.
JOINERS = {
    ".txt": concatenate,
    ".summary.json": merge_summaries,
    ".mztab": header_once(lambda line: line.startswith(b"PSH\t")),  # MTD block, then the PSH line
    ".tsv": header_once(lambda line: True),  # one column line
}


def result_base(folder):
    """FOLDER/NAME for the one dataset a shard run wrote into FOLDER (NAME is
    the dataset's name, or the name vemra gave it to avoid a collision)."""
    found = glob.glob(os.path.join(glob.escape(folder), "*.summary.json"))
    if len(found) != 1:
        sys.exit(f"merge: {folder} should hold one dataset's results, not {len(found)}")
    return found[0][: -len(".summary.json")]


def main(argv):
    if len(argv) < 3:
        sys.exit(__doc__)
    prefix, folders = argv[1], argv[2:]
    bases = [result_base(folder) for folder in folders]
    for suffix, join in JOINERS.items():
        parts = [base + suffix for base in bases]
        present = [os.path.exists(part) for part in parts]
        if not any(present):
            continue
        if not all(present):
            sys.exit(f"merge: {parts[present.index(False)]} is missing")
        join(parts, prefix + suffix)


if __name__ == "__main__":
    main(sys.argv)

#!/usr/bin/env python3
"""An independent reader of mzTab 1.0 identification files (Summary mode).

    check_mztab.py FILE.mztab [EXPECTED_PSMS]

Reads the file the way a consumer would, from the format's rules alone (no
code shared with the writer): the metadata every mzTab 1.0 Summary
Identification file must have, a PSH header with the mandatory PSM columns,
PSM rows as long as the header, residue letters, modifications written as
position-UNIMOD:n or position-CHEMMOD:mass, spectra_ref pointing at declared
runs, and a calculated m/z that agrees with the sequence, its modifications
and the charge. Prints one line per problem and exits 1 when there is any.
"""

import re
import sys

RESIDUE = {
    "G": 57.02146, "A": 71.03711, "S": 87.03203, "P": 97.05276, "V": 99.06841, "T": 101.04768,
    "C": 103.00919, "L": 113.08406, "I": 113.08406, "N": 114.04293, "D": 115.02694, "Q": 128.05858,
    "K": 128.09496, "E": 129.04259, "M": 131.04049, "H": 137.05891, "F": 147.06841, "R": 156.10111,
    "Y": 163.06333, "W": 186.07931,
}
UNIMOD = {1: 42.010565, 4: 57.021464, 5: 43.005814, 7: 0.984016, 21: 79.966331, 28: -17.026549, 35: 15.994915}
PROTON, WATER = 1.007276, 18.010565
MANDATORY = ["sequence", "PSM_ID", "accession", "unique", "database", "database_version", "search_engine",
             "modifications", "retention_time", "charge", "exp_mass_to_charge", "calc_mass_to_charge",
             "spectra_ref", "pre", "post", "start", "end"]


def main(path, expected):
    problems = []
    mtd = {}
    header = None
    psms = 0
    with open(path, encoding="utf-8") as f:
        for n, line in enumerate(f, 1):
            line = line.rstrip("\n")
            if not line:
                continue
            cells = line.split("\t")
            kind = cells[0]
            if kind == "MTD":
                if len(cells) != 3:
                    problems.append(f"line {n}: an MTD line has three cells")
                    continue
                mtd[cells[1]] = cells[2]
            elif kind == "COM":
                continue
            elif kind == "PSH":
                header = cells[1:]
                for col in MANDATORY:
                    if col not in header:
                        problems.append(f"line {n}: PSH lacks the column {col}")
                scores = [c for c in header if c.startswith("search_engine_score[")]
                for c in scores:
                    key = "psm_" + c
                    if key not in mtd:
                        problems.append(f"line {n}: {c} is not declared as {key}")
            elif kind == "PSM":
                psms += 1
                if header is None:
                    problems.append(f"line {n}: PSM before PSH")
                    continue
                if len(cells) - 1 != len(header):
                    problems.append(f"line {n}: {len(cells) - 1} cells, the header has {len(header)}")
                    continue
                row = dict(zip(header, cells[1:]))
                problems += check_psm(n, row, mtd)
            else:
                problems.append(f"line {n}: unknown line kind {kind!r}")
    for key, want in (("mzTab-version", "1.0.0"), ("mzTab-mode", "Summary"), ("mzTab-type", "Identification")):
        if mtd.get(key) != want:
            problems.append(f"MTD {key} is {mtd.get(key)!r}, not {want}")
    for key in ("description", "ms_run[1]-location", "psm_search_engine_score[1]"):
        if key not in mtd:
            problems.append(f"MTD {key} is missing")
    if not any(k.startswith("fixed_mod[") for k in mtd) or not any(k.startswith("variable_mod[") for k in mtd):
        problems.append("MTD fixed_mod[1] and variable_mod[1] are mandatory")
    for key, value in mtd.items():
        if re.fullmatch(r"(fixed|variable)_mod\[\d+\]", key) and "MS:100245" not in value:
            if not re.fullmatch(r"\[(UNIMOD)?, (UNIMOD:\d+|CHEMMOD:[+-]?\d+(\.\d+)?), [^,\]]*, \]", value):
                problems.append(f"MTD {key} {value!r} is no modification parameter")
            if key + "-site" not in mtd:
                problems.append(f"MTD {key} has no -site")
    if expected is not None and psms != expected:
        problems.append(f"{psms} PSM rows, expected {expected}")
    for p in problems:
        print(p)
    print(f"{psms} PSM rows read")
    return 1 if problems else 0


def check_psm(n, row, mtd):
    problems = []
    seq = row["sequence"]
    if not re.fullmatch(r"[A-Z]+", seq):
        return [f"line {n}: sequence {seq!r} is no residue letters"]
    mass = sum(RESIDUE.get(a, 0.0) for a in seq) + WATER
    if row["modifications"] != "null":
        for item in row["modifications"].split(","):
            m = re.fullmatch(r"(\d+)-(UNIMOD:(\d+)|CHEMMOD:([+-]?\d+(?:\.\d+)?))", item)
            if not m or int(m.group(1)) > len(seq) + 1:
                problems.append(f"line {n}: modification {item!r} is malformed")
                continue
            if m.group(3):
                mass += UNIMOD.get(int(m.group(3)), 0.0)
            else:
                mass += float(m.group(4))
    try:
        z = int(row["charge"])
        calc = float(row["calc_mass_to_charge"])
        float(row["exp_mass_to_charge"])
        float(row["search_engine_score[1]"])
    except ValueError:
        return problems + [f"line {n}: charge, m/z or score is no number"]
    if abs((mass + z * PROTON) / z - calc) > 0.01:
        problems.append(f"line {n}: calc_mass_to_charge {calc} is not that of {seq} {row['modifications']} at {z}+")
    for ref in row["spectra_ref"].split("|"):
        m = re.fullmatch(r"ms_run\[(\d+)\]:(index|scan)=\d+", ref)
        if not m or f"ms_run[{m.group(1)}]-location" not in mtd:
            problems.append(f"line {n}: spectra_ref {ref!r} names no declared run")
    if not re.fullmatch(r"\[[^,]*, [^,]*, [^,\]]+, [^\]]*\]", row["search_engine"]):
        problems.append(f"line {n}: search_engine {row['search_engine']!r} is no parameter")
    return problems


if __name__ == "__main__":
    if len(sys.argv) not in (2, 3):
        print(__doc__)
        sys.exit(2)
    sys.exit(main(sys.argv[1], int(sys.argv[2]) if len(sys.argv) == 3 else None))

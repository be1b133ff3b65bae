#!/usr/bin/python3
"""Checks that tables we write as MAT-files load in scipy with the same values.

Run after a build, with Debian's python3-scipy:
    /usr/bin/python3 tests/peers/mat_roundtrip_check.py [build/bin/kelto-import]

For each sample table (CSV, text, DIF, and a generated one with 64-bit integers, NaN-free
decimals and a missing cell) it runs `kelto-import convert -o out.mat FILE`, then compares
scipy.io.loadmat(out.mat)["DATA"] with what `kelto-import show --json FILE` gives: numbers
equal as single-precision values (the table keeps floats), texts and missing cells as NaN
(texts that are plain numbers, like "0042", are numbers to the table and written so).
Prints one line per file and exits non-zero on any difference.
"""
import json
import math
import os
import subprocess
import sys
import tempfile

import numpy as np
import scipy.io

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..")
TOOL = sys.argv[1] if len(sys.argv) > 1 else os.path.join(ROOT, "build", "bin", "kelto-import")


def table(path):
    out = subprocess.run([TOOL, "show", "--json", path], check=True, capture_output=True, text=True).stdout
    return json.loads(out)


def check(path, tmp):
    mat = os.path.join(tmp, os.path.basename(path) + ".mat")
    subprocess.run([TOOL, "convert", "-o", mat, path], check=True, capture_output=True)
    t = table(path)
    data = scipy.io.loadmat(mat)["DATA"]
    rows, cols = t["rows"], t["columns"]
    if data.shape != (rows, cols):
        return f"shape {data.shape} != {(rows, cols)}"
    for r, row in enumerate(t["cells"]):
        for c in range(cols):
            cell = row[c] if c < len(row) else None
            got = data[r, c]
            if isinstance(cell, str):
                # A text that is a plain number ("0042") is kept as text but is also that
                # number in the table, and is written as the number.
                try:
                    cell = float(cell)
                except ValueError:
                    pass
            if isinstance(cell, (int, float)) and not isinstance(cell, bool):
                if np.float32(cell) != np.float32(got) and float(cell) != float(got):
                    return f"cell {r + 1},{c + 1}: {cell!r} != {got!r}"
            elif not math.isnan(got):
                return f"cell {r + 1},{c + 1}: {cell!r} should be NaN, is {got!r}"
    return None


def main():
    failures = 0
    with tempfile.TemporaryDirectory() as tmp:
        generated = os.path.join(tmp, "generated.csv")
        with open(generated, "w") as f:
            f.write("1,2.5,-3\n9007199254740993,0.1,\n1e-7,123456.789,-0\n")
        files = [os.path.join(ROOT, "samples", n) for n in ("weather_stations.csv", "plate_reader.txt", "inventory.dif")]
        for path in files + [generated]:
            problem = check(path, tmp)
            print(f"{os.path.basename(path)}: {problem or 'same values'}")
            failures += problem is not None
    sys.exit(1 if failures else 0)


if __name__ == "__main__":
    main()

#!/usr/bin/python3
"""Expected tables for the MAT-file corpus, from scipy.io.loadmat.

Rerun (Debian's python3-scipy; the interpreter first on PATH may lack it):
    /usr/bin/python3 tests/peers/mat_expected.py > tests/corpus/mat/expected.tsv

scipy gives the values; this script lays them out as our reader delivers them:
- level 4: the first matrix only (the default options), full, text (one string per row, down
  one column) or sparse (its whole area, zeros included);
- level 5: every numeric, logical, character and sparse variable in file order, stacked one
  below the other from column 1; cells, structures, objects and functions are skipped;
- NaN and infinite values are missing; int64/uint64 values are integer cells;
- a file with a complex variable ends with 1032, one with nothing to show with 1031, a v7.3
  file with 1034; where scipy itself fails the line says "*": ours must end cleanly, with a
  code or a table (it need not refuse what scipy refuses).

Lines: FILE size ROWS COLS | FILE error CODE | FILE cell ROW COL KIND VALUE, KIND n (number,
given as the double's repr), i (64-bit integer) or s (text); cells not listed are missing.
"""
import glob
import math
import os
import sys
import warnings

import numpy as np
import scipy.io
import scipy.sparse

CORPUS = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "corpus", "mat")


class Refused(Exception):
    def __init__(self, code):
        self.code = code


def table_of(value):
    """(rows, columns, cells) of one variable, cells as (row, col, kind, text) from 1; None to skip."""
    if scipy.sparse.issparse(value):
        if np.iscomplexobj(value.data):
            raise Refused(1032)
        value = value.toarray()
    if not isinstance(value, np.ndarray) or value.dtype.kind in "OV" or type(value) is not np.ndarray:
        return None
    if value.dtype.kind == "c":
        raise Refused(1032)
    if value.size == 0:
        return 0, 0, []  # no elements: an empty matrix, whatever its other dimension
    if value.dtype.kind == "U":
        rows = value.shape[0] if value.ndim else 1
        chars = value.reshape(rows, -1, order="F") if value.size else np.empty((rows, 0), dtype="<U1")
        texts = ["".join(str(c) if c else "\0" for c in row) for row in chars]
        # The table keeps texts without surrounding blanks; an empty text is missing.
        texts = [t.strip(" \t\n\r\v\f") for t in texts]
        cells = [(r + 1, 1, "s", t) for r, t in enumerate(texts) if t != ""]
        return rows, (1 if rows else 0), cells
    rows = value.shape[0]
    flat = value.reshape(rows, -1, order="F") if value.size else np.empty((rows, 0 if rows else 0))
    cols = flat.shape[1] if rows else (int(np.prod(value.shape[1:])) if value.ndim > 1 else 0)
    cells = []
    for r in range(flat.shape[0]):
        for c in range(flat.shape[1]):
            v = flat[r, c]
            if value.dtype.kind in "iu" and value.dtype.itemsize == 8 and (value.dtype.kind == "i" or int(v) < 2**63):
                cells.append((r + 1, c + 1, "i", str(int(v))))
            else:
                d = float(v)
                if math.isfinite(d):
                    cells.append((r + 1, c + 1, "n", repr(d)))
    return rows, cols, cells


def expected(path):
    with open(path, "rb") as f:
        head = f.read(128)
    level5 = head.startswith(b"MATLAB")
    if level5 and head[7:8].isdigit() and int(head[7:8]) > 5:
        return ("error", "1034")  # v7.3 (HDF5): not a level 4 or 5 file
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        try:
            data = scipy.io.loadmat(path, chars_as_strings=False, squeeze_me=False, mat_dtype=False,
                                    struct_as_record=True)
        except Exception:
            return ("error", "*")
    names = [n for n in data if not n.startswith("__")]
    try:
        if not level5:
            if not names:
                return ("error", "*")
            t = table_of(data[names[0]])
            return ("table", t[0], t[1], t[2])
        parts = [t for t in (table_of(data[n]) for n in names) if t is not None]
    except Refused as e:
        return ("error", str(e.code))
    if not parts:
        return ("error", "1031")
    if len(parts) == 1:
        return ("table",) + parts[0]
    cells, row = [], 0
    for rows, cols, part in parts:
        cells += [(r + row, c, k, v) for r, c, k, v in part]
        row += rows
    return ("table", row, max(p[1] for p in parts), cells)


def main():
    out = sys.stdout
    for path in sorted(glob.glob(os.path.join(CORPUS, "*.mat"))):
        name = os.path.basename(path)
        e = expected(path)
        if e[0] == "error":
            out.write(f"{name}\terror\t{e[1]}\n")
            continue
        out.write(f"{name}\tsize\t{e[1]}\t{e[2]}\n")
        for r, c, k, v in e[3]:
            v = v.replace("\\", "\\\\").replace("\t", "\\t").replace("\n", "\\n").replace("\0", "\\0")
            out.write(f"{name}\tcell\t{r}\t{c}\t{k}\t{v}\n")


if __name__ == "__main__":
    main()

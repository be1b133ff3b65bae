#!/usr/bin/python3
"""Expected cell values of the .xlsx corpus from two independent readers.

Writes tests/corpus/xlsx/expected/peers.tsv, one line per cell that either peer reads as
holding a value: file, sheet, cell, the value by openpyxl, the value by SheetJS. A value is
"kind:text" with kind n (number, Python repr), s (text), b (TRUE/FALSE), e (error text),
d (a calendar date and time, "yyyy-mm-dd HH:MM:SS"), t (a time of day, "HH:MM:SS"), or
x (the peer gives a value we do not compare, with its text); an empty field means the peer
has no value there. Backslash, tab, CR and LF in texts are written \\ \t \r \n.

Rerun (from the repository root) when the corpus changes:
    /usr/bin/python3 tests/peers/xlsx_expected.py
It needs Debian's python3-openpyxl, and node with the npm package "xlsx" (SheetJS): run
`npm install xlsx` in a scratch folder and set NODE_PATH to its node_modules, or use the
preinstalled /work/peers/node_modules (the default below).
"""
import datetime
import glob
import json
import os
import subprocess
import sys

import openpyxl

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
CORPUS = os.path.join(ROOT, "tests", "corpus", "xlsx")
NODE_PATH = os.environ.get("NODE_PATH", "/work/peers/node_modules")


def escape(text):
    return text.replace("\\", "\\\\").replace("\t", "\\t").replace("\r", "\\r").replace("\n", "\\n")


def rounded(dt):
    # Dates are compared to the second after rounding the time to hundredths.
    micro = dt.microsecond
    hundredths = (micro + 5000) // 10000
    return dt.replace(microsecond=0) + datetime.timedelta(seconds=hundredths // 100)


def openpyxl_value(cell):
    v = cell.value
    if v is None:
        return None
    if isinstance(v, bool):
        return "b:" + ("TRUE" if v else "FALSE")
    if isinstance(v, (int, float)):
        return "n:" + repr(float(v))
    if isinstance(v, datetime.datetime):
        return "d:" + rounded(v).strftime("%Y-%m-%d %H:%M:%S")
    if isinstance(v, datetime.date):
        return "d:" + v.strftime("%Y-%m-%d") + " 00:00:00"
    if isinstance(v, datetime.time):
        return "t:" + v.strftime("%H:%M:%S")
    if isinstance(v, datetime.timedelta):
        return "x:duration " + str(v)
    if cell.data_type == "e":
        return "e:" + str(v)
    return "s:" + str(v)


def openpyxl_cells(path):
    try:
        wb = openpyxl.load_workbook(path, data_only=True)
    except Exception as e:  # a file the peer cannot read
        return {"!error": str(e)}
    sheets = {}
    for ws in wb.worksheets:
        cells = {}
        for row in ws.iter_rows():
            for cell in row:
                value = openpyxl_value(cell)
                if value is not None:
                    cells[cell.coordinate] = value
        sheets[ws.title] = cells
    return sheets


def sheetjs_value(kind, value):
    if kind == "n":
        return "n:" + repr(float(value))
    if kind == "date":
        y, m, d, hh, mm, ss, serial = value
        if hh is None:
            return "x:date " + json.dumps(value)
        return "d:%04d-%02d-%02d %02d:%02d:%02d" % (y, m, d, hh, mm, ss)
    return kind + ":" + value


def main():
    files = sorted(glob.glob(os.path.join(CORPUS, "*.xlsx")))
    script = os.path.join(os.path.dirname(os.path.abspath(__file__)), "xlsx_sheetjs.js")
    env = dict(os.environ, NODE_PATH=NODE_PATH)
    sheetjs = json.loads(subprocess.check_output(["node", script] + files, env=env))
    lines = ["file\tsheet\tcell\topenpyxl\tsheetjs"]
    for path in files:
        name = os.path.basename(path)
        ours = openpyxl_cells(path)
        theirs = sheetjs.get(name, {})
        for sheet in sorted(set(ours) | set(theirs)):
            if sheet.startswith("!") or sheet == "error":
                continue
            a = ours.get(sheet, {})
            b = {ref: sheetjs_value(*v) for ref, v in theirs.get(sheet, {}).items()}
            def key(ref):
                col = ref.rstrip("0123456789")
                return (int(ref[len(col):]), len(col), col)
            for ref in sorted(set(a) | set(b), key=key):
                lines.append("\t".join([name, escape(sheet), ref, escape(a.get(ref, "")), escape(b.get(ref, ""))]))
    out = os.path.join(CORPUS, "expected")
    os.makedirs(out, exist_ok=True)
    with open(os.path.join(out, "peers.tsv"), "w", encoding="utf-8", newline="\n") as f:
        f.write("\n".join(lines) + "\n")
    print("%d cells of %d files" % (len(lines) - 1, len(files)), file=sys.stderr)


if __name__ == "__main__":
    main()

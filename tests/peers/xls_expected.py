#!/usr/bin/python3
"""Expected cells of the .xls corpus, from two independent readers.

Writes tests/corpus/xls/expected/cells.tsv (the cells our reader must deliver, one per line:
file, sheet, row, column, kind, value; rows and columns from 1; kind "n" for a number, "s" for a
text) and tests/corpus/xls/expected/peer_notes.tsv (where the two peers disagree).

Values come from xlrd (Debian's python3-xlrd, 1.2); SheetJS (npm "xlsx") reads every file too
and each cell is compared with xlrd's. Rerun (CI never does):
    NODE_PATH=/work/peers/node_modules /usr/bin/python3 tests/peers/xls_expected.py
(`npm install xlsx` in a scratch folder gives another NODE_PATH.)

What the cells mean for our reader:
  - numbers as they are; texts exactly;
  - booleans and error values as their texts ("TRUE", "#DIV/0!");
  - BIFF5-8 numbers whose cell format is a date format go out as date texts: a built-in format
    14-22 or 45-47, or a format code holding at least two of the letters "ymdhms" (lower case,
    anywhere). The format code is xlrd's; the classification is that rule, not xlrd's own
    (xlrd's is noted where it differs). The text is "yyyy-mm-dd HH:MM:SS" (1904 system when
    the workbook's DATEMODE says so), or "HH:MM:SS" for a serial below 1 in the 1900 system;
  - BIFF2-4 numbers stay numbers;
  - empty texts (formula results "") are left out: they are missing cells.
"""
import datetime
import json
import math
import os
import subprocess
import sys

import xlrd

HERE = os.path.dirname(os.path.abspath(__file__))
CORPUS = os.path.join(HERE, "..", "corpus", "xls")
OUT = os.path.join(CORPUS, "expected")

BUILTIN_DATES = set(range(14, 23)) | {45, 46, 47}

SHEETJS = r"""
const XLSX = require('xlsx');
const out = {};
for (const f of process.argv.slice(2)) {
  try {
    const wb = XLSX.readFile(f, {cellDates: false, cellNF: true});
    const sheets = {};
    for (const name of wb.SheetNames) {
      const ws = wb.Sheets[name];
      const cells = {};
      for (const k of Object.keys(ws)) {
        if (k[0] === '!') continue;
        const c = ws[k];
        const a = XLSX.utils.decode_cell(k);
        cells[(a.r + 1) + ',' + (a.c + 1)] = [c.t, c.t === 'e' ? c.w : c.v];
      }
      sheets[name] = cells;
    }
    out[require('path').basename(f)] = sheets;
  } catch (e) {
    out[require('path').basename(f)] = {error: String(e.message || e)};
  }
}
process.stdout.write(JSON.stringify(out));
"""


def escape(text):
    return text.replace("\\", "\\\\").replace("\t", "\\t").replace("\n", "\\n").replace("\r", "\\r")


def is_date_format(book, xf_index):
    if xf_index is None or xf_index < 0 or xf_index >= len(book.xf_list):
        return False
    key = book.xf_list[xf_index].format_key
    if key in BUILTIN_DATES:
        return True
    fmt = book.format_map.get(key)
    text = fmt.format_str if fmt else ""
    return sum(1 for ch in text if ch in "ymdhms") >= 2


def date_text(value, datemode):
    if datemode == 1:
        value += 1462
    if value >= 1:
        day = int(value)
        frac = value - day
        if day < 60:
            day += 1
        base = datetime.datetime(1899, 12, 30) + datetime.timedelta(days=day)
        hundredths = round(frac * 8640000)
        t = base + datetime.timedelta(milliseconds=hundredths * 10)
        return t.strftime("%Y-%m-%d %H:%M:%S")
    frac = value - math.floor(value)
    hundredths = round(frac * 8640000)
    secs = hundredths // 100
    return "%02d:%02d:%02d" % (secs // 3600 % 24, secs // 60 % 60, secs % 60)


def main():
    files = sorted(f for f in os.listdir(CORPUS) if f != "MANIFEST.tsv" and os.path.isfile(os.path.join(CORPUS, f)))
    js = subprocess.run(["node", "-e", SHEETJS] + [os.path.join(CORPUS, f) for f in files],
                        check=True, capture_output=True, text=True).stdout
    sheetjs = json.loads(js)
    os.makedirs(OUT, exist_ok=True)
    cells_out = ["# file\tsheet\trow\tcolumn\tkind\tvalue (texts: \\t \\n \\r \\\\ escaped)"]
    notes = ["# file\tsheet\tcell\txlrd\tSheetJS\tnote"]
    for f in files:
        path = os.path.join(CORPUS, f)
        try:
            book = xlrd.open_workbook(path, formatting_info=True)
        except Exception as e:  # encrypted or not an Excel file
            try:
                book = xlrd.open_workbook(path)
            except Exception as e2:
                notes.append("\t".join([f, "", "", "unreadable: " + escape(str(e2)), escape(str(sheetjs.get(f, {}).get("error", ""))), ""]))
                continue
        biff5up = book.biff_version >= 50
        js_book = sheetjs.get(f, {})
        js_names = list(js_book.keys()) if isinstance(js_book, dict) else []
        for position, sheet in enumerate(book.sheets()):
            # Single-sheet files have no sheet names: xlrd calls them "Sheet 1", SheetJS "Sheet1".
            js_name = sheet.name if sheet.name in js_book else (js_names[position] if len(js_names) == book.nsheets else None)
            js_cells = js_book.get(js_name, {}) if js_name else {}
            for r in range(sheet.nrows):
                for c in range(sheet.ncols):
                    cell = sheet.cell(r, c)
                    t, v = cell.ctype, cell.value
                    if t in (xlrd.XL_CELL_EMPTY, xlrd.XL_CELL_BLANK):
                        continue
                    if t in (xlrd.XL_CELL_NUMBER, xlrd.XL_CELL_DATE):
                        rule_date = biff5up and is_date_format(book, cell.xf_index)
                        if rule_date != (t == xlrd.XL_CELL_DATE):
                            notes.append("\t".join([f, sheet.name, "%d,%d" % (r + 1, c + 1), "date" if t == xlrd.XL_CELL_DATE else "number",
                                                    "", "date classification: we follow the format-code rule (%s)" % ("date" if rule_date else "number")]))
                        kind, value = ("s", date_text(v, book.datemode)) if rule_date else ("n", repr(float(v)))
                    elif t == xlrd.XL_CELL_TEXT:
                        if v == "":
                            continue
                        kind, value = "s", v
                    elif t == xlrd.XL_CELL_BOOLEAN:
                        kind, value = "s", "TRUE" if v else "FALSE"
                    elif t == xlrd.XL_CELL_ERROR:
                        kind, value = "s", xlrd.error_text_from_code.get(v, "Unknown error code")
                    else:
                        continue
                    # Cross-check with SheetJS.
                    js = js_cells.get("%d,%d" % (r + 1, c + 1))
                    agree = True
                    if js is None:
                        agree = False
                    elif t in (xlrd.XL_CELL_NUMBER, xlrd.XL_CELL_DATE):
                        agree = js[0] == "n" and isinstance(js[1], (int, float)) and abs(js[1] - v) <= 1e-9 * max(1, abs(v))
                    elif t == xlrd.XL_CELL_TEXT:
                        agree = js[0] == "s" and js[1] == v
                    elif t == xlrd.XL_CELL_BOOLEAN:
                        agree = js[0] == "b" and bool(js[1]) == bool(v)
                    elif t == xlrd.XL_CELL_ERROR:
                        agree = js[0] == "e" and js[1] == value
                    if not agree:
                        notes.append("\t".join([f, sheet.name, "%d,%d" % (r + 1, c + 1), escape(repr(v)), escape(repr(js)), "values differ"]))
                    cells_out.append("\t".join([f, escape(sheet.name), str(r + 1), str(c + 1), kind, escape(value)]))
    with open(os.path.join(OUT, "cells.tsv"), "w", encoding="utf-8") as out:
        out.write("\n".join(cells_out) + "\n")
    with open(os.path.join(OUT, "peer_notes.tsv"), "w", encoding="utf-8") as out:
        out.write("\n".join(notes) + "\n")
    print(len(cells_out) - 1, "cells,", len(notes) - 1, "notes", file=sys.stderr)


if __name__ == "__main__":
    main()

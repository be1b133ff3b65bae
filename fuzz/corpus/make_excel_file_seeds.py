#!/usr/bin/python3
"""Seeds for the excel_file harness (see README-excel_file.md). Rerun from the repository root:
    /usr/bin/python3 fuzz/corpus/make_excel_file_seeds.py
"""
import os
import struct

import olefile

CORPUS = "tests/corpus/xls"
OUT = "fuzz/corpus/excel_file"
os.makedirs(OUT, exist_ok=True)


def rec(rtype, data=b""):
    return struct.pack("<HH", rtype, len(data)) + data


# Whole corpus files (compound files and plain BIFF2-4 streams), the small ones.
for name in sorted(os.listdir(CORPUS)):
    path = os.path.join(CORPUS, name)
    if name == "MANIFEST.tsv" or not os.path.isfile(path) or os.path.getsize(path) > 40000:
        continue
    data = open(path, "rb").read()
    ole_file = olefile.isOleFile(path)
    if not ole_file or len(data) <= 8000:
        open(os.path.join(OUT, "file_" + name), "wb").write(b"\x00" + data)
    # The workbook stream alone, for the harness to wrap (all sheets, one under another).
    if ole_file:
        ole = olefile.OleFileIO(path)
        for entry in ole.listdir():
            if entry[0].lower() in ("workbook", "book"):
                stream = ole.openstream(entry).read()
                if len(stream) <= 9000:
                    open(os.path.join(OUT, "stream_" + name), "wb").write(b"\x07" + stream)
                break

# A BIFF4 workbook: two bundled sheets, one empty, code page 10000.
def bof4(kind):
    return rec(0x0409, struct.pack("<HHH", 0, kind, 0))


def bundle(name, cells):
    sub = bof4(0x10) + cells + rec(0x000A)
    return rec(0x008F, struct.pack("<IB", len(sub), len(name)) + name) + sub


book = bof4(0x100) + rec(0x0042, struct.pack("<H", 10000))
book += bundle(b"One", rec(0x0204, struct.pack("<HHHH", 0, 0, 0, 4) + b"Caf\x8e") +
               rec(0x0203, struct.pack("<HHHd", 1, 1, 0, 2.5)))
book += bundle(b"Empty", b"")
book += bundle(b"Two", rec(0x027E, struct.pack("<HHHI", 2, 2, 0, (5 << 2) | 2)))
book += rec(0x000A)
open(os.path.join(OUT, "biff4_workbook"), "wb").write(b"\x06" + book)

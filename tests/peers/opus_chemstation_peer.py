#!/usr/bin/python3
"""Expected values for the Bruker OPUS and HPLC ChemStation corpus files.

No installable reader of either format exists on this system, so this is a small decoder of
the publicly documented layouts, written apart from the C++ readers:

OPUS: a 24-byte header (magic 0A 0A FE FE, directory offset at 12, entry count at 20), then
12-byte directory entries (type, length in 4-byte words, offset).  A data block's
parameters live in the block of the same type with the "data status" bit field set
(type + 0x10), which is how this script pairs them.  The reader instead picks the first
absorbance-kind data block (type bits a=3, b=3, c=0) and, among all status blocks
(a=3, b=3, c=1) and the other parameter blocks (a=0, c>=1), the first with the largest point
count that fits that data block.  Both choices are computed here; the expected file holds
the reader's choice, and every place where it differs from the type pairing is printed so
it can be reported.  NPT, FXV and LXV are cross-checked against the block length.

ChemStation: the type-30 ".ch" layout: Pascal strings in the header, the data start block
(big-endian int32 at 264, data at (block - 1) * 512), range start and end in ms at 282/286,
the interval as int16 / int16 at 530/532, the unit at 580, the scale (big-endian double) at
644; the signal is big-endian segments (head word >= 0x1000 announces head & 0xFFF items),
each item a 16-bit difference or 0x8000 followed by a 32-bit absolute value.

Rerun (no network needed):
    /usr/bin/python3 tests/peers/opus_chemstation_peer.py
from the repository root; it rewrites tests/corpus/opus/expected/*.tsv and
tests/corpus/chemstation/expected/*.tsv.
"""
import math
import os
import struct
import sys

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "corpus")


def fmt(x):
    return repr(float(x))


# ---------------------------------------------------------------- OPUS

def opus_params(b, offset):
    """All parameters of one block as {name: value}; stops at END or the end of the file."""
    out = {}
    pos = offset
    while pos + 8 <= len(b):
        name = b[pos:pos + 4]
        kind, size = struct.unpack_from("<Hh", b, pos + 4)
        pos += 8
        if name == b"END\0":
            break
        value = b[pos:pos + 2 * size] if size > 0 else b""
        key = name[:3].decode("latin1")
        if name[3] != 0:
            key = None
        if key in ("NPT", "DPF", "DER"):
            out[key] = struct.unpack_from("<i", value)[0]
        elif key in ("FXV", "LXV", "CSF", "MXY", "MNY"):
            out[key] = struct.unpack_from("<d", value)[0]
        elif key in ("DXU", "DAT", "TIM", "SNM", "SFM"):
            out[key] = value.split(b"\0")[0].decode("latin1")
        if size > 0:
            pos += 2 * size
    return out


def opus_file(path):
    b = open(path, "rb").read()
    assert b[:4] == b"\x0a\x0a\xfe\xfe", path
    diroff, = struct.unpack_from("<i", b, 12)
    count, = struct.unpack_from("<I", b, 20)
    entries = [struct.unpack_from("<III", b, diroff + 12 * i) for i in range(count)]

    def fields(t):
        return t & 3, (t >> 2) & 3, (t >> 4) & 63

    data = next(e for e in entries if fields(e[0]) == (3, 3, 0))
    plist = [e for e in entries if fields(e[0]) == (3, 3, 1) or (fields(e[0])[0] == 0 and fields(e[0])[2] >= 1)]
    kept = {"NPT": 0}
    names = {}
    for e in plist:
        p = opus_params(b, e[2])
        for k in ("SNM", "SFM"):
            if k in p:
                names[k] = p[k]
        if p.get("NPT", 0) <= data[1] and p.get("NPT", 0) > kept["NPT"]:
            kept = p
    paired = opus_params(b, next(e for e in entries if e[0] == data[0] + 0x10)[2])
    npt = kept["NPT"]
    assert kept.get("DPF", 1) == 1
    assert npt <= data[1]
    # The x range of the kept set must be that of a block of the file with the same NPT.
    for k in ("NPT", "FXV", "LXV", "CSF", "DXU"):
        if kept.get(k) != paired.get(k):
            print("  %s: kept set %s=%r, paired status block %r" % (os.path.basename(path), k, kept.get(k), paired.get(k)))
    y = struct.unpack_from("<%df" % npt, b, data[2])
    csf = kept.get("CSF", 0.0)
    return {
        "points": str(npt),
        "firstx": fmt(kept.get("FXV", 0.0)),
        "lastx": fmt(kept.get("LXV", 0.0)),
        "csf": fmt(csf),
        "dxu": kept.get("DXU", ""),
        "snm": names.get("SNM", ""),
        "sfm": names.get("SFM", ""),
        "dat": kept.get("DAT", ""),
        "tim": kept.get("TIM", ""),
        "datatype": "%08x" % data[0],
    }, [float(v) * csf for v in y]


# ---------------------------------------------------------------- ChemStation

def pascal(b, at):
    n = struct.unpack_from("b", b, at)[0]
    return b[at + 1:at + 1 + n].decode("latin1") if n > 0 else ""


def chemstation_30(path):
    b = open(path, "rb").read()
    assert pascal(b, 0) == "30"
    start = (struct.unpack_from(">i", b, 264)[0] - 1) * 512
    r0, r1 = struct.unpack_from(">ii", b, 282)
    num, den = struct.unpack_from(">hh", b, 530)
    interval = num / den
    scale, = struct.unpack_from(">d", b, 644)
    values = []
    pos, running = start, 0
    while pos + 2 <= len(b):
        head, = struct.unpack_from(">H", b, pos)
        pos += 2
        if head < 0x1000:
            break
        for _ in range(head & 0xFFF):
            item, = struct.unpack_from(">H", b, pos)
            pos += 2
            if item == 0x8000:
                running, = struct.unpack_from(">i", b, pos)
                pos += 4
            else:
                running += struct.unpack_from(">h", b, pos - 2)[0]
            values.append(running * scale)
    cols = math.floor((r1 - r0) / 1000 / interval + 5 + 0.5)
    return {
        "columns": str(cols),
        "sample": pascal(b, 24),
        "date": pascal(b, 178),
        "signal": pascal(b, 218),
        "unit": pascal(b, 580),
        "firsttime": fmt(r0 / 1000),
        "interval": fmt(interval),
    }, values


def write(path, keys, values):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "w", encoding="utf-8") as f:
        for k, v in keys.items():
            f.write("%s\t%s\n" % (k, v))
        for v in values:
            f.write("y\t%s\n" % fmt(v))


def main():
    odir = os.path.join(ROOT, "opus")
    for name in sorted(os.listdir(odir)):
        if name in ("MANIFEST.tsv", "expected"):
            continue
        keys, values = opus_file(os.path.join(odir, name))
        write(os.path.join(odir, "expected", name + ".tsv"), keys, values)
        print("%s: %s points %s..%s, data block %s" % (name, keys["points"], keys["firstx"], keys["lastx"], keys["datatype"]))
    cdir = os.path.join(ROOT, "chemstation")
    name = "entab_chemstation_mwd.d_mwd1A.ch"
    keys, values = chemstation_30(os.path.join(cdir, name))
    write(os.path.join(cdir, "expected", name + ".tsv"), keys, values)
    print("%s: %d values, %s columns" % (name, len(values), keys["columns"]))


if __name__ == "__main__":
    sys.exit(main())

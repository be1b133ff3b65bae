# Lists the root storage of compound files with python3-olefile, an independent reader:
# one line per element: path, name, type (1 storage, 2 stream), size, CRC-32 of the data.
import sys
import zlib

import olefile

for path in sys.argv[1:]:
    try:
        ole = olefile.OleFileIO(path)
    except Exception as e:  # not a compound file for olefile either
        print(f"{path}\tERROR\t{type(e).__name__}")
        continue
    for kid in ole.root.kids:
        crc = 0
        if kid.entry_type == olefile.STGTY_STREAM:
            crc = zlib.crc32(ole.openstream([kid.name]).read()) & 0xFFFFFFFF
        sys.stdout.buffer.write(f"{path}\t{kid.name}\t{kid.entry_type}\t{kid.size}\t{crc}\n".encode("utf-8"))
    ole.close()

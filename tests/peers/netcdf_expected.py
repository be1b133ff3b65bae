#!/usr/bin/python3
# Expected values for the ANDI/AIA chromatograms of tests/corpus/netcdf/, from an independent
# netCDF reader (Debian python3-netcdf4). Rerun from the repository root with Debian's Python:
#   /usr/bin/python3 tests/peers/netcdf_expected.py
# It writes tests/corpus/netcdf/expected/<file>.tsv for every file carrying the chromatography
# template and all the variables a chromatogram needs: a line "name" (sample name), a line "x"
# (retention times: k * sampling interval + delay as single precision) and a line "y" (the
# ordinate values, single precision, no fill values or scale factors applied).
import os
import sys

import netCDF4
import numpy as np

corpus = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "corpus", "netcdf")
out_dir = os.path.join(corpus, "expected")
os.makedirs(out_dir, exist_ok=True)
for name in sorted(os.listdir(corpus)):
    path = os.path.join(corpus, name)
    if not name.lower().endswith(".cdf"):
        continue
    try:
        d = netCDF4.Dataset(path)
    except OSError:
        continue
    d.set_auto_maskandscale(False)
    needed = ["actual_run_time_length", "actual_sampling_interval", "actual_delay_time", "ordinate_values"]
    if "aia_template_revision" not in d.ncattrs() or any(v not in d.variables for v in needed):
        continue
    interval = float(d.variables["actual_sampling_interval"][...])
    delay = float(d.variables["actual_delay_time"][...])
    y = np.asarray(d.variables["ordinate_values"][:], dtype=np.float32)
    x = [np.float32(k * interval + delay) for k in range(len(y))]
    with open(os.path.join(out_dir, name + ".tsv"), "w") as f:
        f.write("name\t" + str(getattr(d, "sample_name", "")) + "\n")
        f.write("x\t" + "\t".join(repr(float(v)) for v in x) + "\n")
        f.write("y\t" + "\t".join(repr(float(v)) for v in y) + "\n")
    print(name, len(y), file=sys.stderr)

#!/usr/bin/python3
"""Writes samples/matlab_moisture.mat with scipy.io.savemat (Debian's python3-scipy).

Rerun: /usr/bin/python3 tests/peers/make_mat_sample.py

A level 5 file with compressed elements, as MATLAB 7 writes them: a 4 x 3 data matrix with
its column names (VARNAM, a character array, one name per row) and row names (OBSNAM), so
the reader shows names above and left of the values.
"""
import os

import numpy as np
import scipy.io

HERE = os.path.dirname(os.path.abspath(__file__))
OUT = os.path.join(HERE, "..", "..", "samples", "matlab_moisture.mat")

data = np.array([[12.5, 13.1, 0.82],
                 [11.2, 10.4, 0.79],
                 [13.8, 11.9, np.nan],
                 [10.9, 12.2, 0.85]])
scipy.io.savemat(OUT, {
    "VARNAM": np.array(["Moisture", "Protein ", "Density "]),
    "OBSNAM": np.array(["Wheat A", "Wheat B", "Barley ", "Oats   "]),
    "DATA": data,
}, format="5", do_compression=True, oned_as="column")

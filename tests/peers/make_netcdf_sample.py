#!/usr/bin/python3
"""Writes samples/aia_chromatogram.cdf with netCDF4 (Debian's python3-netcdf4).

Rerun: /usr/bin/python3 tests/peers/make_netcdf_sample.py

An ANDI/AIA chromatogram (netCDF classic), the layout chromatography data systems export: the
template's global attributes, the run's timing (a 0.5 s sampling interval after a 1 s delay),
240 uniformly sampled detector values with two peaks, and the two peaks' start and end times,
which the reader offers as its default intervals.
"""
import math
import os

import netCDF4

HERE = os.path.dirname(os.path.abspath(__file__))
OUT = os.path.join(HERE, "..", "..", "samples", "aia_chromatogram.cdf")

POINTS, INTERVAL, DELAY = 240, 0.5, 1.0

nc = netCDF4.Dataset(OUT, "w", format="NETCDF3_CLASSIC")
for name, value in [
    ("dataset_completeness", "C1+C2"),
    ("aia_template_revision", "1.0"),
    ("netcdf_revision", "2.3"),
    ("languages", "English only"),
    ("dataset_origin", "KELTOnewsprfile sample"),
    ("injection_date_time_stamp", "20240601100000+0000"),
    ("experiment_title", "Caffeine and theobromine standard"),
    ("sample_name", "Standard mix 1"),
    ("detector_name", "UV 273 nm"),
    ("detector_unit", "mAU"),
    ("retention_unit", "seconds"),
]:
    nc.setncattr(name, value)
nc.createDimension("_2_byte_string", 2)
nc.createDimension("point_number", POINTS)
nc.createDimension("peak_number", 2)
for name, value in [("detector_maximum_value", 100.0), ("detector_minimum_value", 0.0),
                    ("actual_run_time_length", POINTS * INTERVAL), ("actual_sampling_interval", INTERVAL),
                    ("actual_delay_time", DELAY)]:
    nc.createVariable(name, "f4")[...] = value
ordinate = nc.createVariable("ordinate_values", "f4", ("point_number",))
ordinate.uniform_sampling_flag = "Y"
ordinate.autosampler_position = "1"


def signal(t):
    # Two Gaussian peaks on a slightly rising baseline.
    return 0.5 + 0.01 * t + 80 * math.exp(-((t - 35) / 2.5) ** 2) + 45 * math.exp(-((t - 80) / 4) ** 2)


ordinate[:] = [round(signal(DELAY + k * INTERVAL), 3) for k in range(POINTS)]
nc.createVariable("peak_start_time", "f4", ("peak_number",))[:] = [28.0, 70.0]
nc.createVariable("peak_end_time", "f4", ("peak_number",))[:] = [42.0, 90.0]
nc.createVariable("peak_retention_time", "f4", ("peak_number",))[:] = [35.0, 80.0]
nc.close()

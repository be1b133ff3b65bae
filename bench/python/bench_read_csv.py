#!/usr/bin/python3
"""kelto.read(path).to_pandas(header=True) against pandas.read_csv(path) on the 1M x 10 numeric
CSV of the text benchmark (bench/TextReadBench.cpp makes the same kind of file: numbers with
six decimals between -1000 and 1000), side by side in one run.

Each measurement runs in a fresh interpreter that imports everything first; it reports the
wall time of the read alone and its peak resident memory (getrusage), also less what the
interpreter held before the read.

    PYTHONPATH=build/python /usr/bin/python3 bench/python/bench_read_csv.py [--repeat N]

The file is kept in $KELTO_BENCH_DIR (default /tmp/kelto-bench) and reused.
"""
import argparse
import json
import os
import resource
import statistics
import subprocess
import sys
import time


def data_file():
    folder = os.environ.get("KELTO_BENCH_DIR") or "/tmp/kelto-bench"
    os.makedirs(folder, exist_ok=True)
    path = os.path.join(folder, "numbers_1M_x10.csv")
    if os.path.exists(path) and os.path.getsize(path) > 100_000_000:
        return path
    import numpy as np

    rng = np.random.default_rng(7)
    with open(path + ".part", "w") as f:
        for _ in range(10):
            micros = rng.integers(-999999999, 999999999, size=(100_000, 10), endpoint=True)
            np.savetxt(f, micros / 1e6, fmt="%.6f", delimiter=",")
    os.replace(path + ".part", path)
    return path


def child(tool, path):
    import pandas as pd

    import kelto

    before = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
    start = time.perf_counter()
    if tool == "kelto":
        df = kelto.read(path).to_pandas(header=True)
    else:
        df = pd.read_csv(path)
    seconds = time.perf_counter() - start
    peak = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
    assert df.shape == (999_999, 10), df.shape
    print(json.dumps({"seconds": seconds, "peak_mb": peak / 1024, "read_mb": (peak - before) / 1024}))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--repeat", type=int, default=3)
    parser.add_argument("--child", nargs=2, metavar=("TOOL", "PATH"))
    args = parser.parse_args()
    if args.child:
        child(*args.child)
        return
    path = data_file()
    results = {"pandas": [], "kelto": []}
    for _ in range(args.repeat):
        for tool in results:
            out = subprocess.run([sys.executable, __file__, "--child", tool, path], check=True,
                                 capture_output=True, text=True).stdout
            results[tool].append(json.loads(out))
    summary = {}
    for tool, runs in results.items():
        summary[tool] = {key: statistics.median(r[key] for r in runs) for key in runs[0]}
        print("%-7s median of %d: %.3f s, peak RSS %.0f MB (%.0f MB above the interpreter before the read)"
              % (tool, len(runs), summary[tool]["seconds"], summary[tool]["peak_mb"], summary[tool]["read_mb"]))
    print("kelto/pandas: time %.2fx (target <= 0.8x), peak RSS %.2fx (target <= 1.2x)" % (
        summary["kelto"]["seconds"] / summary["pandas"]["seconds"],
        summary["kelto"]["peak_mb"] / summary["pandas"]["peak_mb"]))


if __name__ == "__main__":
    main()

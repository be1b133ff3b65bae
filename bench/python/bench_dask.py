#!/usr/bin/python3
"""2,000 small CSV files: kelto.dask.read_many on a LocalCluster of 2 workers against a plain
loop of pandas.read_csv and concat, in one run.

    PYTHONPATH=build/python /usr/bin/python3 bench/python/bench_dask.py [--files N] [--rows R]

Reports the cluster's start separately from the read, and the peak resident memory of this
process and of each worker.
"""
import argparse
import os
import resource
import time


def make_files(folder, count, rows):
    os.makedirs(folder, exist_ok=True)
    paths = []
    for i in range(count):
        path = os.path.join(folder, "run%05d.csv" % i)
        if not os.path.exists(path):
            lines = ["time,signal,reference,temperature,flag"]
            lines += ["%d,%.4f,%.3f,%.2f,%d" % (r, (r * 7 + i) % 1000 / 3.0, r * 0.5, 20 + i % 10 * 0.25, r % 2)
                      for r in range(rows)]
            with open(path, "w") as f:
                f.write("\n".join(lines) + "\n")
        paths.append(path)
    return paths


def peak_mb():
    return resource.getrusage(resource.RUSAGE_SELF).ru_maxrss / 1024


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--files", type=int, default=2000)
    parser.add_argument("--rows", type=int, default=50)
    args = parser.parse_args()
    folder = os.path.join(os.environ.get("KELTO_BENCH_DIR") or "/tmp/kelto-bench", "csv_%d_x%d" % (args.files, args.rows))
    paths = make_files(folder, args.files, args.rows)

    import pandas as pd
    from distributed import Client, LocalCluster

    import kelto.dask

    start = time.perf_counter()
    loop = pd.concat([pd.read_csv(p).assign(file=p) for p in paths], ignore_index=True)
    loop_seconds = time.perf_counter() - start
    print("pandas loop: %.2f s for %d files, %d rows" % (loop_seconds, len(paths), len(loop)))

    # Dask's own LocalCluster, then the one kelto.dask makes when no client is active (the
    # same, with the workers' allocator thresholds raised).
    for label, make in (("LocalCluster", LocalCluster), ("kelto.dask.local_cluster", kelto.dask.local_cluster)):
        start = time.perf_counter()
        with make(n_workers=2, threads_per_worker=1, dashboard_address=None) as cluster, Client(cluster) as client:
            client.run(lambda: __import__("kelto").formats())  # load the plug-ins on every worker
            trim = set(client.run(lambda: __import__("os").environ.get("MALLOC_TRIM_THRESHOLD_")).values())
            up = time.perf_counter() - start
            start = time.perf_counter()
            df = kelto.dask.read_many(paths, header=True).compute()
            dask_seconds = time.perf_counter() - start
            workers = client.run(lambda: __import__("resource").getrusage(0).ru_maxrss / 1024)
        assert len(df) == len(loop) and df.error.isna().all(), (len(df), len(loop))
        print("read_many on 2 workers of %s (MALLOC_TRIM_THRESHOLD_ %s): %.2f s (cluster start %.2f s more), "
              "%d rows; read_many/loop %.2fx" % (label, "/".join(map(str, trim)), dask_seconds, up, len(df),
                                                 dask_seconds / loop_seconds))
        print("  peak RSS: this process %.0f MB, workers %s MB"
              % (peak_mb(), ", ".join("%.0f" % v for v in workers.values())))


if __name__ == "__main__":
    main()

"""Many files into one Dask DataFrame, read by :func:`kelto.read` on the workers of a cluster.

>>> import kelto.dask
>>> ddf = kelto.dask.read_many("runs/*.csv", header=True)
>>> ddf[ddf.error.notna()].compute()      # the files that could not be read
"""

import glob
import math
import os
import threading

import numpy as np
import pandas as pd

import kelto

__all__ = ["read_many", "client", "local_cluster"]

_client = None
_client_lock = threading.Lock()


# Dask starts its workers with glibc's trim threshold at 64 KiB, which also fixes the mmap
# threshold at its 128 KiB default: every buffer above that is then mapped and unmapped
# again for each file, and a reader's 256 KiB stream buffer, zero-filled at each open, costs
# a few milliseconds per small file in page faults. Workers of the clusters made here keep
# both thresholds at 16 MiB, still handing memory back to the system beyond that.
_WORKER_MALLOC = {"MALLOC_TRIM_THRESHOLD_": 16 << 20, "MALLOC_MMAP_THRESHOLD_": 16 << 20}


def local_cluster(**kwargs):
    """A ``distributed.LocalCluster`` (keyword arguments as its own) whose workers' memory
    allocator suits many small reads (see above)."""
    import dask
    from distributed import LocalCluster

    environ = dict(dask.config.get("distributed.nanny.pre-spawn-environ", {}) or {})
    environ.update(_WORKER_MALLOC)
    kwargs.setdefault("dashboard_address", None)
    # The nanny lets a variable already in this process's environment win over its setting,
    # and leaves the variables it spawned with in that environment: both are put back after.
    saved = {key: os.environ.get(key) for key in _WORKER_MALLOC}
    try:
        os.environ.update({key: str(value) for key, value in _WORKER_MALLOC.items()})
        with dask.config.set({"distributed.nanny.pre-spawn-environ": environ}):
            return LocalCluster(**kwargs)
    finally:
        for key, value in saved.items():
            if value is None:
                os.environ.pop(key, None)
            else:
                os.environ[key] = value


def client():
    """The active Dask client; a new one on a :func:`local_cluster` (kept for the rest of the
    process) when there is none."""
    global _client
    from distributed import Client, get_client

    try:
        return get_client()
    except ValueError:
        pass
    with _client_lock:
        if _client is None or _client.status not in ("running", "connecting"):
            cluster = local_cluster(processes=True, threads_per_worker=1)
            _client = Client(cluster, set_as_default=True)
        return _client


def _expand(paths_or_glob):
    if isinstance(paths_or_glob, (str, os.PathLike)):
        pattern = os.fspath(paths_or_glob)
        found = sorted(glob.glob(pattern, recursive=True))
        if not found and os.path.exists(pattern):
            found = [pattern]
        return found
    return [os.fspath(p) for p in paths_or_glob]


def _frame(path, format, options, header):
    return kelto.read(path, format=format, options=options).to_pandas(header=header)


def _cast(values, dtype):
    """`values` as `dtype`, or None when the kinds of cell do not allow it (texts into a
    numeric column, numbers into an integer one)."""
    if values.dtype == dtype:
        return values
    if dtype == object:
        if isinstance(values, pd.arrays.IntegerArray):
            return values.to_numpy(dtype=object, na_value=None)
        out = values.astype(object)
        out[pd.isna(values)] = None
        return out
    if values.dtype == object or isinstance(dtype, pd.Int64Dtype):
        return None
    if isinstance(values, pd.arrays.IntegerArray):
        return values.to_numpy(dtype=dtype, na_value=np.nan)
    return values.astype(dtype)


def _missing(dtype, n):
    if isinstance(dtype, pd.Int64Dtype):
        return pd.arrays.IntegerArray(np.zeros(n, dtype=np.int64), np.ones(n, dtype=bool))
    if dtype == object:
        return np.full(n, None, dtype=object)
    return np.full(n, np.nan, dtype=dtype)


def _concat(parts, dtype):
    if isinstance(dtype, pd.Int64Dtype):
        return pd.arrays.IntegerArray._concat_same_type(parts) if parts else _missing(dtype, 0)
    return np.concatenate(parts) if parts else _missing(dtype, 0)


def _read_partition(paths, format, options, header, meta, errors):
    names = [c for c in meta.columns if c not in ("file", "error")]
    dtypes = [meta.dtypes[name] for name in names]
    columns = [[] for _ in names]
    files, failures, counts = [], [], []

    def fail(path, message):
        if errors == "raise":
            raise kelto.Error(message, path)
        for parts, dtype in zip(columns, dtypes):
            parts.append(_missing(dtype, 1))
        files.append(path)
        failures.append(message)
        counts.append(1)

    for path in paths:
        try:
            table = kelto._read(path, format, options)
        except kelto.Error as e:
            fail(path, str(e.strerror))
            continue
        got_names, values = table._frame_columns(header)
        if got_names != names:
            fail(path, "the columns differ from the first file's: %d columns %s"
                 % (len(got_names), [str(n) for n in got_names[:10]]))
            continue
        cast = [_cast(v, d) for v, d in zip(values, dtypes)]
        if any(v is None for v in cast):
            bad = [str(n) for n, v in zip(names, cast) if v is None]
            fail(path, "the column types differ from the first file's: %s" % ", ".join(bad))
            continue
        for parts, v in zip(columns, cast):
            parts.append(v)
        files.append(path)
        failures.append(None)
        counts.append(len(cast[0]) if cast else table.shape[0])

    data = {name: _concat(parts, dtype) for name, parts, dtype in zip(names, columns, dtypes)}
    data["file"] = np.repeat(np.array(files, dtype=object), counts) if files else _missing(object, 0)
    data["error"] = np.repeat(np.array(failures, dtype=object), counts) if files else _missing(object, 0)
    return pd.DataFrame(data, columns=list(meta.columns), copy=False)


def read_many(paths_or_glob, format=None, options=None, header=False, files_per_partition=None, errors="keep"):
    """A ``dask.dataframe.DataFrame`` of many files, each read by :func:`kelto.read` on the
    workers of the active Dask client (see :func:`client`).

    ``paths_or_glob``: a list of paths or a glob pattern (``"runs/**/*.csv"``). ``format``,
    ``options`` and ``header`` are those of :func:`kelto.read` and ``Table.to_pandas``. The
    schema comes from the first file, read here at once: its columns plus ``file`` (the path)
    and ``error`` (missing, or the message of a file that failed). A file that fails, or whose
    columns differ from the first file's, becomes one row with its ``file`` and ``error`` and
    every other column missing, so ``ddf[ddf.error.notna()]`` lists the failures;
    ``errors="raise"`` fails the computation instead. ``files_per_partition`` files make one
    partition (default: about four partitions per worker, at most 200 files each).
    """
    import dask
    import dask.dataframe as dd

    if errors not in ("keep", "raise"):
        raise ValueError('errors must be "keep" or "raise"')
    paths = _expand(paths_or_glob)
    if not paths:
        raise FileNotFoundError("no files match %r" % (paths_or_glob,))
    first = _frame(paths[0], format, options, header)
    meta = first.iloc[:0].copy()
    meta["file"] = pd.Series([], dtype=object)
    meta["error"] = pd.Series([], dtype=object)

    c = client()
    if files_per_partition is None:
        workers = max(1, len(c.scheduler_info().get("workers", {})))
        files_per_partition = min(200, max(1, math.ceil(len(paths) / (4 * workers))))
    files_per_partition = max(1, int(files_per_partition))
    chunks = [paths[i:i + files_per_partition] for i in range(0, len(paths), files_per_partition)]
    read = dask.delayed(_read_partition, pure=True)
    parts = [read(chunk, format, options, header, meta, errors) for chunk in chunks]
    return dd.from_delayed(parts, meta=meta, verify_meta=False)

"""Many files into one Dask DataFrame, read by :func:`kelto.read` on the workers of a cluster.

>>> import kelto.dask
>>> ddf = kelto.dask.read_many("runs/*.csv", header=True)
>>> ddf[ddf.error.notna()].compute()      # the files that could not be read
"""

import glob
import math
import os
import threading

import pandas as pd

import kelto

__all__ = ["read_many", "client"]

_client = None
_client_lock = threading.Lock()


def client():
    """The active Dask client; a new one on a ``distributed.LocalCluster`` (kept for the rest
    of the process) when there is none."""
    global _client
    from distributed import Client, LocalCluster, get_client

    try:
        return get_client()
    except ValueError:
        pass
    with _client_lock:
        if _client is None or _client.status not in ("running", "connecting"):
            cluster = LocalCluster(processes=True, threads_per_worker=1, dashboard_address=None)
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
    table = kelto.read(path, format=format, options=options)
    return table.to_pandas(header=header)


def _error_row(meta, path, message):
    row = {name: pd.Series([None], dtype=dtype) for name, dtype in meta.dtypes.items()}
    frame = pd.DataFrame(row)
    frame["file"] = path
    frame["error"] = message
    return frame


def _conform(frame, meta, path):
    """`frame` with the schema of `meta`, or the message saying why it cannot have it."""
    names = [c for c in meta.columns if c not in ("file", "error")]
    if list(frame.columns) != names:
        return None, "the columns differ from the first file's: %d columns %s" % (
            len(frame.columns), list(frame.columns)[:10])
    try:
        frame = frame.astype({name: meta.dtypes[name] for name in names}, copy=False)
    except (TypeError, ValueError) as e:
        return None, "the column types differ from the first file's: %s" % e
    frame["file"] = path
    frame["error"] = pd.Series([None] * len(frame), dtype=object, index=frame.index)
    return frame, None


def _read_partition(paths, format, options, header, meta, errors):
    import warnings

    parts = []
    for path in paths:
        try:
            with warnings.catch_warnings():
                warnings.simplefilter("ignore", kelto.KeltoWarning)
                frame = _frame(path, format, options, header)
        except kelto.Error as e:
            if errors == "raise":
                raise
            parts.append(_error_row(meta, path, str(e.strerror)))
            continue
        frame, message = _conform(frame, meta, path)
        if message is not None:
            if errors == "raise":
                raise kelto.Error(message, path)
            parts.append(_error_row(meta, path, message))
        else:
            parts.append(frame)
    if not parts:
        return meta.copy()
    out = pd.concat(parts, ignore_index=True)
    return out.astype(meta.dtypes.to_dict(), copy=False)


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

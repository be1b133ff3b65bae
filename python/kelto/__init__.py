"""Read every format of the KELTOnewsprfile import plug-ins into NumPy and pandas.

>>> import kelto
>>> table = kelto.read("samples/weather_stations.csv")
>>> df = table.to_pandas(header=True)

The functions mirror the command-line host ``kelto-import``: ``formats``, ``detect``,
``options``, ``read`` (``show``) and ``write`` (``convert``). ``kelto.dask.read_many`` reads
many files on a Dask cluster.

Plug-in libraries are found beside this package's own files (the library that comes with it,
and any other plug-in library put there); ``init(plugin_dir=...)`` before the first call
names another folder to search instead. The library that comes with the package is always
loaded.
"""

import os
import threading
import warnings as _warnings

import numpy as np

from . import _kelto

__all__ = ["Error", "Table", "init", "formats", "detect", "options", "read", "write"]


class Error(OSError):
    """A read, detection or write that failed.

    ``str(error)`` and ``.strerror`` hold the library's message, ``.filename`` the file it is
    about, ``.code`` the reader's status code (None when the failure came before a reader
    ran, e.g. a file that does not exist).
    """

    def __init__(self, message, filename=None, code=None):
        super().__init__(message)
        self.strerror = message
        self.filename = filename
        self.code = code

    def __str__(self):
        if self.filename:
            return "%s: %s" % (self.filename, self.strerror)
        return str(self.strerror)

    def __reduce__(self):
        return (Error, (self.strerror, self.filename, self.code))


_lock = threading.Lock()
_ready = False


def _package_dir():
    return os.path.dirname(os.path.abspath(__file__))


def init(plugin_dir=None):
    """Loads the plug-in libraries: the ``*sprfile*`` libraries beside this package (its own
    among them), and every plug-in library in ``plugin_dir`` as well.

    Happens by itself at the first call that needs the formats; call it before that to add a
    folder. Raises RuntimeError when the plug-ins were loaded already and ``plugin_dir``
    would be ignored.
    """
    global _ready
    with _lock:
        if _ready:
            if plugin_dir is not None:
                raise RuntimeError("kelto.init(plugin_dir=...) must come before the first read")
            return
        extra = os.fspath(plugin_dir) if plugin_dir is not None else None
        built = _kelto.init(_package_dir(), extra, Error)
        _ready = True
        if not built and plugin_dir is not None:
            raise RuntimeError("the plug-ins were loaded already; plugin_dir is ignored")


def _ensure():
    if not _ready:
        init()


def formats():
    """Every format: a list of dicts with ``name``, ``filter``, ``extensions``, ``reads``,
    ``writes`` and ``multi_file`` (0: one file; 1: several files are read one at a time and
    stacked; 2: several files are read together)."""
    _ensure()
    return _kelto.formats()


def detect(path):
    """The name of the format ``path`` would be read with, or None when none recognises it."""
    _ensure()
    return _kelto.detect(os.fspath(path))


def _paths(paths):
    if isinstance(paths, (str, bytes, os.PathLike)):
        return [os.fsdecode(os.fspath(paths))]
    out = [os.fsdecode(os.fspath(p)) for p in paths]
    if not out:
        raise ValueError("no file given")
    return out


def options(path, format=None):
    """The format's default open options for ``path``: the keys of the "Settings" section as a
    dict of strings. For CSV, which has no defaults of its own, the delimiter and encoding
    guessed from the file (as ``kelto-import options`` prints them)."""
    _ensure()
    _, settings, _ = _kelto.default_options(_paths(path), format or "")
    return settings


def _setting_text(value):
    if isinstance(value, bool):
        return "true" if value else "false"
    return str(value)


def read(paths, format=None, options=None, *, on_question=None, **settings):
    """Reads one file, or several as ``kelto-import show`` does, into a :class:`Table`.

    ``format`` is a format's name, filter text or pattern (``"*.csv"``); None detects it.
    ``options`` is an options document (XML text), a dict of "Settings" keys, or None for the
    format's defaults. Keyword settings change single keys as ``--set`` does:
    ``kelto.read("eu.csv", Delimiter=";")``. ``on_question(text) -> bool`` answers a reader's
    yes/no questions (without it each takes its default).

    Raises :class:`Error` when the read fails; warnings are issued through :mod:`warnings`
    once the read is over. Ctrl-C cancels a read on the main thread (KeyboardInterrupt).
    """
    table = _read(paths, format, options, on_question, settings)
    for message in table.warnings:
        _warnings.warn("%s: %s" % (table._files[0], message), KeltoWarning, stacklevel=2)
    return table


def _read(paths, format, options, on_question=None, settings=None):
    """read() without issuing the warnings (they stay in the table's ``warnings``)."""
    _ensure()
    files = _paths(paths)
    text = None
    pairs = [(str(k), _setting_text(v)) for k, v in (settings or {}).items()]
    if isinstance(options, dict):
        # A dict is a set of single keys on top of the defaults, as --set.
        pairs = [(str(k), _setting_text(v)) for k, v in options.items()] + pairs
    elif options is not None:
        if not isinstance(options, str):
            raise TypeError("options must be a dict, an XML string or None")
        text = options
    raw = _kelto.read(
        files,
        format or "",
        text,
        pairs,
        on_question,
        threading.current_thread() is threading.main_thread(),
    )
    table = Table(raw)
    table._files = files
    return table


class KeltoWarning(UserWarning):
    """A reader's warning: the data was read, but something was skipped or changed."""


MISSING, NUMBER, INTEGER, TEXT = 0, 1, 2, 3


def _column_values(col, start=0):
    """The pandas-ready values of a raw column from row ``start`` on."""
    import pandas as pd

    kinds = col["kinds"][start:]
    numbers = col["numbers"][start:]
    integers = col["integers"]
    has_text = col["has_text"] and bool(np.any(col["text_rows"] >= start))
    has_int = integers is not None and bool(np.any(kinds == INTEGER))
    has_num = bool(np.any(kinds == NUMBER)) if (has_text or has_int) else True
    if has_text:
        out = np.empty(len(kinds), dtype=object)
        num = kinds == NUMBER
        out[num] = numbers[num].astype(np.float64)
        if has_int:
            ints = kinds == INTEGER
            out[ints] = [int(v) for v in integers[start:][ints]]
        rows = col["text_rows"]
        keep = rows >= start
        texts = np.empty(int(keep.sum()), dtype=object)
        texts[:] = [t for t, k in zip(col["texts"], keep) if k]
        out[rows[keep] - start] = texts
        return out
    if has_int and not has_num:
        return pd.arrays.IntegerArray(integers[start:], kinds != INTEGER)
    if has_int:
        out = numbers.astype(np.float64)
        ints = kinds == INTEGER
        out[ints] = integers[start:][ints]
        return out
    return numbers


def _header_name(col, index):
    kind = int(col["kinds"][0]) if len(col["kinds"]) else MISSING
    if kind == TEXT:
        rows = col["text_rows"]
        return col["texts"][0] if len(rows) and rows[0] == 0 else str(index)
    if kind == INTEGER:
        return str(int(col["integers"][0]))
    if kind == NUMBER:
        value = float(col["numbers"][0])
        return str(int(value)) if value.is_integer() else repr(value)
    return index


class Table:
    """The cells of a read: ``shape`` (rows, columns), ``format``, ``read_name`` (what the
    reader called the data), ``warnings`` (the readers' warnings), ``column(i)``,
    ``to_numpy()`` and ``to_pandas()``."""

    def __init__(self, raw):
        self._raw = raw
        self.format = raw.format
        self.read_name = raw.read_name
        self.warnings = list(raw.warnings)
        self.notes = list(raw.notes)
        self.shape = (raw.rows, raw.columns)

    def __repr__(self):
        return "<kelto.Table %d x %d, %s, %r>" % (self.shape[0], self.shape[1], self.format, self.read_name)

    def _raw_column(self, i):
        if not -self.shape[1] <= i < self.shape[1]:
            raise IndexError("column index out of range")
        return self._raw.column(i % self.shape[1])

    def column(self, i):
        """Column ``i`` (from 0) as a NumPy array or pandas extension array, typed as
        ``to_pandas`` types it: float32 (numbers), Int64 (64-bit integers), float64 (both) or
        object (texts as str, numbers as float, integers as int, missing as None)."""
        return _column_values(self._raw_column(i))

    def to_numpy(self):
        """All cells as a float64 array (rows, columns); NaN for missing and text cells."""
        rows, cols = self.shape
        out = np.empty((rows, cols), dtype=np.float64, order="F")
        for c in range(cols):
            col = self._raw.column(c)
            out[:, c] = col["numbers"]
            if col["integers"] is not None:
                ints = col["kinds"] == INTEGER
                out[ints, c] = col["integers"][ints]
        return out

    def _frame_columns(self, header):
        """The column names and pandas-ready values of ``to_pandas``."""
        rows, cols = self.shape
        start = 1 if header and rows > 0 else 0
        names, values = [], []
        seen = set()
        for c in range(cols):
            col = self._raw.column(c)
            name = _header_name(col, c) if start else c
            # Duplicate names would collapse; a repeated one gets its position added.
            while name in seen:
                name = "%s.%d" % (name, c)
            seen.add(name)
            names.append(name)
            values.append(_column_values(col, start))
        return names, values

    def to_pandas(self, header=False):
        """A pandas DataFrame. ``header=True`` takes row 1 as the column names (and leaves it
        out of the data); otherwise the columns are numbered from 0."""
        import pandas as pd

        names, values = self._frame_columns(header)
        return pd.DataFrame(dict(zip(names, values)), columns=names, copy=False)


def write(table, path, format=None):
    """Writes a :class:`Table` or a pandas DataFrame to ``path`` with ``format`` (a writable
    format's name, filter or pattern), or with the writable format of the path's extension.
    A DataFrame's column names are not written."""
    _ensure()
    if isinstance(table, Table):
        columns = [list(_column_values(table._raw.column(c))) for c in range(table.shape[1])]
        rows = table.shape[0]
    else:
        frame = table
        rows = len(frame)
        columns = []
        for name in frame.columns:
            series = frame[name]
            values = series.astype(object).where(series.notna(), None).tolist()
            columns.append(values)
    columns = [[_plain(v) for v in col] for col in columns]
    _kelto.write(os.fspath(path), format or "", columns, rows)


def _plain(value):
    """A cell as None, float, int or str (missing: None, NaN, pandas' NA and NaT)."""
    if value is None or (isinstance(value, (float, np.floating)) and value != value):
        return None
    if isinstance(value, np.generic):
        return value.item()
    if isinstance(value, (str, int, float)):
        return value
    import pandas as pd

    return None if pd.isna(value) else value

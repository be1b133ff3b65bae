# kelto.dask.read_many on a two-worker LocalCluster: a few hundred files of three formats,
# some damaged; every failure is one row naming its file.
import os

import pandas as pd
import pytest

import kelto
import kelto.dask
from conftest import ROOT

distributed = pytest.importorskip("distributed")


@pytest.fixture(scope="module")
def cluster():
    with distributed.LocalCluster(n_workers=2, threads_per_worker=1, dashboard_address=None) as lc:
        with distributed.Client(lc) as client:
            yield client


def make_files(folder):
    """(format, files, damaged files) for CSV, DIF and NSAS."""
    folder.mkdir()
    csv, dif, nsas = [], [], []
    damaged = set()
    for i in range(150):
        path = folder / ("run%03d.csv" % i)
        if i % 50 == 7:
            path.write_text("")  # no data
            damaged.add(str(path))
        elif i % 50 == 9:
            path.write_text("x,y,z\n1,2,3\n")  # other columns
            damaged.add(str(path))
        else:
            path.write_text("x,y\n%d,%d.5\n%d,%d.25\n" % (i, i, i + 1, i))
        csv.append(str(path))
    for i in range(60):
        path = folder / ("t%02d.dif" % i)
        kelto.write(pd.DataFrame({"a": [float(i), 2.0], "b": ["s%d" % i, "t"]}), path)
        if i % 20 == 3:
            path.write_bytes(path.read_bytes()[:25])
            damaged.add(str(path))
        dif.append(str(path))
    spectra = (ROOT / "samples" / "nsas_three_spectra.da").read_bytes()
    for i in range(60):
        path = folder / ("s%02d.da" % i)
        path.write_bytes(spectra[:200] if i % 15 == 4 else spectra)
        if i % 15 == 4:
            damaged.add(str(path))
        nsas.append(str(path))
    return [("CSV File", csv, True), ("DIF File", dif, False), ("NSAS File", nsas, True)], damaged


def test_read_many_keeps_failures_as_rows(cluster, tmp_path):
    groups, damaged = make_files(tmp_path / "files")
    for format, files, header in groups:
        first = kelto.read(files[0]).to_pandas(header=header)
        ddf = kelto.dask.read_many(files, format=format, header=header, files_per_partition=17)
        assert list(ddf.columns) == list(first.columns) + ["file", "error"]
        df = ddf.compute()
        bad = set(files) & damaged
        failed = df[df.error.notna()]
        assert set(failed.file) == bad and len(failed) == len(bad), format
        assert failed.drop(columns=["file", "error"]).isna().all().all()
        good = df[df.error.isna()]
        assert len(good) == len(first) * (len(files) - len(bad))
        assert set(good.file) == set(files) - bad
        assert (good.dtypes.drop(["file", "error"]) == first.dtypes).all()
    csv = groups[0][1]
    df = kelto.dask.read_many(str(tmp_path / "files" / "run*.csv"), header=True).compute()
    assert df[df.file == csv[10]].x.tolist() == [10, 11]
    with pytest.raises(kelto.Error):
        kelto.dask.read_many(csv, header=True, errors="raise").compute()

# The Python layer over the host: formats, detection, column types, errors, options, warnings.
import math
import os
import shutil
import subprocess
import sys
import warnings

import numpy as np
import pandas as pd
import pytest

import kelto
from conftest import ROOT


def test_formats_and_detect(write_file):
    by_name = {f["name"]: f for f in kelto.formats()}
    csv = by_name["CSV File"]
    assert csv["reads"] and not csv["writes"] and ".csv" in csv["extensions"] and csv["multi_file"] == 1
    assert by_name["DIF File"]["writes"]
    assert kelto.detect(ROOT / "samples" / "nsas_three_spectra.da") == "NSAS File"
    assert kelto.detect(write_file("x.csv", "1,2\n")) == "CSV File"
    assert kelto.detect(write_file("x.tsv", "1\t2\n")) == "Text File"
    # Several files of a format that reads one at a time: stacked, the narrower padded.
    stacked = kelto.read([write_file("p.csv", "1,2\n"), write_file("q.csv", "3\n4\n")])
    assert stacked.shape == (3, 2) and stacked.to_numpy()[1:, 0].tolist() == [3, 4] and stacked.read_name == "p"
    with pytest.raises(kelto.Error) as caught:
        kelto.detect(ROOT / "no such file.csv")
    assert isinstance(caught.value, OSError) and caught.value.filename.endswith("no such file.csv")


BIG = 12345678901234567  # no float holds it: the reader keeps a 64-bit integer cell


def test_column_types(write_file):
    path = write_file(
        "types.csv",
        "num,int,mixed,text,empty\n"
        f"1.5,{BIG},2.5,abc,\n"
        f",{BIG + 1},{BIG},4,\n"
        f"3,,,{BIG},\n",
    )
    table = kelto.read(path)
    assert table.shape == (4, 5) and table.format == "CSV File" and table.read_name == "types"
    df = table.to_pandas(header=True)
    assert list(df.columns) == ["num", "int", "mixed", "text", "empty"]
    assert [str(t) for t in df.dtypes] == ["float32", "Int64", "float64", "object", "float32"]
    assert df["num"].isna().tolist() == [False, True, False] and df["num"][2] == 3
    assert df["int"].tolist()[:2] == [BIG, BIG + 1] and df["int"].isna().tolist() == [False, False, True]
    assert df["mixed"][0] == 2.5 and df["mixed"][1] == float(BIG) and math.isnan(df["mixed"][2])
    text = df["text"].tolist()
    assert text == ["abc", 4.0, BIG] and [type(v) for v in text] == [str, float, int]
    # Without a header row 1 joins the data: every column holds a text then.
    assert (table.to_pandas().dtypes == object).all()
    assert table.column(1)[1] == BIG
    values = table.to_numpy()
    assert values.dtype == np.float64 and values.shape == (4, 5)
    assert np.isnan(values[0]).all() and values[1, 1] == float(BIG) and np.isnan(values[1, 3])


def test_read_errors_carry_message_file_and_code(write_file):
    with pytest.raises(kelto.Error) as missing:
        kelto.read(write_file("a.csv", "1\n") + ".gone")
    assert "does not exist" in str(missing.value) and missing.value.code is None
    damaged = (ROOT / "samples" / "nsas_three_spectra.da").read_bytes()[:300]
    with pytest.raises(kelto.Error) as broken:
        kelto.read(write_file("cut.da", damaged), format="NSAS File")
    assert broken.value.filename.endswith("cut.da") and broken.value.strerror and broken.value.code > 0
    with pytest.raises(kelto.Error, match="format"):
        kelto.read(write_file("b.csv", "1\n"), format="No Such Format")


def test_write_round_trip(tmp_path):
    frame = pd.DataFrame({"a": [1.5, None, 3.0], "b": ["x", "007", None], "c": pd.array([BIG, None, 7], dtype="Int64")})
    out = tmp_path / "out.dif"
    kelto.write(frame, out)
    back = kelto.read(out).to_pandas()
    assert back[0].tolist()[0] == 1.5 and np.isnan(back[0][1]) and back[1].tolist()[:2] == ["x", "007"]
    # The DIF reader takes every number as a float; the writer kept the integer's digits.
    assert back[2][0] == float(BIG) and np.isnan(back[2][1]) and back[2][2] == 7
    kelto.write(kelto.read(out), tmp_path / "again.dif")
    again = kelto.read(tmp_path / "again.dif").to_pandas()
    assert again[1].tolist() == back[1].tolist() and again[2].isna().tolist() == [False, True, False]
    with pytest.raises(kelto.Error, match="format"):
        kelto.write(frame, tmp_path / "out.csv", format="CSV File")


def test_init_adds_a_plugin_folder_to_the_package_folder(tmp_path):
    folder = os.environ.get("KELTO_HOST_PLUGIN_DIR")
    assert folder and os.path.isdir(folder), "ctest names the test plug-ins' folder"
    # A copy of the package with one more plug-in beside it, and another in a folder of its own.
    package = tmp_path / "site" / "kelto"
    shutil.copytree(os.path.dirname(kelto.__file__), package)
    shutil.copy(os.path.join(folder, "libhostalphasprfile.so"), package)
    extra = tmp_path / "extra"
    extra.mkdir()
    shutil.copy(os.path.join(folder, "libhostminiechosprfile.so"), extra)
    script = (
        "import kelto\n"
        "kelto.init(plugin_dir=%r)\n"
        "names = [f['name'] for f in kelto.formats()]\n"
        "assert {'Host Alpha', 'Host Echo', 'CSV File'} <= set(names), names\n"
        "try:\n"
        "    kelto.init(plugin_dir=%r)\n"
        "except RuntimeError:\n"
        "    print('late init refused')\n" % (str(extra), str(extra))
    )
    env = dict(os.environ, PYTHONPATH=str(package.parent))
    out = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True, env=env, cwd=tmp_path)
    assert out.returncode == 0, out.stderr
    assert out.stdout.strip() == "late init refused"

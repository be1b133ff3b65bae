# Reads without the GIL: several threads at once, questions answered by a callback of the
# reading thread, Ctrl-C cancelling a read on the main thread.
import _thread
import struct
import threading
import traceback
from concurrent.futures import ThreadPoolExecutor

import numpy as np
import pytest

import kelto
from conftest import ROOT


def test_threads_read_different_files_at_once(write_file):
    files = [write_file("f%d.csv" % i, "".join("%d,%d.5,t%d\n" % (r, i, r) for r in range(3000 + i))) for i in range(6)]
    files += [str(ROOT / "samples" / name) for name in ("nsas_three_spectra.da", "inventory.dif", "lotus_field_trial.wk1")]

    def snapshot(path):
        t = kelto.read(path)
        return t.shape, t.format, t.to_numpy()

    expected = [snapshot(f) for f in files]
    with ThreadPoolExecutor(max_workers=4) as pool:
        for _ in range(3):
            for (shape, fmt, values), (shape2, fmt2, values2) in zip(expected, pool.map(snapshot, files)):
                assert shape == shape2 and fmt == fmt2
                np.testing.assert_array_equal(values, values2)


@pytest.fixture(scope="module")
def big_csv(tmp_path_factory):
    path = tmp_path_factory.mktemp("big") / "big.csv"
    block = "".join("%d,%d.25,%d,%d\n" % (r, r, r * 3, r % 7) for r in range(100000))
    with open(path, "w") as f:
        for _ in range(15):
            f.write(block)
    return str(path)


def test_ctrl_c_cancels_a_read_on_the_main_thread(big_csv):
    timer = threading.Timer(0.2, _thread.interrupt_main)
    timer.start()
    with pytest.raises(KeyboardInterrupt) as caught:
        kelto.read(big_csv)
    timer.join()
    # Raised from inside the read, not after it returned.
    assert traceback.extract_tb(caught.tb)[-1].name == "_read"
    assert kelto.read(big_csv, format="CSV File").shape == (1500000, 4)


def test_warnings_come_after_the_read(write_file):
    path = write_file("open.csv", 'a,b\n1,"unfinished\n')
    with pytest.warns(kelto.KeltoWarning, match="quoted field"):
        table = kelto.read(path)
    assert table.shape[0] == 2 and any("quoted field" in w for w in table.warnings)


def shifted_opus_pair(tmp_path):
    """Two OPUS files with the same number of points over different x ranges: reading them
    together makes the reader ask whether to go on."""
    original = (ROOT / "tests" / "corpus" / "opus" / "opusreader2_BF_lo_01_soil_cal.1").read_bytes()
    shifted = bytearray(original)
    at = shifted.find(b"FXV\x00")
    assert at > 0
    while at > 0:
        # name, type and size (16-bit words), then the REAL64 value
        (value,) = struct.unpack_from("<d", shifted, at + 8)
        struct.pack_into("<d", shifted, at + 8, value + 10.0)
        at = shifted.find(b"FXV\x00", at + 4)
    (tmp_path / "a.1").write_bytes(original)
    (tmp_path / "b.1").write_bytes(bytes(shifted))
    return [str(tmp_path / "a.1"), str(tmp_path / "b.1")]


def test_questions_go_to_the_callback_of_the_reading_thread(tmp_path):
    pair = shifted_opus_pair(tmp_path)
    rows = kelto.read(pair, format="Bruker OPUS File").shape[0]  # the default goes on
    asked = {}

    def read(answer):
        def on_question(text):
            asked.setdefault(answer, []).append((text, threading.get_ident()))
            return answer

        try:
            return kelto.read(pair, format="Bruker OPUS File", on_question=on_question).shape[0], threading.get_ident()
        except kelto.Error as e:
            return e, threading.get_ident()

    with ThreadPoolExecutor(max_workers=2) as pool:
        (yes, yes_thread), (no, no_thread) = pool.map(read, [True, False])
    assert yes == rows and isinstance(no, kelto.Error) and no.code is not None
    assert [t for _, t in asked[True]] == [yes_thread] and [t for _, t in asked[False]] == [no_thread]
    assert "x-values" in asked[True][0][0]

    def refuse(text):
        raise RuntimeError("no answer")

    with pytest.raises(RuntimeError, match="no answer"):
        kelto.read(pair, format="Bruker OPUS File", on_question=refuse)

# Reads without the GIL: several threads at once, questions answered by a callback of the
# reading thread, Ctrl-C cancelling a read on the main thread.
import _thread
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

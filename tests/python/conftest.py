# The package under test comes from the build tree (PYTHONPATH=build/python, set by ctest).
import os
import pathlib

import pytest

ROOT = pathlib.Path(__file__).resolve().parents[2]


@pytest.fixture
def write_file(tmp_path):
    """Writes `content` (str or bytes) to tmp_path/name and returns the path as str."""

    def write(name, content):
        path = tmp_path / name
        path.write_bytes(content.encode() if isinstance(content, str) else content)
        return os.fspath(path)

    return write

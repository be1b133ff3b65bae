# Options as a dict of keys, as a document, and keyword settings, as kelto-import takes them.
import pytest

import kelto

DOCUMENT = """<Configuration><Section name="Settings">
<Key name="Delimiter" value="%3B"/><Key name="Encoding" value="utf8"/>
</Section></Configuration>"""


def test_options_and_settings(write_file):
    path = write_file("eu.csv", "a;b\n1,5;2\n3;4\n")
    assert kelto.options(path)["Delimiter"] == ";"
    guessed = kelto.read(path)
    assert guessed.shape == (3, 2) and guessed.to_pandas(header=True)["b"].tolist() == [2, 4]
    assert any(";" in note for note in guessed.notes)
    # A setting over the guess: now the comma splits "1,5".
    assert kelto.read(path, Delimiter=",").shape == (3, 2)
    assert kelto.read(path, Delimiter=",").to_pandas()[1].tolist()[1] == "5;2"
    assert kelto.read(path, options={"Delimiter": ","}).to_pandas()[1].tolist()[1] == "5;2"
    assert kelto.read(path, options=DOCUMENT, format="CSV File").to_pandas()[1].tolist() == ["b", 2, 4]
    with pytest.raises(kelto.Error):
        kelto.read(path, options="<not an options document/>")
    with pytest.warns(kelto.KeltoWarning, match="NoSuchKey"):
        kelto.read(path, NoSuchKey=1)
    text = write_file("plate.txt", "x\ty\n1\t2\n")
    defaults = kelto.options(text)
    assert defaults["Delimiter"] == "\t" and set(defaults) == {"Delimiter", "Encoding", "IgnoreConsecutiveDelimiters"}

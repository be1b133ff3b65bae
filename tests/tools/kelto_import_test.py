"""End-to-end tests of kelto-import: the built executable is run as a user would run it.

Tables are compared cell by cell by type: texts must stay texts ("007"), missing values are
null, and every JSON number is compared as the exact text printed, since the program promises
the shortest text that reads back as the same single-precision value (and integers exact).
"""
import argparse
import json
import os
import pty
import re
import shutil
import subprocess
import sys
import tempfile
import unittest
import urllib.parse
import xml.etree.ElementTree as ElementTree

EXE = None
PLUGIN_DIR = None


class Number(str):
    """A JSON number, kept as the text the program printed."""


def num(text):
    return ("number", text)


def parse(text):
    return json.loads(text, parse_float=Number, parse_int=Number)


def cells(doc):
    """The document's cells with each number marked as one, so that 7 and "7" differ."""
    return [[num(str(c)) if isinstance(c, Number) else c for c in row] for row in doc["cells"]]


def run(*args, env=None, stdin=b"", exe=None):
    # Standard input is never the terminal the tests may run from: nothing waits for a person.
    p = subprocess.run([exe or EXE, *args], capture_output=True, env=env, input=stdin)
    return p.returncode, p.stdout.decode("utf-8"), p.stderr.decode("utf-8")


class Scratch(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="kelto-import-test-")
        self.addCleanup(shutil.rmtree, self.dir, ignore_errors=True)

    def write(self, name, data):
        path = os.path.join(self.dir, name)
        with open(path, "wb") as f:
            f.write(data.encode("utf-8") if isinstance(data, str) else data)
        return path

    def show_json(self, *args, exe=None):
        code, out, err = run("show", "--json", *args, exe=exe)
        self.assertEqual(code, 0, err)
        doc = parse(out)
        self.assertEqual(sorted(doc), ["cells", "columns", "format", "read_name", "rows", "warnings"])
        return doc

    def assert_one_line_error(self, code, out, err, status, *parts):
        self.assertEqual(code, status, err)
        self.assertEqual(out, "", "nothing on stdout after an error")
        lines = err.splitlines()
        self.assertEqual(len(lines), 1, f"one line on stderr, got: {err!r}")
        for part in parts:
            self.assertIn(part, lines[0])


CSV = (
    "id,code,count,ratio,name\n"
    "1,007,12345678901,2.5,Grüße\n"
    "2,00,999990,0.1,\"a, b\"\n"
    "3,,-99,1e10,日本語\n"
    "4,0,3.14159265358979,1e-5,\"say \"\"hi\"\" \\ back\"\n"
)
CSV_CELLS = [
    ["id", "code", "count", "ratio", "name"],
    [num("1"), "007", num("12345678901"), num("2.5"), "Grüße"],
    [num("2"), "00", num("999990"), num("0.1"), "a, b"],
    # An empty field and -99 are both the missing value; a whole 1e10 is kept as an integer.
    [num("3"), None, None, num("10000000000"), "日本語"],
    [num("4"), num("0"), num("3.1415927"), num("1e-05"), 'say "hi" \\ back'],
]
TEXT = "name\tvalue\tnote\nÖlmühle\t0042\tctrl\x01char\n\t-7.25\t\nbig\t9223372036854775807\tµ\n"
TEXT_CELLS = [
    ["name", "value", "note"],
    ["Ölmühle", "0042", "ctrl\x01char"],
    [None, num("-7.25"), None],
    ["big", num("9223372036854775807"), "µ"],
]
DIF = (
    "TABLE\n0,1\n\"typed\"\nVECTORS\n0,3\n\"\"\nTUPLES\n0,2\n\"\"\nDATA\n0,0\n\"\"\n"
    "-1,0\nBOT\n1,0\n\"007\"\n0,2.5\nV\n0,1\nTRUE\n"
    "-1,0\nBOT\n1,0\n\"Ärger\"\n0,0\nNA\n0,12345678901\nV\n"
    "-1,0\nEOD\n"
)
DIF_CELLS = [["007", num("2.5"), num("1")], ["Ärger", None, num("12345678901")]]
# Split at the semicolons: a decimal comma stays inside its cell, as text (the cell rules read
# "." as the decimal point).
EURO_CELLS = [["Ort", "Wert"], ["Zürich", "1,5"], ["Genève", "-2,25"]]



class Show(Scratch):
    def test_cells_keep_their_types(self):
        for name, data, format, expected in (("typed.csv", CSV, "CSV File", CSV_CELLS),
                                             ("typed.txt", TEXT, "Text File", TEXT_CELLS),
                                             ("typed.dif", DIF, "DIF File", DIF_CELLS)):
            with self.subTest(format=format):
                doc = self.show_json(self.write(name, data))
                self.assertEqual((doc["format"], doc["read_name"], doc["warnings"]), (format, "typed", []))
                self.assertEqual((doc["rows"], doc["columns"]), (str(len(expected)), str(len(expected[0]))))
                self.assertEqual(cells(doc), expected)

    def test_max_rows_limits_the_cells_but_not_the_size(self):
        path = self.write("typed.csv", CSV)
        doc = self.show_json("--max-rows", "2", path)
        self.assertEqual((doc["rows"], cells(doc)), ("5", CSV_CELLS[:2]))
        self.assertEqual(self.show_json("--max-rows", "0", path)["cells"], [])

    def test_the_format_can_be_named_by_name_filter_or_pattern(self):
        # A .txt file holding CSV text: detection says text, the choice says CSV. (A .dat
        # text file is detected as "KELTO File", which comes first and takes any text file.)
        path = self.write("typed.txt", CSV)
        self.assertEqual(self.show_json(path)["format"], "Text File")
        for choice in ("CSV File", "csv file", "CSV Files (*.csv)", "*.csv"):
            doc = self.show_json("--format", choice, path)
            self.assertEqual((doc["format"], cells(doc)), ("CSV File", CSV_CELLS), choice)

    def test_text_output_is_aligned_and_cut_to_the_first_rows(self):
        path = self.write("many.txt", "".join(f"{i}\tname {i}\n" for i in range(1, 31)))
        code, out, err = run("show", path)
        self.assertEqual(code, 0, err)
        lines = out.splitlines()
        self.assertEqual((lines[0], lines[-1]), (f"{path}: Text File, 30 rows x 2 columns", "(10 more rows)"))
        body = lines[2:-1]
        self.assertEqual(len(body), 20)
        # Numbers are right-aligned, so the texts of the second column start in one place.
        self.assertEqual(len({line.index("name") for line in body}), 1)
        self.assertTrue(body[9].endswith("name 10"))
        self.assertEqual(run("show", "--max-rows", "0", path)[1], f"{path}: Text File, 30 rows x 2 columns\n")


class Convert(Scratch):
    def test_output_format_from_the_extension_or_named_keeps_every_cell(self):
        # Every digit survives: floats, 64-bit integers, leading zeros, quotes; DIF writes the
        # legacy code page, so its source holds no CJK.
        utf8 = self.write("typed.csv", CSV)
        latin = self.write("latin.csv", CSV.replace("日本語", "Grüße"))
        for to, source, name, writer, written in (([], latin, "table.dif", "DIF File", "DIF File"),
                                                  (["--to", "Text UTF-8 File"], utf8, "out.txt", "Text UTF-8 File", "Text File"),
                                                  (["--to", "*.dif"], latin, "x.out", "DIF File", "DIF File")):
            with self.subTest(to=to):
                out_path = os.path.join(self.dir, name)
                code, out, err = run("convert", *to, "-o", out_path, source)
                self.assertEqual(code, 0, err)
                self.assertEqual(out, f"{out_path}: {writer}, 5 rows x 5 columns\n")
                after = self.show_json("--format", written, out_path)
                self.assertEqual((after["format"], cells(after)), (written, cells(self.show_json(source))))


class SeveralFiles(Scratch):
    def test_formats_that_open_one_path_read_each_file_and_stack_the_tables(self):
        # Text, CSV and DIF take several files one at a time: each is read by itself (a CSV
        # cut inside quotes warns), the narrower tables are widened, "read_name" is the first.
        cut = "x,y\n1,\"open\n"
        for names, datas, expected, warnings in (
                (("a.txt", "b.txt"), ("a\t1\n", "b\t2\t3\n"), [["a", num("1"), None], ["b", num("2"), num("3")]], 0),
                (("a.csv", "b.csv", "c.csv"), (cut, "p,q,r\n", cut),
                 [["x", "y", None], [num("1"), "open", None], ["p", "q", "r"], ["x", "y", None], [num("1"), "open", None]], 2),
                (("a.dif", "b.dif"), (DIF, DIF), DIF_CELLS + DIF_CELLS, 0)):
            with self.subTest(files=names):
                paths = [self.write(n, d) for n, d in zip(names, datas)]
                doc = self.show_json(*paths)
                self.assertEqual((doc["read_name"], cells(doc)), ("a", expected))
                self.assertEqual((doc["rows"], doc["columns"]), (str(len(expected)), str(len(expected[0]))))
                self.assertEqual(len(doc["warnings"]), warnings)
        # convert writes the stacked table; a failing file is named in the error.
        out_path = os.path.join(self.dir, "both.dif")
        code, out, err = run("convert", "-o", out_path, *paths)
        self.assertEqual((code, cells(self.show_json(out_path))), (0, DIF_CELLS + DIF_CELLS), err)
        broken = self.write("broken.dif", DIF.replace('"Ärger"', "Ärger"))
        self.assert_one_line_error(*run("show", paths[0], broken), 1, broken, "An error was found in a DIF record.")

    def test_a_format_that_reads_files_together_gets_them_in_one_read(self):
        # Its reader gets the multi-file argument and puts in each row the number of files.
        paths = [self.write(name, "") for name in ("one.tog", "two.tog")]
        code, out, err = run("--plugin-dir", PLUGIN_DIR, "show", "--json", "--format", "Together File", *paths)
        self.assertEqual(code, 0, err)
        self.assertEqual(cells(parse(out)), [["one.tog", num("2")], ["two.tog", num("2")]])


class OpenOptions(Scratch):
    def test_printed_options_edited_change_what_is_read(self):
        path = self.write("semi.txt", "a;b;c\n1;2;3\n")
        code, out, err = run("options", path)
        self.assertEqual(code, 0, err)
        self.assertIn('name="Settings"', out)
        self.assertRegex(out, r'<Key name="Delimiter" value="%09"\s*/>')
        self.assertEqual(self.show_json(path)["columns"], "1")
        document = out.replace('value="%09"', 'value="%3B"')
        expected = [["a", "b", "c"], [num("1"), num("2"), num("3")]]
        self.assertEqual(cells(self.show_json("--options", self.write("semi.xml", document), path)), expected)
        # The same document from standard input.
        code, out, err = run("show", "--json", "--options", "-", path, stdin=document.encode())
        self.assertEqual(code, 0, err)
        self.assertEqual(cells(parse(out)), expected)

    def test_set_changes_one_key_of_the_defaults(self):
        path = self.write("runs.txt", "a;;b\n")
        self.assertEqual(self.show_json("--set", "Delimiter=;", path)["columns"], "3")
        doc = self.show_json("--set", "Delimiter=;", "--set", "IgnoreConsecutiveDelimiters=true", path)
        self.assertEqual(doc["cells"], [["a", "b"]])
        # "\t" stands for a tab.
        self.assertEqual(self.show_json("--set", r"Delimiter=\t", self.write("t.csv", "a\tb\n"))["cells"], [["a", "b"]])
        # An unknown key is passed on with a warning.
        code, out, err = run("show", "--set", "NoSuchKey=1", path)
        self.assertEqual(code, 0, err)
        self.assertIn('no option "NoSuchKey"', err)

    def test_set_encodes_delimiter_and_sheets_as_the_formats_read_them(self):
        path = self.write("t.txt", "a\tb\n")
        code, out, err = run("options", "--set", r"Sheets=Sheet 1;a\;b;Übersicht;50%", "--set", r"Delimiter=\t",
                             "--set", "Encoding=utf8", "--set", "Delimiter=;", path)
        self.assertEqual(code, 0, err)
        keys = {k.get("name"): k for k in ElementTree.fromstring(out).find("Section[@name='Settings']")}
        # Each sheet name percent-encoded on its own, so the list separator stays unambiguous.
        sheets = keys["Sheets"].get("value").split(";")
        self.assertEqual([urllib.parse.unquote(n) for n in sheets], ["Sheet 1", "a;b", "Übersicht", "50%"])
        self.assertEqual(keys["Sheets"].get("count"), "4")
        # The later --set of a key wins; the value is stored encoded.
        self.assertEqual([keys[k].get("value") for k in ("Delimiter", "Encoding", "IgnoreConsecutiveDelimiters")],
                         ["%3B", "utf8", "false"])

    def test_csv_options_are_guessed_from_the_file(self):
        # A European export: semicolons, decimal commas, UTF-8.
        path = self.write("euro.csv", "Ort;Wert\nZürich;1,5\nGenève;-2,25\n")
        code, out, err = run("options", path)
        self.assertEqual(code, 0, err)
        self.assertIn("gives no default options", err)
        self.assertRegex(out, r'<Key name="Delimiter" value="%3B"\s*/>')
        self.assertRegex(out, r'<Key name="Encoding" value="utf8"\s*/>')
        code, out, err = run("show", "--json", path)
        self.assertEqual(code, 0, err)
        self.assertEqual(err.splitlines(), [f"kelto-import: {path}: guessed delimiter ';' and encoding utf8 from the file"])
        self.assertEqual(cells(parse(out)), EURO_CELLS)
        # --set changes one key of the guess and leaves the other: still UTF-8.
        code, out, err = run("show", "--json", "--set", "Delimiter=;", path)
        self.assertEqual(code, 0, err)
        self.assertEqual(cells(parse(out)), EURO_CELLS)
        self.assertEqual(err.splitlines(), [f"kelto-import: {path}: guessed encoding utf8 from the file"])
        code, out, err = run("show", "--json", "--set", "Delimiter=,", "--set", "Encoding=windows-1252", path)
        self.assertEqual((code, err), (0, ""))
        self.assertEqual(parse(out)["cells"][1], ["ZÃ¼rich;1", "5"])
        # Commas and a legacy code page are guessed as well.
        legacy = self.write("legacy.csv", "a,b;c\n\xfc,2\n".encode("latin-1"))
        code, out, err = run("show", "--json", legacy)
        self.assertEqual(code, 0, err)
        self.assertIn("guessed delimiter ',' and encoding of the legacy code page", err)
        self.assertEqual(cells(parse(out)), [["a", "b;c"], ["ü", num("2")]])

    def test_tab_separated_files_are_read_as_text(self):
        for name in ("t.tsv", "t.TAB"):
            with self.subTest(name=name):
                path = self.write(name, "a,x\tb\n1\t2\n")
                doc = self.show_json(path)
                self.assertEqual((doc["format"], cells(doc)), ("Text File", [["a,x", "b"], [num("1"), num("2")]]))
                self.assertEqual(run("detect", path)[1], f"{path}: Text File\n")
                self.assertEqual(self.show_json("--format", "CSV File", path)["format"], "CSV File")

    def test_binary_files_are_not_read_as_csv(self):
        corpus = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "corpus")
        for sample in ("xls/calamine_date.xls", "xlsx/calamine_date.xlsx"):
            path = os.path.join(corpus, sample)
            with self.subTest(sample=sample):
                self.assertTrue(os.path.isfile(path), f"corpus file missing: {path}")
                code, out, err = run("detect", path)
                self.assertNotIn("CSV File", out)
                # Whatever format detection settles on (a workbook reader, or a failure), it is not CSV.
                code, out, err = run("show", "--json", path)
                if code == 0:
                    self.assertNotEqual(parse(out)["format"], "CSV File")
                else:
                    self.assert_one_line_error(code, out, err, 1, path)
                for format in ("CSV File", "Text File"):
                    self.assert_one_line_error(*run("show", "--format", format, path), 1, path, "binary file")

    def test_bruker_options_have_a_text_form(self):
        sample = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "samples", "opus_absorbance.0")
        fmt = ["--format", "Bruker OPUS Interpolated File"]
        code, out, err = run("options", *fmt, sample)
        self.assertEqual(code, 0, err)
        keys = {k.get("name"): k.get("value") for k in ElementTree.fromstring(out).find("Section[@name='Settings']")}
        self.assertEqual(sorted(keys), ["FirstX", "LastX", "Points"])
        self.assertEqual(keys["Points"], "0")
        # The keys become the 21-byte record: a common axis of 3 points from 1100 to 1180.
        doc = self.show_json(*fmt, "--set", "Points=3", "--set", "FirstX=1100", "--set", "LastX=1180", sample)
        self.assertEqual(doc["columns"], "8")
        self.assertEqual(cells(doc)[1][5:], [num("1100"), num("1140"), num("1180")])
        self.assertEqual(cells(doc)[2][5:], [num("0.25"), num("0.26"), num("0.27")])
        code, out, err = run("show", *fmt, "--set", "Points=1", sample)
        self.assert_one_line_error(code, out, err, 1, "between 2 and 1048576 points")
        code, out, err = run("show", *fmt, "--set", "Points=many", sample)
        self.assert_one_line_error(code, out, err, 2, '"Points" must be a whole number')


class ExitStatus(Scratch):
    def test_failures_and_usage_errors_are_one_line(self):
        path = self.write("t.txt", "1\t2\n")
        missing = os.path.join(self.dir, "missing.csv")
        broken = self.write("broken.dif", DIF.replace('"Ärger"', "Ärger"))
        no_dir = os.path.join(self.dir, "no", "such", "dir", "x.dif")
        bad = self.write("bad.xml", "<Configuration><Section name=\"Other\"/></Configuration>")
        empty = self.write("empty.xml", "<Configuration><Section name=\"Settings\"/></Configuration>")
        csv_out = os.path.join(self.dir, "x.csv")
        # (exit status, arguments, texts the line must hold)
        cases = [
            (1, ("show", missing), missing, "does not exist"),
            (1, ("show", "--json", broken), broken, "An error was found in a DIF record."),
            # The library's message for two files of a single-file format has a blank line in it.
            (1, ("show", "--format", "Thermo SIEVE File", path, path), path,
             "can only be imported one at a time. Import will be aborted."),
            (1, ("convert", "-o", no_dir, path), no_dir),
            # A document the reader cannot use (its keys are missing) fails the read.
            (1, ("show", "--options", empty, path), path),
            (2, ("show", "--options", bad, path), bad, "Settings"),
            (2, ("show", "--bogus", path)), (2, ("frobnicate", path)), (2, ("show",)), (2, ()), (2, ("--plugin-dir",)),
            (2, ("show", "--max-rows", "-1", path)), (2, ("show", "--max-rows", "many", path)),
            (2, ("show", "--format", "No Such Format", path)),
            (2, ("show", "--format", "Text UTF-8 File", path)),  # writes only
            (2, ("show", "--set", "novalue", path)), (2, ("convert", path)),
            (2, ("convert", "--to", "CSV File", "-o", csv_out, path)),  # reads only
            (2, ("convert", "-o", os.path.join(self.dir, "x.unknown"), path)),
            (2, ("detect", "--json", path)), (2, ("formats", path)),
        ]
        for status, args, *parts in cases:
            with self.subTest(args=args):
                self.assert_one_line_error(*run(*args), status, *parts)
        self.assertFalse(os.path.exists(csv_out))

    def test_help_and_version(self):
        for command in ("", "formats", "detect", "options", "show", "convert"):
            with self.subTest(command=command):
                code, out, err = run(*([command] if command else []), "--help")
                self.assertEqual(code, 0, err)
                self.assertTrue(out.startswith("Usage: kelto-import " + command), out)
        code, out, err = run("--version")
        self.assertEqual(code, 0)
        self.assertRegex(out, r"^kelto-import \d+\.\d+\.\d+\n$")

    def test_detect(self):
        paths = [self.write("a.csv", CSV), self.write("b.dif", DIF), self.write("c.txt", TEXT)]
        missing = os.path.join(self.dir, "none.txt")
        code, out, err = run("detect", *paths, missing)
        self.assertEqual(code, 1)
        self.assertEqual(out.splitlines(), [f"{paths[0]}: CSV File", f"{paths[1]}: DIF File", f"{paths[2]}: Text File"])
        self.assertEqual(len(err.splitlines()), 1)
        self.assertIn(missing, err)


class PluginDiscovery(Scratch):
    """The program finds plug-in libraries beside itself, as a host does."""

    def test_a_copy_of_the_library_beside_the_program_changes_nothing(self):
        exe = os.path.join(self.dir, "kelto-import")
        shutil.copy2(EXE, exe)
        library = os.path.join(os.path.dirname(EXE), "libKELTOnewsprfile.so")
        shutil.copy2(library, self.dir)
        csv = self.write("typed.csv", CSV)
        code, alone, err = run("formats", "--json", exe=exe)
        self.assertEqual(code, 0, err)
        listed = json.loads(alone)
        names = [f["name"] for f in listed]
        self.assertEqual(len(names), len(set(names)))
        csv_format, dif = listed[names.index("CSV File")], listed[names.index("DIF File")]
        self.assertEqual((csv_format["extensions"], csv_format["read"], csv_format["write"]), ([".csv"], True, False))
        self.assertEqual((dif["read"], dif["write"], dif["save_filter"]), (True, True, "DIF Files (*.dif)"))
        # One copy sorts before the library (the library's own entries then win), one after
        # (the copy's entries replace ours and serve the reads).
        for name in ("libAAsprfile.so", "libzzsprfile.so"):
            with self.subTest(copy=name):
                copy = os.path.join(self.dir, name)
                shutil.copy2(library, copy)
                self.assertEqual(run("formats", "--json", exe=exe), (0, alone, ""))
                self.assertEqual(cells(self.show_json(csv, exe=exe)), CSV_CELLS)
                os.remove(copy)

    def test_formats_lists_the_twenty_registered_formats_in_registry_order(self):
        table = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "plugin", "registered_formats.tsv")
        with open(table, encoding="utf-8") as f:
            want = [line.split("\t")[0] for line in f if line.strip() and not line.startswith("#")]
        self.assertEqual(len(want), 20)
        code, out, err = run("formats", "--json")
        self.assertEqual(code, 0, err)
        self.assertEqual([f["name"] for f in json.loads(out)], want)

    def test_a_brookside_file_is_detected_and_read_with_the_files_it_names(self):
        sample = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "samples", "brookside_etch.trn")
        doc = self.show_json(sample)
        self.assertEqual((doc["format"], doc["rows"], doc["columns"]), ("Brookside File", "9", "6"))
        self.assertEqual(cells(doc)[0], ["Wafer", "Phase", "RF_Power", "Pressure", "Gas_Flow", "Endpoint"])
        # 502.5, 31.2 and 48.9 less the centres 500, 30 and 50.
        self.assertEqual(cells(doc)[1], ["A01", num("1"), num("2.5"), num("1.2"), num("-1.1"), "clear"])


class Terminal(Scratch):
    def run_on_terminal(self, *args, env=None, answer=None):
        """Runs with stderr (and, when `answer` is given, stdin) on a new terminal; `answer`
        is typed into it."""
        leader, follower = pty.openpty()
        try:
            if answer is not None:
                os.write(leader, answer.encode())
            p = subprocess.run([EXE, *args], stdout=subprocess.PIPE, stderr=follower, env=env, timeout=300,
                               stdin=follower if answer is not None else subprocess.DEVNULL)
        finally:
            os.close(follower)
        err = b""
        while True:
            try:
                chunk = os.read(leader, 65536)
            except OSError:  # the other side is closed
                break
            if not chunk:
                break
            err += chunk
        os.close(leader)
        return p.returncode, p.stdout.decode(), err.decode()

    def test_a_question_is_asked_on_the_terminal_or_answered_by_default(self):
        path = self.write("q.ask", "ASK Keep the old calibration?\n")
        for typed, expected in (("n\n", "no"), ("maybe\ny\n", "yes")):
            with self.subTest(typed=typed):
                code, out, err = self.run_on_terminal("--plugin-dir", PLUGIN_DIR, "show", "--json", path, answer=typed)
                self.assertEqual(code, 0, err)
                self.assertEqual(parse(out)["cells"], [["answer"], [expected]])
                self.assertIn("Keep the old calibration? [y/n]", err)
                self.assertNotIn("no terminal", err)
        # Without a terminal the default is taken and said. The reader's warning: in the JSON,
        # and on stderr, one line each, without failing.
        code, out, err = run("--plugin-dir", PLUGIN_DIR, "show", "--json", path)
        self.assertEqual(code, 0, err)
        doc = parse(out)
        self.assertEqual((doc["format"], doc["cells"]), ("Asking File", [["answer"], ["yes"]]))
        self.assertEqual(doc["warnings"], ["The answer was recorded."])
        lines = err.splitlines()
        self.assertEqual(len(lines), 2, err)
        self.assertTrue("Keep the old calibration?" in lines[0] and "no terminal" in lines[0], lines[0])
        self.assertTrue("warning" in lines[1] and "The answer was recorded." in lines[1], lines[1])

    def test_progress_bar_only_on_a_terminal(self):
        rows = 300000
        path = self.write("big.txt", "".join(f"{i}\t{i}.5\n" for i in range(rows)))
        env = dict(os.environ, KELTO_IMPORT_PROGRESS_DELAY_MS="0")
        code, out, err = self.run_on_terminal("show", "--max-rows", "0", path, env=env)
        self.assertEqual(code, 0, err)
        self.assertEqual(out, f"{path}: Text File, {rows} rows x 2 columns\n")
        bars = re.findall(r"\r([^\r]*?)\x1b\[K", err)
        self.assertTrue(bars and bars[0], f"a bar was drawn: {err!r}")
        self.assertRegex(bars[0], rf"\d+% \d+/{rows} rows$")
        self.assertTrue(err.endswith("\r\x1b[K"), "the bar is wiped at the end")
        # With stderr not a terminal: nothing but the output.
        self.assertEqual(run("show", "--max-rows", "0", path, env=env), (0, out, ""))
        # A read quicker than the delay shows nothing even on a terminal.
        code, out, err = self.run_on_terminal("show", self.write("small.txt", "1\t2\n"))
        self.assertEqual((code, err), (0, ""))


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    parser.add_argument("--exe", required=True)
    parser.add_argument("--plugin-dir", required=True)
    options, rest = parser.parse_known_args()
    EXE = os.path.abspath(options.exe)
    PLUGIN_DIR = os.path.abspath(options.plugin_dir)
    unittest.main(argv=[sys.argv[0], *rest], verbosity=2)

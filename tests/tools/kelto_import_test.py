"""End-to-end tests of kelto-import: the built executable is run as a user would run it.

Tables are compared cell by cell with the typed values the library's cell rules give:
JSON numbers are read back as single-precision floats, integers must stay exact, texts must
stay texts ("007"), missing values are null. Float tokens are also checked as text, since the
program promises the shortest text that reads back as the same single-precision value.
"""
import argparse
import json
import os
import pty
import re
import shutil
import struct
import subprocess
import sys
import tempfile
import unittest
import urllib.parse
import xml.etree.ElementTree as ElementTree

EXE = None
SOURCE = None
PLUGIN_DIR = None


def f32(x):
    """x rounded to single precision."""
    return struct.unpack("<f", struct.pack("<f", x))[0]


def run(*args, env=None, stdin=b"", cwd=None, exe=None):
    # Standard input is never the terminal the tests may run from: nothing waits for a person.
    p = subprocess.run([exe or EXE, *args], capture_output=True, env=env, input=stdin, cwd=cwd)
    return p.returncode, p.stdout.decode("utf-8"), p.stderr.decode("utf-8")


class Token:
    """A JSON number as printed: its text and whether it was written as an integer."""

    def __init__(self, text, integer):
        self.text, self.integer = text, integer


def parse_json(text):
    """JSON with every number kept as its token, so exact texts can be checked."""
    return json.loads(text, parse_float=lambda t: Token(t, False), parse_int=lambda t: Token(t, True))


class Cells:
    """Expected cell kinds."""

    @staticmethod
    def flt(value, text=None):
        return ("float", value, text)

    @staticmethod
    def int(value):
        return ("int", value, None)


def check_cells(test, got, expected):
    test.assertEqual(len(got), len(expected), "rows")
    for r, (grow, erow) in enumerate(zip(got, expected), start=1):
        test.assertEqual(len(grow), len(erow), f"columns of row {r}")
        for c, (g, e) in enumerate(zip(grow, erow), start=1):
            where = f"cell (row {r}, column {c})"
            if e is None or isinstance(e, str):
                test.assertEqual(g, e, where)
            elif e[0] == "int":
                test.assertIsInstance(g, Token, where)
                test.assertTrue(g.integer, f"{where}: {g.text} should be an integer")
                test.assertEqual(int(g.text), e[1], where)
            else:
                test.assertIsInstance(g, Token, where)
                test.assertEqual(f32(float(g.text)), f32(e[1]), where)
                if e[2] is not None:
                    test.assertEqual(g.text, e[2], where)


def plain(cells):
    """Parsed cells with number tokens turned into Python numbers."""
    out = []
    for row in cells:
        out.append([(int(c.text) if c.integer else f32(float(c.text))) if isinstance(c, Token) else c for c in row])
    return out


class Scratch(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="kelto-import-test-")

    def tearDown(self):
        shutil.rmtree(self.dir, ignore_errors=True)

    def write(self, name, data):
        path = os.path.join(self.dir, name)
        with open(path, "wb") as f:
            f.write(data.encode("utf-8") if isinstance(data, str) else data)
        return path

    def show_json(self, *args):
        code, out, err = run("show", "--json", *args)
        self.assertEqual(code, 0, err)
        doc = parse_json(out)
        self.assertEqual(sorted(doc), ["cells", "columns", "format", "read_name", "rows", "warnings"])
        return doc

    def assert_one_line_error(self, code, out, err, status, *parts):
        self.assertEqual(code, status, err)
        self.assertEqual(out, "", "nothing on stdout after an error")
        lines = err.splitlines()
        self.assertEqual(len(lines), 1, f"one line on stderr, got: {err!r}")
        for part in parts:
            self.assertIn(part, lines[0])


# ---------------------------------------------------------------------------------------
# Typed cells of the text formats

CSV = (
    "id,code,count,ratio,name\n"
    "1,007,12345678901,2.5,Grüße\n"
    "2,00,999990,0.1,\"a, b\"\n"
    "3,,-99,1e10,日本語\n"
    "4,0,3.14159265358979,1e-5,\"say \"\"hi\"\" \\ back\"\n"
)

CSV_CELLS = [
    ["id", "code", "count", "ratio", "name"],
    [Cells.flt(1, "1"), "007", Cells.int(12345678901), Cells.flt(2.5, "2.5"), "Grüße"],
    [Cells.flt(2, "2"), "00", Cells.flt(999990, "999990"), Cells.flt(0.1, "0.1"), "a, b"],
    # An empty field and -99 are both the missing value; a whole 1e10 is kept as an integer.
    [Cells.flt(3, "3"), None, None, Cells.int(10000000000), "日本語"],
    [Cells.flt(4, "4"), Cells.flt(0, "0"), Cells.flt(3.14159265358979, "3.1415927"), Cells.flt(1e-5, "1e-05"),
     'say "hi" \\ back'],
]

TEXT = (
    "name\tvalue\tnote\n"
    "Ölmühle\t0042\tctrl\x01char\n"
    "\t-7.25\t\n"
    "big\t9223372036854775807\tµ\n"
)

TEXT_CELLS = [
    ["name", "value", "note"],
    ["Ölmühle", "0042", "ctrl\x01char"],
    [None, Cells.flt(-7.25, "-7.25"), None],
    ["big", Cells.int(9223372036854775807), "µ"],
]

DIF = (
    "TABLE\n0,1\n\"typed\"\nVECTORS\n0,3\n\"\"\nTUPLES\n0,2\n\"\"\nDATA\n0,0\n\"\"\n"
    "-1,0\nBOT\n1,0\n\"007\"\n0,2.5\nV\n0,1\nTRUE\n"
    "-1,0\nBOT\n1,0\n\"Ärger\"\n0,0\nNA\n0,12345678901\nV\n"
    "-1,0\nEOD\n"
)

DIF_CELLS = [
    ["007", Cells.flt(2.5, "2.5"), Cells.flt(1, "1")],
    ["Ärger", None, Cells.int(12345678901)],
]


class TypedCells(Scratch):
    def test_csv_cells_keep_their_types(self):
        doc = self.show_json(self.write("typed.csv", CSV))
        self.assertEqual(doc["format"], "CSV File")
        self.assertEqual(doc["read_name"], "typed")
        self.assertEqual((doc["rows"].text, doc["columns"].text), ("5", "5"))
        self.assertEqual(doc["warnings"], [])
        check_cells(self, doc["cells"], CSV_CELLS)

    def test_text_cells_keep_their_types(self):
        doc = self.show_json(self.write("typed.txt", TEXT))
        self.assertEqual(doc["format"], "Text File")
        check_cells(self, doc["cells"], TEXT_CELLS)

    def test_dif_cells_keep_their_types(self):
        doc = self.show_json(self.write("typed.dif", DIF))
        self.assertEqual(doc["format"], "DIF File")
        check_cells(self, doc["cells"], DIF_CELLS)

    def test_max_rows_limits_the_cells_but_not_the_size(self):
        path = self.write("typed.csv", CSV)
        doc = self.show_json("--max-rows", "2", path)
        self.assertEqual(doc["rows"].text, "5")
        check_cells(self, doc["cells"], CSV_CELLS[:2])
        doc = self.show_json("--max-rows", "0", path)
        self.assertEqual(doc["cells"], [])

    def test_the_format_can_be_named_by_name_filter_or_pattern(self):
        # A .dat file holding CSV text: detection says text, the choice says CSV.
        path = self.write("typed.dat", CSV)
        self.assertEqual(self.show_json(path)["format"], "Text File")
        for choice in ("CSV File", "csv file", "CSV Files (*.csv)", "*.csv"):
            doc = self.show_json("--format", choice, path)
            self.assertEqual(doc["format"], "CSV File", choice)
            check_cells(self, doc["cells"], CSV_CELLS)

    def test_text_output_is_aligned_and_cut_to_the_first_rows(self):
        rows = "".join(f"{i}\tname {i}\n" for i in range(1, 31))
        path = self.write("many.txt", rows)
        code, out, err = run("show", path)
        self.assertEqual(code, 0, err)
        lines = out.splitlines()
        self.assertEqual(lines[0], f"{path}: Text File, 30 rows x 2 columns")
        self.assertEqual(lines[-1], "(10 more rows)")
        body = lines[2:-1]
        self.assertEqual(len(body), 20)
        # Numbers are right-aligned, so the texts of the second column start in one place.
        self.assertEqual(len({line.index("name") for line in body}), 1)
        self.assertTrue(body[9].endswith("name 10"))
        code, out, err = run("show", "--max-rows", "0", path)
        self.assertEqual(out, f"{path}: Text File, 30 rows x 2 columns\n")


class Conversion(Scratch):
    def test_text_to_dif_and_back_gives_the_same_table(self):
        # Every digit survives: floats, 64-bit integers, leading zeros.
        source = self.write("table.txt", "a\tb\tc\n1\t2.5\t-3.25\n100000\t\tGrüße\nx y\t0\t7\n"
                                         "1234.5678\t12345678901\t007\n")
        before = self.show_json(source)
        out_path = os.path.join(self.dir, "table.dif")
        code, out, err = run("convert", "-o", out_path, source)
        self.assertEqual(code, 0, err)
        self.assertEqual(out, f"{out_path}: DIF File, 5 rows x 3 columns\n")
        after = self.show_json(out_path)
        self.assertEqual(after["format"], "DIF File")
        self.assertEqual(plain(after["cells"]), plain(before["cells"]))

    def test_unicode_text_survives_a_utf8_text_file(self):
        source = self.write("typed.csv", CSV)
        out_path = os.path.join(self.dir, "out.txt")
        code, out, err = run("convert", "--to", "Text UTF-8 File", "-o", out_path, source)
        self.assertEqual(code, 0, err)
        back = self.show_json(out_path)
        self.assertEqual(plain(back["cells"]), plain(self.show_json(source)["cells"]))

    def test_output_format_from_the_extension_or_named(self):
        source = self.write("table.txt", "1\t2\n")
        code, out, err = run("convert", "--to", "*.dif", "-o", os.path.join(self.dir, "x.out"), source)
        self.assertEqual(code, 0, err)
        self.assertIn(": DIF File,", out)
        with open(os.path.join(self.dir, "x.out")) as f:
            self.assertEqual(f.readline().strip(), "TABLE")


class OpenOptions(Scratch):
    def test_printed_options_edited_change_what_is_read(self):
        path = self.write("semi.txt", "a;b;c\n1;2;3\n")
        code, out, err = run("options", path)
        self.assertEqual(code, 0, err)
        self.assertIn('name="Settings"', out)
        self.assertRegex(out, r'<Key name="Delimiter" value="%09"\s*/>')
        self.assertEqual(self.show_json(path)["columns"].text, "1")
        edited = self.write("semi.xml", out.replace('value="%09"', 'value="%3B"'))
        doc = self.show_json("--options", edited, path)
        self.assertEqual(doc["columns"].text, "3")
        check_cells(self, doc["cells"], [["a", "b", "c"], [Cells.flt(1), Cells.flt(2), Cells.flt(3)]])
        # The same document from standard input.
        with open(edited, "rb") as f:
            code, out, err = run("show", "--json", "--options", "-", path, stdin=f.read())
        self.assertEqual(code, 0, err)
        self.assertEqual(parse_json(out)["columns"].text, "3")

    def test_set_changes_one_key_of_the_defaults(self):
        path = self.write("runs.txt", "a;;b\n")
        self.assertEqual(self.show_json("--set", "Delimiter=;", path)["columns"].text, "3")
        doc = self.show_json("--set", "Delimiter=;", "--set", "IgnoreConsecutiveDelimiters=true", path)
        self.assertEqual(doc["cells"], [["a", "b"]])
        # "\t" stands for a tab.
        tabbed = self.write("tabbed.csv", "a\tb\n")
        self.assertEqual(self.show_json("--set", r"Delimiter=\t", tabbed)["cells"], [["a", "b"]])

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
        self.assertEqual(keys["Delimiter"].get("value"), "%3B")
        self.assertEqual(keys["Encoding"].get("value"), "utf8")
        self.assertEqual(keys["IgnoreConsecutiveDelimiters"].get("value"), "false")
        code, out, err = run("options", "--set", r"Delimiter=\t", path)
        self.assertEqual(ElementTree.fromstring(out).find(".//Key[@name='Delimiter']").get("value"), "%09")

    def test_csv_has_host_defaults_to_start_from(self):
        path = self.write("semi.csv", "a;b\n1;2\n")
        code, out, err = run("options", path)
        self.assertEqual(code, 0, err)
        self.assertIn("gives no default options", err)
        self.assertRegex(out, r'<Key name="Delimiter" value="%2C"\s*/>')
        self.assertRegex(out, r'<Key name="Encoding" value=""\s*/>')
        self.assertEqual(self.show_json(path)["columns"].text, "1")
        doc = self.show_json("--set", "Delimiter=;", path)
        self.assertEqual(doc["columns"].text, "2")
        # A CSV delimiter needs escaping in the document; the semicolon came through encoded.
        self.assertEqual(doc["cells"][0], ["a", "b"])

    def test_an_unknown_key_is_passed_on_with_a_warning(self):
        path = self.write("t.txt", "a\tb\n")
        code, out, err = run("show", "--set", "NoSuchKey=1", path)
        self.assertEqual(code, 0, err)
        self.assertIn('no option "NoSuchKey"', err)

    def test_a_document_without_settings_is_a_usage_error(self):
        path = self.write("t.txt", "a\tb\n")
        bad = self.write("bad.xml", "<Configuration><Section name=\"Other\"/></Configuration>")
        code, out, err = run("show", "--options", bad, path)
        self.assert_one_line_error(code, out, err, 2, "bad.xml", "Settings")
        # A document the reader cannot use (its keys are missing) fails the read instead.
        empty = self.write("empty.xml", "<Configuration><Section name=\"Settings\"/></Configuration>")
        code, out, err = run("show", "--options", empty, path)
        self.assert_one_line_error(code, out, err, 1, path)


class ExitStatus(Scratch):
    def test_a_missing_file(self):
        missing = os.path.join(self.dir, "missing.csv")
        code, out, err = run("show", missing)
        self.assert_one_line_error(code, out, err, 1, missing, "does not exist")

    def test_a_damaged_file_names_the_file_and_the_readers_message(self):
        path = self.write("broken.dif", DIF.replace('"Ärger"', "Ärger"))
        code, out, err = run("show", "--json", path)
        self.assert_one_line_error(code, out, err, 1, path, "An error was found in a DIF record.")

    def test_a_multiline_message_stays_on_one_line(self):
        # Two files for a format that reads one at a time: the library's message has a blank
        # line in it.
        a = self.write("a.txt", "1\n")
        b = self.write("b.txt", "2\n")
        code, out, err = run("show", "--format", "Thermo SIEVE File", a, b)
        self.assert_one_line_error(code, out, err, 1, a, "can only be imported one at a time. Import will be aborted.")

    def test_a_failed_write(self):
        source = self.write("t.txt", "1\t2\n")
        target = os.path.join(self.dir, "no", "such", "dir", "x.dif")
        code, out, err = run("convert", "-o", target, source)
        self.assert_one_line_error(code, out, err, 1, target)

    def test_usage_errors(self):
        path = self.write("t.txt", "1\t2\n")
        cases = [
            ("show", "--bogus", path),
            ("frobnicate", path),
            ("show",),
            ("show", "--max-rows", "-1", path),
            ("show", "--max-rows", "many", path),
            ("show", "--format", "No Such Format", path),
            ("show", "--format", "Text UTF-8 File", path),  # writes only
            ("show", "--set", "novalue", path),
            ("convert", path),
            ("convert", "--to", "CSV File", "-o", os.path.join(self.dir, "x.csv"), path),  # reads only
            ("convert", "-o", os.path.join(self.dir, "x.unknown"), path),
            ("detect", "--json", path),
            ("formats", path),
            (),
            ("--plugin-dir",),
        ]
        for args in cases:
            with self.subTest(args=args):
                code, out, err = run(*args)
                self.assert_one_line_error(code, out, err, 2)
        self.assertFalse(os.path.exists(os.path.join(self.dir, "x.csv")))

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

    def setUp(self):
        super().setUp()
        bindir = os.path.dirname(EXE)
        self.exe = os.path.join(self.dir, "kelto-import")
        shutil.copy2(EXE, self.exe)
        self.library = os.path.join(bindir, "libKELTOnewsprfile.so")
        shutil.copy2(self.library, self.dir)
        self.csv = self.write("typed.csv", CSV)

    def formats(self):
        code, out, err = run("formats", "--json", exe=self.exe)
        self.assertEqual(code, 0, err)
        return out

    def test_formats_are_this_librarys(self):
        listed = json.loads(self.formats())
        names = [f["name"] for f in listed]
        self.assertEqual(len(names), len(set(names)))
        csv = listed[names.index("CSV File")]
        self.assertEqual(csv["extensions"], [".csv"])
        self.assertEqual((csv["read"], csv["write"], csv["save_filter"]), (True, False, None))
        dif = listed[names.index("DIF File")]
        self.assertEqual((dif["read"], dif["write"], dif["save_filter"]), (True, True, "DIF Files (*.dif)"))

    def test_a_copy_of_the_library_beside_the_program_changes_nothing(self):
        alone = self.formats()
        # One copy sorts before the library (the library's own entries then win), one after
        # (the copy's entries replace ours and serve the reads).
        for name in ("libAAsprfile.so", "libzzsprfile.so"):
            with self.subTest(copy=name):
                copy = os.path.join(self.dir, name)
                shutil.copy2(self.library, copy)
                self.assertEqual(self.formats(), alone)
                code, out, err = run("show", "--json", self.csv, exe=self.exe)
                self.assertEqual(code, 0, err)
                check_cells(self, parse_json(out)["cells"], CSV_CELLS)
                os.remove(copy)


def read_all(fd):
    data = b""
    while True:
        try:
            chunk = os.read(fd, 65536)
        except OSError:  # the other side is closed
            break
        if not chunk:
            break
        data += chunk
    return data


class Terminal(Scratch):
    def run_with_terminal_stderr(self, *args, env, answer=None):
        """Runs with stderr (and, when `answer` is given, stdin) on a new terminal; `answer`
        is typed into it."""
        leader, follower = pty.openpty()
        try:
            if answer is not None:
                os.write(leader, answer.encode())
            p = subprocess.run([EXE, *args], stdout=subprocess.PIPE, stderr=follower,
                               stdin=follower if answer is not None else subprocess.DEVNULL, env=env, timeout=300)
        finally:
            os.close(follower)
        err = read_all(leader)
        os.close(leader)
        return p.returncode, p.stdout.decode(), err.decode()

    def test_a_question_is_asked_on_the_terminal(self):
        path = self.write("q.ask", "ASK Keep the old calibration?\n")
        for typed, expected in (("n\n", "no"), ("maybe\ny\n", "yes")):
            with self.subTest(typed=typed):
                code, out, err = self.run_with_terminal_stderr("--plugin-dir", PLUGIN_DIR, "show", "--json", path,
                                                               env=dict(os.environ), answer=typed)
                self.assertEqual(code, 0, err)
                self.assertEqual(parse_json(out)["cells"], [["answer"], [expected]])
                self.assertIn("Keep the old calibration? [y/n]", err)
                self.assertNotIn("no terminal", err)

    def test_without_a_terminal_the_default_is_taken_and_said(self):
        path = self.write("q.ask", "ASK Keep the old calibration?\n")
        code, out, err = run("--plugin-dir", PLUGIN_DIR, "show", "--json", path)
        self.assertEqual(code, 0, err)
        doc = parse_json(out)
        self.assertEqual(doc["format"], "Asking File")
        self.assertEqual(doc["cells"], [["answer"], ["yes"]])
        # The reader's warning: in the JSON, and on stderr, one line each, without failing.
        self.assertEqual(doc["warnings"], ["The answer was recorded."])
        lines = err.splitlines()
        self.assertEqual(len(lines), 2, err)
        self.assertIn("Keep the old calibration?", lines[0])
        self.assertIn("no terminal", lines[0])
        self.assertIn("warning", lines[1])
        self.assertIn("The answer was recorded.", lines[1])

    def test_progress_bar_only_on_a_terminal(self):
        rows = 300000
        path = self.write("big.txt", "".join(f"{i}\t{i}.5\n" for i in range(rows)))
        env = dict(os.environ, KELTO_IMPORT_PROGRESS_DELAY_MS="0")
        code, out, err = self.run_with_terminal_stderr("show", "--max-rows", "0", path, env=env)
        self.assertEqual(code, 0, err)
        self.assertEqual(out, f"{path}: Text File, {rows} rows x 2 columns\n")
        bars = re.findall(r"\r([^\r]*?)\x1b\[K", err)
        self.assertTrue(bars and bars[0], f"a bar was drawn: {err!r}")
        self.assertRegex(bars[0], rf"\d+% \d+/{rows} rows$")
        self.assertTrue(err.endswith("\r\x1b[K"), "the bar is wiped at the end")
        # With stderr not a terminal: nothing but the output.
        code, out2, err2 = run("show", "--max-rows", "0", path, env=env)
        self.assertEqual((code, out2, err2), (0, out, ""))
        # A read quicker than the delay shows nothing even on a terminal.
        small = self.write("small.txt", "1\t2\n")
        code, out, err = self.run_with_terminal_stderr("show", small, env=dict(os.environ))
        self.assertEqual((code, err), (0, ""))


class SpectralSample(unittest.TestCase):
    """An NSAS file read through the program, checked against the file's bytes read here."""

    def test_nsas_sample(self):
        path = os.path.join(SOURCE, "samples", "nsas_three_spectra.da")
        if not os.path.exists(path):
            self.skipTest("no NSAS sample in samples/")
        with open(path, "rb") as f:
            data = f.read()
        spectra = []
        at = 0
        while at + 80 <= len(data):
            h = data[at:at + 80]
            model, number = struct.unpack_from("<hh", h, 0)
            name = h[4:14].split(b"\0")[0].decode("latin-1").strip(" ")
            n, start, end = struct.unpack_from("<hhh", h, 14)
            date = struct.unpack_from("<hhh", h, 64)
            time = struct.unpack_from("<hhh", h, 70)
            values = struct.unpack_from(f"<{n}f", data, at + 128)
            spectra.append(dict(model=model, number=number, name=name, n=n, start=start, end=end,
                                stamp="%02d-%02d-%02d %02d:%02d:%02d" % (date[2], date[1], date[0], *time),
                                values=values))
            at += 128 + 128 * ((4 * n + 127) // 128)
        self.assertEqual(at, len(data), "the sample is whole spectra")
        first = spectra[0]
        step = f32(f32(first["end"] - first["start"]) / first["n"])
        points = first["n"]
        header = ["SampleNo", "SpectrumNo", "SampleName", "Time"] + [
            "w%g" % f32(first["start"] + c * step) for c in range(points)]
        expected = [["/Instrument model %d" % first["model"]] + [None] * (points + 3), header]
        for i, s in enumerate(spectra, start=1):
            expected.append([Cells.flt(i), Cells.flt(s["number"]), s["name"], s["stamp"]] +
                            [Cells.flt(v) for v in s["values"]])

        code, out, err = run("show", "--json", path)
        self.assertEqual(code, 0, err)
        doc = parse_json(out)
        self.assertEqual(doc["format"], "NSAS File")
        self.assertEqual((int(doc["rows"].text), int(doc["columns"].text)), (len(spectra) + 2, points + 4))
        check_cells(self, doc["cells"], expected)


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    parser.add_argument("--exe", required=True)
    parser.add_argument("--source", required=True)
    parser.add_argument("--plugin-dir", required=True)
    options, rest = parser.parse_known_args()
    EXE = os.path.abspath(options.exe)
    SOURCE = os.path.abspath(options.source)
    PLUGIN_DIR = os.path.abspath(options.plugin_dir)
    unittest.main(argv=[sys.argv[0], *rest], verbosity=2)

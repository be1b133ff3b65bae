// The BIFF reader: real files against the peers' values, and built streams for what the real
// files do not show (BIFF4 workbooks, split shared strings, layouts, damaged records).
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <fstream>
#include <set>
#include <sstream>

#include "formats/workbook/ExcelFile.h"
#include "data/SpreadsheetData.h"
#include "outside/TestFiles.h"
#include "tests/formats/workbook/ExcelTestSupport.h"
#include "tests/formats/workbook/ExpectedCells.h"

using namespace kelto::test;
using namespace kelto::test::xls;

namespace {

const std::string kCorpus = std::string(KELTO_CORPUS_DIR) + "/xls/";
// The corpus files that end with a code (tested below) rather than read.
const std::vector<std::string> kRefused = {"calamine_too_small.xls", "edr_Test_git_issue_224_simple_95.xls",
                                           "edr_Test_git_issue_242_xor_pwd_password.xls", "poi_60284.xls",
                                           "poi_password.xls", "poi_xor-encryption-abc.xls"};

struct Result {
    int open = -1, cols = -1, rows = -1, read = -1;
    std::string error;
    std::string readFile;
    RecordingSink sink;
};

// Opens `path` (with `options` when given), chooses `sheets` when given, sizes and reads.
Result ReadXls(const std::string& path, const std::vector<std::string>& sheets = {},
               QmImportOpenOptions* options = nullptr) {
    Result r;
    ExcelFile f;
    r.open = f.Open(true, path.c_str(), options);
    if (r.open == 0 && !sheets.empty() && !f.SetCurWorksheet(sheets)) r.open = -2;
    if (r.open == 0) {
        r.cols = f.GetNumCols();
        r.rows = f.GetNumRows();
        r.sink.SetDataSize(r.cols, r.rows);
        r.read = f.Read(&r.sink);
        r.readFile = f.GetReadFile();
    }
    r.error = ErrorOf(f);
    return r;
}

class ExcelBuilt : public ::testing::Test {
protected:
    std::string Put(const std::string& name, const Bytes& bytes) {
        WriteFile(dir.File(name), std::string(bytes.begin(), bytes.end()));
        return dir.File(name);
    }
    TempDir dir;
};

}  // namespace

// Every readable corpus file, sheet by sheet, against the cells xlrd gives (cross-checked with
// SheetJS), as tests/peers/xls_expected.py wrote them: each expected cell is there with its
// value, and nothing else was delivered.
TEST(ExcelCorpusTest, EveryReadableSheetMatchesThePeers) {
    std::ifstream in(kCorpus + "expected/cells.tsv");
    ASSERT_TRUE(in) << "missing expected values";
    struct Cell {
        int row, col;
        char kind;
        std::string value;
    };
    std::map<std::pair<std::string, std::string>, std::vector<Cell>> sheets;
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#') continue;
        std::vector<std::string> f;
        std::stringstream ss(line);
        for (std::string part; std::getline(ss, part, '\t');) f.push_back(part);
        if (f.size() == 5) f.emplace_back();
        ASSERT_EQ(f.size(), 6u) << line;
        sheets[{f[0], UnescapeField(f[1])}].push_back({std::stoi(f[2]), std::stoi(f[3]), f[4][0], UnescapeField(f[5])});
    }
    ASSERT_GE(sheets.size(), 50u);
    // Every corpus file either has peer values or is among the refused ones below.
    std::set<std::string> covered(kRefused.begin(), kRefused.end());
    for (const auto& [key, cells] : sheets) covered.insert(key.first);
    std::ifstream manifest(kCorpus + "MANIFEST.tsv");
    ASSERT_TRUE(manifest);
    std::getline(manifest, line);
    int files = 0;
    while (std::getline(manifest, line)) {
        const std::string file = line.substr(0, line.find('\t'));
        EXPECT_TRUE(covered.count(file)) << file;
        ++files;
    }
    EXPECT_EQ(files, 44);
    for (const auto& [key, cells] : sheets) {
        const auto& [file, sheet] = key;
        SCOPED_TRACE(file + " / " + sheet);
        ExcelFile probe;
        ASSERT_EQ(probe.Open(true, (kCorpus + file).c_str(), nullptr), 0) << ErrorOf(probe);
        // Single-sheet files (BIFF2-4) have no sheet names; the peers call them "Sheet 1".
        const bool named = !probe.GetWorksheets().empty();
        Result r = ReadXls(kCorpus + file, named ? std::vector<std::string>{sheet} : std::vector<std::string>{});
        ASSERT_EQ(r.open, 0) << r.error;
        ASSERT_EQ(r.read, 0) << r.error;
        int mismatches = 0;
        for (const Cell& c : cells) {
            auto it = r.sink.cells.find({c.col, c.row});
            const std::string where = std::to_string(c.row) + "," + std::to_string(c.col);
            if (it == r.sink.cells.end()) {
                ADD_FAILURE() << where << " missing, expected " << c.value;
            } else if (c.kind == 'n') {
                const double* got = std::get_if<double>(&it->second);
                if (!got || static_cast<float>(*got) != static_cast<float>(std::stod(c.value)))
                    ADD_FAILURE() << where << " expected number " << c.value << " got " << r.sink.Text(c.col, c.row);
            } else if (r.sink.Text(c.col, c.row) != c.value) {
                ADD_FAILURE() << where << " expected text '" << c.value << "' got '" << r.sink.Text(c.col, c.row) << "'";
            } else {
                continue;
            }
            if (++mismatches > 5) break;
        }
        // Nothing but the expected cells (and empty texts, which are missing cells).
        std::size_t delivered = 0;
        for (const auto& [at, value] : r.sink.cells) {
            const auto* s = std::get_if<std::string>(&value);
            if (!s || !s->empty()) ++delivered;
            EXPECT_LE(at.first, r.cols);
            EXPECT_LE(at.second, r.rows);
        }
        EXPECT_EQ(delivered, cells.size());
    }
}

TEST(ExcelCorpusTest, FilesThatCannotBeReadEndWithTheirCode) {
    const std::pair<const char*, int> cases[] = {
        {"calamine_too_small.xls", ExcelFile::kNotExcel},
        {"edr_Test_git_issue_224_simple_95.xls", ExcelFile::kNoSheets},  // its one sheet has no cell
        {"edr_Test_git_issue_242_xor_pwd_password.xls", ExcelFile::kProtected},
        {"poi_60284.xls", ExcelFile::kProtected},
        {"poi_password.xls", ExcelFile::kProtected},
        {"poi_xor-encryption-abc.xls", ExcelFile::kProtected},
    };
    for (const auto& [file, code] : cases) {
        ASSERT_TRUE(std::ifstream(kCorpus + file)) << file;
        Result r = ReadXls(kCorpus + file);
        EXPECT_EQ(r.open, code) << file;
    }
    Result r = ReadXls(kCorpus + "poi_password.xls");
    EXPECT_NE(r.error.find("cannot read (password-) protected Excel workbooks"), std::string::npos) << r.error;
}

TEST(ExcelCorpusTest, ChartMacroAndEmptyHiddenSheetsAreNoWorksheets) {
    ExcelFile f;
    ASSERT_EQ(f.Open(true, (kCorpus + "calamine_any_sheets.xls").c_str(), nullptr), 0);
    // The chart and macro sheets are no worksheets, nor are the empty hidden ones.
    EXPECT_EQ(f.GetWorksheets(), std::vector<std::string>{"Visible"});
    EXPECT_STREQ(f.GetReadFile(), "Visible");
}

// A BIFF8 workbook: a chart sheet first, two worksheets, dates from FORMAT codes and built-in
// formats, a shared string split over a CONTINUE record, and the cell records of the format.
TEST_F(ExcelBuilt, Biff8WorkbookCellsDatesAndSharedStrings) {
    Bytes head;
    Append(head, Rec(0x0042, Fields().u16(1200)));
    Append(head, Rec(0x0022, Fields().u16(1)));  // the 1904 date system
    const std::pair<unsigned, std::string> formats[] = {{164, "yyyy-mm-dd"}, {165, "0.00"}, {166, "[Red]0"}, {167, "[Red]0;[Red]-0"}};
    for (const auto& [index, code] : formats) {
        Fields f;
        f.u16(index).u16(static_cast<unsigned>(code.size())).u8(0).raw(code);
        Append(head, Rec(0x041E, f));
    }
    // XF 0..4: General, 164, 165, 166, 167; XF 5: built-in 14.
    for (unsigned fmt : {0u, 164u, 165u, 166u, 167u, 14u}) Append(head, Rec(0x00E0, Fields().u16(0).u16(fmt).u16(0).u16(0).u32(0).u32(0).u32(0).u16(0)));
    // SST: "alpha", then "Größe€" stored 16-bit and split after "Grö" (the CONTINUE starts with
    // its own option byte), then an empty string.
    Fields sst;
    sst.u32(3).u32(3);
    Str8(sst, "alpha");
    sst.u16(6).u8(1).utf16(u"Grö");
    Fields cont;
    cont.u8(1).utf16(u"ße€");
    Str8(cont, "");
    Bytes tail = Rec(0x00FC, sst);
    Append(tail, Rec(0x003C, cont));

    Bytes s1 = Dimensions8(1000, 200);  // claims far more than the cells fill
    Append(s1, Number(0, 0, 1, 45000));        // date in 1904: 2027-03-16
    Append(s1, Number(0, 1, 2, 45000));        // 0.00: a number
    Append(s1, Number(0, 2, 3, 45000));        // [Red]0: one "d" only, a number
    Append(s1, Number(0, 3, 4, 45000));        // [Red]0;[Red]-0: two "d", a date
    Append(s1, Rk(1, 0, 0, (12345u << 2) | 2 | 1));  // 123.45
    Append(s1, Rk(1, 1, 5, 0x3FF00000u));       // 1.0, built-in date 14
    Append(s1, Rec(0x00BD, Fields().u16(2).u16(1).u16(0).u32((7u << 2) | 2).u16(0).u32(0xC0000000u | 0).u16(2)));
    Append(s1, LabelSst(3, 0, 0));
    Append(s1, LabelSst(3, 1, 1));
    Append(s1, LabelSst(3, 2, 3));  // equal to the declared count: empty text
    Append(s1, Rec(0x0205, Fields().u16(4).u16(0).u16(0).u8(1).u8(0)));     // TRUE
    Append(s1, Rec(0x0205, Fields().u16(4).u16(1).u16(0).u8(0x07).u8(1)));  // #DIV/0!
    // FORMULA results: a text (its STRING after a SHRFMLA), a boolean, an error, a number.
    Append(s1, Rec(0x0006, Fields().u16(5).u16(0).u16(0).u8(0).u8(0).u8(0).u8(0).u8(0).u8(0).u16(0xFFFF).u16(0).u32(0)));
    Append(s1, Rec(0x04BC, Fields().u32(0).u16(0)));
    Append(s1, Rec(0x0207, Fields().u16(3).u8(1).utf16(u"ΣΩx")));
    Append(s1, Rec(0x0006, Fields().u16(5).u16(1).u16(0).u8(1).u8(0).u8(1).u8(0).u8(0).u8(0).u16(0xFFFF).u16(0).u32(0)));
    Append(s1, Rec(0x0006, Fields().u16(5).u16(2).u16(0).u8(2).u8(0).u8(0x2A).u8(0).u8(0).u8(0).u16(0xFFFF).u16(0).u32(0)));
    Append(s1, Rec(0x0006, Fields().u16(5).u16(3).u16(0).f64(2.5).u16(0).u32(0)));
    // A BIFF8 LABEL, compressed: Latin-1, not the code page.
    Append(s1, Rec(0x0204, Fields().u16(6).u16(0).u16(0).u16(2).u8(0).u8(0xE9).u8(0x41)));
    // An embedded chart substream: its records are not cells of the sheet.
    Append(s1, Bof8(0x0020));
    Append(s1, Number(9, 9, 0, 1));
    Append(s1, Eof());

    Bytes s2 = Dimensions8(2, 2);
    Append(s2, Number(1, 1, 0, 7));
    const std::string path =
        Put("book.xls", Compound(Workbook8(head, {{"Chart1", 0x0200, {}}, {"Data", 0, s1}, {"Sheet2", 0, s2}}, tail)));

    ExcelFile f;
    ASSERT_EQ(f.Open(true, path.c_str(), nullptr), 0) << ErrorOf(f);
    EXPECT_EQ(f.GetWorksheets(), (std::vector<std::string>{"Data", "Sheet2"}));
    Result r = ReadXls(path);
    ASSERT_EQ(r.read, 0) << r.error;
    EXPECT_EQ(r.cols, 4);  // the cells, not DIMENSIONS
    EXPECT_EQ(r.rows, 7);
    EXPECT_EQ(r.readFile, "Data");
    const RecordingSink& t = r.sink;
    EXPECT_EQ(t.Text(1, 1), "2027-03-16 00:00:00");
    EXPECT_EQ(t.Num(2, 1), 45000);
    EXPECT_EQ(t.Num(3, 1), 45000);
    EXPECT_EQ(t.Text(4, 1), "2027-03-16 00:00:00");
    EXPECT_DOUBLE_EQ(t.Num(1, 2), 123.45);
    EXPECT_EQ(t.Text(2, 2), "1904-01-02 00:00:00");
    EXPECT_EQ(t.Num(2, 3), 7);
    EXPECT_EQ(t.Num(3, 3), -2);  // 0xC0000000 as a double's high word
    EXPECT_EQ(t.Text(1, 4), "alpha");
    EXPECT_EQ(t.Text(2, 4), "Größe€");
    EXPECT_EQ(t.Text(3, 4), "");
    EXPECT_EQ(t.Text(1, 5), "TRUE");
    EXPECT_EQ(t.Text(2, 5), "#DIV/0!");
    EXPECT_EQ(t.Text(1, 6), "ΣΩx");
    EXPECT_EQ(t.Text(2, 6), "TRUE");
    EXPECT_EQ(t.Text(3, 6), "#N/A");
    EXPECT_EQ(t.Num(4, 6), 2.5);
    EXPECT_EQ(t.Text(1, 7), "éA");
    EXPECT_EQ(t.cells.count({10, 10}), 0u);
}

// Two sheets, 2 x 3 and 4 x 5 (rows x columns), in both read orders with their labels.
TEST_F(ExcelBuilt, SeveralSheetsAreLaidOutWithLabels) {
    auto sheet = [](int rows, int cols, double base) {
        Bytes b;
        for (int r = 0; r < rows; ++r)
            for (int c = 0; c < cols; ++c) Append(b, Number(r, c, 0, base + r * 10 + c));
        return b;
    };
    const std::string path = Put("two.xls", Compound(Workbook8({}, {{"A", 0, sheet(2, 3, 100)}, {"My Sheet", 0, sheet(4, 5, 200)}})));
    struct Case {
        int readOrder, cols, rows;
        std::pair<int, int> secondFirstCell;  // (column, row) of the second sheet's first cell
    };
    for (const Case& c : {Case{1, 6, 6, {1, 3}}, Case{2, 8, 5, {4, 1}}}) {
        ExcelFileOptions o;
        o.readOrder = c.readOrder;
        o.sheetNames = {"A", "My Sheet"};
        QmImportOpenOptions record{0, nullptr};
        o.WriteRecord(record);
        Result r = ReadXls(path, {}, &record);
        delete[] record.data;
        ASSERT_EQ(r.read, 0) << r.error;
        EXPECT_EQ(r.cols, c.cols);
        EXPECT_EQ(r.rows, c.rows);
        EXPECT_EQ(r.readFile, "A_My Sheet");
        EXPECT_EQ(r.sink.Num(1, 1), 100);
        EXPECT_EQ(r.sink.Num(c.secondFirstCell.first, c.secondFirstCell.second), 200);
        if (c.readOrder == 1) {
            EXPECT_EQ(r.sink.Text(6, 2), "sheet: A");
            EXPECT_EQ(r.sink.Text(6, 6), "my sheet");
            EXPECT_EQ(r.sink.Text(6, 7), "<missing>");
        } else {
            EXPECT_EQ(r.sink.Text(3, 5), "sheet: A");
            EXPECT_EQ(r.sink.Text(8, 5), "my sheet");
        }
    }
    // Chosen by position, the second only; then a name that is not there.
    ExcelFileOptions o;
    o.sheetIndexes = {1};
    QmImportOpenOptions record{0, nullptr};
    o.WriteRecord(record);
    Result second = ReadXls(path, {}, &record);
    EXPECT_EQ(second.cols, 5);
    EXPECT_EQ(second.readFile, "My Sheet");
    o.sheetIndexes.clear();
    o.sheetNames = {"Nope"};
    o.WriteRecord(record);
    Result none = ReadXls(path, {}, &record);
    delete[] record.data;
    EXPECT_EQ(none.read, ExcelFile::kNoSheetSelected);
    // Default options: an empty record comes back filled with the first sheet chosen.
    ExcelFile f;
    QmImportOpenOptions*defaults = f.GetFileReadOptions(path.c_str(), true);
    ASSERT_NE(defaults, nullptr);
    ExcelFileOptions back;
    ASSERT_TRUE(back.ReadRecord(*defaults));
    EXPECT_EQ(back.sheetIndexes, std::vector<int>{0});
    EXPECT_EQ(back.readOrder, 3);
    delete[] defaults->data;
    delete defaults;
}

// A BIFF4 workbook: bundled sheets behind BUNDLEHEADER records in a plain stream, texts from
// the workbook's code page.
TEST_F(ExcelBuilt, Biff4WorkbookWithBundledSheets) {
    auto bof4 = [](unsigned substream) { return Rec(0x0409, Fields().u16(0).u16(substream).u16(0)); };
    auto label4 = [](unsigned row, unsigned col, const std::string& bytes) {
        return Rec(0x0204, Fields().u16(row).u16(col).u16(0).u16(static_cast<unsigned>(bytes.size())).raw(bytes));
    };
    auto bundle = [&](const std::string& name, const Bytes& cells) {
        Bytes sub = bof4(0x0010);
        Append(sub, cells);
        Append(sub, Eof());
        // The size counts from the end of the BUNDLEHEADER record: the sheet's whole substream.
        Bytes out = Rec(0x008F, Fields().u32(static_cast<std::uint32_t>(sub.size())).u8(static_cast<unsigned>(name.size())).raw(name));
        Append(out, sub);
        return out;
    };
    Bytes s = bof4(0x0100);
    Append(s, Rec(0x0042, Fields().u16(10000)));  // Mac Roman
    Append(s, Rec(0x008E, Fields().u32(0)));       // BUNDLESOFFSET back to the start: ignored
    Bytes one = label4(0, 0, "Caf\x8E");           // é in Mac Roman
    Append(one, Rec(0x0203, Fields().u16(0).u16(1).u16(0).f64(3.5)));
    Append(s, bundle("Erste", one));
    Append(s, bundle("Leer", {}));  // no cells: not a worksheet
    Append(s, bundle("Zweite\x9A", Rec(0x027E, Fields().u16(2).u16(2).u16(0).u32((5u << 2) | 2))));
    Append(s, Eof());
    const std::string path = Put("book4.xlw", s);
    ExcelFile f;
    ASSERT_EQ(f.Open(true, path.c_str(), nullptr), 0) << ErrorOf(f);
    EXPECT_EQ(f.GetWorksheets(), (std::vector<std::string>{"Erste", "Zweite\u00F6"}));
    Result first = ReadXls(path);
    ASSERT_EQ(first.read, 0) << first.error;
    EXPECT_EQ(first.sink.Text(1, 1), "Caf\u00E9");
    EXPECT_EQ(first.sink.Num(2, 1), 3.5);
    Result second = ReadXls(path, {"Zweite\u00F6"});
    ASSERT_EQ(second.read, 0) << second.error;
    EXPECT_EQ(second.cols, 3);
    EXPECT_EQ(second.rows, 3);
    EXPECT_EQ(second.sink.Num(3, 3), 5);
}

// Single BIFF2 sheets: INTEGER, NUMBER, LABEL in the code page, BOOLERR, and a sparse sheet.
TEST_F(ExcelBuilt, Biff2SheetsAndTheGrid) {
    Bytes s = Rec(0x0009, Fields().u16(2).u16(0x0010));
    Append(s, Rec(0x0042, Fields().u16(32769)));  // cp1252
    Append(s, Rec(0x0002, Fields().u16(0).u16(0).u8(0).u8(0).u8(0).u16(65535)));
    Append(s, Rec(0x0003, Fields().u16(0).u16(1).u8(0).u8(0).u8(0).f64(-0.25)));
    Append(s, Rec(0x0004, Fields().u16(1).u16(0).u8(0).u8(0).u8(0).u8(3).raw("\x80\xE9x")));
    Append(s, Rec(0x0005, Fields().u16(1).u16(1).u8(0).u8(0).u8(0).u8(0x17).u8(1)));
    Append(s, Eof());
    Result r = ReadXls(Put("b2.xls", s));
    ASSERT_EQ(r.read, 0) << r.error;
    EXPECT_EQ(r.cols, 2);
    EXPECT_EQ(r.rows, 2);
    EXPECT_EQ(r.readFile, "");
    EXPECT_EQ(r.sink.Num(1, 1), 65535);
    EXPECT_EQ(r.sink.Num(2, 1), -0.25);
    EXPECT_EQ(r.sink.Text(1, 2), "€éx");
    EXPECT_EQ(r.sink.Text(2, 2), "#REF!");

    // One cell at IV65536 in a BIFF8 workbook: the whole grid, and it reads.
    Bytes sparse = Dimensions8(65536, 256);
    Append(sparse, Number(65535, 255, 0, 9));
    Result g = ReadXls(Put("sparse.xls", Compound(Workbook8({}, {{"S", 0, sparse}}))));
    ASSERT_EQ(g.read, 0) << g.error;
    EXPECT_EQ(g.cols, 256);
    EXPECT_EQ(g.rows, 65536);
    EXPECT_EQ(g.sink.Num(256, 65536), 9);
}

// Damaged and foreign input ends with its code, and the message names the trouble.
TEST_F(ExcelBuilt, FailuresEndWithTheirCodes) {
    Bytes cells = Number(0, 0, 0, 1);
    Bytes good = Workbook8({}, {{"S", 0, cells}});
    Bytes tooLong = good;
    tooLong[2] = 0x21, tooLong[3] = 0x20;  // BOF length 8225
    Bytes v9 = good;
    v9[1] = 0x09;
    Bytes filepass = Workbook8(Rec(0x002F, Fields().u16(0)), {{"S", 0, cells}});
    Bytes emptyOnly = Workbook8({}, {{"S", 0, Dimensions8(0, 0)}});
    Bytes dialog = Workbook8({}, {{"S", 0, Rec(0x0081, Fields().u16(0x0010))}});
    Bytes cut(good.begin(), good.end() - 30);  // the sheet ends without EOF
    Bytes emptyBiff2 = Rec(0x0009, Fields().u16(2).u16(0x0010));
    Append(emptyBiff2, Eof());
    Bytes badBoundSheet = Workbook8({}, {{"S", 0, cells}});
    // Point the BOUNDSHEET past the stream's end: the probe cannot read.
    badBoundSheet[Bof8(5).size() + 4] = 0xFF;
    badBoundSheet[Bof8(5).size() + 5] = 0xFF;
    struct Case {
        const char* name;
        Bytes bytes;
        int code;
    };
    const Case cases[] = {
        {"compound without workbook", Compound(good, "Other"), ExcelFile::kNoExcelStream},
        {"lower-case stream name", Compound(good, "workbook"), 0},
        {"no BOF", Bytes{'P', 'K', 3, 4, 0, 0, 0, 0}, ExcelFile::kNotExcel},
        {"empty file", Bytes{}, ExcelFile::kNotExcel},
        {"record too long", Compound(tooLong), ExcelFile::kNotExcel},
        {"version 9", Compound(v9), ExcelFile::kUnknownVersion},
        {"FILEPASS", Compound(filepass), ExcelFile::kProtected},
        {"only an empty sheet", Compound(emptyOnly), ExcelFile::kNoSheets},
        {"only a dialog sheet", Compound(dialog), ExcelFile::kNoSheets},
        {"cut short", Compound(cut), ExcelFile::kBadWorkbook},
        {"sheet beyond the stream", Compound(badBoundSheet), ExcelFile::kBadWorkbook},
        {"empty BIFF2 sheet", emptyBiff2, ExcelFile::kDialogOrEmpty},
    };
    for (const Case& c : cases) {
        Result r = ReadXls(Put("case.xls", c.bytes));
        EXPECT_EQ(r.open, c.code) << c.name << ": " << r.error;
        if (c.code) {
            EXPECT_EQ(r.cols, -1) << c.name;
            EXPECT_FALSE(r.error.empty()) << c.name;
        }
    }
    ExcelFile f;
    EXPECT_EQ(f.Open(false, "x.xls", nullptr), SpreadsheetFile::kWrongDirection);
    EXPECT_EQ(f.GetNumCols(), -1);
    f.Close();
    EXPECT_EQ(f.Open(true, (dir.File("missing.xls")).c_str(), nullptr), ExcelFile::kOpenFailed);
}

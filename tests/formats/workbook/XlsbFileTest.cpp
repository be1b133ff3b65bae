// Excel binary workbooks: the sample files against SheetJS's values, and workbooks built here
// record by record for what the samples do not reach.
#include <algorithm>
#include <cstring>

#include <gtest/gtest.h>

#include "formats/workbook/ExcelXLSBFile.h"
#include "tests/formats/workbook/ExpectedCells.h"
#include "tests/formats/workbook/XlsxTestSupport.h"

using namespace kelto::test;

namespace {

const std::string kCorpus = std::string(KELTO_CORPUS_DIR) + "/xlsb/";

// BIFF12 records: the type and the size in the variable-length form, then the data.
class Records {
public:
    Records& Add(int type, const std::string& data) {
        out += static_cast<char>((type & 0x7F) | (type > 0x7F ? 0x80 : 0));
        if (type > 0x7F) out += static_cast<char>(type >> 7);
        std::size_t size = data.size();
        do {
            out += static_cast<char>((size & 0x7F) | (size > 0x7F ? 0x80 : 0));
            size >>= 7;
        } while (size);
        out += data;
        return *this;
    }
    std::string out;
};

std::string U32(std::uint32_t v) { return std::string(reinterpret_cast<const char*>(&v), 4); }
std::string F64(double v) { return std::string(reinterpret_cast<const char*>(&v), 8); }
std::string Wide(const std::string& ascii) {
    std::string s = U32(static_cast<std::uint32_t>(ascii.size()));
    for (char c : ascii) s += c, s += '\0';
    return s;
}

struct Workbook {
    std::vector<std::pair<std::string, std::string>> sheets;  // name, sheet records
    std::vector<std::string> strings;
    std::string styles;  // the whole styles part; none when empty
    bool date1904 = false;

    std::string Write(const TempDir& dir) const {
        Records book;
        book.Add(131, "").Add(153, U32(date1904 ? 1 : 0) + U32(0) + U32(0)).Add(143, "");
        std::string rels = "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">";
        xlsx::Parts parts;
        for (std::size_t i = 0; i < sheets.size(); ++i) {
            const std::string n = std::to_string(i + 1);
            book.Add(156, U32(0) + U32(static_cast<std::uint32_t>(i + 1)) + Wide("rId" + n) + Wide(sheets[i].first));
            rels += "<Relationship Id=\"rId" + n + "\" Type=\"worksheet\" Target=\"worksheets/sheet" + n + ".bin\"/>";
            parts.emplace_back("xl/worksheets/sheet" + n + ".bin", sheets[i].second);
        }
        book.Add(144, "").Add(132, "");
        parts.emplace_back("xl/workbook.bin", book.out);
        parts.emplace_back("xl/_rels/workbook.bin.rels", rels + "</Relationships>");
        if (!strings.empty()) {
            Records sst;
            sst.Add(159, U32(0) + U32(0));
            for (const std::string& s : strings) sst.Add(19, std::string(1, '\0') + Wide(s));
            sst.Add(160, "");
            parts.emplace_back("xl/sharedStrings.bin", sst.out);
        }
        if (!styles.empty()) parts.emplace_back("xl/styles.bin", styles);
        const std::string path = dir.File("book.xlsb");
        xlsx::WriteZip(path, parts);
        return path;
    }
};

// A sheet: its dimension, then the cell records inside the sheet data.
std::string Sheet(const std::string& cells, std::uint32_t lastRow = 0, std::uint32_t lastColumn = 0) {
    Records r;
    r.Add(129, "").Add(148, U32(0) + U32(lastRow) + U32(0) + U32(lastColumn)).Add(145, "");
    r.out += cells;
    r.Add(146, "").Add(130, "");
    return r.out;
}
std::string Row(std::uint32_t row) { return Records().Add(0, U32(row) + std::string(21, '\0')).out; }
std::string Cell(int type, std::uint32_t column, const std::string& value, std::uint32_t style = 0) {
    return Records().Add(type, U32(column) + U32(style) + value).out;
}
std::string Short(int type, const std::string& value, std::uint32_t style = 0) {
    return Records().Add(type, U32(style) + value).out;
}

struct Outcome {
    int code = 0;
    std::string cells, warning, error;
};

// Cells shown as "n:2.5", "t:abc" or "-", rows separated by "|".
Outcome Read(const std::string& path, const ExcelFileOptions* options = nullptr) {
    Outcome o;
    ExcelXLSBFile f;
    FloatStringSpreadsheetData table;
    QmImportOpenOptions record{0, nullptr};
    if (options) options->WriteRecord(record);
    if ((o.code = f.Open(true, path.c_str(), options ? &record : nullptr)) == 0) {
        o.code = f.Read(&table);
        if (const char* w = f.GetWarningMessage()) o.warning = w;
    }
    delete[] record.data;
    o.cells = ShowCells(table);
    o.error = ErrorOf(f);
    return o;
}

int CodeOf(const std::string& path) { return Read(path).code; }

}  // namespace

TEST(ExcelXLSBFile, SampleFilesMatchTheIndependentReader) {
    CheckExpectedCells(kCorpus, "ExcelXLSB File", CodeOf, 25);
}

TEST(ExcelXLSBFile, CellRecordsLongAndShort) {
    TempDir dir;
    Workbook book;
    book.strings = {"shared"};
    const std::string cells = Row(0) + Cell(2, 0, U32((7 << 2) | 2)) + Short(13, U32((125 << 2) | 2 | 1)) +
                              Short(16, F64(2.5)) + Short(15, "\x01") + Short(14, "\x07") + Short(17, Wide("inline")) +
                              Short(18, U32(0)) + Short(12, "") + Row(1) + Cell(6, 1, Wide("long inline")) +
                              Cell(3, 2, "\x2a") + Cell(11, 3, std::string(1, '\0')) + Cell(10, 4, std::string(1, '\0')) +
                              Cell(8, 5, Wide("formula text")) + Cell(9, 6, F64(-1.25));
    book.sheets = {{"Data", Sheet(cells)}};
    Outcome o = Read(book.Write(dir));
    ASSERT_EQ(o.code, 0) << o.error;
    EXPECT_EQ(o.cells,
              "n:7 n:1.25 n:2.5 t:TRUE t:#DIV/0! t:inline t:shared -|"
              "- t:long inline t:#N/A t:#NULL! t:FALSE t:formula text n:-1.25 -");
}

TEST(ExcelXLSBFile, LongRecordsAndTheDateSystems) {
    // A text of 9,000 characters needs three bytes of record size.
    const std::string longText(9000, 'x');
    Records styles;
    styles.Add(615, U32(1)).Add(44, std::string("\xA4\x00", 2) + Wide("[Red]0.00")).Add(44, std::string("\xA5\x00", 2) + Wide("d-mmm"))
        .Add(616, "").Add(617, U32(3))
        .Add(47, std::string(4, '\0') + std::string(12, '\0'))
        .Add(47, std::string("\0\0\xA4\0", 4) + std::string(12, '\0'))
        .Add(47, std::string("\0\0\xA5\0", 4) + std::string(12, '\0'))
        .Add(47, std::string("\0\0\x0E\0", 4) + std::string(12, '\0'))
        .Add(618, "");
    for (bool date1904 : {false, true}) {
        TempDir dir;
        Workbook book;
        book.styles = styles.out;
        book.date1904 = date1904;
        book.sheets = {{"S", Sheet(Row(0) + Cell(5, 0, F64(2.0), 1) + Cell(5, 1, F64(2.0), 2) + Cell(5, 2, F64(2.0), 3) +
                                   Cell(6, 3, Wide(longText)))}};
        Outcome o = Read(book.Write(dir));
        ASSERT_EQ(o.code, 0) << o.error;
        const std::string day = date1904 ? "1904-01-03 00:00:00" : "1900-01-02 00:00:00";
        EXPECT_EQ(o.cells, "n:2 t:" + day + " t:" + day + " t:" + longText) << date1904;
    }
}

TEST(ExcelXLSBFile, SheetsSideBySideOrStacked) {
    TempDir dir;
    Workbook book;
    auto numbers = [](int count, int base) {
        std::string s = Row(0);
        for (int c = 0; c < count; ++c) s += Cell(5, static_cast<std::uint32_t>(c), F64(base + c));
        return s;
    };
    book.sheets = {{"A", Sheet(numbers(3, 10))}, {"B", Sheet(numbers(5, 20) + Row(1) + Cell(5, 0, F64(9)))}};
    const std::string path = book.Write(dir);
    ExcelFileOptions options;
    options.sheetNames = {"A", "B"};
    options.readOrder = 2;
    Outcome side = Read(path, &options);
    ASSERT_EQ(side.code, 0) << side.error;
    EXPECT_EQ(side.cells, "n:10 n:11 n:12 n:20 n:21 n:22 n:23 n:24|- - - n:9 - - - -");
    options.readOrder = 1;
    Outcome stacked = Read(path, &options);
    ASSERT_EQ(stacked.code, 0) << stacked.error;
    EXPECT_EQ(stacked.cells, "n:10 n:11 n:12 - -|n:20 n:21 n:22 n:23 n:24|n:9 - - - -");
}

TEST(ExcelXLSBFile, BadSheetsEndWithTheirCodes) {
    struct Case {
        const char* what;
        std::string sheet;
        int code;
        std::string cells;
    };
    const std::string unknown = Records().Add(1045, "abc").out;  // a record type this reader does not read
    std::vector<Case> cases{
        // A dimension claiming the whole grid sizes the table no further than its cells.
        {"a dimension beyond the part", Sheet(Row(0) + Cell(5, 1, F64(1)), 0xFFFFFFFF, 0xFFFFFFFF), 0, "- n:1"},
        {"a shared string past the end", Sheet(Row(0) + Cell(7, 0, U32(1))), 771, ""},
        {"a column beyond the grid", Sheet(Row(0) + Cell(5, 16384, F64(1))), 771, ""},
        {"a row beyond the grid", Sheet(Row(1048576) + Cell(5, 0, F64(1))), 771, ""},
        {"a record cut short", Sheet(Row(0) + Records().Add(5, U32(0) + U32(0) + "abc").out), 771, ""},
        {"no sheet data", Records().Add(129, "").Add(130, "").out, 771, ""},
        {"empty sheet data", Sheet(""), 768, ""},
        {"unknown records are counted", Sheet(Row(0) + unknown + unknown + Cell(5, 0, F64(1))), 0, "n:1"},
    };
    for (const Case& c : cases) {
        TempDir dir;
        Workbook book;
        book.strings = {"only"};
        book.sheets = {{"S", c.sheet}};
        Outcome o = Read(book.Write(dir));
        EXPECT_EQ(o.code, c.code) << c.what << ": " << o.error;
        if (c.code == 0) {
            EXPECT_EQ(o.cells, c.cells) << c.what;
        }
        if (std::strcmp(c.what, "unknown records are counted") == 0) {
            EXPECT_EQ(o.warning.rfind("2 records was found", 0), 0u) << o.warning;
        }
    }
}

TEST(ExcelXLSBFile, TheSheetsSizeIsAnnouncedBeforeItsCells) {
    // A host's progress bar compares the rows delivered with the rows announced: the sheet's
    // dimension must reach the table before the first cell does.
    struct Sink : ReadSpreadSheetData {
        int cols = 0, rows = 0, rowsAtFirstCell = -1, highestRow = 0;
        bool rowsInOrder = true;
        int GetNumberOfColumns() const override { return cols; }
        int GetNumberOfRows() const override { return rows; }
        void SetDataSize(int c, int r) override { cols = c, rows = r; }
        void Set(int, int row, const char*) override { Cell(row); }
        void Set(int, int row, float) override { Cell(row); }
        void Set(int, int row, double) override { Cell(row); }
        void Cell(int row) {
            if (rowsAtFirstCell < 0) rowsAtFirstCell = rows;
            rowsInOrder = rowsInOrder && row >= highestRow;
            highestRow = std::max(highestRow, row);
        }
    } sink;
    ExcelXLSBFile f;
    const std::string path = std::string(KELTO_CORPUS_DIR) + "/workbook_trio/trio.xlsb";
    ASSERT_EQ(f.Open(true, path.c_str(), nullptr), 0);
    ASSERT_EQ(f.Read(&sink), 0) << ErrorOf(f);
    EXPECT_EQ(sink.rowsAtFirstCell, 12);
    EXPECT_EQ(sink.highestRow, 12);
    EXPECT_TRUE(sink.rowsInOrder);
}

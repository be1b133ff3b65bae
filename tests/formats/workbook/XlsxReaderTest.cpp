// The .xlsx reader on workbooks built in code: cell types and texts, dates, sizes, several
// sheets, and every way a workbook can be refused. Each read runs with both sheet readers.
#include <algorithm>
#include <cstring>

#include "tests/formats/workbook/XlsxTestSupport.h"

namespace kelto::test::xlsx {
namespace {

using kelto::workbook::xlsx::SheetReader;

const char* const kStyles[] = {
    // xf 0 General, 1 built-in date 14, 2 built-in time 46, 3 "[Red]0.00", 4 '0.0 "s"', 5 "yyyy-mm-dd hh:mm"
    R"(<numFmt numFmtId="164" formatCode="[Red]0.00"/><numFmt numFmtId="165" formatCode="0.0 &quot;s&quot;"/>)"
    R"(<numFmt numFmtId="166" formatCode="yyyy\-mm\-dd hh:mm"/>)",
    R"(<xf numFmtId="0"/><xf numFmtId="14"/><xf numFmtId="46"/><xf numFmtId="164"/><xf numFmtId="165"/>)"
    R"(<xf numFmtId="166"/>)",
};

struct ValueCase {
    const char* name;
    const char* rows;
    const char* expected;  // Recorder::Dump()
    bool date1904 = false;
};

class XlsxValues : public ::testing::TestWithParam<ValueCase> {};

TEST_P(XlsxValues, BothSheetReadersDeliverTheSameCells) {
    const ValueCase& c = GetParam();
    TempDir dir;
    Book book;
    book.sheets = {{"Data", SheetXml(c.rows)}};
    book.numFmts = kStyles[0];
    book.cellXfs = kStyles[1];
    book.date1904 = c.date1904;
    book.sharedStrings =
        "<si><t>plain</t></si><si><r><t>ri</t></r><r><rPr><b/></rPr><t xml:space=\"preserve\">ch </t></r>"
        "<rPh sb=\"0\" eb=\"1\"><t>PHONETIC</t></rPh></si><si><t>x_x0041__x005F_y_xD83D__xDE00_</t></si><si/>";
    const std::string path = dir.File("book.xlsx");
    WriteZip(path, PartsOf(book));
    for (SheetReader reader : {SheetReader::Auto, SheetReader::ExpatOnly}) {
        ReadResult r = ReadXlsx(path, nullptr, reader);
        ASSERT_EQ(r.open, 0) << r.message;
        EXPECT_EQ(r.read, 0) << r.message;
        EXPECT_EQ(r.table.Dump(), c.expected) << (reader == SheetReader::Auto ? "scanner" : "expat");
        EXPECT_EQ(r.table.outside, 0);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cells, XlsxValues,
    ::testing::Values(
        ValueCase{"numbers",
                  R"(<row r="1"><c r="A1"><v>-99</v></c><c r="B1"><v>-99.5</v></c><c r="C1"><v>1E3</v></c>)"
                  R"(<c r="D1"><v>abc</v></c><c r="E1"><v> 2.5 </v></c><c r="F1"><v>+7</v></c></row>)",
                  "A1=n:-99.000100 B1=n:-99.500000 C1=n:1000.000000 D1=s:abc E1=n:2.500000 F1=n:7.000000"},
        ValueCase{"dates by style",
                  R"(<row r="1"><c r="A1" s="1"><v>45000</v></c><c r="B1" s="2"><v>0.5</v></c>)"
                  R"(<c r="C1" s="3"><v>5</v></c><c r="D1" s="4"><v>45000</v></c><c r="E1" s="5"><v>45000.5</v></c>)"
                  R"(<c r="F1" s="9"><v>45000</v></c><c r="G1" s="1" t="n"><v>45001</v></c>)"
                  R"(<c r="H1" s="1"><v>2000000</v></c><c r="I1" s="1"><v>x</v></c></row>)",
                  "A1=s:2023-03-15 00:00:00 B1=s:12:00:00 C1=n:5.000000 D1=s:2023-03-15 00:00:00 "
                  "E1=s:2023-03-15 12:00:00 F1=n:45000.000000 G1=s:2023-03-16 00:00:00 H1=n:2000000.000000 I1=s:x"},
        ValueCase{"the 1904 date system", R"(<row r="1"><c r="A1" s="1"><v>45000</v></c><c r="B1" t="d"><v>2021-01-01</v></c></row>)",
                  "A1=s:2027-03-16 00:00:00 B1=s:2021-01-01 00:00:00", true},
        ValueCase{"booleans, errors and ISO dates",
                  R"(<row r="1"><c r="A1" t="b"><v>0</v></c><c r="B1" t="b"><v>1</v></c><c r="C1" t="e"><v>#DIV/0!</v></c>)"
                  R"(<c r="D1" t="d"><v>2021-01-01T10:10:10.5Z</v></c><c r="E1" t="d"><v>10:10:10</v></c>)"
                  R"(<c r="F1" t="d"><v>1900-02-28</v></c><c r="G1" t="d"><v>someday</v></c><c r="H1" t="zz"><v>1</v></c>)"
                  R"(<c r="I1" s="1"/></row>)",
                  "A1=s:FALSE B1=s:TRUE C1=s:#DIV/0! D1=s:2021-01-01 10:10:10 E1=s:10:10:10 F1=s:1900-02-28 00:00:00 "
                  "G1=s:someday"},
        ValueCase{"texts",
                  R"(<row r="1"><c r="A1" t="s"><v>0</v></c><c r="B1" t="s"><v>1</v></c><c r="C1" t="s"><v>2</v></c>)"
                  R"(<c r="D1" t="s"><v>3</v></c><c r="E1" t="s"><v>99</v></c><c r="F1" t="str"><v>a_x000D_b</v></c>)"
                  R"(<c r="G1" t="inlineStr"><is><t>&lt;a&gt; &amp; &#65;&#x42;&#13;</t></is></c>)"
                  R"(<c r="H1" t="inlineStr"><v>only v</v></c><c r="I1" t="inlineStr"><is><r><t>ru</t></r><r><t>ns</t></r></is></c>)"
                  R"(<c r="J1" t="str"><f>"x"&amp;"y"</f><v>xy</v></c></row>)",
                  "A1=s:plain B1=s:rich  C1=s:xA_y\xF0\x9F\x98\x80 F1=s:a\rb G1=s:<a> & AB\r H1=s:only v I1=s:runs J1=s:xy"},
        ValueCase{"positions without references",
                  R"(<row><c><v>1</v></c><c><v>2</v></c></row><row><c><v>3</v></c></row>)"
                  R"(<row r="5"><c r="C5"><v>4</v></c><c><v>5</v></c></row><row><c><v>6</v></c></row>)",
                  "A1=n:1.000000 B1=n:2.000000 A2=n:3.000000 C5=n:4.000000 D5=n:5.000000 A6=n:6.000000"}),
    [](const auto& info) {
        std::string n = info.param.name;
        std::replace_if(n.begin(), n.end(), [](char ch) { return !std::isalnum(static_cast<unsigned char>(ch)); }, '_');
        return n;
    });

TEST(XlsxReader, NamespacePrefixesAndStrictNamespaceAreReadByExpat) {
    TempDir dir;
    Book book;
    const std::string strict = "http://purl.oclc.org/ooxml/spreadsheetml/main";
    book.sheets = {
        {"P", std::string("<x:worksheet xmlns:x=\"") + kMainNs + "\"><x:dimension ref=\"A1:B1\"/><x:sheetData>"
                  "<x:row r=\"1\"><x:c r=\"A1\" t=\"inlineStr\"><x:is><x:t>p</x:t></x:is></x:c><x:c r=\"B1\"><x:v>2</x:v></x:c>"
                  "</x:row></x:sheetData></x:worksheet>"},
        {"S", "<worksheet xmlns=\"" + strict + "\"><sheetData><row r=\"1\"><c r=\"A1\"><v>3</v></c></row></sheetData></worksheet>"}};
    const std::string path = dir.File("ns.xlsx");
    WriteZip(path, PartsOf(book));
    ExcelFileOptions both;
    both.allSheets = true;
    both.readOrder = 1;
    ReadResult r = ReadXlsx(path, &both);
    ASSERT_EQ(r.read, 0) << r.message;
    EXPECT_EQ(r.table.Dump(), "A1=s:p B1=n:2.000000 A2=n:3.000000");
}

struct FailureCase {
    const char* name;
    const char* rows;
    int code;
    const char* inMessage;
};

class XlsxFailures : public ::testing::TestWithParam<FailureCase> {};

TEST_P(XlsxFailures, EndTheReadWithTheirCode) {
    const FailureCase& c = GetParam();
    TempDir dir;
    Book book;
    book.sheets = {{"Bad One", SheetXml(c.rows)}};
    const std::string path = dir.File("bad.xlsx");
    WriteZip(path, PartsOf(book));
    for (SheetReader reader : {SheetReader::Auto, SheetReader::ExpatOnly}) {
        ReadResult r = ReadXlsx(path, nullptr, reader);
        ASSERT_EQ(r.open, 0) << r.message;
        EXPECT_EQ(r.read, c.code);
        EXPECT_NE(r.message.find(c.inMessage), std::string::npos) << r.message;
        EXPECT_EQ(r.table.outside, 0);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Sheets, XlsxFailures,
    ::testing::Values(FailureCase{"row0", R"(<row r="1"><c r="A0"><v>1</v></c></row>)", 778, "\"A0\""},
                      FailureCase{"beyondLastColumn", R"(<row r="1"><c r="XFE1"><v>1</v></c></row>)", 778, "\"XFE1\""},
                      FailureCase{"beyondLastRow", R"(<row r="1048577"><c r="A1048577"><v>1</v></c></row>)", 778, "row 1048577"},
                      FailureCase{"noRowDigits", R"(<row r="1"><c r="AB"><v>1</v></c></row>)", 778, "Bad One"},
                      FailureCase{"columnPastXFDWithoutReference",
                                  R"(<row r="1"><c r="XFD1"><v>1</v></c><c><v>2</v></c></row>)", 778, "XFE1"},
                      FailureCase{"unclosedCell", R"(<row r="1"><c r="A1"><v>1</v></row>)", 771, "corrupt"},
                      FailureCase{"undefinedEntity", R"(<row r="1"><c r="A1" t="str"><v>&nbsp;</v></c></row>)", 771, "corrupt"},
                      FailureCase{"noCells", R"(<row r="1"/>)", 768, "\"Bad One\" contains no data"}),
    [](const auto& info) { return std::string(info.param.name); });

// Patches the sizes of the part `name` in a zip's local and central headers.
void PatchUncompressedSize(std::string& zip, const std::string& name, std::uint32_t size) {
    for (const auto& [signature, sizeAt, nameLenAt, nameAt] :
         {std::tuple<const char*, std::size_t, std::size_t, std::size_t>{"PK\x03\x04", 22, 26, 30},
          std::tuple<const char*, std::size_t, std::size_t, std::size_t>{"PK\x01\x02", 24, 28, 46}}) {
        for (std::size_t at = zip.find(signature); at != std::string::npos; at = zip.find(signature, at + 4)) {
            std::size_t len = static_cast<unsigned char>(zip[at + nameLenAt]) | (static_cast<unsigned char>(zip[at + nameLenAt + 1]) << 8);
            if (zip.compare(at + nameAt, len, name) != 0) continue;
            std::memcpy(&zip[at + sizeAt], &size, 4);
        }
    }
}

TEST(XlsxReader, PackagesThatCannotBeReadAreRefusedWithTheirCode) {
    TempDir dir;
    Book good;
    std::string rows;
    for (int i = 1; i <= 200; ++i) rows += "<row r=\"" + std::to_string(i) + "\"><c r=\"A" + std::to_string(i) + "\"><v>1</v></c></row>";
    good.sheets = {{"S", SheetXml(rows)}};
    WriteZip(dir.File("good.xlsx"), PartsOf(good));
    const std::string bytes = ReadFile(dir.File("good.xlsx"));

    // A sheet part that inflates to more than its directory entry says.
    std::string liar = bytes;
    PatchUncompressedSize(liar, "xl/worksheets/sheet1.xml", 100);
    WriteFile(dir.File("liar.xlsx"), liar);
    // One that claims more than deflate can make of its compressed bytes.
    std::string bomb = bytes;
    PatchUncompressedSize(bomb, "xl/worksheets/sheet1.xml", 0xF0000000u);
    WriteFile(dir.File("bomb.xlsx"), bomb);

    Book noSheets;
    WriteZip(dir.File("nosheets.xlsx"), PartsOf(noSheets));
    WriteZip(dir.File("noworkbook.xlsx"), {{"hello.txt", "hi"}});
    WriteFile(dir.File("text.xlsx"), "just text\n");
    WriteFile(dir.File("ole.xlsx"), std::string("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8) + std::string(504, '\0'));

    struct Case {
        const char* file;
        int open, read;
    } cases[] = {{"liar.xlsx", 0, 771},    {"bomb.xlsx", 0, 771}, {"nosheets.xlsx", 769, -1},
                 {"noworkbook.xlsx", 770, -1}, {"text.xlsx", 770, -1}, {"ole.xlsx", 775, -1},
                 {"missing.xlsx", 770, -1}};
    for (const Case& c : cases) {
        ReadResult r = ReadXlsx(dir.File(c.file));
        EXPECT_EQ(r.open, c.open) << c.file;
        EXPECT_EQ(r.read, c.read) << c.file << ": " << r.message;
    }
}

TEST(XlsxReader, DimensionIsBelievedOnlyWhenThePartCouldHoldItsCells) {
    TempDir dir;
    const std::string padding = "<!--" + std::string(2000, ' ') + "-->";
    Book book;
    book.sheets = {
        // 4 cells claiming the whole grid: sized by its cells.
        {"Huge", SheetXml(R"(<row r="1"><c r="A1"><v>1</v></c><c r="B1"><v>2</v></c></row>)"
                          R"(<row r="2"><c r="A2"><v>3</v></c><c r="B2"><v>4</v></c></row>)",
                          "A1:XFD1048576")},
        // A1:J10 in a part of more than 1000 bytes: believed, though only A1 holds a value.
        {"Ten", SheetXml(padding + R"(<row r="1"><c r="A1"><v>1</v></c></row>)", "A1:J10")},
        // A cell beyond a believed dimension grows the table.
        {"Grows", SheetXml(padding + R"(<row r="1"><c r="A1"><v>1</v></c></row><row r="5"><c r="D5"><v>2</v></c></row>)",
                           "A1:B2")},
        // A single-cell dimension is sized by the cells.
        {"One", SheetXml(R"(<row r="3"><c r="C3"><v>1</v></c></row>)", "A1")},
    };
    const std::string path = dir.File("dims.xlsx");
    WriteZip(path, PartsOf(book));
    struct Case {
        int sheet;
        std::pair<int, int> size;
    } cases[] = {{0, {2, 2}}, {1, {10, 10}}, {2, {4, 5}}, {3, {3, 3}}};
    for (const Case& c : cases) {
        ExcelFileOptions options;
        options.sheetIndexes = {c.sheet};
        for (SheetReader reader : {SheetReader::Auto, SheetReader::ExpatOnly}) {
            ReadResult r = ReadXlsx(path, &options, reader);
            ASSERT_EQ(r.read, 0) << r.message;
            EXPECT_EQ(std::make_pair(r.table.columns, r.table.rows), c.size) << book.sheets[c.sheet].first;
            for (const auto& size : r.table.sizes)
                EXPECT_LE(static_cast<long long>(size.first) * size.second, 100) << book.sheets[c.sheet].first;
            EXPECT_EQ(r.table.outside, 0);
        }
    }
}

TEST(XlsxReader, SeveralSheetsAreStackedOrLaidSideBySide) {
    TempDir dir;
    Book book;
    book.sheets = {{"First", SheetXml(R"(<row r="1"><c r="A1"><v>1</v></c></row><row r="2"><c r="B2"><v>2</v></c></row>)")},
                   {"Empty", SheetXml("")},
                   {"Third", SheetXml(R"(<row r="1"><c r="A1"><v>3</v></c></row><row r="3"><c r="C3"><v>4</v></c></row>)")}};
    const std::string path = dir.File("three.xlsx");
    WriteZip(path, PartsOf(book));
    struct Case {
        int readOrder;
        const char* cells;
        std::pair<int, int> size;
    } cases[] = {
        {1, "A1=n:1.000000 B2=n:2.000000 A3=n:3.000000 C5=n:4.000000", {3, 5}},
        {2, "A1=n:1.000000 C1=n:3.000000 B2=n:2.000000 E3=n:4.000000", {5, 3}},
        // Any other read order lays them side by side too: none overlaps another.
        {3, "A1=n:1.000000 C1=n:3.000000 B2=n:2.000000 E3=n:4.000000", {5, 3}},
    };
    for (const Case& c : cases) {
        ExcelFileOptions options;
        options.allSheets = true;
        options.readOrder = c.readOrder;
        ReadResult r = ReadXlsx(path, &options);
        ASSERT_EQ(r.read, 0) << r.message;
        EXPECT_EQ(r.table.Dump(), c.cells) << "read order " << c.readOrder;
        EXPECT_EQ(std::make_pair(r.table.columns, r.table.rows), c.size) << "read order " << c.readOrder;
    }
}

TEST(XlsxReader, SheetChoiceOptionsAndReadFileName) {
    TempDir dir;
    Book book;
    book.sheets = {{"Sheet1", SheetXml(R"(<row r="1"><c r="A1"><v>1</v></c></row>)")},
                   {"Results", SheetXml(R"(<row r="1"><c r="A1"><v>2</v></c></row>)")}};
    const std::string path = dir.File("choice.xlsx");
    WriteZip(path, PartsOf(book));

    ExcelXLSXFile probe;
    std::unique_ptr<QmImportOpenOptions> defaults(probe.GetFileReadOptions(path.c_str(), true));
    ASSERT_NE(defaults, nullptr);
    EXPECT_EQ(probe.GetWorksheets(), (std::vector<std::string>{"Sheet1", "Results"}));
    ExcelFileOptions decoded;
    ASSERT_TRUE(decoded.ReadRecord(*defaults));
    EXPECT_EQ(decoded.sheetIndexes, std::vector<int>{0});
    EXPECT_EQ(decoded.readOrder, 3);
    delete[] defaults->data;

    struct Case {
        std::vector<int> indexes;
        std::vector<std::string> names;
        int read;
        const char* readFile;
    } cases[] = {{{0}, {}, 0, ""}, {{1}, {}, 0, "Results"}, {{0, 1}, {}, 0, "Sheet1_Results"},
                 {{7}, {}, 776, ""}, {{}, {"Nope"}, 768, "Nope"}};
    for (const Case& c : cases) {
        ExcelFileOptions options;
        options.sheetIndexes = c.indexes;
        options.sheetNames = c.names;
        QmImportOpenOptions record{0, nullptr};
        options.WriteRecord(record);
        ExcelXLSXFile file;
        ASSERT_EQ(file.Open(true, path.c_str(), &record), 0);
        delete[] record.data;
        Recorder table;
        EXPECT_EQ(file.Read(&table), c.read);
        EXPECT_STREQ(file.GetReadFile(), c.readFile);
    }

    // An empty record is filled with the defaults the open used.
    ExcelXLSXFile file;
    QmImportOpenOptions empty{0, nullptr};
    ASSERT_EQ(file.Open(true, path.c_str(), &empty), 0);
    EXPECT_GT(empty.size, 0);
    delete[] empty.data;
}

TEST(XlsxReader, AnyNumberOfObjectsLiveAtOnce) {
    TempDir dir;
    Book book;
    book.sheets = {{"S", SheetXml(R"(<row r="1"><c r="A1"><v>5</v></c></row>)")}};
    const std::string path = dir.File("a.xlsx");
    WriteZip(path, PartsOf(book));
    ExcelXLSXFile first, second;
    ASSERT_EQ(first.Open(true, path.c_str(), nullptr), 0);
    ASSERT_EQ(second.Open(true, path.c_str(), nullptr), 0);
    Recorder a, b;
    EXPECT_EQ(second.Read(&b), 0);
    EXPECT_EQ(first.Read(&a), 0);
    EXPECT_EQ(a.Dump(), "A1=n:5.000000");
    EXPECT_EQ(b.Dump(), "A1=n:5.000000");
}

TEST(XlsxReader, CellReferencesAndIsoDates) {
    using namespace kelto::workbook::xlsx;
    struct Ref {
        const char* text;
        bool ok;
        int column, row;
    } refs[] = {{"A1", true, 1, 1},       {"xfd1048576", true, 16384, 1048576}, {"AA10", true, 27, 10},
                {"XFE1", false, 0, 0},    {"A1048577", false, 0, 0},           {"A0", false, 0, 0},
                {"1A", false, 0, 0},      {"AAAA1", false, 0, 0},              {"A", false, 0, 0},
                {"A1B", false, 0, 0},     {"A99999999999", false, 0, 0},       {"", false, 0, 0}};
    for (const Ref& r : refs) {
        int column = 0, row = 0;
        EXPECT_EQ(ParseCellReference(r.text, column, row), r.ok) << r.text;
        if (r.ok) {
            EXPECT_EQ(std::make_pair(column, row), std::make_pair(r.column, r.row)) << r.text;
        }
    }
    EXPECT_EQ(CellName(16385, 1), "XFE1");
    EXPECT_EQ(CellName(27, 3), "AA3");

    struct Iso {
        const char* text;
        bool ok;
        double serial;
    } dates[] = {{"2023-03-15", true, 45000},        {"2023-03-15T12:00:00", true, 45000.5},
                 {"2023-03-15 06:00", true, 45000.25}, {"1900-01-01", true, 1},
                 {"1900-03-01", true, 61},           {"12:00:00", true, 0.5},
                 {"2023-02-30", false, 0},           {"2023-03-15T25:00:00", false, 0},
                 {"yesterday", false, 0},            {"2023-03-15T12:00:00+0x:00", false, 0}};
    for (const Iso& d : dates) {
        double serial = -1;
        EXPECT_EQ(ParseIsoDate(d.text, serial), d.ok) << d.text;
        if (d.ok) {
            EXPECT_NEAR(serial, d.serial, 1e-9) << d.text;
        }
    }
}

}  // namespace
}  // namespace kelto::test::xlsx

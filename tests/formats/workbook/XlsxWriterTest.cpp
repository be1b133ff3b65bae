// Writing a table as a one-sheet workbook: values read back by our reader, by openpyxl and
// by LibreOffice (each skipped when it is not installed), the numbers' text under a
// locale with a decimal comma, and the failures that must not pass as success.
#include <clocale>
#include <cstdlib>
#include <fstream>
#include <locale.h>
#include <map>
#include <thread>
#include <variant>

#include "tests/formats/text/TextTestSupport.h"
#include "tests/formats/workbook/XlsxTestSupport.h"

namespace kelto::test::xlsx {
namespace {

// A table of any declared size holding only the cells given; the rest are missing.
class Source : public WriteSpreadSheetData {
public:
    using Cell = std::variant<float, std::int64_t, std::string>;
    Source(int columns, int rows) : columns_(columns), rows_(rows) {}
    void Put(int col, int row, Cell cell) { cells_[{col, row}] = std::move(cell); }

    int GetNumberOfColumns() const override { return columns_; }
    int GetNumberOfRows() const override { return rows_; }
    float GetFloatData(int col, int row) const override {
        const Cell* c = Find(col, row);
        return c && std::holds_alternative<float>(*c) ? std::get<float>(*c) : -99.0f;
    }
    std::string GetStringValue(int col, int row) const override {
        const Cell* c = Find(col, row);
        return c && std::holds_alternative<std::string>(*c) ? std::get<std::string>(*c) : std::string();
    }
    bool GetFirstDataCell(int* col, int* row) const override { return *col = 1, *row = 1, true; }
    bool IsFloat(int col, int row) const override { return Is<float>(col, row); }
    bool IsMisVal(int col, int row) const override { return Find(col, row) == nullptr; }
    bool IsString(int col, int row) const override { return Is<std::string>(col, row); }
    bool IsInt64(int col, int row) const override { return Is<std::int64_t>(col, row); }
    std::int64_t GetInt64(int col, int row) const override { return std::get<std::int64_t>(*Find(col, row)); }

private:
    const Cell* Find(int col, int row) const {
        auto it = cells_.find({col, row});
        return it == cells_.end() ? nullptr : &it->second;
    }
    template <typename T>
    bool Is(int col, int row) const {
        const Cell* c = Find(col, row);
        return c && std::holds_alternative<T>(*c);
    }
    int columns_, rows_;
    std::map<std::pair<int, int>, Cell> cells_;
};

int WriteTable(const std::string& path, const WriteSpreadSheetData& data, std::string* message = nullptr) {
    ExcelXLSXFile file;
    int code = file.Open(false, path.c_str(), nullptr);
    if (code == 0) code = file.Write(&data);
    if (message) *message = ErrorOf(file);
    return code;
}

const std::string kQuoted = "say \"hi\", it's <ok> & done";
const std::string kLines = "line 1\r\nline 2\nline 3";
const std::string kScripts = "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E \xCE\x95\xCE\xBB\xCE\xBB\xCE\xB7\xCE\xBD\xCE\xB9\xCE\xBA\xCE\xAC "
                             "\xD8\xB9\xD8\xB1\xD8\xA8\xD9\x8A \xF0\x9F\x98\x80";

Source SampleTable() {
    Source table(4, 3);
    table.Put(1, 1, std::string("name"));
    table.Put(2, 1, std::string("value"));
    table.Put(3, 1, std::string("count"));
    table.Put(1, 2, kQuoted);
    table.Put(2, 2, 394.38293f);
    table.Put(3, 2, std::int64_t{123456789012});
    table.Put(4, 2, std::int64_t{1} << 60);
    table.Put(1, 3, kLines);
    table.Put(2, 3, -1.5e-7f);
    table.Put(4, 3, kScripts);  // C3 stays missing
    return table;
}

// What a reader should give back for SampleTable, as Recorder::Dump shows it.
const std::string kExpected = "A1=s:name B1=s:value C1=s:count A2=s:" + kQuoted +
                              " B2=n:394.382930 C2=n:123456789012.000000 D2=s:1152921504606846976 A3=s:line 1\nline 2\nline 3 "
                              "B3=n:-0.000000 D3=s:" + kScripts;

TEST(XlsxWriter, ATableReadsBackWithItsValues) {
    TempDir dir;
    const std::string path = dir.File("out.xlsx");
    ASSERT_EQ(WriteTable(path, SampleTable()), 0);
    ExcelXLSXFile file;
    ASSERT_EQ(file.Open(true, path.c_str(), nullptr), 0);
    EXPECT_EQ(file.GetWorksheets(), std::vector<std::string>{"VANTU"});
    Recorder back;
    ASSERT_EQ(file.Read(&back), 0);
    EXPECT_EQ(back.Dump(), kExpected);
    EXPECT_EQ(std::get<double>(back.cells.at({2, 3})), -1.5e-7);
    EXPECT_EQ(std::make_pair(back.columns, back.rows), std::make_pair(4, 3));
}

TEST(XlsxWriter, NumbersAreTheFloatsShortestTextWhateverTheProcessLocale) {
    TempDir dir;
    const std::string path = dir.File("locale.xlsx");
    const std::string before = std::setlocale(LC_ALL, nullptr);
    const bool german = std::setlocale(LC_ALL, "de_DE.UTF-8") != nullptr;
    const int code = WriteTable(path, SampleTable());
    const std::string during = std::setlocale(LC_ALL, nullptr);
    std::setlocale(LC_ALL, before.c_str());
    ASSERT_EQ(code, 0);
    if (german) {
        EXPECT_NE(during.find("de_DE"), std::string::npos) << "the process locale is left alone";
    }
    kelto::workbook::xlsx::Package package;
    ASSERT_TRUE(package.OpenFile(path));
    std::string sheet;
    ASSERT_EQ(package.ReadAll("xl/worksheets/sheet1.xml", sheet, 1 << 20), kelto::workbook::xlsx::PartStatus::Ok);
    EXPECT_NE(sheet.find("<v>394.38293</v>"), std::string::npos) << sheet;
    EXPECT_NE(sheet.find("<v>-1.5E-07</v>"), std::string::npos) << sheet;
    EXPECT_EQ(sheet.find("394.3829345"), std::string::npos);
}

TEST(XlsxWriter, FailuresAreReportedWithTheCell) {
    TempDir dir;
    Source wide(16385, 1), tall(1, 1048577), longText(2, 2), longEmoji(1, 1), fits(2, 2);
    wide.Put(1, 1, 1.0f);
    tall.Put(1, 1, 1.0f);
    longText.Put(2, 2, std::string(32768, 'x'));
    fits.Put(2, 2, std::string(32767, 'x'));
    std::string emoji;
    for (int i = 0; i < 16384; ++i) emoji += "\xF0\x9F\x98\x80";  // 32768 UTF-16 units
    longEmoji.Put(1, 1, emoji);
    struct Case {
        const char* name;
        const Source* table;
        std::string path;
        int code;
        const char* inMessage;
    } cases[] = {
        {"too wide", &wide, dir.File("w.xlsx"), 779, "XFE1"},
        {"too tall", &tall, dir.File("t.xlsx"), 779, "A1048577"},
        {"text too long", &longText, dir.File("l.xlsx"), 780, "B2"},
        {"emoji too long", &longEmoji, dir.File("e.xlsx"), 780, "A1"},
        {"longest text", &fits, dir.File("f.xlsx"), 0, ""},
        {"disk full", &fits, "/dev/full", 781, "written"},
        {"no such folder", &fits, dir.File("none/x.xlsx"), 770, "Unable to open"},
    };
    for (const Case& c : cases) {
        std::string message;
        EXPECT_EQ(WriteTable(c.path, *c.table, &message), c.code) << c.name;
        EXPECT_NE(message.find(c.inMessage), std::string::npos) << c.name << ": " << message;
        // A refused table leaves no file behind.
        if (c.code == 779 || c.code == 780) {
            EXPECT_FALSE(std::ifstream(c.path).good()) << c.name;
        }
    }
    ExcelXLSXFile reader;
    EXPECT_EQ(reader.Write(&fits), 3) << "a write needs an open for writing";
}

TEST(XlsxWriter, ThreadsWriteAndReadWorkbooksAtOnce) {
    // No instance slot, no process-wide state: each thread writes its own table with a
    // decimal-comma locale of its own and reads it back.
    TempDir dir;
    constexpr int kThreads = 4;
    std::vector<std::string> dumps(kThreads);
    std::vector<int> codes(kThreads, -1);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] {
            locale_t german = newlocale(LC_ALL_MASK, "de_DE.UTF-8", static_cast<locale_t>(0));
            locale_t previous = german ? uselocale(german) : static_cast<locale_t>(0);
            Source table(3, 200);
            for (int r = 1; r <= 200; ++r) {
                table.Put(1, r, static_cast<float>(t * 1000 + r) + 0.25f);
                table.Put(2, r, "t" + std::to_string(t) + "r" + std::to_string(r));
            }
            const std::string path = dir.File("thread" + std::to_string(t) + ".xlsx");
            codes[t] = WriteTable(path, table);
            if (german) {
                uselocale(previous);
                freelocale(german);
            }
            ExcelXLSXFile file;
            Recorder back;
            if (codes[t] == 0 && file.Open(true, path.c_str(), nullptr) == 0 && file.Read(&back) == 0) {
                const auto& last = back.cells.at({1, 200});
                dumps[t] = std::to_string(back.rows) + " " + Show(last) + " " + Show(back.cells.at({2, 200}));
            }
        });
    for (auto& thread : threads) thread.join();
    for (int t = 0; t < kThreads; ++t) {
        EXPECT_EQ(codes[t], 0);
        EXPECT_EQ(dumps[t], "200 n:" + std::to_string(t * 1000 + 200.25) + " s:t" + std::to_string(t) + "r200");
    }
}

TEST(XlsxWriter, OpenpyxlReadsTheSameValues) {
    if (!HaveProgram("/usr/bin/python3") || std::system("/usr/bin/python3 -c 'import openpyxl' 2>/dev/null") != 0)
        GTEST_SKIP() << "openpyxl is not installed";
    TempDir dir;
    const std::string path = dir.File("peer.xlsx");
    ASSERT_EQ(WriteTable(path, SampleTable()), 0);
    const std::string out = dir.File("peer.txt");
    const std::string script =
        "import openpyxl,sys\n"
        "ws=openpyxl.load_workbook(sys.argv[1]).active\n"
        "out=[ws.title]\n"
        "for row in ws.iter_rows():\n"
        "  for c in row:\n"
        "    if c.value is not None: out.append('%s=%s:%s' % (c.coordinate, 'n' if isinstance(c.value,(int,float)) else 's', c.value if isinstance(c.value,str) else '%.6f' % c.value))\n"
        "open(sys.argv[2],'w',encoding='utf-8').write(' '.join(out))\n";
    WriteFile(dir.File("peer.py"), script);
    ASSERT_EQ(std::system(("/usr/bin/python3 " + dir.File("peer.py") + " " + path + " " + out).c_str()), 0);
    EXPECT_EQ(ReadFile(out), "VANTU " + kExpected);
}

TEST(XlsxWriter, LibreOfficeReadsTheSameValues) {
    if (!HaveProgram("soffice")) GTEST_SKIP() << "LibreOffice is not installed";
    TempDir dir;
    const std::string path = dir.File("lo.xlsx");
    ASSERT_EQ(WriteTable(path, SampleTable()), 0);
    // A profile of its own, so that a LibreOffice already running elsewhere is not asked.
    const std::string command = "cd " + dir.Path().string() + " && HOME=" + dir.Path().string() +
                                " timeout 180 soffice -env:UserInstallation=file://" + dir.File("profile") +
                                " --headless --convert-to 'csv:Text - txt - csv (StarCalc):44,34,76,1,,0,false,true,false,false' "
                                "lo.xlsx >/dev/null 2>&1";
    ASSERT_EQ(std::system(command.c_str()), 0);
    const std::string csv = ReadFile(dir.File("lo.csv"));
    const std::string expected = "name,value,count,\n\"say \"\"hi\"\", it's <ok> & done\",394.38293,123456789012,1152921504606846976\n"
                                 "\"line 1\nline 2\nline 3\",-0.00000015,," + kScripts + "\n";
    EXPECT_EQ(csv, expected);
}

}  // namespace
}  // namespace kelto::test::xlsx

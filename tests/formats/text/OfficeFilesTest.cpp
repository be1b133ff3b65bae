// Files written by LibreOffice and Gnumeric (made by make_text_test_data.sh from small tables
// kept in that script), read and compared with those tables; and our own text and DIF files
// opened by LibreOffice, which must see the cells we wrote. Everything here skips, saying
// why, when soffice or ssconvert is not installed.
#include <gtest/gtest.h>

#include <filesystem>

#include "formats/text/CsvFile.h"
#include "formats/text/TextTestSupport.h"

using namespace kelto::test;

namespace {

using Table = std::vector<std::vector<std::string>>;

// The tables the script starts from, as the cells should read ("" is missing).
const Table kMixed = {
    {"Name", "Value", "Note"},
    {"Z\xC3\xBCrich", "1.5", "plain"},
    {"\xD0\x9C\xD0\xBE\xD1\x81\xD0\xBA\xD0\xB2\xD0\xB0", "-2", "a,b"},
    {"\xE6\x97\xA5\xE6\x9C\xAC", "300000", "say \"hi\""},
    {"empty", "", "x"},
    {"big", "1234567", "two\nlines"},
};
// The same without what delimited text cannot carry unquoted.
const Table kPlain = [] {
    Table t = kMixed;
    t[2][2] = "a;b", t[3][2] = "say hi", t[5][2] = "end";
    return t;
}();
const Table kCyrillic = {
    {"\xD0\x93\xD0\xBE\xD1\x80\xD0\xBE\xD0\xB4", "\xD0\xA7\xD0\xB8\xD1\x81\xD0\xBB\xD0\xBE"},
    {"\xD0\x9C\xD0\xBE\xD1\x81\xD0\xBA\xD0\xB2\xD0\xB0", "12.5"},
    {"\xD0\x9A\xD0\xB8\xD0\xB5\xD0\xB2", "-3"},
};
const Table kJapanese = {
    {"\xE5\x90\x8D\xE5\x89\x8D", "\xE5\x80\xA4"},
    {"\xE6\x9D\xB1\xE4\xBA\xAC", "1.25"},
    {"\xE5\xA4\xA7\xE9\x98\xAA", "7"},
};

// Compares what was read with a table: texts exactly, numbers by value.
void ExpectTable(const EntryRead& r, const Table& want) {
    ASSERT_TRUE(r.Ok()) << r.error;
    ASSERT_EQ(r.Rows(), static_cast<int>(want.size()));
    ASSERT_EQ(r.Cols(), static_cast<int>(want[0].size()));
    for (std::size_t row = 0; row < want.size(); ++row) {
        for (std::size_t col = 0; col < want[row].size(); ++col) {
            const int c = static_cast<int>(col) + 1, rr = static_cast<int>(row) + 1;
            const std::string& w = want[row][col];
            SCOPED_TRACE("cell " + std::to_string(c) + "," + std::to_string(rr));
            char* end = nullptr;
            const double number = std::strtod(w.c_str(), &end);
            if (w.empty())
                EXPECT_TRUE(r.IsMissing(c, rr)) << r.Text(c, rr);
            else if (*end == '\0')
                EXPECT_EQ(r.Number(c, rr), static_cast<float>(number)) << r.Text(c, rr);
            else
                EXPECT_EQ(r.Text(c, rr), w);
        }
    }
}

std::unique_ptr<OptionsBytes> Options(const TextFileOptions& o) { return std::make_unique<OptionsBytes>(WrittenBytes(o)); }

class OfficeFiles : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        dir_ = new TempDir;
        const std::string script = std::string(KELTO_SOURCE_DIR) + "/tests/formats/text/make_text_test_data.sh";
        if (HaveProgram("soffice") || HaveProgram("ssconvert"))
            std::system(("bash '" + script + "' '" + dir_->Path().string() + "'").c_str());
    }
    static void TearDownTestSuite() {
        delete dir_;
        dir_ = nullptr;
    }

    // The path of a made file, or empty (the test then skips) when it could not be made.
    static std::string Made(const std::string& relative) {
        const std::string path = dir_->File(relative);
        return std::filesystem::exists(path) ? path : std::string();
    }

    static TempDir* dir_;
};

TempDir* OfficeFiles::dir_ = nullptr;

#define REQUIRE_MADE(var, relative, program)                                                   \
    const std::string var = Made(relative);                                                   \
    if (var.empty()) GTEST_SKIP() << relative << " was not made: " program " is not installed " \
                                                 "(scripts/install-deps.sh --extras) or failed"

TEST_F(OfficeFiles, DifFromLibreOfficeAndGnumeric) {
    REQUIRE_MADE(lo, "lo/mixed.dif", "soffice");
    // LibreOffice writes DIF from a document in windows-1252: what it cannot hold becomes "?",
    // in the file itself.
    Table loWant = kMixed;
    loWant[2][0] = "??????";
    loWant[3][0] = "??";
    ExpectTable(*ReadThroughEntryPoints("DIF File", lo), loWant);

    REQUIRE_MADE(gn, "gnumeric/mixed.dif", "ssconvert");
    // Gnumeric writes UTF-8, and numbers with six significant digits.
    Table gnWant = kMixed;
    gnWant[5][1] = "1234570";
    ExpectTable(*ReadThroughEntryPoints("DIF File", gn), gnWant);
}

TEST_F(OfficeFiles, CsvFromLibreOfficeAndGnumeric) {
    REQUIRE_MADE(comma, "lo/comma/mixed.csv", "soffice");
    ExpectTable(*ReadThroughEntryPoints("CSV File", comma), kMixed);

    // Semicolons: the delimiter comes with the options, as a host would pass it after
    // looking at the file.
    REQUIRE_MADE(semicolon, "lo/semicolon/mixed.csv", "soffice");
    CsvFile probe;
    probe.Open(true, semicolon.c_str(), nullptr);
    EXPECT_EQ(probe.GetDelimiter(), ';');
    CsvFileOptions o;
    o.SetDelimiter(";");
    o.SetEncoding("utf8");
    auto options = Options(o);
    ExpectTable(*ReadThroughEntryPoints("CSV File", semicolon, &options->record), kMixed);

    REQUIRE_MADE(gn, "gnumeric/mixed.csv", "ssconvert");
    ExpectTable(*ReadThroughEntryPoints("CSV File", gn), kMixed);
    REQUIRE_MADE(gnCyrillic, "gnumeric/cyrillic.csv", "ssconvert");
    o.SetEncoding("windows1251");
    options = Options(o);
    ExpectTable(*ReadThroughEntryPoints("CSV File", gnCyrillic, &options->record), kCyrillic);
}

TEST_F(OfficeFiles, TextInUtf16Windows1251AndShiftJis) {
    REQUIRE_MADE(utf16, "lo/utf16/plain.txt", "soffice");
    ExpectTable(*ReadThroughEntryPoints("Text File", utf16), kPlain);  // the byte-order mark decides

    REQUIRE_MADE(cp1251, "lo/cp1251/cyrillic.txt", "soffice");
    TextFileOptions o;
    o.SetEncoding("windows1251");
    auto options = Options(o);
    ExpectTable(*ReadThroughEntryPoints("Text File", cp1251, &options->record), kCyrillic);

    REQUIRE_MADE(sjis, "lo/sjis/japanese.txt", "soffice");
    o.SetEncoding("shiftjis");
    options = Options(o);
    ExpectTable(*ReadThroughEntryPoints("Text File", sjis, &options->record), kJapanese);

    REQUIRE_MADE(gn, "gnumeric/plain.txt", "ssconvert");
    ExpectTable(*ReadThroughEntryPoints("Text File", gn), kPlain);  // UTF-8, detected
}

TEST_F(OfficeFiles, OurFilesOpenInLibreOfficeWithTheSameCells) {
    if (!HaveProgram("soffice")) GTEST_SKIP() << "soffice is not installed (scripts/install-deps.sh --extras)";
    const std::filesystem::path out = dir_->Path() / "ours";
    std::filesystem::create_directories(out / "csv");
    auto table = TableOf({{"Name", "Value", "Note"},
                          {"Z\xC3\xBCrich", "1.5", "plain"},
                          {"x", "-1234.5678", ""},
                          {"", "0.25", "a b"},
                          {"big", "1234567", "end"}});
    std::string error;
    ASSERT_TRUE(WriteThroughEntryPoints("Text File", (out / "legacy.txt").string(), *table, &error)) << error;
    ASSERT_TRUE(WriteThroughEntryPoints("Text UTF-8 File", (out / "utf8.txt").string(), *table, &error)) << error;
    ASSERT_TRUE(WriteThroughEntryPoints("DIF File", (out / "table.dif").string(), *table, &error)) << error;

    // LibreOffice reads each file and writes the values it sees as UTF-8 CSV (the last filter
    // option: values, not as the cells would be shown).
    auto toCsv = [&](const std::string& file, const std::string& infilter) {
        std::string command = "timeout 300 soffice -env:UserInstallation=file://" + (out / "profile").string() +
                              " --headless" + (infilter.empty() ? "" : " --infilter='" + infilter + "'") +
                              " --convert-to 'csv:Text - txt - csv (StarCalc):44,34,76,1,,0,false,true,false' --outdir '" +
                              (out / "csv").string() + "' '" + (out / file).string() + "' >/dev/null 2>&1";
        std::system(command.c_str());
        return ReadFile((out / "csv" / (std::filesystem::path(file).stem().string() + ".csv")).string());
    };
    // Every digit of a float (the one nearest -1234.5678 prints shortest as -1234.5677).
    const std::string want = "Name,Value,Note\nZ\xC3\xBCrich,1.5,plain\nx,-1234.5677,\n,0.25,a b\nbig,1234567,end\n";
    EXPECT_EQ(toCsv("legacy.txt", "Text - txt - csv (StarCalc):9,34,1"), want);  // 1: windows-1252
    EXPECT_EQ(toCsv("utf8.txt", "Text - txt - csv (StarCalc):9,34,76"), want);
    EXPECT_EQ(toCsv("table.dif", ""), want);
}

}  // namespace

// Brookside wafer files: the table of several data files in key order with centering, the
// INI tolerance, a host that skips rows or cancels, each refusal with its message, and named
// paths that would leave the folder.
#include <gtest/gtest.h>

#include <map>

#include "formats/text/BrooksideFile.h"
#include "formats/text/TextTestSupport.h"
#include "outside/utl/Exception.h"

using namespace kelto::test;

namespace {

using Files = std::map<std::string, std::string>;

// Writes the files (names relative to the folder, "/" creating subfolders) and returns the
// path of "run.trn".
std::string Lay(const TempDir& dir, const Files& files) {
    for (const auto& [name, text] : files) {
        std::filesystem::create_directories(std::filesystem::path(dir.File(name)).parent_path());
        WriteFile(dir.File(name), text);
    }
    return dir.File("run.trn");
}

const char* const kHeader = "Wafer\tPhase\tTemp\tPressure\tLot\n";

}  // namespace

TEST(BrooksideFile, ReadsEveryDataFileInKeyOrderWithCentresSubtracted) {
    TempDir dir;
    const std::string trn = Lay(
        dir, {{"run.trn",
               "\xEF\xBB\xBF; written by the etch tool\r\n[Other]\r\nData = nothing.txt\r\n[brookside]\r\n"
               "version = 1\r\n# the later wafers first\r\nDATA = etch\\later.txt\r\nData = \"earlier.txt\"\r\n"
               "Centering = centre.txt\r\n"},
              {"etch/later.txt", std::string(kHeader) + "W7\t1\t101.5\t2\tL9\nW7\t2\t99\tn/a\t007\n"},
              // Trailing blanks on a name, CR LF, a missing cell, the missing value.
              {"earlier.txt", "Wafer\tPhase\tTemp \tPressure\tLot\r\nW1\t1\t100\t\tL1\r\nW1\t2\t-99\t3.25\tL1\r\n"},
              {"centre.txt", "Pressure\tTemp\n1.5\t100\n"}});

    auto r = ReadThroughEntryPoints("Brookside File", trn);
    ASSERT_TRUE(r->Ok()) << r->error;
    ASSERT_EQ(r->Size(), "5x5");
    const std::vector<std::vector<std::string>> want = {
        {"Wafer", "Phase", "Temp", "Pressure", "Lot"},
        {"W7", "1", "1.5", "0.5", "L9"},
        {"W7", "2", "-1", "n/a", "007"},  // a text stays a text, centred or not
        {"W1", "1", "0", "", "L1"},
        {"W1", "2", "", "1.75", "L1"},  // missing stays missing
    };
    for (int row = 1; row <= 5; ++row)
        for (int col = 1; col <= 5; ++col)
            EXPECT_EQ(r->Text(col, row), want[row - 1][col - 1]) << col << "," << row;
    EXPECT_TRUE(r->IsMissing(3, 5));
    EXPECT_EQ(QmImportIsCorrectFileType(FormatIndex("Brookside File"), trn.c_str()), 1);  // "possibly"
}

TEST(BrooksideFile, FollowsTheHostsRowOrderAcrossFilesAndLetsACancellationThrough) {
    TempDir dir;
    const std::string trn =
        Lay(dir, {{"run.trn", "[Brookside]\nVersion=1\nData=a.txt\nData=b.txt\n"},
                  {"a.txt", "Wafer\tPhase\tX\nA\t1\t1\nA\t2\t2\nA\t3\t3\n"},
                  {"b.txt", "Wafer\tPhase\tX\nB\t1\t4\nB\t2\t5\n"}});
    BrooksideFile file;
    ASSERT_EQ(file.Open(true, trn.c_str(), nullptr), 0);
    ASSERT_EQ(file.GetNumRows(), 6);
    ASSERT_EQ(file.GetNumCols(), 3);
    RecordingTable every;
    every.nextRow = [](int row) { return row == 0 ? 1 : row + 2; };  // rows 1, 3, 5
    ASSERT_EQ(file.Read(&every), 0);
    EXPECT_EQ(every.Row(3), (std::vector<std::string>{"A", "2", "2"}));
    EXPECT_EQ(every.Row(5), (std::vector<std::string>{"B", "1", "4"}));
    EXPECT_EQ(every.texts.size(), 9u);

    RecordingTable stopping;  // a host that stopped answers with a row beyond the table
    stopping.nextRow = [](int row) { return row < 3 ? row + 1 : 1 << 30; };
    ASSERT_EQ(file.Read(&stopping), 0);
    EXPECT_EQ(stopping.texts.size(), 9u);

    struct Cancelling : RecordingTable {
        using RecordingTable::Set;
        void Set(int col, int row, const char* text) override {
            if (row == 5) throw CancelException();
            RecordingTable::Set(col, row, text);
        }
    } cancelling;
    EXPECT_THROW(file.Read(&cancelling), CancelException);
}

TEST(BrooksideFile, RefusesWithItsCodeAndAMessageNamingTheCause) {
    const std::string okData = "Wafer\tPhase\tA\tB\nW\t1\t2\t3\n";
    struct Case {
        const char* what;
        Files files;
        int code;
        const char* named;
    } cases[] = {
        {"no section", {{"run.trn", "[Brooks]\nVersion=1\nData=d.txt\n"}, {"d.txt", okData}}, 3072, "run.trn"},
        {"another version", {{"run.trn", "[Brookside]\nVersion=2\nData=d.txt\n"}, {"d.txt", okData}}, 3072, "run.trn"},
        {"no data key", {{"run.trn", "[Brookside]\nVersion=1\n"}}, 3072, "run.trn"},
        {"two centering keys",
         {{"run.trn", "[Brookside]\nVersion=1\nData=d.txt\nCentering=c.txt\nCentering=c.txt\n"}, {"d.txt", okData},
          {"c.txt", "A\n1\n"}},
         3072, "run.trn"},
        {"the .trn itself missing", {}, 3073, "run.trn"},
        {"a data file missing", {{"run.trn", "[Brookside]\nVersion=1\nData=d.txt\nData=gone.txt\n"}, {"d.txt", okData}},
         3073, "gone.txt"},
        {"a binary data file", {{"run.trn", "[Brookside]\nVersion=1\nData=d.bin\n"}, {"d.bin", std::string("W\0\1", 3)}},
         3073, "d.bin"},
        {"a centering file missing", {{"run.trn", "[Brookside]\nVersion=1\nData=d.txt\nCentering=c.txt\n"}, {"d.txt", okData}},
         3073, "c.txt"},
        {"an absolute path", {{"run.trn", "[Brookside]\nVersion=1\nData=/etc/hostname\n"}}, 3074, "/etc/hostname"},
        {"a climbing centering file",
         {{"run.trn", "[Brookside]\nVersion=1\nData=d.txt\nCentering=..\\c.txt\n"}, {"d.txt", okData}}, 3074, "..\\c.txt"},
        {"no Wafer first", {{"run.trn", "[Brookside]\nVersion=1\nData=d.txt\n"}, {"d.txt", "Lot\tPhase\tA\n"}}, 3075, "d.txt"},
        {"no Phase", {{"run.trn", "[Brookside]\nVersion=1\nData=d.txt\n"}, {"d.txt", "Wafer\n"}}, 3075, "d.txt"},
        {"an empty data file", {{"run.trn", "[Brookside]\nVersion=1\nData=d.txt\n"}, {"d.txt", ""}}, 3075, "d.txt"},
        {"variables in another order",
         {{"run.trn", "[Brookside]\nVersion=1\nData=d.txt\nData=e.txt\n"}, {"d.txt", okData},
          {"e.txt", "Wafer\tPhase\tB\tA\n"}},
         3076, "e.txt"},
        {"a centering variable the data lack",
         {{"run.trn", "[Brookside]\nVersion=1\nData=d.txt\nCentering=c.txt\n"}, {"d.txt", okData}, {"c.txt", "A\tZ\n1\t2\n"}},
         3077, "Z"},
        {"a centre that is text",
         {{"run.trn", "[Brookside]\nVersion=1\nData=d.txt\nCentering=c.txt\n"}, {"d.txt", okData}, {"c.txt", "A\tB\n1\tx\n"}},
         3078, "B"},
        {"a centre that is missing",
         {{"run.trn", "[Brookside]\nVersion=1\nData=d.txt\nCentering=c.txt\n"}, {"d.txt", okData}, {"c.txt", "A\tB\n1\n"}},
         3078, "B"},
    };
    for (const Case& c : cases) {
        TempDir dir;
        const std::string trn = Lay(dir, c.files);
        BrooksideFile file;
        EXPECT_EQ(file.Open(true, trn.c_str(), nullptr), c.code) << c.what;
        const std::string message = ErrorOf(file);
        EXPECT_NE(message.find(c.named), std::string::npos) << c.what << ": " << message;
    }
}

TEST(BrooksideFile, ResolvesNamesInsideTheFolderOnly) {
    const std::pair<std::string, const char*> names[] = {
        {"d.txt", "/f/d.txt"},           {"sub\\d.txt", "/f/sub/d.txt"}, {"./sub/d.txt", "/f/./sub/d.txt"},
        {"a..b/d.txt", "/f/a..b/d.txt"}, {"..", ""},                     {"sub/..", ""},
        {"\\\\server\\d.txt", ""},       {"", ""},                       {std::string("..\0/d.txt", 9), ""},
        {"C:\\d.txt", ""},                {"sub/../../d.txt", ""},
    };
    for (const auto& [name, want] : names) EXPECT_EQ(BrooksideFile::ResolveInside("/f", name), want) << name;
}

TEST(BrooksideFile, RefusesATableOfMoreCellsThanATableHolds) {
    TempDir dir;
    std::string header = "Wafer\tPhase";
    for (int v = 0; v < (1 << 20); ++v) header += "\tv";
    std::string lines;
    for (int r = 1; r < (1 << 11); ++r) lines += "W\t1\n";  // 2^11 rows of 2^20 + 2 cells: just beyond 2^31
    const std::string trn = Lay(dir, {{"run.trn", "[Brookside]\nVersion=1\nData=d.txt\n"}, {"d.txt", header + "\n" + lines}});
    BrooksideFile file;
    ASSERT_EQ(file.Open(true, trn.c_str(), nullptr), 0);
    EXPECT_EQ(file.GetNumRows(), -1);
    EXPECT_EQ(file.GetStatus(), SpreadsheetFile::kSizeError);
}

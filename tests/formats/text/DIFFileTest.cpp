// DIF: files written by Excel, WPS and LibreOffice, the header's counts (believed, exchanged or
// replaced by a scan), value indicators, damaged records and headers, and the writer's bytes.
#include <gtest/gtest.h>

#include <filesystem>

#include "formats/text/DIFFile.h"
#include "formats/text/TextTestSupport.h"
#include "outside/TestLocale.h"

using namespace kelto::test;

namespace {

const std::string kCorpus = std::string(KELTO_CORPUS_DIR) + "/dif/";

std::string Header(long long vectors, long long tuples) {
    return "TABLE\n0,1\n\"t\"\nVECTORS\n0," + std::to_string(vectors) + "\n\"\"\nTUPLES\n0," + std::to_string(tuples) +
           "\n\"\"\nDATA\n0,0\n\"\"\n";
}

// Tuples of numbers, then the data end.
std::string Tuples(const std::vector<std::vector<int>>& tuples) {
    std::string s;
    for (const auto& t : tuples) {
        s += "-1,0\nBOT\n";
        for (int v : t) s += "0," + std::to_string(v) + "\nV\n";
    }
    return s + "-1,0\nEOD\n";
}

// The size pass and a read by the class itself; the codes, counts and what was delivered.
struct DirectRead {
    int open = -1, read = -1, cols = -1, rows = -1;
    RecordingTable table;
    std::string error;
};

DirectRead ReadDirect(const std::string& path) {
    DirectRead r;
    DIFFile f;
    r.open = f.Open(true, path.c_str(), nullptr);
    if (r.open == 0) {
        r.cols = f.GetNumCols();
        r.rows = f.GetNumRows();
        r.table.cols = std::max(r.cols, 0), r.table.rows = std::max(r.rows, 0);
        r.read = f.Read(&r.table);
    }
    r.error = ErrorOf(f);
    return r;
}

}  // namespace

TEST(DIFFile, FilesFromOfficePrograms) {
    ASSERT_TRUE(std::filesystem::is_directory(kCorpus)) << "no sample corpus at " << kCorpus;
    // Excel: VECTORS holds the tuple count, TUPLES the values per tuple.
    auto r = ReadThroughEntryPoints("DIF File", kCorpus + "sheetjs_ErrorTypes.dif");
    ASSERT_TRUE(r->Ok()) << r->error;
    EXPECT_EQ(r->rows * 100 + r->cols, 1410);
    EXPECT_EQ(r->Text(10, 1), "ErrTypeIsErr");
    EXPECT_TRUE(r->IsMissing(1, 2));   // ERROR
    EXPECT_EQ(r->Text(3, 2), "#NULL?");
    EXPECT_EQ(r->Number(7, 2), 16.0f);
    EXPECT_EQ(r->Number(8, 2), 1.0f);  // TRUE
    EXPECT_EQ(r->Number(9, 2), 0.0f);  // FALSE
    EXPECT_TRUE(r->IsMissing(1, 8));   // NA
    EXPECT_EQ(r->Number(5, 9), 69.0f);
    EXPECT_EQ(r->Text(1, 12), "10/11/14");  // a V value that is no number stays text
    EXPECT_EQ(r->Number(7, 14), 64.0f);
    for (const char* name : {"sheetjs_write.dif", "sheetjs_artifacts_wps_write.dif"}) {
        r = ReadThroughEntryPoints("DIF File", kCorpus + name);
        ASSERT_TRUE(r->Ok()) << r->error;
        EXPECT_EQ(r->Rows() * 10 + r->Cols(), 44);
        EXPECT_TRUE(r->IsMissing(4, 1));
        EXPECT_EQ(r->Number(1, 2), 1.0f);
        EXPECT_EQ(r->Text(4, 2), "sheetjs");
        EXPECT_EQ(r->Text(3, 3), "2/19/14");
        EXPECT_EQ(r->Number(4, 3), 0.3f) << name;  // a string in one file, a number in the other
    }
    r = ReadThroughEntryPoints("DIF File", kCorpus + "libreoffice_universal-content.dif");
    ASSERT_TRUE(r->Ok()) << r->error;
    EXPECT_EQ(r->Rows() * 10 + r->Cols(), 48);
    EXPECT_EQ(r->Text(2, 1), "String1");
    EXPECT_EQ(r->Number(3, 3), -1.0f);
    EXPECT_EQ(r->Number(3, 4), 11.0f);
}

TEST(DIFFile, HeaderCountsAreBelievedExchangedOrReplaced) {
    TempDir dir;
    struct Case {
        const char* name;
        long long vectors, tuples;
        std::vector<std::vector<int>> data;
        int cols, rows;              // the size pass
        std::pair<int, int> final;   // the size the read ends with
    };
    const std::vector<Case> cases = {
        {"exchanged", 3, 5, {{1, 2, 3, 4, 5}, {6, 7, 8, 9, 10}, {11, 12, 13, 14, 15}}, 5, 3, {5, 3}},
        // Counts that fit nothing: a scan (widest tuple, number of tuples, no narrower than
        // declared); the narrow last tuple does not cut the table.
        {"scanned", 5, 9, {{1, 2}, {3, 4, 5, 6}, {7}}, 5, 3, {4, 3}},
        // More than the file could hold is not believed.
        {"2^31 tuples", 2, 2147483648LL, {{1, 2}, {3, 4}}, 2, 2, {2, 2}},
        {"2^31-1 vectors", 2147483647, 2, {{1, 2}, {3, 4}}, 2, 2, {2, 2}},
        // Too few tuples declared: the read makes room and loses nothing.
        {"undercounted", 2, 2, {{1, 2}, {3, 4}, {5, 6}, {7, 8}}, 2, 2, {2, 4}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        WriteFile(dir.File("x.dif"), Header(c.vectors, c.tuples) + Tuples(c.data));
        DirectRead r = ReadDirect(dir.File("x.dif"));
        ASSERT_EQ(r.read, 0) << r.error;
        EXPECT_EQ(r.cols, c.cols);
        EXPECT_EQ(r.rows, c.rows);
        EXPECT_EQ(r.table.sizes.back(), c.final);
        const auto& last = c.data.back();
        EXPECT_EQ(r.table.texts[std::make_pair(int(last.size()), int(c.data.size()))], std::to_string(last.back()));
    }
}

TEST(DIFFile, IndicatorsTopicsAndStrings) {
    TempDir dir;
    // Topics in any case and with blanks, an unknown topic, every indicator, doubled quotes,
    // a text over two lines (as office programs write line breaks), a type this reader skips.
    WriteFile(dir.File("i.dif"), "  table  \n0,1\n\"My title\"\nvectors\n0,7\n\"\"\nSIZE\n0,9\n\"\"\nTuples \n0,1\n\"\"\n"
                                 "data\n0,0\n\"\"\n-1,0\nBOT\n0,1.5\nV\n0,9\ntrue\n0,9\nFALSE\n0,9\nNA\n0,9\nERROR\n"
                                 "0,9\nXYZ\n1,0\n\"say \"\"hi\"\"\"\n1,0\n\"two\nlines\"\n2,0\n\"skipped\"\n-1,0\nEOD\n");
    DIFFile f;
    ASSERT_EQ(f.Open(true, dir.File("i.dif").c_str(), nullptr), 0);
    EXPECT_EQ(f.GetTitle(), "My title");
    EXPECT_EQ(f.GetNumCols(), 8);  // a missing value is a column too
    RecordingTable t;
    t.SetDataSize(8, 1);
    ASSERT_EQ(f.Read(&t), 0);
    EXPECT_EQ(t.Row(1), (std::vector<std::string>{"1.5", "1", "0", "", "", "", "say \"hi\"", "two\nlines"}));
}

TEST(DIFFile, TextsOverSeveralLinesEndAtTheirClosingQuote) {
    TempDir dir;
    // Lines that look like a record's type line but are not followed by what that type takes
    // belong to the text; a line ending in a doubled quote does not close it, unless the
    // writer evidently leaves quotes undoubled or the next record follows.
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"\"a\n0,5\nb\"", "a\n0,5\nb"},
        {"\"a\n-1,0\nBOTTOM\"", "a\n-1,0\nBOTTOM"},
        {"\"a\n1,0\n1,0\nend\"", "a\n1,0\n1,0\nend"},
        {"\"say \"\"hi\"\"\nbye\"", "say \"hi\"\nbye"},
        {"\"quote at the end\"\"\n\"\"\"", "quote at the end\"\n\""},
        // Writers that do not double quotes (Gnumeric): a quote ending a line closes the text.
        {"\"say \"hi\"\"", "say \"hi\""},
        {"\"\"hi\"\"", "\"hi\""},
        {"\"x\"\"", "x\""},
        {"\"two\nlines \"q\"\"", "two\nlines \"q\""},
    };
    for (const auto& [written, want] : cases) {
        SCOPED_TRACE(written);
        WriteFile(dir.File("m.dif"), Header(2, 1) + "-1,0\nBOT\n1,0\n" + written + "\n0,7\nV\n-1,0\nEOD\n");
        DirectRead r = ReadDirect(dir.File("m.dif"));
        ASSERT_EQ(r.read, 0) << r.error;
        EXPECT_EQ(r.table.Row(1), (std::vector<std::string>{want, "7"}));
    }
}

TEST(DIFFile, DamagedFilesEndWithTheirCodes) {
    TempDir dir;
    // 769 in the header, 770 in a record.
    const std::string h = Header(1, 1), header = "An error was found in the DIF header.",
                      record = "An error was found in a DIF record.";
    const std::vector<std::tuple<const char*, std::string, const std::string&>> cases = {
        {"header value without comma", "TABLE\n0 1\n\"t\"\n", header},
        {"header cut short", "TABLE\n0,1\n", header},
        {"not DIF at all", std::string("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16), header},
        {"record without comma", h + "-1,0\nBOT\n0 5\nV\n-1,0\nEOD\n", record},
        {"unquoted string", h + "-1,0\nBOT\n1,0\nabc\n-1,0\nEOD\n", record},
        {"string never closed", h + "-1,0\nBOT\n1,0\n\"abc\n", record},
        // An open quote runs into the next record, or into the data end: the records after
        // it are not taken as lines of the text.
        {"open quote before a number", Header(2, 1) + "-1,0\nBOT\n1,0\n\"abc\n0,5\nV\n1,0\n\"x\"\n-1,0\nEOD\n", record},
        {"open quote before a string", Header(2, 1) + "-1,0\nBOT\n1,0\n\"abc\n1,0\n\"x\"\n-1,0\nEOD\n", record},
        {"open quote before the next tuple", Header(1, 2) + "-1,0\nBOT\n1,0\n\"abc\n-1,0\nBOT\n1,0\n\"x\"\n-1,0\nEOD\n",
         record},
        {"open quote before the data end", h + "-1,0\nBOT\n1,0\n\"abc\n-1,0\nEOD\n", record},
        {"no EOD", h + "-1,0\nBOT\n0,5\nV\n", record},
        {"no DATA", "TABLE\n0,1\n\"t\"\n", record},
        // The size pass looks at the first tuple only; the read finds the damage.
        {"damage after the first tuple", Header(1, 2) + "-1,0\nBOT\n0,1\nV\n-1,0\nBOT\n1,0\nabc\n", record},
    };
    for (const auto& [name, text, message] : cases) {
        SCOPED_TRACE(name);
        WriteFile(dir.File("d.dif"), text);
        auto e = ReadThroughEntryPoints("DIF File", dir.File("d.dif"));
        EXPECT_FALSE(e->Ok());
        EXPECT_EQ(e->error, message);
    }
}

TEST(DIFFile, WritesTheHeaderAndOneRecordPerCell) {
    TempDir dir;
    std::string error;
    ASSERT_TRUE(WriteThroughEntryPoints("DIF File", dir.File("out.dif"), *TableOf({{"1.5", "a"}, {"", "2"}}), &error));
    EXPECT_EQ(ReadFile(dir.File("out.dif")),
              "TABLE\n0,1\n\"out.dif\"\nVECTORS\n0,2\n\"\"\nTUPLES\n0,2\n\"\"\nDATA\n0,0\n\"\"\n"
              "-1,0\nBOT\n0,1.5\nV\n1,0\n\"a\"\n-1,0\nBOT\n1,0\n\"\"\n0,2\nV\n-1,0\nEOD\n");

    // A text's line break becomes a space. Numbers keep every digit whatever the locale: a
    // float as the shortest text that reads back as it, a whole number (which crosses the
    // plug-in boundary as a float) as its own text, leading zeros included.
    CommaDecimalLocale comma;
    auto table = TableOf({{"two\r\nlines", "0.000012345678", "-1234567.8", "12345678901", "Z\xC3\xBCrich",
                           "", "007", "16777217.5"}});
    table->GetFloatStringMatrix().Set(6, 1, std::int64_t{-9223372036854775807});
    ASSERT_TRUE(WriteThroughEntryPoints("DIF File", dir.File("more.dif"), *table, &error)) << error;
    EXPECT_NE(ReadFile(dir.File("more.dif")).find("1,0\n\"two lines\"\n0,1.2345678e-05\nV\n0,-1234567.8\nV\n"
                                                  "0,12345678901\nV\n1,0\n\"Z\xFCrich\"\n0,-9223372036854775807\nV\n"
                                                  "0,007\nV\n0,16777218\nV\n"),
              std::string::npos);
    auto back = ReadThroughEntryPoints("DIF File", dir.File("more.dif"));
    ASSERT_TRUE(back->Ok()) << back->error;
    // (A negative whole number reads as a float by the cell rules: column 6 is not compared.)
    for (int col : {2, 3, 4, 5, 7, 8}) EXPECT_EQ(back->Text(col, 1), table->GetStringValue(col, 1)) << col;
    EXPECT_EQ(back->table.GetInt64(4, 1), 12345678901);
}

TEST(DIFFile, QuotesAndCommasInTextsComeBackAsWritten) {
    TempDir dir;
    std::string error;
    auto table = TableOf({{"say \"hi\"", "a,b", "\"", "\"\"x\"\",", "two\nlines \"q\""}});
    ASSERT_TRUE(WriteThroughEntryPoints("DIF File", dir.File("q.dif"), *table, &error)) << error;
    EXPECT_NE(ReadFile(dir.File("q.dif")).find("1,0\n\"say \"\"hi\"\"\"\n1,0\n\"a,b\"\n1,0\n\"\"\"\"\n"), std::string::npos);
    auto back = ReadThroughEntryPoints("DIF File", dir.File("q.dif"));
    ASSERT_TRUE(back->Ok()) << back->error;
    ASSERT_EQ(back->Cols(), 5);
    const char* want[] = {"say \"hi\"", "a,b", "\"", "\"\"x\"\",", "two lines \"q\""};  // a line break is written as a space
    for (int col = 1; col <= 5; ++col) EXPECT_EQ(back->Text(col, 1), want[col - 1]) << col;
}

// DIF: files written by Excel, WPS and LibreOffice, the header's counts (believed, exchanged or
// replaced by a scan), value indicators, damaged records and headers, and the writer's bytes.
#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

#include "formats/text/DIFFile.h"
#include "formats/text/TextTestSupport.h"
#include "outside/utl/BinaryIO.h"
#include "outside/utl/ConfigurationSection.h"

using namespace kelto::test;

namespace {

const std::string kCorpus = std::string(KELTO_CORPUS_DIR) + "/dif/";

// A DIF text from a header and records, one item per line.
std::string Dif(const std::string& header, const std::vector<std::string>& items) {
    std::string s = header;
    for (const auto& i : items) s += i + "\n";
    return s;
}

std::string Header(int vectors, long long tuples, const std::string& title = "t") {
    return "TABLE\n0,1\n\"" + title + "\"\nVECTORS\n0," + std::to_string(vectors) + "\n\"\"\nTUPLES\n0," +
           std::to_string(tuples) + "\n\"\"\nDATA\n0,0\n\"\"\n";
}

std::string ErrorOf(SpreadsheetFile& f) {
    char buffer[300];
    f.GetErrorMessage(buffer, sizeof buffer);
    return buffer;
}

// Opens, sizes and reads a DIF file with the class itself.
struct DirectRead {
    int open = -1, size = -1, read = -1;
    int cols = -1, rows = -1;
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
        r.size = r.cols >= 0 ? 0 : f.GetStatus();
        r.table.SetDataSize(std::max(r.cols, 0), std::max(r.rows, 0));
        r.table.sizes.clear();
        r.read = f.Read(&r.table);
    }
    r.error = ErrorOf(f);
    return r;
}

}  // namespace

TEST(DIFFile, FilesFromOfficePrograms) {
    if (!std::filesystem::is_directory(kCorpus)) GTEST_SKIP() << "no sample corpus at " << kCorpus;
    {
        // Excel: VECTORS holds the tuple count, TUPLES the values per tuple.
        auto r = ReadThroughEntryPoints("DIF File", kCorpus + "sheetjs_ErrorTypes.dif");
        ASSERT_TRUE(r->Ok()) << r->error;
        EXPECT_EQ(r->rows, 14);
        EXPECT_EQ(r->cols, 10);
        EXPECT_EQ(r->Text(1, 1), "Error");
        EXPECT_EQ(r->Text(10, 1), "ErrTypeIsErr");
        EXPECT_TRUE(r->IsMissing(1, 2));   // ERROR
        EXPECT_EQ(r->Text(3, 2), "#NULL?");
        EXPECT_EQ(r->Number(7, 2), 16.0f);
        EXPECT_EQ(r->Number(8, 2), 1.0f);  // TRUE
        EXPECT_EQ(r->Number(9, 2), 0.0f);  // FALSE
        EXPECT_TRUE(r->IsMissing(1, 8));   // NA
        EXPECT_EQ(r->Text(2, 8), "#N/A!");
        EXPECT_EQ(r->Number(9, 8), 1.0f);
        EXPECT_EQ(r->Number(5, 9), 69.0f);
        EXPECT_EQ(r->Text(1, 12), "10/11/14");  // a V value that is no number stays text
        EXPECT_EQ(r->Number(1, 13), 1.0f);
        EXPECT_EQ(r->Text(2, 13), "TRUE!");
        EXPECT_EQ(r->Number(7, 14), 64.0f);
        EXPECT_TRUE(r->IsMissing(6, 14));
    }
    for (const char* name : {"sheetjs_write.dif", "sheetjs_artifacts_wps_write.dif"}) {
        SCOPED_TRACE(name);
        auto r = ReadThroughEntryPoints("DIF File", kCorpus + name);
        ASSERT_TRUE(r->Ok()) << r->error;
        ASSERT_EQ(r->Rows(), 4);
        ASSERT_EQ(r->Cols(), 4);
        EXPECT_EQ(r->Number(3, 1), 3.0f);
        EXPECT_TRUE(r->IsMissing(4, 1));
        EXPECT_EQ(r->Number(1, 2), 1.0f);
        EXPECT_EQ(r->Number(2, 2), 0.0f);
        EXPECT_EQ(r->Text(4, 2), "sheetjs");
        EXPECT_EQ(r->Text(3, 3), "2/19/14");
        EXPECT_EQ(r->Number(4, 3), 0.3f);  // a string in one, a number in the other
        EXPECT_EQ(r->Text(3, 4), "qux");
    }
    {
        auto r = ReadThroughEntryPoints("DIF File", kCorpus + "libreoffice_universal-content.dif");
        ASSERT_TRUE(r->Ok()) << r->error;
        EXPECT_EQ(r->Rows(), 4);
        EXPECT_EQ(r->Cols(), 8);
        EXPECT_EQ(r->Number(1, 1), 1.0f);
        EXPECT_EQ(r->Text(2, 1), "String1");
        EXPECT_EQ(r->Number(3, 1), 6.0f);
        EXPECT_EQ(r->Text(2, 2), "String2");
        EXPECT_EQ(r->Number(3, 3), -1.0f);
        EXPECT_EQ(r->Number(3, 4), 11.0f);
        EXPECT_TRUE(r->IsMissing(8, 4));
    }
}

TEST(DIFFile, HeaderCountsAreBelievedExchangedOrReplaced) {
    TempDir dir;
    auto tuple = [](std::initializer_list<std::string> values) {
        std::vector<std::string> items = {"-1,0", "BOT"};
        for (const auto& v : values) {
            items.push_back("0," + v);
            items.push_back("V");
        }
        return items;
    };
    auto join = [](std::initializer_list<std::vector<std::string>> parts) {
        std::vector<std::string> all;
        for (const auto& p : parts) all.insert(all.end(), p.begin(), p.end());
        all.push_back("-1,0");
        all.push_back("EOD");
        return all;
    };
    {
        // Three tuples of five values declared as 3 vectors and 5 tuples: exchanged.
        auto items = join({tuple({"1", "2", "3", "4", "5"}), tuple({"6", "7", "8", "9", "10"}),
                           tuple({"11", "12", "13", "14", "15"})});
        WriteFile(dir.File("x.dif"), Dif(Header(3, 5), items));
        DirectRead r = ReadDirect(dir.File("x.dif"));
        ASSERT_EQ(r.read, 0) << r.error;
        EXPECT_EQ(r.cols, 5);
        EXPECT_EQ(r.rows, 3);
        EXPECT_EQ(r.table.Row(3), (std::vector<std::string>{"11", "12", "13", "14", "15"}));
    }
    {
        // Counts that fit nothing: the size comes from a scan (widest tuple, number of
        // tuples, no narrower than declared), and the read ends with the size it saw. The
        // last tuple is the narrow one: the table keeps the widest.
        auto items = join({tuple({"1", "2"}), tuple({"3", "4", "5", "6"}), tuple({"7"})});
        WriteFile(dir.File("scan.dif"), Dif(Header(5, 9), items));
        DirectRead r = ReadDirect(dir.File("scan.dif"));
        ASSERT_EQ(r.read, 0) << r.error;
        EXPECT_EQ(r.cols, 5);
        EXPECT_EQ(r.rows, 3);
        EXPECT_EQ(r.table.sizes.back(), std::make_pair(4, 3));
        EXPECT_EQ(r.table.Row(2), (std::vector<std::string>{"3", "4", "5", "6"}));
    }
    {
        // A header that claims far more than the file holds (2^31 tuples, 2^31-1 vectors) is
        // not believed: the size is what the tuples are.
        auto items = join({tuple({"1", "2"}), tuple({"3", "4"})});
        WriteFile(dir.File("huge.dif"), Dif(Header(2, 2147483648LL), items));
        DirectRead r = ReadDirect(dir.File("huge.dif"));
        ASSERT_EQ(r.read, 0) << r.error;
        EXPECT_EQ(r.cols, 2);
        EXPECT_EQ(r.rows, 2);
        WriteFile(dir.File("huge2.dif"), Dif(Header(2147483647, 2), items));
        r = ReadDirect(dir.File("huge2.dif"));
        ASSERT_EQ(r.read, 0) << r.error;
        EXPECT_EQ(r.cols, 2);
        EXPECT_EQ(r.rows, 2);
        auto e = ReadThroughEntryPoints("DIF File", dir.File("huge2.dif"));
        ASSERT_TRUE(e->Ok()) << e->error;
        EXPECT_EQ(e->Rows(), 2);
    }
    {
        // A header that undercounts the tuples: the read makes room and loses nothing.
        auto items = join({tuple({"1", "2"}), tuple({"3", "4"}), tuple({"5", "6"}), tuple({"7", "8"})});
        WriteFile(dir.File("under.dif"), Dif(Header(2, 2), items));
        auto e = ReadThroughEntryPoints("DIF File", dir.File("under.dif"));
        ASSERT_TRUE(e->Ok()) << e->error;
        EXPECT_EQ(e->rows, 2);
        EXPECT_EQ(e->Rows(), 4);
        EXPECT_EQ(e->Number(2, 4), 8.0f);
    }
}

TEST(DIFFile, IndicatorsTopicsAndStrings) {
    TempDir dir;
    const std::string header = "  table  \n0,1\n\"My title\"\nvectors\n0,7\n\"\"\nSIZE\n0,9\n\"\"\nTuples \n0,1\n\"\"\n"
                               "data\n0,0\n\"\"\n";
    std::vector<std::string> items = {"-1,0", "BOT", "0,1.5", "V", "0,9", "true", "0,9", "FALSE", "0,9", "NA",
                                      "0,9", "ERROR", "0,9", "XYZ",
                                      // strings: doubled quotes, a text over two lines (as office
                                      // programs write line breaks), a type this reader skips
                                      "1,0", "\"say \"\"hi\"\"\"", "1,0", "\"two", "lines\"", "2,0", "\"skipped\"",
                                      "-1,0", "EOD"};
    WriteFile(dir.File("i.dif"), Dif(header, items));
    DIFFile f;
    ASSERT_EQ(f.Open(true, dir.File("i.dif").c_str(), nullptr), 0);
    EXPECT_EQ(f.GetTitle(), "My title");
    EXPECT_EQ(f.GetNumCols(), 8);  // a missing value is a column too
    EXPECT_EQ(f.GetNumRows(), 1);
    RecordingTable t;
    t.SetDataSize(8, 1);
    ASSERT_EQ(f.Read(&t), 0);
    EXPECT_EQ(t.Row(1), (std::vector<std::string>{"1.5", "1", "0", "", "", "", "say \"hi\"", "two\nlines"}));
}

TEST(DIFFile, DamagedFilesEndWithTheirCodes) {
    TempDir dir;
    struct Case {
        const char* name;
        std::string text;
        int openCode;      // from Open
        int readCode;      // from the size pass and read, when Open succeeds
        const char* message;
    };
    const std::string h = Header(1, 1);
    const std::vector<Case> cases = {
        {"header value without comma", "TABLE\n0 1\n\"t\"\n", 769, 0, "An error was found in the DIF header."},
        {"header cut short", "TABLE\n0,1\n", 769, 0, "An error was found in the DIF header."},
        {"record without comma", h + "-1,0\nBOT\n0 5\nV\n-1,0\nEOD\n", 0, 770, "An error was found in a DIF record."},
        {"unquoted string", h + "-1,0\nBOT\n1,0\nabc\n-1,0\nEOD\n", 0, 770, "An error was found in a DIF record."},
        {"string never closed", h + "-1,0\nBOT\n1,0\n\"abc\n", 0, 770, "An error was found in a DIF record."},
        {"no EOD", h + "-1,0\nBOT\n0,5\nV\n", 0, 770, "An error was found in a DIF record."},
        {"no DATA at all", "TABLE\n0,1\n\"t\"\n", 0, 770, "An error was found in a DIF record."},
        {"not DIF", std::string("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16), 769, 0, "An error was found in the DIF header."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        WriteFile(dir.File("d.dif"), c.text);
        DirectRead r = ReadDirect(dir.File("d.dif"));
        EXPECT_EQ(r.open, c.openCode);
        if (c.openCode == 0) {
            EXPECT_EQ(r.size == 0 ? r.read : r.size, c.readCode);
            EXPECT_EQ(r.cols < 0 || r.read != 0, true);
        }
        EXPECT_EQ(r.error, c.message);
        auto e = ReadThroughEntryPoints("DIF File", dir.File("d.dif"));
        EXPECT_FALSE(e->Ok());
        EXPECT_EQ(e->error, c.message);
    }
    DIFFile missing;
    EXPECT_EQ(missing.Open(true, dir.File("none.dif").c_str(), nullptr), 768);
    EXPECT_EQ(ErrorOf(missing), "Failed to open stream for reading.");
    OptionsBytes bad("junk");
    WriteFile(dir.File("ok.dif"), h + "-1,0\nEOD\n");
    DIFFile badOptions;
    EXPECT_EQ(badOptions.Open(true, dir.File("ok.dif").c_str(), &bad.record), 5);
}

TEST(DIFFile, WritesTheHeaderAndOneRecordPerCell) {
    TempDir dir;
    auto table = TableOf({{"1.5", "a"}, {"", "2"}});
    std::string error;
    ASSERT_TRUE(WriteThroughEntryPoints("DIF File", dir.File("out.dif"), *table, &error)) << error;
    EXPECT_EQ(ReadFile(dir.File("out.dif")),
              "TABLE\n0,1\n\"out.dif\"\nVECTORS\n0,2\n\"\"\nTUPLES\n0,2\n\"\"\nDATA\n0,0\n\"\"\n"
              "-1,0\nBOT\n0,1.5\nV\n1,0\n\"a\"\n"
              "-1,0\nBOT\n1,0\n\"\"\n0,2\nV\n"
              "-1,0\nEOD\n");

    // Line breaks inside a text become one line; numbers go in six significant digits, the
    // large whole number too (a number cell crosses the boundary as a float).
    table = TableOf({{"two\r\nlines", "0.000012345678", "-1234567.8", "12345678901", "Z\xC3\xBCrich"}});
    ASSERT_TRUE(WriteThroughEntryPoints("DIF File", dir.File("more.dif"), *table, &error)) << error;
    const std::string text = ReadFile(dir.File("more.dif"));
    EXPECT_NE(text.find("1,0\n\"two lines\"\n0,1.23457e-05\nV\n0,-1.23457e+06\nV\n0,1.23457e+10\nV\n"
                        "1,0\n\"Z\xFCrich\"\n"),
              std::string::npos)
        << text;

    // What we write reads back the same (the encoding is guessed from the bytes).
    auto back = ReadThroughEntryPoints("DIF File", dir.File("more.dif"));
    ASSERT_TRUE(back->Ok()) << back->error;
    EXPECT_EQ(back->Text(1, 1), "two lines");
    EXPECT_EQ(back->Text(5, 1), "Z\xC3\xBCrich");

    EXPECT_FALSE(WriteThroughEntryPoints("DIF File", dir.File("no/dir/x.dif"), *table, &error));
    EXPECT_EQ(error, "Failed to open stream for reading.");
    DIFFile reader;
    WriteFile(dir.File("r.dif"), Header(1, 1) + "-1,0\nEOD\n");
    ASSERT_EQ(reader.Open(true, dir.File("r.dif").c_str(), nullptr), 0);
    EXPECT_EQ(reader.Write(table.get()), 3);
}

TEST(DIFFile, OptionsRegistrationAndKindOfFile) {
    TempDir dir;
    const std::string utf8 = Header(1, 1) + "-1,0\nBOT\n1,0\n\"Z\xC3\xBCrich \xD0\x9C\"\n-1,0\nEOD\n";
    WriteFile(dir.File("u.dif"), utf8);
    auto r = ReadThroughEntryPoints("DIF File", dir.File("u.dif"));
    ASSERT_TRUE(r->Ok()) << r->error;
    EXPECT_EQ(r->Text(1, 1), "Z\xC3\xBCrich \xD0\x9C");

    // The default options hold the encoding only.
    std::string bytes = TakeBytes(QmImportGetFileOptions(FormatIndex("DIF File"), dir.File("u.dif").c_str(), false));
    std::istringstream in(bytes);
    std::string xml;
    ASSERT_TRUE(ReadBinaryString(in, xml));
    auto doc = TinyXML2Section::CreateXMLSectionFromString(xml.c_str());
    auto settings = doc->GetSection("Settings");
    ASSERT_TRUE(settings);
    EXPECT_EQ(settings->GetKeyNames(), std::vector<std::string>{"Encoding"});
    std::string encoding;
    settings->ReadKey("Encoding", encoding);
    EXPECT_EQ(encoding, "utf8");

    const QmImportFileFormatInfo* info = QmImportGetFileFormatInfo(FormatIndex("DIF File"));
    EXPECT_STREQ(info->filter, "DIF Files (*.dif)");
    EXPECT_STREQ(info->saveFilter, "DIF Files (*.dif)");
    EXPECT_STREQ(info->extensions, ".dif");
    const signed char flags[6] = {info->canWrite, info->canRead, info->multiFile,
                                  info->tableFlag, info->formatFlag, info->priority};
    EXPECT_EQ(std::vector<signed char>(flags, flags + 6), (std::vector<signed char>{1, 1, 1, 1, 1, 1}));

    // Likely for text and for the extension, never certain; not for other binary files.
    WriteFile(dir.File("bin.dat"), std::string("\0\1\2\3", 4));
    WriteFile(dir.File("bin.DIF"), std::string("\0\1\2\3", 4));
    const int dif = FormatIndex("DIF File");
    EXPECT_EQ(QmImportIsCorrectFileType(dif, dir.File("u.dif").c_str()), 1);
    EXPECT_EQ(QmImportIsCorrectFileType(dif, dir.File("bin.DIF").c_str()), 1);
    EXPECT_EQ(QmImportIsCorrectFileType(dif, dir.File("bin.dat").c_str()), 0);

    // The factory's public constructor registers the format again, in the same place.
    const int before = QmImportSizeFileFormatsSupported();
    static DiffFileFactory again;
    EXPECT_EQ(QmImportSizeFileFormatsSupported(), before);
    EXPECT_EQ(FormatIndex("DIF File"), dif);
    r = ReadThroughEntryPoints("DIF File", dir.File("u.dif"));
    EXPECT_TRUE(r->Ok()) << r->error;
}

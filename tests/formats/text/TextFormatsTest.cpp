// The text formats side by side: their kind-of-file answers, the encoding they
// find when given no options, the codes of their failures, and cancellations passed on.
#include <gtest/gtest.h>

#include <algorithm>

#include "formats/text/CsvFile.h"
#include "formats/text/DIFFile.h"
#include "formats/text/TextTestSupport.h"
#include "outside/utl/Exception.h"

using namespace kelto::test;

namespace {

const std::string kZurich = "Z\xC3\xBCrich", kMoskva = "\xD0\x9C\xD0\xBE\xD1\x81\xD0\xBA\xD0\xB2\xD0\xB0";

std::string DifOf(const std::string& a, const std::string& b) {
    return "TABLE\n0,1\n\"t\"\nVECTORS\n0,2\n\"\"\nTUPLES\n0,1\n\"\"\nDATA\n0,0\n\"\"\n-1,0\nBOT\n1,0\n\"" + a +
           "\"\n1,0\n\"" + b + "\"\n-1,0\nEOD\n";
}

}  // namespace

TEST(TextFormats, KindOfFile) {
    TempDir dir;
    WriteFile(dir.File("plain.txt"), "a\tb\n");
    WriteFile(dir.File("bin.DIF"), std::string("\0\1\2\3", 4));
    WriteFile(dir.File("bin.dat"), std::string("\0\1\2\3", 4));
    // The kind-of-file answers for plain.txt, bin.DIF and bin.dat (DIF: likely for text and for
    // its extension, never certain; CSV: never for a file the binary test refuses).
    const std::pair<const char*, std::vector<int>> formats[] = {
        {"Text File", {1, 1, 1}}, {"Text UTF-8 File", {0, 0, 0}}, {"CSV File", {1, 0, 0}},
        {"DIF File", {1, 1, 0}}, {"Thermo SIEVE File", {0, 0, 0}}};
    for (const auto& [name, want] : formats) {
        const int index = FormatIndex(name);
        std::vector<int> got;
        for (const char* file : {"plain.txt", "bin.DIF", "bin.dat"})
            got.push_back(QmImportIsCorrectFileType(index, dir.File(file).c_str()));
        EXPECT_EQ(got, want) << name;
    }
    // A factory made again (its constructor is public) registers its format in the same place.
    const int before = QmImportSizeFileFormatsSupported(), dif = FormatIndex("DIF File");
    static DiffFileFactory again;
    EXPECT_EQ(QmImportSizeFileFormatsSupported() * 100 + FormatIndex("DIF File"), before * 100 + dif);
}

TEST(TextFormats, WithoutOptionsTheEncodingIsDetected) {
    TempDir dir;
    const std::pair<const char*, std::string> files[] = {
        {"Text File", kZurich + "\t" + kMoskva + "\n"}, {"CSV File", kZurich + "," + kMoskva + "\n"},
        {"DIF File", DifOf(kZurich, kMoskva)}};
    for (const auto& [format, utf8] : files) {
        SCOPED_TRACE(format);
        WriteFile(dir.File("utf8"), utf8);
        WriteFile(dir.File("utf16"), "\xFF\xFE" + *Iconv("UTF-16LE", "UTF-8", utf8));
        WriteFile(dir.File("utf16 without mark"), *Iconv("UTF-16LE", "UTF-8", utf8));
        for (const char* file : {"utf8", "utf16", "utf16 without mark"}) {
            auto r = ReadThroughEntryPoints(format, dir.File(file));
            ASSERT_TRUE(r->Ok()) << r->error;
            EXPECT_EQ(r->Text(1, 1) + "|" + r->Text(2, 1), kZurich + "|" + kMoskva) << file;
        }
        // The default options fetched for the file name what was detected (DIF's hold only the
        // encoding); plain CSV gives none.
        QmImportOpenOptions* defaults = QmImportGetFileOptions(FormatIndex(format), dir.File("utf8").c_str(), false);
        if (std::string(format) == "CSV File") {
            EXPECT_EQ(defaults, nullptr);
            continue;
        }
        auto keys = SettingsKeys(TakeBytes(defaults));
        EXPECT_EQ(keys["Encoding"], "utf8");
        EXPECT_EQ(keys.size(), std::string(format) == "DIF File" ? 1u : 3u);
    }

    // An empty record receives the defaults, and the defaults apply: the legacy code page for
    // text (the UTF-8 bytes read as windows-1252), a comma for CSV.
    WriteFile(dir.File("a.txt"), files[0].second);
    WriteFile(dir.File("a.csv"), "a;b;c,d\n");
    TextFile text;
    CsvFile csv;
    using Keys = std::map<std::string, std::string>;
    for (auto [file, path, keys, cell] :
         {std::tuple<SpreadsheetFile*, std::string, Keys, std::string>{
              &text, dir.File("a.txt"), Keys{{"Delimiter", "%09"}, {"Encoding", ""}, {"IgnoreConsecutiveDelimiters", "false"}},
              "Z\xC3\x83\xC2\xBCrich"},
          {&csv, dir.File("a.csv"), Keys{{"Delimiter", "%2C"}, {"Encoding", ""}}, "a;b;c"}}) {
        QmImportOpenOptions empty{0, nullptr};
        ASSERT_EQ(file->Open(true, path.c_str(), &empty), 0);
        RecordingTable t;
        ASSERT_EQ(file->Read(&t), 0);
        EXPECT_EQ(SettingsKeys(std::string(empty.data, static_cast<std::size_t>(empty.size))), keys);
        EXPECT_EQ(t.texts[std::make_pair(1, 1)], cell);
    }
}

TEST(TextFormats, CrAloneEndsALineInEveryFormat) {
    TempDir dir;
    // Each file with LF, CR LF and CR alone: the same table. `cells`: column, row, text.
    const std::string sieve = "FrameID\tMZStart\tMZStop\tTimeStart\tTimeStop\tpValue\tRatio\tUpperBound\tLowerBound\tFOM1\n"
                              "1\t100\t102\t1\t3\t0.5\t1.5\t2\t1\t0.9\n2\t200\t202\t5\t7\t0.5\t1.5\t2\t1\t0.8\n";
    struct Case {
        const char* format;
        std::string text;
        const char* size;
        std::vector<std::tuple<int, int, std::string>> cells;
    };
    const Case cases[] = {
        {"Text File", "a\tb\nc\td\n", "2x2", {{1, 1, "a"}, {2, 2, "d"}}},
        {"CSV File", "a,b\nc,\"d\ne\"\n", "2x2", {{1, 1, "a"}, {1, 2, "c"}, {2, 2, "d\ne"}}},
        {"DIF File", DifOf("a", "b"), "2x1", {{1, 1, "a"}, {2, 1, "b"}}},
        {"Thermo SIEVE File", sieve, "3x12", {{1, 4, "AverageMZ"}, {2, 4, "101"}, {3, 4, "201"}, {3, 12, "0.8"}}},
    };
    for (const Case& c : cases) {
        for (const std::string end : {"\n", "\r\n", "\r"}) {
            SCOPED_TRACE(std::string(c.format) + (end == "\r" ? ", CR" : end == "\n" ? ", LF" : ", CR LF"));
            std::string text;
            for (char ch : c.text) text += ch == '\n' ? end : std::string(1, ch);
            WriteFile(dir.File("lines.txt"), text);
            auto r = ReadThroughEntryPoints(c.format, dir.File("lines.txt"));
            ASSERT_TRUE(r->Ok()) << r->error;
            EXPECT_EQ(r->Size(), c.size);
            for (const auto& [col, row, want] : c.cells) EXPECT_EQ(r->Text(col, row), want) << col << "," << row;
        }
    }
    // A SIEVE header ended by a CR alone is recognised.
    std::string crSieve = sieve;
    std::replace(crSieve.begin(), crSieve.end(), '\n', '\r');
    WriteFile(dir.File("cr.txt"), crSieve);
    EXPECT_EQ(QmImportIsCorrectFileType(FormatIndex("Thermo SIEVE File"), dir.File("cr.txt").c_str()), 1);
}

TEST(TextFormats, FailuresCarryTheirCodes) {
    TempDir dir;
    const std::string missing = dir.File("missing"), binary = dir.File("bin.dat"), txt = dir.File("ok.txt"),
                      dif = dir.File("ok.dif"), noDir = dir.File("no/such/dir.out");
    WriteFile(binary, std::string("\x7f" "ELF\x02\x01\x01\0\0\0\0\0", 12));
    WriteFile(txt, "a\n");
    WriteFile(dif, DifOf("a", "b"));
    // The start of a compound (OLE) file, as .xls files begin.
    const std::string ole = dir.File("book.xls");
    WriteFile(ole, std::string("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8) + std::string(16, '\0') + "\x3E\0\x03\0\xFE\xFF" +
                       std::string(482, '\xFF'));
    OptionsBytes bad("not an options document");
    const std::string open = "Failed to open stream for reading.", options = "Incorrect format of file open options",
                      binaryFile = "This file appears to be a binary file and cannot be imported. Only ordinary text "
                                   "(ASCII) files can be imported.";
    const std::tuple<const char*, std::string, QmImportOpenOptions*, std::string> reads[] = {
        {"Text File", missing, nullptr, open},
        {"Text File", dir.Path().string(), nullptr, open},  // a directory
        {"Text File", binary, nullptr, binaryFile},
        {"CSV File", binary, nullptr, binaryFile},
        {"CSV File", ole, nullptr, binaryFile},
        {"Text File", txt, &bad.record, options},
        {"CSV File", missing, nullptr, open},
        {"CSV File", txt, &bad.record, options},
        {"DIF File", missing, nullptr, open},
        {"DIF File", dif, &bad.record, options},
    };
    for (const auto& [format, path, record, message] : reads) {
        auto r = ReadThroughEntryPoints(format, path, record);
        EXPECT_FALSE(r->Ok()) << format << " " << path;
        EXPECT_EQ(r->error, message) << format << " " << path;
    }
    // NULs are what UTF-16 is made of: with that encoding in force the test does not apply.
    const std::string wide = dir.File("wide.csv");
    WriteFile(wide, *Iconv("UTF-16LE", "UTF-8", "a,b\n"));
    CsvFileOptions utf16;
    utf16.SetEncoding("utf16le");
    OptionsBytes utf16Record(WrittenBytes(utf16));
    for (QmImportOpenOptions* record : {static_cast<QmImportOpenOptions*>(nullptr), &utf16Record.record}) {
        auto r = ReadThroughEntryPoints("CSV File", wide, record);
        ASSERT_TRUE(r->Ok()) << r->error;
        EXPECT_EQ(r->Text(1, 1) + r->Text(2, 1), "ab");
    }
    std::string error;
    auto table = TableOf({{"x"}});
    for (const auto& [format, message] : {std::pair<const char*, std::string>{"Text File", open}, {"DIF File", open},
                                          {"CSV File", "Can not write csv files."}}) {
        EXPECT_FALSE(WriteThroughEntryPoints(format, noDir, *table, &error)) << format;
        EXPECT_EQ(error, message) << format;
    }
}

namespace {

// The options step of each format stops, as a host's options dialog would: cancelled by the
// user, or failing.
[[noreturn]] void Stop(bool cancel) {
    if (cancel) throw CancelException();
    throw Exception("the options could not be made");
}
struct StoppingText : TextFile {
    explicit StoppingText(bool c) : cancel(c) {}
    TextFileOptions GetTextFileOptions() override { Stop(cancel); }
    bool cancel;
};
struct StoppingDif : DIFFile {
    explicit StoppingDif(bool c) : cancel(c) {}
    DifFileOptions GetDifFileOptions() override { Stop(cancel); }
    bool cancel;
};
struct StoppingCsv : CsvFile {
    explicit StoppingCsv(bool c) : cancel(c) {}
    std::unique_ptr<CsvFileOptions> GetCsvFileOptions(const char*) override { Stop(cancel); }
    bool cancel;
};

class CancellingTable : public RecordingTable {
public:
    void SetDataSize(int, int) override { throw CancelException(); }
};

}  // namespace

TEST(TextFormats, ACancellationIsPassedOnAndOtherFailuresBecomeCodes) {
    TempDir dir;
    const std::string txt = dir.File("a.txt"), dif = dir.File("a.dif");
    WriteFile(txt, "a,b\n");
    WriteFile(dif, DifOf("a", "b"));
    EXPECT_THROW(StoppingText(true).GetFileReadOptions(txt.c_str(), false), CancelException);
    EXPECT_THROW(StoppingText(true).Open(true, txt.c_str(), nullptr), CancelException);
    EXPECT_THROW(StoppingDif(true).GetFileReadOptions(dif.c_str(), false), CancelException);
    EXPECT_THROW(StoppingDif(true).Open(true, dif.c_str(), nullptr), CancelException);
    EXPECT_THROW(StoppingCsv(true).GetFileReadOptions(txt.c_str(), false), CancelException);
    CsvFile csv;  // a target that cancels while the CSV reader delivers
    ASSERT_EQ(csv.Open(true, txt.c_str(), nullptr), 0);
    CancellingTable target;
    EXPECT_THROW(csv.Read(&target), CancelException);

    EXPECT_EQ(StoppingText(false).Open(true, txt.c_str(), nullptr), 512);
    EXPECT_EQ(StoppingDif(false).Open(true, dif.c_str(), nullptr), 768);
    StoppingCsv failing(false);
    EXPECT_EQ(failing.GetFileReadOptions(txt.c_str(), false), nullptr);
    EXPECT_EQ(ErrorOf(failing), "Incorrect format of file open options");
}

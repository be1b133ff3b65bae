// Delimited text: how lines split into cells, the size pass, the reading loop and its row
// skipping, the options document, the encoding table, encodings on disk, and writing.
#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

#include "formats/text/TextFile.h"
#include "formats/text/TextTestSupport.h"
#include "outside/utl/BinaryIO.h"
#include "outside/utl/ConfigurationSection.h"
#include "outside/utl/QmTextIOStream.h"

using namespace kelto::test;

namespace {

// Exposes the splitting step that derived formats use.
class SplittingTextFile : public TextFile {
public:
    using TextFile::GetCell;
};

std::vector<std::string> Split(const std::string& line, const std::string& delimiter, bool ignore) {
    std::vector<std::string> cells;
    int n = TextFile::SplitLine(line.data(), line.data() + line.size(), delimiter, ignore,
                                [&](int, const char* p, std::size_t len) {
                                    cells.emplace_back(p, len);
                                    return true;
                                });
    EXPECT_EQ(n, static_cast<int>(cells.size()));
    return cells;
}

std::vector<std::string> SplitWithGetCell(std::string line, const std::string& delimiter, bool ignore) {
    SplittingTextFile f;
    TextFileOptions o;
    o.SetDelimiter(delimiter);
    o.SetIgnoreConsecutiveDelimiters(ignore);
    std::vector<std::string> cells;
    char* cursor = line.data();
    for (int guard = 0; guard < 100; ++guard) {
        char* cell = f.GetCell(&cursor, o);
        if (!cell) break;
        cells.emplace_back(cell);
    }
    return cells;
}

// The "Settings" section of an options record, for looking at its keys.
std::unique_ptr<ConfigurationSection> SettingsOf(const QmImportOpenOptions& record, std::unique_ptr<TinyXML2Section>& doc) {
    std::istringstream in(std::string(record.data, static_cast<std::size_t>(record.size)));
    std::string text;
    if (!ReadBinaryString(in, text)) return nullptr;
    doc = TinyXML2Section::CreateXMLSectionFromString(text.c_str());
    return doc ? doc->GetSection("Settings") : nullptr;
}

std::string OptionsDocument(const std::string& settingsKeys) {
    std::string xml = "<Configuration><Section name=\"Settings\">" + settingsKeys + "</Section></Configuration>";
    std::ostringstream out;
    WriteBinaryString(out, xml);
    return out.str();
}

std::string ErrorOf(SpreadsheetFile& f) {
    char buffer[300];
    f.GetErrorMessage(buffer, sizeof buffer);
    return buffer;
}

}  // namespace

TEST(TextSplitting, LinesSplitIntoCellsByTheDelimiterRules) {
    struct Case {
        std::string delimiter;
        bool ignore;
        std::string line;
        std::vector<std::string> cells;
    };
    const std::vector<Case> cases = {
        {"\t", false, "a\t\tb", {"a", "", "b"}},
        {"\t", true, "a\t\tb", {"a", "b"}},
        {"\t", false, "a\t", {"a"}},                // a trailing delimiter opens no cell
        {"\t", false, "\ta", {"", "a"}},            // a leading one gives an empty first cell
        {"\t", true, "\t\ta", {"", "a"}},           // ... with merging too
        {"\t", false, "\t", {""}},
        {"\t", false, "\t\t", {"", ""}},
        {";;", false, "x;;y", {"x", "y"}},
        {";;", false, "x;;;y", {"x", ";y"}},        // leftmost match, no overlap
        {";;", true, "x;;;;y", {"x", "y"}},
        {"\t", false, "a\tb\r", {"a", "b"}},        // CR LF ends like LF
        {"\t", false, "a\r\r", {"a\r"}},            // only one CR goes
        {"\t", false, "", {}},
        {"\t", false, "\r", {}},
        {"", false, "a\tb", {"a\tb"}},              // no delimiter: the whole line, no endless loop
        {"\xC2\xA7", false, "1\xC2\xA7\xC3\xA4", {"1", "\xC3\xA4"}},  // multi-byte delimiter
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("line '" + c.line + "' delimiter '" + c.delimiter + "' merge " + std::to_string(c.ignore));
        EXPECT_EQ(Split(c.line, c.delimiter, c.ignore), c.cells);
        EXPECT_EQ(TextFile::CountCells(c.line, c.delimiter, c.ignore), static_cast<int>(c.cells.size()));
        if (!c.delimiter.empty()) {
            // The step offered to derived formats splits the same way.
            EXPECT_EQ(SplitWithGetCell(c.line, c.delimiter, c.ignore), c.cells);
        }
    }
}

TEST(TextFile, SizeIsTheLineCountAndTheWidestLine) {
    TempDir dir;
    // The empty line in the middle is a row without cells; the empty last line is not a row.
    WriteFile(dir.File("a.txt"), "a\tb\n\nc\td\te\r\n\n");
    auto r = ReadThroughEntryPoints("Text File", dir.File("a.txt"));
    ASSERT_TRUE(r->Ok()) << r->error;
    EXPECT_EQ(r->rows, 3);
    EXPECT_EQ(r->cols, 3);
    EXPECT_EQ(r->Text(2, 1), "b");
    EXPECT_TRUE(r->IsMissing(1, 2));
    EXPECT_EQ(r->Text(3, 3), "e");  // the CR is not part of the cell

    // Numbers travel as text and the table decides: these become numbers, "007" keeps its zeros.
    WriteFile(dir.File("n.txt"), "1.5\t-2\t1e3\tabc\t007\n");
    r = ReadThroughEntryPoints("Text File", dir.File("n.txt"));
    ASSERT_TRUE(r->Ok()) << r->error;
    EXPECT_EQ(r->Number(1, 1), 1.5f);
    EXPECT_EQ(r->Number(2, 1), -2.0f);
    EXPECT_EQ(r->Number(3, 1), 1000.0f);
    EXPECT_EQ(r->Text(4, 1), "abc");
    EXPECT_EQ(r->Text(5, 1), "007");

    // A file without cells fails the size query, as hosts expect of an empty file.
    WriteFile(dir.File("empty.txt"), "");
    r = ReadThroughEntryPoints("Text File", dir.File("empty.txt"));
    EXPECT_TRUE(r->opened);
    EXPECT_FALSE(r->sized);
    EXPECT_EQ(r->cols, -1);
    WriteFile(dir.File("blank.txt"), "\n\n\n");
    r = ReadThroughEntryPoints("Text File", dir.File("blank.txt"));
    EXPECT_FALSE(r->sized);
}

TEST(TextFile, ReadingFollowsTheTargetsRowOrder) {
    TempDir dir;
    WriteFile(dir.File("six.txt"), "1\n2\n3\n4\n5\n6\n");
    auto readWith = [&](std::function<int(int)> next, RecordingTable& t) {
        TextFile f;
        EXPECT_EQ(f.Open(true, dir.File("six.txt").c_str(), nullptr), 0);
        t.nextRow = std::move(next);
        return f.Read(&t);
    };
    {
        // Every other line: the row given with each cell is its line number.
        RecordingTable t;
        EXPECT_EQ(readWith([](int row) { return row + 2; }, t), 0);
        std::map<std::pair<int, int>, std::string> want = {{{1, 2}, "2"}, {{1, 4}, "4"}, {{1, 6}, "6"}};
        EXPECT_EQ(t.texts, want);
    }
    {
        // A negative answer ends the read, successfully.
        RecordingTable t;
        EXPECT_EQ(readWith([](int row) { return row < 3 ? row + 1 : -1; }, t), 0);
        EXPECT_EQ(t.texts.size(), 3u);
        EXPECT_EQ(t.texts.count({1, 4}), 0u);
    }
    {
        // An answer that does not move on ends the read instead of repeating a line for ever.
        RecordingTable t;
        EXPECT_EQ(readWith([](int row) { return row == 0 ? 2 : row; }, t), 0);
        EXPECT_EQ(t.texts.size(), 1u);
        EXPECT_EQ(t.texts[std::make_pair(1, 2)], "2");
        EXPECT_LT(t.nextRowCalls, 5);
    }
    {
        // A window of lines and cells.
        WriteFile(dir.File("grid.txt"), "a1\tb1\tc1\na2\tb2\tc2\na3\tb3\tc3\na4\tb4\tc4\n");
        TextFile f;
        ASSERT_EQ(f.Open(true, dir.File("grid.txt").c_str(), nullptr), 0);
        RecordingTable t;
        EXPECT_EQ(f.Read(&t, 2, 3, 2, 2, f.GetOptions()), 0);
        std::map<std::pair<int, int>, std::string> want = {{{2, 2}, "b2"}, {{2, 3}, "b3"}};
        EXPECT_EQ(t.texts, want);
    }
}

TEST(TextFileOptions, DocumentRoundTripsAndKeepsItsKeys) {
    TextFileOptions o;
    o.SetDelimiter(";%\t x");
    o.SetEncoding("shiftjis");
    o.SetIgnoreConsecutiveDelimiters(true);
    QmImportOpenOptions record{0, nullptr};
    o.Write(&record);
    ASSERT_GT(record.size, 0);
    std::string bytes(record.data, static_cast<std::size_t>(record.size));
    delete[] record.data;

    OptionsBytes copy(bytes);
    TextFileOptions back;
    ASSERT_TRUE(back.Read(&copy.record));
    EXPECT_EQ(back.GetDelimiter(), ";%\t x");
    EXPECT_EQ(back.GetEncoding(), "shiftjis");
    EXPECT_TRUE(back.GetIgnoreConsecutiveDelimiters());

    std::unique_ptr<TinyXML2Section> doc;
    auto settings = SettingsOf(copy.record, doc);
    ASSERT_TRUE(settings);
    std::string stored;
    ASSERT_TRUE(settings->ReadKey("Delimiter", stored));
    EXPECT_EQ(stored, "%3B%25%09%20x");  // percent-encoded on disk
    EXPECT_TRUE(settings->HasKey("Encoding"));
    EXPECT_TRUE(settings->HasKey("IgnoreConsecutiveDelimiters"));

    // A document that lacks a key, has no "Settings", or is no document changes nothing.
    for (const std::string& bad :
         {OptionsDocument("<Key name=\"Delimiter\" value=\"%3B\"/><Key name=\"IgnoreConsecutiveDelimiters\" value=\"true\"/>"),
          std::string("\x05\x00\x00\x00<a/>x", 9), std::string("garbage"), std::string()}) {
        OptionsBytes b(bad);
        TextFileOptions keep = back;
        EXPECT_FALSE(keep.Read(&b.record));
        EXPECT_EQ(keep.GetDelimiter(), ";%\t x");
        EXPECT_EQ(keep.GetEncoding(), "shiftjis");
    }
}

TEST(TextFileOptions, EncodingTableNamesEncodingsTheStreamKnows) {
    ASSERT_EQ(TextFileOptions::GetEncodingsCount(), 32u);
    const char** names = TextFileOptions::GetAllEncodings();
    for (std::size_t i = 0; i < 32; ++i) EXPECT_EQ(TextFileOptions::GetEncodingIndex(names[i]), i) << names[i];
    EXPECT_EQ(TextFileOptions::GetEncodingIndex("utf8"), 28u);
    EXPECT_EQ(TextFileOptions::GetEncodingIndex("UTF-8"), 21u);  // exact names only
    EXPECT_EQ(TextFileOptions::GetEncodingIndex("windows-1252"), 31u);
    EXPECT_EQ(TextFileOptions::GetEncodingIndex("windows1252"), 21u);
    EXPECT_EQ(TextFileOptions::GetPrettyName(21), L"Local");
    EXPECT_EQ(TextFileOptions::GetPrettyName(25), L"Unicode (UTF-16LE)");
    EXPECT_EQ(TextFileOptions::GetPrettyName(18), L"Japanese (Shift-JIS)");
    EXPECT_EQ(TextFileOptions::GetPrettyName(32), L"");

    // Every name works with the text stream both ways.
    TempDir dir;
    for (std::size_t i = 0; i < 32; ++i) {
        const std::string file = dir.File("e" + std::to_string(i));
        {
            QmTextIOStream out(file, names[i], QmTextIOStream::ForWriting);
            ASSERT_FALSE(out.Fail()) << names[i];
            out.WriteString("Ab1\tx\n");
        }
        QmTextIOStream in(file, names[i]);
        std::string line;
        ASSERT_TRUE(in.GetLine(line)) << names[i];
        EXPECT_EQ(line, "Ab1\tx") << names[i];
    }
}

TEST(TextFile, OpenAndReadFailuresCarryTheirCodes) {
    TempDir dir;
    {
        TextFile f;
        EXPECT_EQ(f.Open(true, dir.File("missing.txt").c_str(), nullptr), 512);
        EXPECT_EQ(ErrorOf(f), "Failed to open stream for reading.");
        f.Close();
        EXPECT_EQ(f.GetStatus(), 0);
    }
    {
        TextFile f;
        EXPECT_EQ(f.Open(true, dir.Path().c_str(), nullptr), 512);  // a directory
    }
    {
        // NUL bytes near the start: not text.
        WriteFile(dir.File("bin.dat"), std::string("\x7f" "ELF\x02\x01\x01\0\0\0\0\0\0\0\0\0\x03\x00", 18));
        TextFile f;
        EXPECT_EQ(f.Open(true, dir.File("bin.dat").c_str(), nullptr), 514);
        EXPECT_EQ(ErrorOf(f),
                  "This file appears to be a binary file and cannot be imported. Only ordinary text (ASCII) files can "
                  "be imported.");
        auto r = ReadThroughEntryPoints("Text File", dir.File("bin.dat"));
        EXPECT_FALSE(r->opened);
        EXPECT_EQ(r->error, ErrorOf(f));
    }
    {
        // UTF-16 text is full of NULs and is text all the same.
        WriteFile(dir.File("u16.txt"), *Iconv("UTF-16LE", "UTF-8", "a\tb\nc\td\n"));
        OptionsBytes given;
        TextFileOptions o;
        o.SetEncoding("utf16le");
        o.Write(&given.record);
        std::unique_ptr<char[]> own(given.record.data);
        auto r = ReadThroughEntryPoints("Text File", dir.File("u16.txt"), &given.record);
        ASSERT_TRUE(r->Ok()) << r->error;
        EXPECT_EQ(r->Text(2, 2), "d");
    }
    {
        WriteFile(dir.File("ok.txt"), "a\n");
        OptionsBytes bad("not an options document");
        TextFile f;
        EXPECT_EQ(f.Open(true, dir.File("ok.txt").c_str(), &bad.record), 5);
        EXPECT_EQ(ErrorOf(f), "Incorrect format of file open options");
    }
    {
        // The wrong direction.
        TextFile reader;
        ASSERT_EQ(reader.Open(true, dir.File("ok.txt").c_str(), nullptr), 0);
        auto table = TableOf({{"x"}});
        EXPECT_EQ(reader.Write(table.get()), 3);
        TextFile writer;
        ASSERT_EQ(writer.Open(false, dir.File("out.txt").c_str(), nullptr), 0);
        RecordingTable t;
        EXPECT_EQ(writer.Read(&t), 3);
        EXPECT_EQ(ErrorOf(writer), "Tried to write to the file when it was opened for reading or vice versa.");
    }
}

TEST(TextFile, EncodingIsDetectedWhenNoOptionsAreGiven) {
    TempDir dir;
    const std::string utf8 = "Z\xC3\xBCrich\t1\n\xD0\x9C\xD0\xBE\xD1\x81\xD0\xBA\xD0\xB2\xD0\xB0\t2\n";
    WriteFile(dir.File("utf8.txt"), utf8);
    {
        auto r = ReadThroughEntryPoints("Text File", dir.File("utf8.txt"));
        ASSERT_TRUE(r->Ok()) << r->error;
        EXPECT_EQ(r->Text(1, 1), "Z\xC3\xBCrich");
        EXPECT_EQ(r->Text(1, 2), "\xD0\x9C\xD0\xBE\xD1\x81\xD0\xBA\xD0\xB2\xD0\xB0");
    }
    {
        // The default options fetched for the file name what was detected.
        std::string bytes = TakeBytes(QmImportGetFileOptions(FormatIndex("Text File"), dir.File("utf8.txt").c_str(), false));
        OptionsBytes b(bytes);
        TextFileOptions o;
        ASSERT_TRUE(o.Read(&b.record));
        EXPECT_EQ(o.GetEncoding(), "utf8");
        EXPECT_EQ(o.GetDelimiter(), "\t");
    }
    {
        // An empty record receives the defaults, and the defaults apply: the legacy code page.
        TextFile f;
        QmImportOpenOptions empty{0, nullptr};
        ASSERT_EQ(f.Open(true, dir.File("utf8.txt").c_str(), &empty), 0);
        ASSERT_GT(empty.size, 0);
        TextFileOptions o;
        ASSERT_TRUE(o.Read(&empty));
        EXPECT_EQ(o.GetEncoding(), "");
        EXPECT_EQ(f.GetOptions().GetEncoding(), "");
        RecordingTable t;
        ASSERT_EQ(f.Read(&t), 0);
        EXPECT_EQ(t.texts[std::make_pair(1, 1)], "Z\xC3\x83\xC2\xBCrich");  // UTF-8 bytes read as windows-1252
        // The buffer belongs to the file object, which frees it.
    }
    {
        // A byte-order mark decides by itself.
        WriteFile(dir.File("bom16.txt"), "\xFF\xFE" + *Iconv("UTF-16LE", "UTF-8", utf8));
        auto r = ReadThroughEntryPoints("Text File", dir.File("bom16.txt"));
        ASSERT_TRUE(r->Ok()) << r->error;
        EXPECT_EQ(r->rows, 2);
        EXPECT_EQ(r->Text(1, 1), "Z\xC3\xBCrich");
        EXPECT_EQ(r->Number(2, 2), 2.0f);
    }
    // Single-byte and double-byte code pages, written by glibc's converter, read with the
    // encoding named in the options.
    const std::vector<std::pair<std::string, std::string>> pages = {
        {"windows1251", "CP1251"}, {"shiftjis", "SHIFT_JIS"}, {"koi8r", "KOI8-R"}, {"iso88597", "ISO-8859-7"}};
    const std::map<std::string, std::string> texts = {
        {"windows1251", "\xD0\x9C\xD0\xBE\xD1\x81\xD0\xBA\xD0\xB2\xD0\xB0"},
        {"koi8r", "\xD0\x9C\xD0\xBE\xD1\x81\xD0\xBA\xD0\xB2\xD0\xB0"},
        {"shiftjis", "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E"},
        {"iso88597", "\xCE\x91\xCE\xB8\xCE\xAE\xCE\xBD\xCE\xB1"}};
    for (const auto& [ours, glibc] : pages) {
        SCOPED_TRACE(ours);
        const std::string& text = texts.at(ours);
        auto encoded = Iconv(glibc.c_str(), "UTF-8", "id\t" + text + "\n7\t" + text + text + "\n");
        ASSERT_TRUE(encoded);
        WriteFile(dir.File(ours + ".txt"), *encoded);
        TextFileOptions o;
        o.SetEncoding(ours);
        OptionsBytes given;
        o.Write(&given.record);
        std::unique_ptr<char[]> own(given.record.data);
        auto r = ReadThroughEntryPoints("Text File", dir.File(ours + ".txt"), &given.record);
        ASSERT_TRUE(r->Ok()) << r->error;
        EXPECT_EQ(r->Text(2, 1), text);
        EXPECT_EQ(r->Text(2, 2), text + text);
        EXPECT_EQ(r->Number(1, 2), 7.0f);
    }
}

TEST(TextFile, WritesDelimitedRowsInItsEncoding) {
    TempDir dir;
    auto table = TableOf({{"1.5", "a"}, {"", "2"}});
    std::string error;
    ASSERT_TRUE(WriteThroughEntryPoints("Text File", dir.File("t.txt"), *table, &error)) << error;
    EXPECT_EQ(ReadFile(dir.File("t.txt")), "1.5\ta\n\t2\n");

    // Numbers in the General style, texts as they are, the delimiter inside a text unquoted.
    table = TableOf({{"1234567.5", "12345678901", "x\ty", "Z\xC3\xBCrich", "\xD0\x9C"}});
    ASSERT_TRUE(WriteThroughEntryPoints("Text File", dir.File("legacy.txt"), *table, &error)) << error;
    EXPECT_EQ(ReadFile(dir.File("legacy.txt")), "1.23457e+06\t12345678901\tx\ty\tZ\xFCrich\t?\n");
    ASSERT_TRUE(WriteThroughEntryPoints("Text UTF-8 File", dir.File("utf8.txt"), *table, &error)) << error;
    EXPECT_EQ(ReadFile(dir.File("utf8.txt")), "1.23457e+06\t12345678901\tx\ty\tZ\xC3\xBCrich\t\xD0\x9C\n");

    // No rows: an empty file, replacing what was there.
    FloatStringSpreadsheetData none;
    none.SetDataSize(3, 0);
    ASSERT_TRUE(WriteThroughEntryPoints("Text File", dir.File("t.txt"), none, &error)) << error;
    EXPECT_TRUE(std::filesystem::exists(dir.File("t.txt")));
    EXPECT_EQ(std::filesystem::file_size(dir.File("t.txt")), 0u);

    // A file that cannot be created.
    EXPECT_FALSE(WriteThroughEntryPoints("Text File", dir.File("no/such/dir.txt"), *table, &error));
    EXPECT_EQ(error, "Failed to open stream for reading.");
}

TEST(TextFile, LongLinesAndTheTextFileTest) {
    TempDir dir;
    // One line of 10 MB in two cells.
    std::string line(10u << 20, 'x');
    line[5u << 20] = '\t';
    WriteFile(dir.File("long.txt"), line + "\nshort\n");
    auto r = ReadThroughEntryPoints("Text File", dir.File("long.txt"));
    ASSERT_TRUE(r->Ok()) << r->error;
    EXPECT_EQ(r->rows, 2);
    EXPECT_EQ(r->cols, 2);
    EXPECT_EQ(r->Text(1, 1).size(), 5u << 20);
    EXPECT_EQ(r->Text(2, 1).size(), (5u << 20) - 1);
    EXPECT_EQ(r->Text(1, 2), "short");

    // The text-file test looks at the first 30768 bytes only; a byte-order mark overrides it.
    std::string head(30768, 'a');
    WriteFile(dir.File("late-nul.txt"), head + std::string(1, '\0'));
    EXPECT_TRUE(TextFile::IsTextFile(dir.File("late-nul.txt").c_str()));
    head[30767] = '\0';
    WriteFile(dir.File("nul.txt"), head);
    EXPECT_FALSE(TextFile::IsTextFile(dir.File("nul.txt").c_str()));
    WriteFile(dir.File("bom.txt"), "\xEF\xBB\xBF" "a" + std::string(1, '\0'));
    EXPECT_TRUE(TextFile::IsTextFile(dir.File("bom.txt").c_str()));
    EXPECT_FALSE(TextFile::IsTextFile(dir.File("missing").c_str()));
}

TEST(TextFormats, RegisteredRecordsAndKindOfFile) {
    struct Want {
        const char* name;
        const char* filter;
        const char* saveFilter;
        signed char flags[6];
        unsigned char kind;  // the answer for any existing file
    };
    const Want wants[] = {
        {"Text File", "Text Files (*.txt; *.dat)", "Text File (*.txt)", {1, 1, 1, 1, 1, 1}, 1},
        {"Text UTF-8 File", "Text UTF-8 Files (*.txt; *.dat)", "Text UTF-8 File (*.txt)", {1, 0, 1, 1, 1, 1}, 0},
    };
    TempDir dir;
    WriteFile(dir.File("x.txt"), "a\tb\n");
    for (const Want& w : wants) {
        SCOPED_TRACE(w.name);
        const QmImportFileFormatInfo* info = QmImportGetFileFormatInfo(FormatIndex(w.name));
        ASSERT_TRUE(info);
        EXPECT_STREQ(info->filter, w.filter);
        EXPECT_STREQ(info->saveFilter, w.saveFilter);
        EXPECT_EQ(info->extensionCount, 2);
        EXPECT_EQ(std::string(info->extensions, 10), std::string(".txt\0.dat\0", 10));
        const signed char flags[6] = {info->canWrite, info->canRead, info->multiFile,
                                      info->tableFlag, info->formatFlag, info->priority};
        EXPECT_EQ(std::vector<signed char>(flags, flags + 6), std::vector<signed char>(w.flags, w.flags + 6));
        EXPECT_EQ(QmImportIsCorrectFileType(FormatIndex(w.name), dir.File("x.txt").c_str()), w.kind);
    }
}

// Delimited text: splitting, the size pass, the reading loop and its row skipping, the
// options document, the encoding table, writing, long lines and the text-file test.
#include <gtest/gtest.h>

#include <filesystem>

#include "formats/text/DIFFile.h"
#include "formats/text/TextFile.h"
#include "formats/text/TextTestSupport.h"
#include "outside/utl/QmTextIOStream.h"

using namespace kelto::test;

namespace {

class SplittingTextFile : public TextFile {
public:
    using TextFile::GetCell;
};

std::vector<std::string> Split(const std::string& line, const std::string& delimiter, bool ignore) {
    std::vector<std::string> cells;
    TextFile::SplitLine(line.data(), line.data() + line.size(), delimiter, ignore, [&](int, const char* p, std::size_t n) {
        cells.emplace_back(p, n);
        return true;
    });
    return cells;
}

std::vector<std::string> SplitWithGetCell(std::string line, const std::string& delimiter, bool ignore) {
    SplittingTextFile f;
    TextFileOptions o;
    o.SetDelimiter(delimiter);
    o.SetIgnoreConsecutiveDelimiters(ignore);
    std::vector<std::string> cells;
    char* cursor = line.data();
    while (char* cell = f.GetCell(&cursor, o)) cells.emplace_back(cell);
    return cells;
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
        {"\t", false, "a\t", {"a"}},       // a trailing delimiter opens no cell
        {"\t", false, "\ta", {"", "a"}},   // a leading one gives an empty first cell
        {"\t", true, "\t\ta", {"", "a"}},  // ... with merging too
        {"\t", false, "\t\t", {"", ""}},
        {";;", false, "x;;y", {"x", "y"}},
        {";;", false, "x;;;y", {"x", ";y"}},  // leftmost match, no overlap
        {";;", true, "x;;;;y", {"x", "y"}},
        {"\t", false, "a\tb\r", {"a", "b"}},  // CR LF ends like LF
        {"\t", false, "a\r\r", {"a\r"}},      // only one CR goes
        {"\t", false, "\r", {}},
        {"\xC2\xA7", false, "1\xC2\xA7\xC3\xA4", {"1", "\xC3\xA4"}},
        // Longer lines, with bytes that differ from a TAB only in the high bit.
        {"\t", false, "alpha\tbeta\t\tgamma\t\xE2\x80\x89" "delta\x89\t", {"alpha", "beta", "", "gamma", "\xE2\x80\x89" "delta\x89"}},
        {"\t", false, "\t\t\t\t\t\t\t\t\tz", {"", "", "", "", "", "", "", "", "", "z"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("line '" + c.line + "' delimiter '" + c.delimiter + "' merge " + std::to_string(c.ignore));
        EXPECT_EQ(Split(c.line, c.delimiter, c.ignore), c.cells);
        EXPECT_EQ(TextFile::CountCells(c.line, c.delimiter, c.ignore), static_cast<int>(c.cells.size()));
        EXPECT_EQ(SplitWithGetCell(c.line, c.delimiter, c.ignore), c.cells);
    }
    // Without a delimiter the line stays whole (and splitting ends).
    EXPECT_EQ(Split("a\tb", "", false), std::vector<std::string>{"a\tb"});
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
    EXPECT_EQ(r->Text(3, 3), "e");
    EXPECT_EQ(r->Number(1, 1), -99.0f);

    // A file without cells fails the size query, as hosts expect of an empty file.
    for (const char* text : {"", "\n\n\n"}) {
        WriteFile(dir.File("empty.txt"), text);
        r = ReadThroughEntryPoints("Text File", dir.File("empty.txt"));
        EXPECT_TRUE(r->opened);
        EXPECT_FALSE(r->sized);
        EXPECT_EQ(r->cols, -1);
    }
}

TEST(TextFile, ReadingFollowsTheTargetsRowOrder) {
    TempDir dir;
    WriteFile(dir.File("six.txt"), "1\n2\n3\n4\n5\n6\n");
    auto readWith = [&](std::function<int(int)> next) {
        TextFile f;
        EXPECT_EQ(f.Open(true, dir.File("six.txt").c_str(), nullptr), 0);
        RecordingTable t;
        t.nextRow = std::move(next);
        EXPECT_EQ(f.Read(&t), 0);
        return t.texts;
    };
    using Cells = std::map<std::pair<int, int>, std::string>;
    // Every other line: the row given with each cell is its line number.
    EXPECT_EQ(readWith([](int row) { return row + 2; }), (Cells{{{1, 2}, "2"}, {{1, 4}, "4"}, {{1, 6}, "6"}}));
    // A negative answer ends the read, successfully.
    EXPECT_EQ(readWith([](int row) { return row < 2 ? row + 1 : -1; }), (Cells{{{1, 1}, "1"}, {{1, 2}, "2"}}));
    // An answer that does not move on ends the read instead of repeating a line for ever.
    EXPECT_EQ(readWith([](int row) { return row == 0 ? 2 : row; }), (Cells{{{1, 2}, "2"}}));

    // A window of lines and cells.
    WriteFile(dir.File("grid.txt"), "a1\tb1\tc1\na2\tb2\tc2\na3\tb3\tc3\na4\tb4\tc4\n");
    TextFile f;
    ASSERT_EQ(f.Open(true, dir.File("grid.txt").c_str(), nullptr), 0);
    RecordingTable t;
    EXPECT_EQ(f.Read(&t, 2, 3, 2, 2, f.GetOptions()), 0);
    EXPECT_EQ(t.texts, (Cells{{{2, 2}, "b2"}, {{2, 3}, "b3"}}));
}

TEST(TextFileOptions, DocumentRoundTripsAndRefusesIncompleteOnes) {
    TextFileOptions o;
    o.SetDelimiter(";%\t x");
    o.SetEncoding("shiftjis");
    o.SetIgnoreConsecutiveDelimiters(true);
    OptionsBytes copy(WrittenBytes(o));
    TextFileOptions back;
    ASSERT_TRUE(back.Read(&copy.record));
    EXPECT_EQ(back.GetDelimiter(), ";%\t x");
    EXPECT_EQ(back.GetEncoding(), "shiftjis");
    EXPECT_TRUE(back.GetIgnoreConsecutiveDelimiters());
    auto keys = SettingsKeys(copy.bytes);
    EXPECT_EQ(keys.size(), 3u);
    EXPECT_EQ(keys["Delimiter"], "%3B%25%09%20x");  // percent-encoded

    // A document that lacks a key (DIF's has no delimiter), or is no document, changes nothing.
    for (const std::string& bad : {WrittenBytes(DifFileOptions()), std::string("garbage"), std::string()}) {
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
    // A name not in the table, "UTF-8" too (exact names only), is the local encoding.
    EXPECT_EQ(TextFileOptions::GetPrettyName(TextFileOptions::GetEncodingIndex("UTF-8")), L"Local");
    EXPECT_EQ(TextFileOptions::GetPrettyName(32), L"");  // past the table's end
    // Every name finds itself, and works with the text stream both ways.
    TempDir dir;
    for (std::size_t i = 0; i < TextFileOptions::GetEncodingsCount(); ++i) {
        EXPECT_EQ(TextFileOptions::GetEncodingIndex(names[i]), i) << names[i];
        QmTextIOStream(dir.File("e"), names[i], QmTextIOStream::ForWriting).WriteString("Ab1\tx\n");
        QmTextIOStream in(dir.File("e"), names[i]);
        std::string line;
        EXPECT_TRUE(in.GetLine(line) && line == "Ab1\tx") << names[i];
    }
}

TEST(TextFile, WritesDelimitedRowsInItsEncoding) {
    TempDir dir;
    std::string error;
    ASSERT_TRUE(WriteThroughEntryPoints("Text File", dir.File("t.txt"), *TableOf({{"1.5", "a"}, {"", "2"}}), &error)) << error;
    EXPECT_EQ(ReadFile(dir.File("t.txt")), "1.5\ta\n\t2\n");

    // Every digit of a float (the shortest text that reads back as it), exact integers, texts
    // as they are, the delimiter inside a text unquoted.
    auto table = TableOf({{"1234.5678", "12345678901", "x\ty", "Z\xC3\xBCrich", "\xD0\x9C", "-0.000012345678"}});
    ASSERT_TRUE(WriteThroughEntryPoints("Text File", dir.File("legacy.txt"), *table, &error)) << error;
    EXPECT_EQ(ReadFile(dir.File("legacy.txt")), "1234.5677\t12345678901\tx\ty\tZ\xFCrich\t?\t-1.2345678e-05\n");
    ASSERT_TRUE(WriteThroughEntryPoints("Text UTF-8 File", dir.File("utf8.txt"), *table, &error)) << error;
    EXPECT_EQ(ReadFile(dir.File("utf8.txt")),
              "1234.5677\t12345678901\tx\ty\tZ\xC3\xBCrich\t\xD0\x9C\t-1.2345678e-05\n");
    auto back = ReadThroughEntryPoints("Text File", dir.File("utf8.txt"));
    ASSERT_TRUE(back->Ok()) << back->error;
    EXPECT_EQ(back->Number(1, 1), 1234.5678f);
    EXPECT_EQ(back->Number(7, 1), -0.000012345678f);

    // No rows: an empty file, replacing what was there; a file that cannot be made: 512.
    FloatStringSpreadsheetData none;
    none.SetDataSize(3, 0);
    ASSERT_TRUE(WriteThroughEntryPoints("Text File", dir.File("t.txt"), none, &error)) << error;
    EXPECT_EQ(std::filesystem::file_size(dir.File("t.txt")), 0u);
    EXPECT_FALSE(WriteThroughEntryPoints("Text File", dir.File("no/such/dir.txt"), *table, &error));
    EXPECT_EQ(error, "Failed to open stream for reading.");
}

TEST(TextFile, LongLinesAndTheTextFileTest) {
    TempDir dir;
    std::string line(10u << 20, 'x');  // 10 MB in two cells
    line[5u << 20] = '\t';
    WriteFile(dir.File("long.txt"), line + "\nshort\n");
    auto r = ReadThroughEntryPoints("Text File", dir.File("long.txt"));
    ASSERT_TRUE(r->Ok()) << r->error;
    EXPECT_EQ(r->rows * 10 + r->cols, 22);
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


// CSV: the parser's state machine (through its fast run-of-bytes path and character by
// character, which must agree), the compact record store, delivery, and the file class.
#include <gtest/gtest.h>

#include "formats/text/CsvFile.h"
#include "formats/text/TextTestSupport.h"

using namespace kelto::test;

namespace {

// Parses `text` through the byte path and one code point at a time; both must agree.
std::string Parse(const std::string& text, const CsvDialect& dialect, bool* endedInQuotes = nullptr) {
    CsvParser fast(dialect, 1000), slow(dialect, 1000);
    fast.FeedText(text.data(), text.data() + text.size());
    fast.Finish();
    FeedCodePoints(slow, text);
    slow.Finish();
    EXPECT_EQ(RecordsOf(fast), RecordsOf(slow)) << "the two paths differ";
    EXPECT_EQ(fast.EndedInQuotedField(), slow.EndedInQuotedField());
    if (endedInQuotes) *endedInQuotes = fast.EndedInQuotedField();
    return RecordsOf(fast);
}

CsvDialect With(CsvDialect d, const std::function<void(CsvDialect&)>& change) {
    change(d);
    return d;
}

}  // namespace

TEST(CsvParser, StateMachineCases) {
    const CsvDialect vorlund = CsvDialect::Vorlund();
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"a,\"b,c\",d", "[a|b,c|d]"},
        {"\"a\"\"b\"", "[a\"b]"},
        {"x, y,  z", "[x|y|z]"},  // spaces after the delimiter dropped
        {"a,b,", "[a|b|]"},
        {"a\n\nb\n", "[a][][b]"},  // a blank line is an empty record
        {"a\r\nb\r\n", "[a][b]"},
        {"a\rb", "[a][b]"},
        {"a\r\n\r\nb", "[a][][b]"},
        {"\"x\ny\",z\n", "[x\ny|z]"},
        {"\"x\r\ny\",z", "[x\ny|z]"},  // CR LF inside quotes is one LF
        {"\"x\ry\"", "[x\ny]"},
        {"\"ab\"c,d", "[abc|d]"},  // a stray character after the closing quote is kept
        {"a\"b,c", "[a\"b|c]"},
        {"\"\",x", "[|x]"},
        {"a,b\nc", "[a|b][c]"},
        {"", ""},
        {"\n", "[]"},
        {std::string("ab\0cd,e", 7), "[ab|e]"},  // a NUL ends the field's text
        {"\xC3\xA4,\xE6\x97\xA5,\"\xF0\x9F\x98\x80\"", "[\xC3\xA4|\xE6\x97\xA5|\xF0\x9F\x98\x80]"},
    };
    for (const auto& [text, want] : cases) EXPECT_EQ(Parse(text, vorlund), want) << "text: " << text;

    EXPECT_EQ(Parse("x, y", CsvDialect::Excel()), "[x| y]");
    EXPECT_EQ(Parse("\"a,b\"", With(CsvDialect::Excel(), [](CsvDialect& d) { d.quoting = 0; })), "[\"a|b\"]");
    EXPECT_EQ(Parse("\"a\"b,c", With(CsvDialect::Excel(), [](CsvDialect& d) { d.doubleQuote = false; })), "[ab|c]");
    // An escape character, inside and outside quotes; one at the very end escapes nothing.
    EXPECT_EQ(Parse("a\\,b,c\n\"x\\\"y\",z\nend\\", With(CsvDialect::Excel(), [](CsvDialect& d) { d.escapeChar = '\\'; })),
              "[a,b|c][x\"y|z][end]");
    // A delimiter beyond ASCII (the byte path steps aside).
    EXPECT_EQ(Parse("a\xC2\xA7\xC3\xA4\xC2\xA7\"q\xC2\xA7\"", With(CsvDialect::Excel(), [](CsvDialect& d) { d.delimiter = 0xA7; })),
              "[a|\xC3\xA4|q\xC2\xA7]");

    // The text ends inside quotes: the record is kept, and the parser says so.
    bool inQuotes = false;
    EXPECT_EQ(Parse("a,b\n\"c,d", vorlund, &inQuotes), "[a|b][c,d]");
    EXPECT_TRUE(inQuotes);
    EXPECT_EQ(Parse("a,\"x\"", vorlund, &inQuotes), "[a|x]");
    EXPECT_FALSE(inQuotes);

    // Strict dialects refuse a stray character after a closing quote.
    CsvParser strict(With(CsvDialect::Excel(), [](CsvDialect& d) { d.strict = true; }), 10);
    std::string text = "\"ab\"c";
    try {
        strict.FeedText(text.data(), text.data() + text.size());
        ADD_FAILURE() << "no error";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "',' expected after '\"'");
    }
}

TEST(CsvParser, DeliversTheWidestRecordsWidth) {
    CsvParser p(CsvDialect::Vorlund(), 1000);
    std::string text = "a,b\n1,2,3,4,5\n\nx,y,z\n";
    p.FeedText(text.data(), text.data() + text.size());
    p.Finish();
    RecordingTable t;
    p.GetData(t, 1000, 1000);
    ASSERT_EQ(t.sizes, (std::vector<std::pair<int, int>>{{5, 4}}));
    EXPECT_EQ(t.Row(2), (std::vector<std::string>{"1", "2", "3", "4", "5"}));
    EXPECT_TRUE(t.Row(3).empty());  // the blank line: a row of missing cells
    EXPECT_EQ(t.Row(4), (std::vector<std::string>{"x", "y", "z"}));

    CsvParser none(CsvDialect::Vorlund(), 1000);
    none.Finish();
    RecordingTable untouched;
    none.GetData(untouched, 1000, 1000);
    EXPECT_TRUE(untouched.sizes.empty());
}

TEST(CsvParser, LargeFilesCrossStorageBlocksIntact) {
    TempDir dir;
    // About 7 MB of fields (two storage blocks), then one field longer than a block.
    auto field = [](int r, int c) { return std::to_string(r * 7 + c) + "_" + std::to_string(c * 13 + r % 97); };
    std::string text;
    const int rows = 100000;
    for (int r = 0; r < rows; ++r)
        for (int c = 0; c < 6; ++c) text += field(r, c) + (c < 5 ? "," : "\n");
    const std::string huge(6u << 20, 'h');
    text += "\"" + huge + "\",tail\n";
    WriteFile(dir.File("big.csv"), text);
    CsvParser p(CsvDialect::Vorlund(), dir.File("big.csv"), "utf8", 1 << 30);
    ASSERT_EQ(p.GetNumRecords(), static_cast<std::size_t>(rows) + 1);
    RecordingTable t;
    p.GetData(t, 100, 1 << 30);
    for (int r = 0; r < rows; r += 997)
        for (int c = 0; c < 6; ++c) ASSERT_EQ(t.texts[std::make_pair(c + 1, r + 1)], field(r, c)) << r << "," << c;
    EXPECT_EQ(t.texts[std::make_pair(6, rows)], field(rows - 1, 5));
    EXPECT_EQ(t.texts[std::make_pair(1, rows + 1)], huge);
    EXPECT_EQ(t.texts[std::make_pair(2, rows + 1)], "tail");
}

TEST(CsvFile, ReadsThroughTheEntryPoints) {
    TempDir dir;
    WriteFile(dir.File("a.csv"), "name, value\r\n\"Smith, J\",1.5\r\nx,\"2\"\r\n");
    auto r = ReadThroughEntryPoints("CSV File", dir.File("a.csv"));
    ASSERT_TRUE(r->Ok()) << r->error;
    EXPECT_EQ(r->rows * 10 + r->cols, 11);  // the size query says 1 x 1; the read sets the size
    EXPECT_EQ(r->Size(), "2x3");
    EXPECT_EQ(r->Text(2, 1) + "|" + r->Text(1, 2), "value|Smith, J");
    EXPECT_EQ(r->Number(2, 3), 2.0f);
    EXPECT_EQ(r->warning, "");

    // Cut off inside a quoted field: the last record stays, with a warning.
    WriteFile(dir.File("cut.csv"), "a,b\n1,\"unfinished\n");
    r = ReadThroughEntryPoints("CSV File", dir.File("cut.csv"));
    ASSERT_TRUE(r->Ok()) << r->error;
    EXPECT_EQ(r->Text(2, 2), "unfinished");  // the table trims the line break
    EXPECT_EQ(r->warning, "The file ends inside a quoted field; the last record may be incomplete.");
    // Reading lines, the parser still knows whether the text ended with a line break.
    WriteFile(dir.File("cut2.csv"), "1,\"unfinished");
    EXPECT_EQ(RecordsOf(CsvParser(CsvDialect::Vorlund(), dir.File("cut.csv"), "", 9)), "[a|b][1|unfinished\n]");
    EXPECT_EQ(RecordsOf(CsvParser(CsvDialect::Vorlund(), dir.File("cut2.csv"), "", 9)), "[1|unfinished]");

    // An empty file delivers nothing: the host's table keeps its size.
    WriteFile(dir.File("empty.csv"), "");
    r = ReadThroughEntryPoints("CSV File", dir.File("empty.csv"));
    ASSERT_TRUE(r->Ok()) << r->error;
    EXPECT_EQ(r->Size(), "1x1");

    // The options name the delimiter (beyond ASCII too: a character, not a byte) and encoding.
    const std::string moskva = "\xD0\x9C\xD0\xBE\xD1\x81\xD0\xBA\xD0\xB2\xD0\xB0";
    WriteFile(dir.File("semi.csv"), *Iconv("CP1251", "UTF-8", moskva + ";1,5\n"));
    CsvFileOptions o;
    o.SetDelimiter(";");
    o.SetEncoding("windows1251");
    OptionsBytes semi(WrittenBytes(o));
    r = ReadThroughEntryPoints("CSV File", dir.File("semi.csv"), &semi.record);
    EXPECT_EQ(r->Text(1, 1) + "|" + r->Text(2, 1), moskva + "|1,5");
    WriteFile(dir.File("section.csv"), "a\xC2\xA7\xC3\x82x\xC2\xA7" "b\n");
    o.SetDelimiter("\xC2\xA7");
    o.SetEncoding("utf8");
    OptionsBytes section(WrittenBytes(o));
    r = ReadThroughEntryPoints("CSV File", dir.File("section.csv"), &section.record);
    EXPECT_EQ(r->Cols(), 3);
    EXPECT_EQ(r->Text(2, 1), "\xC3\x82x");
}

TEST(CsvFile, DelimiterGuessFromTheFirstLine) {
    TempDir dir;
    for (const auto& [line, want] : {std::pair<std::string, char>{"a;b;c,d", ';'}, {"a;b,c,d", ','}, {"a;b,c", ','}}) {
        WriteFile(dir.File("g.csv"), line + "\n1,2\n");
        CsvFile g;
        g.Open(true, dir.File("g.csv").c_str(), nullptr);
        EXPECT_EQ(g.GetDelimiter(), want) << line;
    }
    CsvFile missing;
    missing.Open(true, dir.File("missing.csv").c_str(), nullptr);
    EXPECT_EQ(missing.GetDelimiter(), ',');
}

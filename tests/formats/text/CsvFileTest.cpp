// CSV: the parser's state machine (both the fast line path and character by character), the
// compact record store, delivery, and the file class with its options and messages.
#include <gtest/gtest.h>

#include <sstream>

#include "formats/text/CsvFile.h"
#include "formats/text/TextTestSupport.h"
#include "outside/utl/BinaryIO.h"
#include "outside/utl/ConfigurationSection.h"

using namespace kelto::test;

namespace {

using Records = std::vector<std::vector<std::string>>;

Records RecordsOf(const CsvParser& p) {
    Records out;
    for (std::size_t i = 0; i < p.GetNumRecords(); ++i) out.push_back(p.GetRecord(i));
    return out;
}

std::vector<std::uint32_t> CodePoints(const std::string& utf8) {
    std::vector<std::uint32_t> out;
    for (std::size_t i = 0; i < utf8.size();) {
        unsigned char c = static_cast<unsigned char>(utf8[i]);
        std::size_t len = c < 0x80 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
        std::uint32_t cp = len == 1 ? c : c & (0x3F >> (len - 1));
        for (std::size_t k = 1; k < len; ++k) cp = (cp << 6) | (static_cast<unsigned char>(utf8[i + k]) & 0x3F);
        out.push_back(cp);
        i += len;
    }
    return out;
}

// Parses `text` twice, through the run-of-bytes path and one code point at a time; both must
// give the same records.
Records Parse(const std::string& text, const CsvDialect& dialect, bool* endedInQuotes = nullptr) {
    CsvParser fast(dialect, 1000);
    fast.FeedText(text.data(), text.data() + text.size());
    fast.Finish();
    CsvParser slow(dialect, 1000);
    for (std::uint32_t c : CodePoints(text)) slow.Feed(c);
    slow.Finish();
    EXPECT_EQ(RecordsOf(fast), RecordsOf(slow)) << "the two paths differ";
    EXPECT_EQ(fast.EndedInQuotedField(), slow.EndedInQuotedField());
    if (endedInQuotes) *endedInQuotes = fast.EndedInQuotedField();
    return RecordsOf(fast);
}

std::string Dump(const Records& records) {
    std::string s;
    for (const auto& r : records) {
        s += "[";
        for (std::size_t i = 0; i < r.size(); ++i) s += (i ? "|" : "") + r[i];
        s += "]";
    }
    return s;
}

std::string ErrorOf(SpreadsheetFile& f) {
    char buffer[300];
    f.GetErrorMessage(buffer, sizeof buffer);
    return buffer;
}

}  // namespace

TEST(CsvParser, StateMachineCases) {
    struct Case {
        const char* name;
        std::string text;
        Records want;
    };
    const CsvDialect vorlund = CsvDialect::Vorlund();
    const std::vector<Case> cases = {
        {"quoted delimiter", "a,\"b,c\",d", {{"a", "b,c", "d"}}},
        {"doubled quote", "\"a\"\"b\"", {{"a\"b"}}},
        {"initial spaces dropped", "x, y,  z", {{"x", "y", "z"}}},
        {"trailing delimiter", "a,b,", {{"a", "b", ""}}},
        {"blank line is an empty record", "a\n\nb\n", {{"a"}, {}, {"b"}}},
        {"CR LF is one end", "a\r\nb\r\n", {{"a"}, {"b"}}},
        {"lone CR ends a record", "a\rb", {{"a"}, {"b"}}},
        {"blank CR LF line", "a\r\n\r\nb", {{"a"}, {}, {"b"}}},
        {"line break inside quotes", "\"x\ny\",z\n", {{"x\ny", "z"}}},
        {"CR LF inside quotes is one LF", "\"x\r\ny\",z", {{"x\ny", "z"}}},
        {"CR inside quotes is one LF", "\"x\ry\"", {{"x\ny"}}},
        {"stray text after a closing quote is kept", "\"ab\"c,d", {{"abc", "d"}}},
        {"quote inside an unquoted field is data", "a\"b,c", {{"a\"b", "c"}}},
        {"empty quoted field", "\"\",x", {{"", "x"}}},
        {"no final line break", "a,b\nc", {{"a", "b"}, {"c"}}},
        {"nothing", "", {}},
        {"only a line break", "\n", {{}}},
        {"NUL ends a field's text", std::string("ab\0cd,e", 7), {{"ab", "e"}}},
        {"non-ASCII text", "\xC3\xA4,\xE6\x97\xA5\xE6\x9C\xAC,\"\xF0\x9F\x98\x80\"", {{"\xC3\xA4", "\xE6\x97\xA5\xE6\x9C\xAC", "\xF0\x9F\x98\x80"}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(Dump(Parse(c.text, vorlund)), Dump(c.want));
    }

    // Excel keeps leading spaces; quoting off makes quotes ordinary; without doubling a
    // closing quote returns to the unquoted field.
    EXPECT_EQ(Dump(Parse("x, y", CsvDialect::Excel())), Dump({{"x", " y"}}));
    CsvDialect plain = CsvDialect::Excel();
    plain.quoting = 0;
    EXPECT_EQ(Dump(Parse("\"a,b\"", plain)), Dump({{"\"a", "b\""}}));
    CsvDialect noDouble = CsvDialect::Excel();
    noDouble.doubleQuote = false;
    EXPECT_EQ(Dump(Parse("\"a\"b,c", noDouble)), Dump({{"ab", "c"}}));

    // An escape character, inside and outside quotes; one at the very end escapes nothing.
    CsvDialect escaping = CsvDialect::Excel();
    escaping.escapeChar = '\\';
    EXPECT_EQ(Dump(Parse("a\\,b,c\n\"x\\\"y\",z\nend\\", escaping)), Dump({{"a,b", "c"}, {"x\"y", "z"}, {"end"}}));

    // A delimiter that is not ASCII (the byte path steps aside) and a semicolon.
    CsvDialect section = CsvDialect::Excel();
    section.delimiter = 0xA7;  // "§"
    EXPECT_EQ(Dump(Parse("a\xC2\xA7\xC3\xA4\xC2\xA7\"q\xC2\xA7\"", section)), Dump({{"a", "\xC3\xA4", "q\xC2\xA7"}}));
    CsvDialect semicolon = CsvDialect::Vorlund();
    semicolon.delimiter = ';';
    EXPECT_EQ(Dump(Parse("1,5;2\n", semicolon)), Dump({{"1,5", "2"}}));
}

TEST(CsvParser, TextEndingInsideQuotesKeepsTheRecord) {
    bool inQuotes = false;
    EXPECT_EQ(Dump(Parse("a,b\n\"c,d", CsvDialect::Vorlund(), &inQuotes)), Dump({{"a", "b"}, {"c,d"}}));
    EXPECT_TRUE(inQuotes);
    EXPECT_EQ(Dump(Parse("a,\"x\ny", CsvDialect::Vorlund(), &inQuotes)), Dump({{"a", "x\ny"}}));
    EXPECT_TRUE(inQuotes);
    EXPECT_EQ(Dump(Parse("a,\"x\"", CsvDialect::Vorlund(), &inQuotes)), Dump({{"a", "x"}}));
    EXPECT_FALSE(inQuotes);

    // Strict dialects refuse a stray character after a closing quote.
    CsvDialect strict = CsvDialect::Excel();
    strict.strict = true;
    CsvParser p(strict, 10);
    std::string text = "\"ab\"c";
    try {
        p.FeedText(text.data(), text.data() + text.size());
        FAIL() << "no error";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "',' expected after '\"'");
    }
}

TEST(CsvParser, DeliversTheWidestRecordsWidthAndStopsAtMaxRows) {
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

    RecordingTable narrow;
    p.GetData(narrow, 2, 2);
    ASSERT_EQ(narrow.sizes, (std::vector<std::pair<int, int>>{{2, 2}}));
    EXPECT_EQ(narrow.texts.size(), 4u);

    CsvParser none(CsvDialect::Vorlund(), 1000);
    none.Finish();
    RecordingTable untouched;
    none.GetData(untouched, 1000, 1000);
    EXPECT_TRUE(untouched.sizes.empty());

    CsvParser two(CsvDialect::Vorlund(), 2);
    text = "1\n2\n3\n4\n";
    two.FeedText(text.data(), text.data() + text.size());
    EXPECT_TRUE(two.Done());
    EXPECT_EQ(two.GetNumRecords(), 2u);
}

TEST(CsvParser, LargeFilesCrossStorageBlocksIntact) {
    TempDir dir;
    // About 7 MB of fields (two storage blocks), then one field longer than a block.
    std::string text;
    const int rows = 100000;
    for (int r = 0; r < rows; ++r) {
        for (int c = 0; c < 6; ++c) text += (c ? "," : "") + std::to_string(r * 7 + c) + "_" + std::to_string(c * 13 + r % 97);
        text += '\n';
    }
    const std::string huge(6u << 20, 'h');
    text += "\"" + huge + "\",tail\n";
    WriteFile(dir.File("big.csv"), text);
    CsvParser p(CsvDialect::Vorlund(), dir.File("big.csv"), "utf8", 1 << 30);
    ASSERT_FALSE(p.StreamFailed());
    ASSERT_EQ(p.GetNumRecords(), static_cast<std::size_t>(rows) + 1);
    RecordingTable t;
    p.GetData(t, 100, 1 << 30);
    ASSERT_EQ(t.sizes.back(), std::make_pair(6, rows + 1));
    for (int r = 0; r < rows; r += 997) {
        for (int c = 0; c < 6; ++c) {
            const std::string want = std::to_string(r * 7 + c) + "_" + std::to_string(c * 13 + r % 97);
            ASSERT_EQ(t.texts[std::make_pair(c + 1, r + 1)], want) << r << "," << c;
        }
    }
    EXPECT_EQ(t.texts[std::make_pair(6, rows)], std::to_string((rows - 1) * 7 + 5) + "_" + std::to_string(65 + (rows - 1) % 97));
    EXPECT_EQ(t.texts[std::make_pair(1, rows + 1)], huge);
    EXPECT_EQ(t.texts[std::make_pair(2, rows + 1)], "tail");
}

TEST(CsvFile, ReadsThroughTheEntryPoints) {
    TempDir dir;
    WriteFile(dir.File("a.csv"), "name, value\r\n\"Smith, J\",1.5\r\nx,\"2\"\r\n");
    auto r = ReadThroughEntryPoints("CSV File", dir.File("a.csv"));
    ASSERT_TRUE(r->Ok()) << r->error;
    EXPECT_EQ(r->rows, 1);  // the size query says 1 x 1; the read sets the real size
    EXPECT_EQ(r->cols, 1);
    EXPECT_EQ(r->Rows(), 3);
    EXPECT_EQ(r->Cols(), 2);
    EXPECT_EQ(r->Text(2, 1), "value");
    EXPECT_EQ(r->Text(1, 2), "Smith, J");
    EXPECT_EQ(r->Number(2, 2), 1.5f);
    EXPECT_EQ(r->Number(2, 3), 2.0f);
    EXPECT_EQ(r->warning, "");

    // A file cut off inside a quoted field keeps its last record and says so.
    WriteFile(dir.File("cut.csv"), "a,b\n1,\"unfinished\n");
    r = ReadThroughEntryPoints("CSV File", dir.File("cut.csv"));
    ASSERT_TRUE(r->Ok()) << r->error;
    EXPECT_EQ(r->Rows(), 2);
    EXPECT_EQ(r->Text(2, 2), "unfinished");  // the table trims the line break
    EXPECT_EQ(r->warning, "The file ends inside a quoted field; the last record may be incomplete.");

    // Read from a file line by line, the parser still knows whether the text ended with a
    // line break, which here belongs to the field.
    WriteFile(dir.File("cut2.csv"), "1,\"unfinished");
    for (const auto& [name, field] : {std::pair<std::string, std::string>{"cut.csv", "unfinished\n"}, {"cut2.csv", "unfinished"}}) {
        CsvParser p(CsvDialect::Vorlund(), dir.File(name), "", 100);
        EXPECT_TRUE(p.EndedInQuotedField());
        ASSERT_GE(p.GetNumRecords(), 1u);
        EXPECT_EQ(p.GetRecord(p.GetNumRecords() - 1).back(), field) << name;
    }

    // An empty file delivers nothing: the host's table keeps the size it had.
    WriteFile(dir.File("empty.csv"), "");
    r = ReadThroughEntryPoints("CSV File", dir.File("empty.csv"));
    ASSERT_TRUE(r->Ok()) << r->error;
    EXPECT_EQ(r->Rows(), 1);
    EXPECT_EQ(r->Cols(), 1);
    EXPECT_TRUE(r->IsMissing(1, 1));

    // Without options the encoding is detected: UTF-8, and UTF-16 through its mark.
    const std::string utf8 = "Z\xC3\xBCrich,\xD0\x9C\xD0\xBE\xD1\x81\xD0\xBA\xD0\xB2\xD0\xB0\n";
    WriteFile(dir.File("utf8.csv"), utf8);
    r = ReadThroughEntryPoints("CSV File", dir.File("utf8.csv"));
    ASSERT_TRUE(r->Ok()) << r->error;
    EXPECT_EQ(r->Text(1, 1), "Z\xC3\xBCrich");
    EXPECT_EQ(r->Text(2, 1), "\xD0\x9C\xD0\xBE\xD1\x81\xD0\xBA\xD0\xB2\xD0\xB0");
    WriteFile(dir.File("utf16.csv"), "\xFE\xFF" + *Iconv("UTF-16BE", "UTF-8", utf8));
    r = ReadThroughEntryPoints("CSV File", dir.File("utf16.csv"));
    ASSERT_TRUE(r->Ok()) << r->error;
    EXPECT_EQ(r->Text(2, 1), "\xD0\x9C\xD0\xBE\xD1\x81\xD0\xBA\xD0\xB2\xD0\xB0");

    // The options name the delimiter and the encoding.
    WriteFile(dir.File("semi.csv"), *Iconv("CP1251", "UTF-8", "\xD0\x9C;1,5\n"));
    CsvFileOptions o;
    o.SetDelimiter(";");
    o.SetEncoding("windows1251");
    OptionsBytes given;
    o.Write(&given.record);
    std::unique_ptr<char[]> own(given.record.data);
    r = ReadThroughEntryPoints("CSV File", dir.File("semi.csv"), &given.record);
    ASSERT_TRUE(r->Ok()) << r->error;
    EXPECT_EQ(r->Text(1, 1), "\xD0\x9C");
    EXPECT_EQ(r->Text(2, 1), "1,5");
}

TEST(CsvFile, CodesOptionsAndDelimiterGuess) {
    TempDir dir;
    {
        // Open does not touch the file; the read finds it missing.
        CsvFile f;
        EXPECT_EQ(f.Open(true, dir.File("missing.csv").c_str(), nullptr), 0);
        RecordingTable t;
        EXPECT_EQ(f.Read(&t), 768);
        EXPECT_EQ(ErrorOf(f), "Failed to open stream for reading.");
        EXPECT_EQ(f.GetNumCols(), 1);
        EXPECT_EQ(f.GetNumRows(), 1);
    }
    {
        CsvFile f;
        EXPECT_EQ(f.Open(false, dir.File("out.csv").c_str(), nullptr), 770);
        EXPECT_EQ(ErrorOf(f), "Can not write csv files.");
    }
    WriteFile(dir.File("a.csv"), "a;b;c,d\n");
    {
        OptionsBytes bad("junk");
        CsvFile f;
        ASSERT_EQ(f.Open(true, dir.File("a.csv").c_str(), &bad.record), 0);
        RecordingTable t;
        EXPECT_EQ(f.Read(&t), 5);
        EXPECT_TRUE(t.texts.empty());
    }
    {
        // An empty record receives the CSV defaults: comma, no encoding, no merging key.
        CsvFile f;
        QmImportOpenOptions empty{0, nullptr};
        ASSERT_EQ(f.Open(true, dir.File("a.csv").c_str(), &empty), 0);
        RecordingTable t;
        ASSERT_EQ(f.Read(&t), 0);
        ASSERT_GT(empty.size, 0);
        std::istringstream in(std::string(empty.data, static_cast<std::size_t>(empty.size)));
        std::string xml;
        ASSERT_TRUE(ReadBinaryString(in, xml));
        auto doc = TinyXML2Section::CreateXMLSectionFromString(xml.c_str());
        auto settings = doc->GetSection("Settings");
        std::string delimiter;
        EXPECT_TRUE(settings->ReadKey("Delimiter", delimiter));
        EXPECT_EQ(delimiter, "%2C");
        EXPECT_TRUE(settings->HasKey("Encoding"));
        EXPECT_FALSE(settings->HasKey("IgnoreConsecutiveDelimiters"));
        EXPECT_EQ(t.Row(1), (std::vector<std::string>{"a;b;c", "d"}));
    }
    // Plain CSV offers no options of its own.
    EXPECT_EQ(QmImportGetFileOptions(FormatIndex("CSV File"), dir.File("a.csv").c_str(), false), nullptr);

    auto guess = [&](const std::string& line) {
        WriteFile(dir.File("g.csv"), line + "\n1,2\n");
        CsvFile f;
        f.Open(true, dir.File("g.csv").c_str(), nullptr);
        return f.GetDelimiter();
    };
    EXPECT_EQ(guess("a;b;c,d"), ';');
    EXPECT_EQ(guess("a;b,c,d"), ',');
    EXPECT_EQ(guess("a;b,c"), ',');  // a tie
    CsvFile missing;
    missing.Open(true, dir.File("none.csv").c_str(), nullptr);
    EXPECT_EQ(missing.GetDelimiter(), ',');

    const QmImportFileFormatInfo* info = QmImportGetFileFormatInfo(FormatIndex("CSV File"));
    EXPECT_STREQ(info->filter, "CSV Files (*.csv)");
    EXPECT_EQ(info->saveFilter, nullptr);
    EXPECT_EQ(info->extensionCount, 1);
    EXPECT_STREQ(info->extensions, ".csv");
    const signed char flags[6] = {info->canWrite, info->canRead, info->multiFile,
                                  info->tableFlag, info->formatFlag, info->priority};
    EXPECT_EQ(std::vector<signed char>(flags, flags + 6), (std::vector<signed char>{0, 1, 1, 1, 1, 1}));
    EXPECT_EQ(QmImportIsCorrectFileType(FormatIndex("CSV File"), dir.File("a.csv").c_str()), 1);
}

// Files reach the CSV parser line by line, and a line holding only fields and delimiters is
// taken in one step. Whatever the lines hold, the records must be those of feeding the text
// one code point at a time.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "formats/text/CsvFile.h"
#include "formats/text/TextTestSupport.h"

using namespace kelto::test;

namespace {

// The lines fed as the file reader feeds them (each line, then its line feed) against the
// same text one code point at a time.
::testing::AssertionResult SameRecords(const std::vector<std::string>& lines, const CsvDialect& dialect, int maxRows) {
    CsvParser byLine(dialect, maxRows), byChar(dialect, maxRows);
    // As the file reader does: a line's feed goes in before the next line, feeding stops
    // once the parser is done.
    std::string text;
    for (std::size_t i = 0; i < lines.size() && !byLine.Done(); ++i) {
        if (i > 0) byLine.Feed('\n');
        byLine.FeedText(lines[i].data(), lines[i].data() + lines[i].size());
    }
    if (!byLine.Done()) {
        byLine.Feed('\n');
        byLine.Finish();
    }
    for (const std::string& line : lines) text += line + "\n";
    FeedCodePoints(byChar, text);
    if (!byChar.Done()) byChar.Finish();
    std::string a = RecordsOf(byLine), b = RecordsOf(byChar);
    if (a == b && byLine.EndedInQuotedField() == byChar.EndedInQuotedField() && byLine.Done() == byChar.Done())
        return ::testing::AssertionSuccess();
    std::string shown;
    for (unsigned char c : text) shown += c == '\n' ? std::string("\\n") : c == '\r' ? std::string("\\r") : c == 0 ? std::string("\\0") : std::string(1, static_cast<char>(c));
    return ::testing::AssertionFailure() << "text \"" << shown << "\": by line " << a << ", by character " << b;
}

CsvDialect Dialect(int which) {
    CsvDialect d = which % 2 ? CsvDialect::Excel() : CsvDialect::Vorlund();
    switch (which / 2) {
        case 1: d.delimiter = ';'; break;
        case 2: d.escapeChar = '\\'; break;
        case 3: d.quoting = 0; break;
        case 4: d.delimiter = ' '; break;
        case 5: d.delimiter = '\t'; d.doubleQuote = false; break;
        default: break;
    }
    return d;
}

}  // namespace

TEST(CsvLines, PlainLinesGiveTheRecordsOfCharacterByCharacterFeeding) {
    const std::vector<std::vector<std::string>> cases = {
        {"1,2,3", "4,5,6"},
        {"a,b,", ",a", ",", ",,", "x"},
        {"", "a", "", ""},
        {"12345678,23456789,34567890,4", "0123456,7,,,,,,,,,,,,,,,,,8"},  // delimiters in every word position
        {"-1.5,2e3,\xC3\xA9t\xC3\xA9,\xE6\x97\xA5\xE6\x9C\xAC,end"},
        {"a,\"b", "c\",d", "e"},  // a quoted field across lines: the second line is not plain
        {"a,b\r", "c,d\r", "\r"},
        {"x, y", " z,w"},
        {"abc\\,def,g", "h"},
        {std::string("ab\0cd,efghijkl,m", 16)},
        {"1;2;3", "4,5;6"},
    };
    for (int which = 0; which < 12; ++which)
        for (const auto& lines : cases) EXPECT_TRUE(SameRecords(lines, Dialect(which), 1000)) << "dialect " << which;
    // A line given in pieces: the state a plain piece leaves decides what the next one means.
    for (const char* second : {"\"b,c\"", " \"b\"", "b\"", ",x"}) {
        for (const char* first : {"a,", "a", ","}) {
            CsvParser pieces(CsvDialect::Vorlund(), 100), whole(CsvDialect::Vorlund(), 100);
            pieces.FeedText(first, first + std::strlen(first));
            pieces.FeedText(second, second + std::strlen(second));
            pieces.Finish();
            FeedCodePoints(whole, std::string(first) + second);
            whole.Finish();
            EXPECT_EQ(RecordsOf(pieces), RecordsOf(whole)) << first << " then " << second;
        }
    }
    // The parser stops after maxRows records, plain lines or not.
    EXPECT_TRUE(SameRecords({"1,2", "3,4", "5,6", "7,8"}, CsvDialect::Vorlund(), 2));
}

TEST(CsvLines, RandomLinesGiveTheRecordsOfCharacterByCharacterFeeding) {
    std::mt19937_64 rng(977);
    // Mostly plain material, with every character that changes the machine's course.
    static const char* pieces[] = {"1",  "23", "4.5", "-0.25", "abc", "\xC3\xA9", "\xE2\x82\xAC", ",",  ",",
                                   ",",  ";",  "\t",  " ",     "\"",  "\"\"",     "\\",           "\r", std::string_view("\0", 1).data(),
                                   "12345678901234567890"};
    int failures = 0;
    for (int i = 0; i < 20000 && failures < 10; ++i) {
        CsvDialect dialect = Dialect(static_cast<int>(rng() % 12));
        std::vector<std::string> lines(1 + rng() % 4);
        const bool plainOnly = rng() % 2 == 0;  // half of the texts without any special character
        for (std::string& line : lines) {
            int n = static_cast<int>(rng() % 30);
            for (int k = 0; k < n; ++k) {
                std::size_t which = rng() % (plainOnly ? 11 : std::size(pieces));
                if (which == 17)
                    line += '\0';
                else
                    line += pieces[which];
            }
        }
        ::testing::AssertionResult same = SameRecords(lines, dialect, rng() % 8 == 0 ? 2 : 1000);
        if (!same) ++failures;
        EXPECT_TRUE(same);
    }
}

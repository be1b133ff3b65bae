#include "outside/utl/QmTextIOStream.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "TestFiles.h"

using kelto::test::Iconv;
using kelto::test::ReadFile;
using kelto::test::TempDir;
using kelto::test::WriteFile;
using Lines = std::vector<std::string>;

namespace {

const char kArabic[] = "مرحبا بالعالم";
const char kCentral[] = "Žluťoučký kůň úpěl ďábelské ódy";
const char kCyrillic[] = "Съешь же ещё этих мягких булок";
const char kGreek[] = "Καλημέρα κόσμε";
const char kHebrew[] = "שלום עולם";
const char kJapanese[] = "日本語のテキスト、カタカナ";
const char kKorean[] = "한국어 텍스트";
const char kTurkish[] = "Türkçe ğüşıöç İstanbul";
const char kUnicode[] = "Grüße 日本 😀 €";
const char kWestern[] = "Café crème €5 „Zitat“";

// Every name of the text formats' encoding table, the same encoding in glibc's iconv, and
// non-ASCII text of its script.
const char* const kEncodings[][3] = {
    {"ibm420", "IBM420", kArabic},        {"iso88596", "ISO-8859-6", kArabic},    {"windows1256", "CP1256", kArabic},
    {"iso88592", "ISO-8859-2", kCentral}, {"windows1250", "CP1250", kCentral},    {"gb18030", "GB18030", "中文字符 简体 𠀀 €"},
    {"iso2022cn", "ISO-2022-CN", "中文字符 简体"}, {"big5", "BIG5", "繁體中文 臺灣"},    {"iso88595", "ISO-8859-5", kCyrillic},
    {"koi8r", "KOI8-R", kCyrillic},       {"windows1251", "CP1251", kCyrillic},   {"iso88597", "ISO-8859-7", kGreek},
    {"windows1253", "CP1253", kGreek},    {"ibm424", "IBM424", kHebrew},          {"iso88598", "ISO-8859-8", kHebrew},
    {"windows1255", "CP1255", kHebrew},   {"eucjp", "EUC-JP", kJapanese},         {"iso2022jp", "ISO-2022-JP", kJapanese},
    {"shiftjis", "SHIFT_JIS", kJapanese}, {"euckr", "EUC-KR", kKorean},           {"iso2022kr", "ISO-2022-KR", kKorean},
    {"", "CP1252", kWestern},             {"iso88599", "ISO-8859-9", kTurkish},   {"windows1254", "CP1254", kTurkish},
    {"utf16be", "UTF-16BE", kUnicode},    {"utf16le", "UTF-16LE", kUnicode},      {"utf32be", "UTF-32BE", kUnicode},
    {"utf32le", "UTF-32LE", kUnicode},    {"utf8", "UTF-8", kUnicode},            {"cp850", "IBM850", "Ça coûte ½ £ Übermaß"},
    {"iso88591", "ISO-8859-1", "Ça coûte ½ £ Übermaß"}, {"windows-1252", "CP1252", kWestern},
};

Lines ReadLines(const std::string& path, const std::string& encoding) {
    QmTextIOStream in(path, encoding);
    EXPECT_FALSE(!in) << path;
    Lines lines;
    for (std::string line; in.GetLine(line);) lines.push_back(line);
    EXPECT_TRUE(in.EndOfFile());
    EXPECT_FALSE(in.Fail());
    return lines;
}

std::u32string ReadChars(const std::string& path, const std::string& encoding) {
    QmTextIOStream in(path, encoding);
    std::u32string chars;
    for (std::uint32_t c; (c = in.GetChar()) != QmTextIOStream::kEndOfStream;) chars += static_cast<char32_t>(c);
    return chars;
}

std::u32string ToUtf32(const std::string& utf8) {
    std::string bytes = Iconv("UTF-32LE", "UTF-8", utf8).value();
    std::u32string out(bytes.size() / 4, U'\0');
    std::memcpy(out.data(), bytes.data(), bytes.size());  // this host is little-endian
    return out;
}

}  // namespace

TEST(QmTextIOStream, EveryTableEncodingRoundTripsItsScript) {
    TempDir dir;
    ASSERT_EQ(std::size(kEncodings), 32u);
    for (const auto& [name, glibc, script] : kEncodings) {
        SCOPED_TRACE(std::string("encoding \"") + name + "\"");
        // Pure-ASCII lines, script lines, an empty one, and a last one without LF.
        const std::string s = script;
        const Lines lines = {"Name\tValue", s, "x " + s + " 1.5", "", "12\t" + s, "tail"};
        const std::string text = "Name\tValue\n" + s + "\nx " + s + " 1.5\n\n12\t" + s + "\ntail";
        std::string path = dir.File(std::string("out-") + name + ".txt");
        {
            // Written in pieces, as the text writer does (cell, delimiter, cell, line feed).
            QmTextIOStream out(path, name, QmTextIOStream::ForWriting);
            ASSERT_FALSE(!out);
            for (std::size_t i = 0; i < lines.size(); ++i) ASSERT_TRUE((i == 0 || out.WriteString("\n")) && out.WriteString(lines[i].c_str()));
            ASSERT_TRUE(out.Close());
        }
        // An independent decoder reads what was written as the text...
        std::string bytes = ReadFile(path);
        EXPECT_TRUE(std::string(name) == "utf8" || bytes != text) << "nothing was converted";
        EXPECT_EQ(Iconv("UTF-8", glibc, bytes), text);
        // ...and what an independent encoder writes reads back as the text, line by line and
        // character by character.
        std::string foreignPath = dir.File(std::string("in-") + name + ".txt");
        WriteFile(foreignPath, Iconv(glibc, "UTF-8", text).value());
        EXPECT_EQ(ReadLines(path, name), lines);
        EXPECT_EQ(ReadLines(foreignPath, name), lines);
        EXPECT_EQ(ReadChars(foreignPath, name), ToUtf32(text));
    }
}

TEST(QmTextIOStream, EveryByteOrderMarkSelectsItsEncodingAndRewindSkipsIt) {
    TempDir dir;
    std::string path = dir.File("mark.txt");
    // The mark overrides the encoding asked for; Rewind starts after it, never at U+FEFF.
    for (const auto& [mark, glibc] : {std::pair<std::string, const char*>{"\xEF\xBB\xBF", "UTF-8"}, {"\xFE\xFF", "UTF-16BE"},
                                      {"\xFF\xFE", "UTF-16LE"}, {std::string("\xFF\xFE\0\0", 4), "UTF-32LE"},
                                      {std::string("\0\0\xFE\xFF", 4), "UTF-32BE"}}) {
        WriteFile(path, mark + *Iconv(glibc, "UTF-8", "ä1\r\nß"));
        EXPECT_EQ(ReadLines(path, "shiftjis"), (Lines{"ä1\r", "ß"})) << glibc;
        QmTextIOStream in(path, "");
        EXPECT_EQ(in.GetBomLength(), static_cast<int>(mark.size())) << glibc;
        EXPECT_EQ(in.GetEncoding(), glibc);
        std::string line;
        ASSERT_TRUE(in.GetLine(line) && in.GetLine(line) && in.Rewind()) << glibc;
        EXPECT_EQ(in.GetChar(), 0xE4u) << glibc;
    }
    WriteFile(path, "\xEF\xBB\xBF");  // a file of only a mark holds no text
    EXPECT_TRUE(ReadLines(path, "").empty());
}

TEST(QmTextIOStream, AsciiBytesAreDecodedInEncodingsWhereTheyMeanSomethingElse) {
    TempDir dir;
    std::string path = dir.File("jis.txt");
    // ISO-2022-JP writes Japanese with ASCII bytes only: they must not pass through.
    WriteFile(path, *Iconv("ISO-2022-JP", "UTF-8", "日本\nテスト"));
    EXPECT_EQ(ReadLines(path, "iso2022jp"), (Lines{"日本", "テスト"}));
    // In UTF-16LE, U+0A0A is the bytes 0A 0A: no line feed at all.
    std::string gurmukhi = "\xE0\xA8\x8A\xE0\xA8\x8A";  // U+0A0A twice
    WriteFile(path, *Iconv("UTF-16LE", "UTF-8", gurmukhi + "\n" + gurmukhi));
    EXPECT_EQ(ReadLines(path, "utf16le"), (Lines{gurmukhi, gurmukhi}));
    // In EBCDIC, "A" is 0xC1, line feed 0x25 and the byte 0x0A no line end.
    WriteFile(path, "\xC1\x0A\xC2\x25\xC3");
    Lines ebcdic = ReadLines(path, "ibm424");
    ASSERT_EQ(ebcdic.size(), 2u);
    EXPECT_EQ(ebcdic[0].front(), 'A');
    EXPECT_EQ(ebcdic[0].back(), 'B');
    EXPECT_EQ(ebcdic[1], "C");
}

TEST(QmTextIOStream, LongFilesCrossBufferBoundariesIntact) {
    TempDir dir;
    // Lines of varying length, enough to span several internal buffers, so that lines and
    // multi-byte characters are cut at every kind of place.
    Lines lines;
    std::string text;
    for (int i = 0; i < 30000; ++i) {
        std::string line = std::to_string(i) + "\t";
        for (int k = 0; k < i % 23; ++k) line += (i % 3 == 0) ? "日本" : (i % 3 == 1) ? "ab" : "ア";
        if (i % 5001 == 0) line += std::string(300000, 'x');  // longer than a whole buffer
        lines.push_back(line);
        text += line + "\n";
    }
    const std::pair<const char*, const char*> encodings[] = {
        {"utf16le", "UTF-16LE"}, {"shiftjis", "SHIFT_JIS"}, {"iso2022jp", "ISO-2022-JP"},
        {"utf8", "UTF-8"},       {"gb18030", "GB18030"},    {"utf32be", "UTF-32BE"}};
    std::string path = dir.File("long.txt");
    for (const auto& [name, glibc] : encodings) {
        SCOPED_TRACE(name);
        WriteFile(path, Iconv(glibc, "UTF-8", text).value());
        Lines got = ReadLines(path, name);
        ASSERT_EQ(got.size(), lines.size());
        for (std::size_t i = 0; i < lines.size(); ++i) ASSERT_EQ(got[i], lines[i]) << "line " << i;
        EXPECT_EQ(ReadChars(path, name).size(), ToUtf32(text).size());
    }
}

TEST(QmTextIOStream, LineEndsRightAtReadBoundariesAreFound) {
    // A line feed that is the first or last byte of a read (whatever size reads have) must
    // end its line: try every place around the powers of two a buffer could have.
    TempDir dir;
    std::string path = dir.File("edge.txt");
    for (std::size_t base = std::size_t{1} << 12; base <= (std::size_t{1} << 20); base <<= 1) {
        for (std::size_t a : {base - 2, base - 1, base, base + 1}) {
            // A CR LF cut between two reads is one line end, a CR alone at the end of a read
            // is one too.
            for (const std::string end : {"\n", "\r", "\r\n"}) {
                SCOPED_TRACE(std::to_string(a) + (end == "\n" ? " LF" : end == "\r" ? " CR" : " CR LF"));
                const std::string first(a, 'a'), kept = end == "\r\n" ? "\r" : "";
                WriteFile(path, first + end + "b" + end);
                EXPECT_EQ(ReadLines(path, "windows-1252"), (Lines{first + kept, "b" + kept}));
                WriteFile(path, *Iconv("UTF-16LE", "UTF-8", first + end + "b" + end));
                EXPECT_EQ(ReadLines(path, "utf16le"), (Lines{first + kept, "b" + kept}));
            }
        }
    }
}

TEST(QmTextIOStream, CrAloneEndsALineAsLfAndCrLfDo) {
    TempDir dir;
    const std::string path = dir.File("cr.txt");
    // A CR before an LF stays in its line for the callers to strip; a CR alone is dropped.
    const std::vector<std::pair<std::string, Lines>> cases = {
        {"a\rb\rc", {"a", "b", "c"}},
        {"a\rb\r", {"a", "b"}},
        {"a\r\rb\r\n\r", {"a", "", "b\r", ""}},
        {"a\nb\r\nc\rd\n", {"a", "b\r", "c", "d"}},
        {"\xE6\x97\xA5\xE6\x9C\xAC\r\xE6\x9C\xAC\r\nx\r", {"\xE6\x97\xA5\xE6\x9C\xAC", "\xE6\x9C\xAC\r", "x"}},
    };
    for (const auto& [name, glibc] : {std::pair{"utf8", "UTF-8"}, {"utf16le", "UTF-16LE"}, {"utf32be", "UTF-32BE"},
                                      {"shiftjis", "SHIFT_JIS"}}) {
        for (const auto& [text, lines] : cases) {
            SCOPED_TRACE(std::string(name) + ": " + text);
            WriteFile(path, *Iconv(glibc, "UTF-8", text));
            EXPECT_EQ(ReadLines(path, name), lines);
        }
    }
}

TEST(QmTextIOStream, GetCharAndGetLineShareOnePosition) {
    TempDir dir;
    std::string path = dir.File("mix.txt");
    // The same text in windows-1252 (whose ASCII lines are not decoded) and in UTF-16BE.
    for (const auto& [encoding, glibc] : {std::pair{"windows-1252", "CP1252"}, {"utf16be", "UTF-16BE"}}) {
        SCOPED_TRACE(encoding);
        WriteFile(path, *Iconv(glibc, "UTF-8", "é1\nabé\ncd"));
        QmTextIOStream in(path, encoding);
        std::string line;
        EXPECT_EQ(in.GetChar(), 0xE9u);
        ASSERT_TRUE(in.GetLine(line));
        EXPECT_EQ(line, "1");
        EXPECT_EQ(in.GetChar(), std::uint32_t{'a'});
        ASSERT_TRUE(in.GetLine(line));
        EXPECT_EQ(line, "bé");
        EXPECT_EQ(in.GetChar(), std::uint32_t{'c'});
        EXPECT_EQ(in.GetChar(), std::uint32_t{'d'});
        EXPECT_EQ(in.GetChar(), QmTextIOStream::kEndOfStream);
        EXPECT_TRUE(in.EndOfFile());
    }
}

TEST(QmTextIOStream, EndsOfFilesAndBadBytes) {
    TempDir dir;
    std::string path = dir.File("eof.txt");
    const std::tuple<std::string, const char*, Lines> cases[] = {
        {"", "utf8", {}},
        {"a\n", "utf8", {"a"}},
        {"a\n\n", "utf8", {"a", ""}},
        {*Iconv("ISO-2022-JP", "UTF-8", "日本"), "iso2022jp", {"日本"}},  // the closing shift is no text
        // An invalid byte and cut sequences (one at the very end) become U+FFFD.
        {"a\xFF" "b\n\xC3\n\xE6\x97", "utf8", {"a\xEF\xBF\xBD" "b", "\xEF\xBF\xBD", "\xEF\xBF\xBD"}},
        {"x\x82\ny", "shiftjis", {"x\xEF\xBF\xBD", "y"}},                  // lead byte without its trail byte
        {std::string("\x41\x00\x42", 3), "utf16le", {"A\xEF\xBF\xBD"}},    // an odd last byte
    };
    for (const auto& [bytes, encoding, lines] : cases) {
        WriteFile(path, bytes);
        EXPECT_EQ(ReadLines(path, encoding), lines) << encoding;
    }
}

TEST(QmTextIOStream, WritingReplacesWhatTheEncodingLacksAndMarksOnRequest) {
    TempDir dir;
    std::string path = dir.File("w.txt");
    const std::tuple<const char*, bool, std::string, std::string> cases[] = {
        {"windows-1252", true, "日本 €\n", "?? \x80\n"},  // no mark for a code page
        {"utf16le", true, std::string("a\0b", 3), std::string("\xFF\xFE" "a\0\0\0b\0", 8)},
        {"utf8", true, "\xFFz", "\xEF\xBB\xBF\xEF\xBF\xBDz"},  // invalid input is not copied through
        {"ibm420", false, "A\n", "\xC1\x25"},
    };
    for (const auto& [encoding, bom, text, bytes] : cases) {
        {
            QmTextIOStream out(path, encoding, QmTextIOStream::ForWriting, bom);
            ASSERT_TRUE(out.WriteString(text));
        }
        EXPECT_EQ(ReadFile(path), bytes) << encoding;
    }
}

TEST(QmTextIOStream, FailuresAreReported) {
    TempDir dir;
    std::string path = dir.File("ok.txt"), line;
    WriteFile(path, "x");
    QmTextIOStream missing(dir.File("none.txt"), "utf8");
    EXPECT_TRUE(!missing);
    EXPECT_FALSE(missing.GetLine(line));
    EXPECT_EQ(missing.GetChar(), QmTextIOStream::kEndOfStream);
    EXPECT_TRUE(!QmTextIOStream(dir.Path().string(), "utf8"));  // a directory
    EXPECT_TRUE(!QmTextIOStream(path, "no-such-encoding"));
    EXPECT_TRUE(!QmTextIOStream(path, "utf8", 7));  // no such mode
    EXPECT_FALSE(QmTextIOStream(dir.File("no/such/dir/f.txt"), "utf8", QmTextIOStream::ForWriting).WriteString("x"));
    QmTextIOStream reader(path, "utf8");
    EXPECT_FALSE(reader.WriteString("x"));
    EXPECT_TRUE(reader.Fail());
}

// Setting the legacy encoding and reading with the empty name is shown by the test through
// the shared library; here: its default, and a name that does not open is refused.
TEST(QmTextIOStream, LegacyEncodingDefaultAndRefusal) {
    TempDir dir;
    std::string path = dir.File("legacy.txt");
    WriteFile(path, "\xF0\x80");
    EXPECT_EQ(GetLegacyStreamEncoding(), "windows-1252");
    EXPECT_EQ(ReadLines(path, ""), (Lines{"ð€"}));
    EXPECT_FALSE(SetLegacyStreamEncoding("no-such-encoding"));
    EXPECT_EQ(GetLegacyStreamEncoding(), "windows-1252");
}

#include "outside/utl/QmTextIOStream.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "TestFiles.h"

using kelto::test::Iconv;
using kelto::test::ReadFile;
using kelto::test::TempDir;
using kelto::test::WriteFile;

namespace {

struct EncodingCase {
    const char* name;   // as the text formats name it
    const char* glibc;  // the same encoding in glibc's iconv
    const char* text;   // non-ASCII text of the encoding's script (UTF-8)
};

const char kArabic[] = "مرحبا بالعالم";
const char kCentral[] = "Žluťoučký kůň úpěl ďábelské ódy";
const char kCyrillic[] = "Съешь же ещё этих мягких булок";
const char kGreek[] = "Καλημέρα κόσμε";
const char kHebrew[] = "שלום עולם";
const char kJapanese[] = "日本語のテキスト、カタカナ";
const char kKorean[] = "한국어 텍스트";
const char kTurkish[] = "Türkçe ğüşıöç İstanbul";
const char kUnicode[] = "Grüße 日本 😀 €";

// Every name of the text formats' encoding table, with text of its script.
const EncodingCase kEncodings[] = {
    {"ibm420", "IBM420", kArabic},
    {"iso88596", "ISO-8859-6", kArabic},
    {"windows1256", "CP1256", kArabic},
    {"iso88592", "ISO-8859-2", kCentral},
    {"windows1250", "CP1250", kCentral},
    {"gb18030", "GB18030", "中文字符 简体 𠀀 €"},
    {"iso2022cn", "ISO-2022-CN", "中文字符 简体"},
    {"big5", "BIG5", "繁體中文 臺灣"},
    {"iso88595", "ISO-8859-5", kCyrillic},
    {"koi8r", "KOI8-R", kCyrillic},
    {"windows1251", "CP1251", kCyrillic},
    {"iso88597", "ISO-8859-7", kGreek},
    {"windows1253", "CP1253", kGreek},
    {"ibm424", "IBM424", kHebrew},
    {"iso88598", "ISO-8859-8", kHebrew},
    {"windows1255", "CP1255", kHebrew},
    {"eucjp", "EUC-JP", kJapanese},
    {"iso2022jp", "ISO-2022-JP", kJapanese},
    {"shiftjis", "SHIFT_JIS", kJapanese},
    {"euckr", "EUC-KR", kKorean},
    {"iso2022kr", "ISO-2022-KR", kKorean},
    {"", "CP1252", "Café crème €5 „Zitat“"},
    {"iso88599", "ISO-8859-9", kTurkish},
    {"windows1254", "CP1254", kTurkish},
    {"utf16be", "UTF-16BE", kUnicode},
    {"utf16le", "UTF-16LE", kUnicode},
    {"utf32be", "UTF-32BE", kUnicode},
    {"utf32le", "UTF-32LE", kUnicode},
    {"utf8", "UTF-8", kUnicode},
    {"cp850", "IBM850", "Ça coûte ½ £ Übermaß"},
    {"iso88591", "ISO-8859-1", "Ça coûte ½ £ Übermaß"},
    {"windows-1252", "CP1252", "Café crème €5 „Zitat“"},
};

// Lines mixing pure-ASCII ones, script ones, an empty one, and a last one without LF.
std::vector<std::string> SampleLines(const std::string& script) {
    return {"Name\tValue", script, "x " + script + " 1.5", "", "12\t" + script, "tail"};
}

std::string Joined(const std::vector<std::string>& lines) {
    std::string text;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (i) text += '\n';
        text += lines[i];
    }
    return text;
}

std::vector<std::string> ReadLines(const std::string& path, const std::string& encoding) {
    QmTextIOStream in(path, encoding);
    EXPECT_FALSE(!in) << path;
    std::vector<std::string> lines;
    std::string line;
    while (in.GetLine(line)) lines.push_back(line);
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
    std::optional<std::string> bytes = Iconv("UTF-32LE", "UTF-8", utf8);
    std::u32string out;
    if (!bytes) return out;
    for (std::size_t i = 0; i + 4 <= bytes->size(); i += 4) {
        auto b = [&](std::size_t k) { return static_cast<char32_t>(static_cast<unsigned char>((*bytes)[i + k])); };
        out += b(0) | b(1) << 8 | b(2) << 16 | b(3) << 24;
    }
    return out;
}

class LegacyEncodingGuard {
public:
    LegacyEncodingGuard() : saved_(GetLegacyStreamEncoding()) {}
    ~LegacyEncodingGuard() { SetLegacyStreamEncoding(saved_); }

private:
    std::string saved_;
};

}  // namespace

TEST(QmTextIOStream, EveryTableEncodingRoundTripsItsScript) {
    TempDir dir;
    ASSERT_EQ(std::size(kEncodings), 32u);
    for (const EncodingCase& e : kEncodings) {
        SCOPED_TRACE(std::string("encoding \"") + e.name + "\"");
        std::vector<std::string> lines = SampleLines(e.text);
        std::string text = Joined(lines);
        std::string path = dir.File(std::string("out-") + e.name + ".txt");
        {
            QmTextIOStream out(path, e.name, QmTextIOStream::ForWriting);
            ASSERT_FALSE(!out);
            // Written in pieces, as the text writer does (cell, delimiter, cell, line feed).
            for (std::size_t i = 0; i < lines.size(); ++i) {
                if (i) {
                    ASSERT_TRUE(out.WriteString("\n"));
                }
                ASSERT_TRUE(out.WriteString(lines[i].c_str()));
            }
            ASSERT_TRUE(out.Close());
        }
        std::string bytes = ReadFile(path);
        if (std::string(e.name) != "utf8") {
            EXPECT_NE(bytes, text) << "nothing was converted";
        }
        // An independent decoder reads what was written as the text.
        std::optional<std::string> decoded = Iconv("UTF-8", e.glibc, bytes);
        ASSERT_TRUE(decoded.has_value()) << "iconv cannot decode the written bytes";
        EXPECT_EQ(*decoded, text);
        // And what an independent encoder writes reads back as the text, line by line and
        // character by character.
        std::optional<std::string> foreign = Iconv(e.glibc, "UTF-8", text);
        ASSERT_TRUE(foreign.has_value());
        std::string foreignPath = dir.File(std::string("in-") + e.name + ".txt");
        WriteFile(foreignPath, *foreign);
        EXPECT_EQ(ReadLines(path, e.name), lines);
        EXPECT_EQ(ReadLines(foreignPath, e.name), lines);
        EXPECT_EQ(ReadChars(foreignPath, e.name), ToUtf32(text));
    }
}

TEST(QmTextIOStream, Utf16LeWithBomAndCrLfReadsLineByLine) {
    TempDir dir;
    std::string text = "Probe\tWert\r\nÄpfel\t1,5\r\n\r\nЁж 😀\r\nlast";
    std::optional<std::string> body = Iconv("UTF-16LE", "UTF-8", text);
    ASSERT_TRUE(body);
    std::string path = dir.File("bom16.txt");
    WriteFile(path, std::string("\xFF\xFE") + *body);
    // The mark overrides the encoding asked for (here the legacy one).
    QmTextIOStream in(path, "");
    ASSERT_FALSE(!in);
    EXPECT_EQ(in.GetBomLength(), 2);
    EXPECT_EQ(in.GetEncoding(), "UTF-16LE");
    std::vector<std::string> want = {"Probe\tWert\r", "Äpfel\t1,5\r", "\r", "Ёж 😀\r", "last"};
    std::string line;
    for (const std::string& w : want) {
        EXPECT_FALSE(in.EndOfFile());
        ASSERT_TRUE(in.GetLine(line));
        EXPECT_EQ(line, w);
    }
    EXPECT_TRUE(in.EndOfFile());
    EXPECT_FALSE(in.GetLine(line));
    EXPECT_EQ(line, "");
    // Rewind starts after the mark: the first character is "P", not U+FEFF.
    ASSERT_TRUE(in.Rewind());
    EXPECT_EQ(in.GetChar(), static_cast<std::uint32_t>('P'));
    ASSERT_TRUE(in.GetLine(line));
    EXPECT_EQ(line, "robe\tWert\r");
}

TEST(QmTextIOStream, EveryByteOrderMarkSelectsItsEncoding) {
    TempDir dir;
    const struct {
        const char* mark;
        std::size_t length;
        const char* glibc;
    } marks[] = {{"\xEF\xBB\xBF", 3, "UTF-8"},
                 {"\xFF\xFE", 2, "UTF-16LE"},
                 {"\xFE\xFF", 2, "UTF-16BE"},
                 {"\xFF\xFE\0\0", 4, "UTF-32LE"},
                 {"\0\0\xFE\xFF", 4, "UTF-32BE"}};
    for (const auto& m : marks) {
        SCOPED_TRACE(m.glibc);
        std::string path = dir.File("mark.txt");
        WriteFile(path, std::string(m.mark, m.length) + *Iconv(m.glibc, "UTF-8", "ä1\nß"));
        EXPECT_EQ(ReadLines(path, "windows-1252"), (std::vector<std::string>{"ä1", "ß"}));
        QmTextIOStream in(path, "shiftjis");
        EXPECT_EQ(in.GetBomLength(), static_cast<int>(m.length));
        EXPECT_EQ(in.GetChar(), 0xE4u);
    }
}

TEST(QmTextIOStream, AsciiBytesAreDecodedInEncodingsWhereTheyMeanSomethingElse) {
    TempDir dir;
    // ISO-2022-JP writes Japanese with ASCII bytes only: they must not pass through.
    std::string jis = *Iconv("ISO-2022-JP", "UTF-8", "日本\nテスト");
    for (char c : jis) ASSERT_LT(static_cast<unsigned char>(c), 0x80);
    std::string path = dir.File("jis.txt");
    WriteFile(path, jis);
    EXPECT_EQ(ReadLines(path, "iso2022jp"), (std::vector<std::string>{"日本", "テスト"}));

    // In UTF-16LE, U+0A0A is the bytes 0A 0A: no line feed at all.
    std::string gurmukhi = "\xE0\xA8\x8A\xE0\xA8\x8A";  // U+0A0A twice
    WriteFile(path, *Iconv("UTF-16LE", "UTF-8", gurmukhi + "\n" + gurmukhi));
    EXPECT_EQ(ReadLines(path, "utf16le"), (std::vector<std::string>{gurmukhi, gurmukhi}));

    // In EBCDIC, "A" is 0xC1, line feed 0x25 and the byte 0x0A no line end.
    WriteFile(path, "\xC1\x0A\xC2\x25\xC3");
    std::vector<std::string> ebcdic = ReadLines(path, "ibm424");
    ASSERT_EQ(ebcdic.size(), 2u);
    EXPECT_EQ(ebcdic[0].front(), 'A');
    EXPECT_EQ(ebcdic[0].back(), 'B');
    EXPECT_EQ(ebcdic[1], "C");
}

TEST(QmTextIOStream, LongFilesCrossBufferBoundariesIntact) {
    TempDir dir;
    // Lines of varying length, enough to span several internal buffers, so that lines and
    // multi-byte characters are cut at every kind of place.
    std::vector<std::string> lines;
    std::string text;
    for (int i = 0; i < 30000; ++i) {
        std::string line = std::to_string(i) + "\t";
        for (int k = 0; k < i % 23; ++k) line += (i % 3 == 0) ? "日本" : (i % 3 == 1) ? "ab" : "ア";
        if (i % 5001 == 0) line += std::string(300000, 'x');  // longer than a whole buffer
        lines.push_back(line);
        text += line + "\n";
    }
    for (const char* enc : {"utf16le", "shiftjis", "iso2022jp", "utf8", "gb18030", "utf32be"}) {
        SCOPED_TRACE(enc);
        const char* glibc = std::string(enc) == "utf16le"    ? "UTF-16LE"
                            : std::string(enc) == "shiftjis" ? "SHIFT_JIS"
                            : std::string(enc) == "iso2022jp" ? "ISO-2022-JP"
                            : std::string(enc) == "utf8"     ? "UTF-8"
                            : std::string(enc) == "gb18030"  ? "GB18030"
                                                             : "UTF-32BE";
        std::string path = dir.File("long.txt");
        std::optional<std::string> bytes = Iconv(glibc, "UTF-8", text);
        ASSERT_TRUE(bytes.has_value());
        WriteFile(path, *bytes);
        std::vector<std::string> got = ReadLines(path, enc);
        ASSERT_EQ(got.size(), lines.size());
        for (std::size_t i = 0; i < lines.size(); ++i) ASSERT_EQ(got[i], lines[i]) << "line " << i;
        EXPECT_EQ(ReadChars(path, enc).size(), ToUtf32(text).size());
    }
}

TEST(QmTextIOStream, LineEndsRightAtReadBoundariesAreFound) {
    // A line feed that is the first or last byte of a read (whatever size reads have) must
    // end its line: try every place around the powers of two a buffer could have.
    TempDir dir;
    std::string path = dir.File("edge.txt");
    for (std::size_t base = std::size_t{1} << 12; base <= (std::size_t{1} << 20); base <<= 1) {
        for (std::size_t a : {base - 2, base - 1, base, base + 1}) {
            SCOPED_TRACE(a);
            std::string first(a, 'a');
            WriteFile(path, first + "\nb\n");
            EXPECT_EQ(ReadLines(path, "windows-1252"), (std::vector<std::string>{first, "b"}));
            if (base <= (std::size_t{1} << 18)) {
                WriteFile(path, *Iconv("UTF-16LE", "UTF-8", first + "\nb\n"));
                EXPECT_EQ(ReadLines(path, "utf16le"), (std::vector<std::string>{first, "b"}));
            }
        }
    }
}

TEST(QmTextIOStream, GetCharAndGetLineShareOnePosition) {
    TempDir dir;
    std::string path = dir.File("mix.txt");
    WriteFile(path, "\xE9" "1\nab\xE9\ncd");  // windows-1252: "é1", "abé", "cd"
    for (const char* enc : {"windows-1252", "iso88591"}) {
        QmTextIOStream in(path, enc);
        std::string line;
        EXPECT_EQ(in.GetChar(), 0xE9u);
        ASSERT_TRUE(in.GetLine(line));
        EXPECT_EQ(line, "1");
        EXPECT_EQ(in.GetChar(), static_cast<std::uint32_t>('a'));
        EXPECT_EQ(in.GetChar(), static_cast<std::uint32_t>('b'));
        EXPECT_EQ(in.GetChar(), 0xE9u);
        EXPECT_EQ(in.GetChar(), static_cast<std::uint32_t>('\n'));
        ASSERT_TRUE(in.GetLine(line));
        EXPECT_EQ(line, "cd");
        EXPECT_EQ(in.GetChar(), QmTextIOStream::kEndOfStream);
        EXPECT_TRUE(in.EndOfFile());
    }
    // The same in UTF-16, which decodes everything.
    WriteFile(path, *Iconv("UTF-16BE", "UTF-8", "é1\nabé\ncd"));
    QmTextIOStream in(path, "utf16be");
    std::string line;
    EXPECT_EQ(in.GetChar(), 0xE9u);
    ASSERT_TRUE(in.GetLine(line));
    EXPECT_EQ(line, "1");
    EXPECT_EQ(in.GetChar(), static_cast<std::uint32_t>('a'));
    ASSERT_TRUE(in.GetLine(line));
    EXPECT_EQ(line, "bé");
}

TEST(QmTextIOStream, EndOfFileMeansNoTextLeft) {
    TempDir dir;
    std::string path = dir.File("eof.txt");
    std::string line;
    WriteFile(path, "");
    {
        QmTextIOStream in(path, "utf8");
        EXPECT_FALSE(!in);
        EXPECT_TRUE(in.EndOfFile());
        EXPECT_FALSE(in.GetLine(line));
        EXPECT_EQ(in.GetChar(), QmTextIOStream::kEndOfStream);
    }
    WriteFile(path, "a\n");
    EXPECT_EQ(ReadLines(path, "utf8"), (std::vector<std::string>{"a"}));
    WriteFile(path, "a\n\n");
    EXPECT_EQ(ReadLines(path, "utf8"), (std::vector<std::string>{"a", ""}));
    // A closing shift sequence after the last character is no text.
    WriteFile(path, *Iconv("ISO-2022-JP", "UTF-8", "日本"));
    {
        QmTextIOStream in(path, "iso2022jp");
        ASSERT_TRUE(in.GetLine(line));
        EXPECT_EQ(line, "日本");
        EXPECT_TRUE(in.EndOfFile());
    }
    // A file of only a mark holds no text.
    WriteFile(path, "\xEF\xBB\xBF");
    EXPECT_TRUE(ReadLines(path, "").empty());
}

TEST(QmTextIOStream, BadBytesBecomeReplacementCharacters) {
    TempDir dir;
    std::string path = dir.File("bad.txt");
    WriteFile(path, "a\xFF" "b\n\xC3\n\xE6\x97");  // invalid byte, cut sequences (one at the very end)
    EXPECT_EQ(ReadLines(path, "utf8"), (std::vector<std::string>{"a\xEF\xBF\xBD" "b", "\xEF\xBF\xBD", "\xEF\xBF\xBD"}));
    WriteFile(path, "x\x82\ny");  // Shift-JIS lead byte with its trail byte missing
    std::vector<std::string> sjis = ReadLines(path, "shiftjis");
    ASSERT_EQ(sjis.size(), 2u);
    EXPECT_EQ(sjis[0].substr(0, 1), "x");
    EXPECT_GT(sjis[0].size(), 1u);
    EXPECT_EQ(sjis[1], "y");
    WriteFile(path, std::string("\x41\x00\x42", 3));  // UTF-16LE with an odd last byte
    std::vector<std::string> odd = ReadLines(path, "utf16le");
    ASSERT_EQ(odd.size(), 1u);
    EXPECT_EQ(odd[0].substr(0, 1), "A");
}

TEST(QmTextIOStream, WritingReplacesWhatTheEncodingLacksAndMarksOnRequest) {
    TempDir dir;
    std::string path = dir.File("w.txt");
    {
        QmTextIOStream out(path, "windows-1252", QmTextIOStream::ForWriting, true);
        ASSERT_TRUE(out.WriteString("日本 €\n"));
    }
    EXPECT_EQ(ReadFile(path), "?? \x80\n");  // no mark for a code page
    {
        QmTextIOStream out(path, "utf16le", QmTextIOStream::ForWriting, true);
        ASSERT_TRUE(out.WriteString(std::string_view("a\0b", 3)));
    }
    EXPECT_EQ(ReadFile(path), std::string("\xFF\xFE" "a\0\0\0b\0", 8));
    {
        QmTextIOStream out(path, "utf8", QmTextIOStream::ForWriting, true);
        ASSERT_TRUE(out.WriteString("\xFFz"));  // invalid input is not copied through
    }
    EXPECT_EQ(ReadFile(path), "\xEF\xBB\xBF\xEF\xBF\xBDz");
    {
        QmTextIOStream out(path, "ibm420", QmTextIOStream::ForWriting);
        ASSERT_TRUE(out.WriteString("A\n"));
    }
    EXPECT_EQ(ReadFile(path), "\xC1\x25");
}

TEST(QmTextIOStream, FailuresAreReported) {
    TempDir dir;
    std::string line;
    QmTextIOStream missing(dir.File("none.txt"), "utf8");
    EXPECT_TRUE(!missing);
    EXPECT_FALSE(missing.GetLine(line));
    EXPECT_EQ(missing.GetChar(), QmTextIOStream::kEndOfStream);
    EXPECT_TRUE(missing.EndOfFile());

    QmTextIOStream directory(dir.Path().string(), "utf8");
    EXPECT_TRUE(!directory);

    std::string path = dir.File("ok.txt");
    WriteFile(path, "x");
    QmTextIOStream unknown(path, "no-such-encoding");
    EXPECT_TRUE(!unknown);

    QmTextIOStream nowhere(dir.File("no/such/dir/f.txt"), "utf8", QmTextIOStream::ForWriting);
    EXPECT_TRUE(!nowhere);
    EXPECT_FALSE(nowhere.WriteString("x"));

    QmTextIOStream reader(path, "utf8");
    EXPECT_FALSE(reader.WriteString("x"));
    EXPECT_TRUE(reader.Fail());

    QmTextIOStream badMode(path, "utf8", 7);
    EXPECT_TRUE(!badMode);
}

TEST(QmTextIOStream, LegacyEncodingIsSettableAndUsedForTheEmptyName) {
    LegacyEncodingGuard guard;
    EXPECT_EQ(GetLegacyStreamEncoding(), "windows-1252");
    TempDir dir;
    std::string path = dir.File("legacy.txt");
    WriteFile(path, "\xF0\x80");
    EXPECT_EQ(ReadLines(path, ""), (std::vector<std::string>{"ð€"}));
    ASSERT_TRUE(SetLegacyStreamEncoding("koi8r"));
    EXPECT_EQ(GetLegacyStreamEncoding(), "koi8r");
    EXPECT_EQ(ReadLines(path, ""), (std::vector<std::string>{"П─"}));
    EXPECT_FALSE(SetLegacyStreamEncoding("no-such-encoding"));
    EXPECT_EQ(GetLegacyStreamEncoding(), "koi8r");
    ASSERT_TRUE(SetLegacyStreamEncoding(""));
    EXPECT_EQ(GetLegacyStreamEncoding(), "windows-1252");
}

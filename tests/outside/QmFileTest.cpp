#include "outside/utl/QmFile.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "TestFiles.h"
#include "outside/utl/Exception.h"
#include "outside/utl/QmTextIOStream.h"

using kelto::test::Iconv;
using kelto::test::TempDir;
using kelto::test::WriteFile;

TEST(QmFile, GetBomEncodingNamesEachMark) {
    TempDir dir;
    const struct {
        std::string bytes;
        int kind;
    } cases[] = {
        {"\xEF\xBB\xBFx", QmFile::BomUtf8},
        {"\xFF\xFEx\0", QmFile::BomUtf16LE},
        {"\xFE\xFF\0x", QmFile::BomUtf16BE},
        {std::string("\xFF\xFE\0\0", 4), QmFile::BomUtf32LE},
        {std::string("\0\0\xFE\xFF", 4), QmFile::BomUtf32BE},
        {"plain", QmFile::NoBom},
        {"\xEF\xBB", QmFile::NoBom},
        {"", QmFile::NoBom},
    };
    std::string path = dir.File("f");
    for (const auto& c : cases) {
        WriteFile(path, c.bytes);
        EXPECT_EQ(QmFile::GetBomEncoding(path), c.kind) << c.bytes.size();
    }
    EXPECT_EQ(QmFile::GetBomEncoding(dir.File("missing")), QmFile::NoBom);
    EXPECT_THROW(QmFile::GetBomEncoding(dir.File("missing"), true), Exception);
    EXPECT_EQ(QmFile::GetBomEncoding(dir.Path().string()), QmFile::NoBom);
}

TEST(QmFile, IsTextFileLooksForNulInTheFirst30768Bytes) {
    TempDir dir;
    std::string path = dir.File("t");
    WriteFile(path, std::string(30767, 'a') + std::string(1, '\0'));
    EXPECT_FALSE(QmFile::IsTextFile(path));
    WriteFile(path, std::string(30768, 'a') + std::string(1, '\0'));
    EXPECT_TRUE(QmFile::IsTextFile(path));
    WriteFile(path, "");
    EXPECT_TRUE(QmFile::IsTextFile(path));
    // UTF-16 text is full of NULs: its mark makes it text, unless the caller tests bytes only.
    WriteFile(path, "\xFF\xFE" + *Iconv("UTF-16LE", "UTF-8", "a\tb\n"));
    EXPECT_TRUE(QmFile::IsTextFile(path, true));
    EXPECT_FALSE(QmFile::IsTextFile(path, false));
    WriteFile(path, std::string("\xEF\xBB\xBF" "abc\0", 7));
    EXPECT_TRUE(QmFile::IsTextFile(path));
    EXPECT_FALSE(QmFile::IsTextFile(dir.File("missing")));
    EXPECT_FALSE(QmFile::IsTextFile(dir.Path().string()));
}

namespace {

std::string Repeat(const std::string& text, std::size_t bytes) {
    std::string out;
    while (out.size() < bytes) out += text;
    return out;
}

}  // namespace

// Ordinary prose: the charset detector compares letter statistics with those of languages.
const char kRussian[] =
    "Это простой текст на русском языке. Он нужен для того, чтобы проверить определение кодировки файла. "
    "Мы пишем обычные слова и предложения, которые часто встречаются в языке.\n";

TEST(QmFile, GetEncodingGivesTheTableNameThatReadsTheText) {
    TempDir dir;
    std::string path = dir.File("guess.txt");
    std::string name;
    int confidence = -1;

    WriteFile(path, "\xFF\xFE" + *Iconv("UTF-16LE", "UTF-8", "x"));
    ASSERT_TRUE(QmFile::GetEncoding(path, name, confidence));
    EXPECT_EQ(name, "utf16le");
    EXPECT_EQ(confidence, 100);

    WriteFile(path, "Probe\tWert\n1\t2\n");
    ASSERT_TRUE(QmFile::GetEncoding(path, name, confidence));
    EXPECT_EQ(name, "utf8");
    EXPECT_LT(confidence, 61);  // ASCII does not tell one ASCII-compatible encoding from another

    WriteFile(path, "Größe\tMaß\nÄrger\t1\n");
    ASSERT_TRUE(QmFile::GetEncoding(path, name, confidence));
    EXPECT_EQ(name, "utf8");
    EXPECT_GE(confidence, 80);

    // Texts in other encodings: the guess names a table entry, and reading with it gives the
    // text back.
    const struct {
        const char* glibc;
        const char* expected;
        std::string text;
    } cases[] = {
        {"SHIFT_JIS", "shiftjis", "日本語のテキストです。カタカナとひらがなと漢字が混ざっています。\n"},
        {"EUC-KR", "euckr", "한국어 텍스트입니다. 이것은 인코딩 감지를 위한 문장입니다.\n"},
        {"ISO-2022-JP", "iso2022jp", "日本語のテキストです。カタカナとひらがな。\n"},
        {"CP1251", "windows1251", kRussian},
        {"KOI8-R", "koi8r", kRussian},
        {"ISO-8859-7", "iso88597", "Αυτό είναι ένα απλό κείμενο στα ελληνικά για τον έλεγχο της αναγνώρισης της κωδικοποίησης.\n"},
        {"CP1256", "windows1256", "هذا نص بسيط باللغة العربية لاختبار التعرف على الترميز في الملفات النصية التي نقرأها.\n"},
        {"BIG5", "big5", "這是一個繁體中文的文本，用於測試編碼的檢測。我們需要足夠多的字符。\n"},
        {"ISO-2022-KR", "iso2022kr", "한국어 텍스트입니다. 이것은 인코딩 감지를 위한 문장입니다.\n"},
        {"CP1252", "windows-1252", "Der „Preis“ beträgt 5 € für die Größe der Äpfel; das ist günstig.\n"},
        {"GB18030", "gb18030", "这是一个简体中文的文本，用于测试编码的检测。我们需要足够多的字符。\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.glibc);
        std::string text = Repeat(c.text, 4000);
        WriteFile(path, *Iconv(c.glibc, "UTF-8", text));
        ASSERT_TRUE(QmFile::GetEncoding(path, name, confidence));
        EXPECT_EQ(name, c.expected);
        EXPECT_GT(confidence, 0);
        EXPECT_LE(confidence, 100);
        QmTextIOStream in(path, name);
        ASSERT_FALSE(!in);
        std::string line;
        ASSERT_TRUE(in.GetLine(line));
        EXPECT_EQ(line + "\n", c.text);
    }

    EXPECT_FALSE(QmFile::GetEncoding(dir.File("missing"), name, confidence));
    EXPECT_EQ(name, "");
    EXPECT_EQ(confidence, 0);
}

TEST(QmFile, GetFileNamesSplitsTheMultiFileForm) {
    TempDir dir;
    std::string d = dir.Path().string();
    std::vector<std::string> paths;

    // The directory, a NUL, each name with its NUL, and one more NUL (the literal's own).
    std::string multi = d + std::string(1, '\0') + "a.spc" + std::string(1, '\0') + "b c.spc" + std::string(1, '\0') +
                        "/abs/x.spc" + std::string(1, '\0');
    ASSERT_TRUE(QmFile::GetFileNames(multi.c_str(), paths));
    EXPECT_EQ(paths, (std::vector<std::string>{d + "/a.spc", d + "/b c.spc", "/abs/x.spc"}));
    ASSERT_TRUE(QmFile::GetFileNames(std::string_view(multi), paths));
    EXPECT_EQ(paths, (std::vector<std::string>{d + "/a.spc", d + "/b c.spc", "/abs/x.spc"}));

    // A directory ending in "/" gets no second one.
    std::string slash = d + "/" + std::string(1, '\0') + "a" + std::string(2, '\0');
    ASSERT_TRUE(QmFile::GetFileNames(slash.c_str(), paths));
    EXPECT_EQ(paths, (std::vector<std::string>{d + "/a"}));

    // One path stays one path; nothing after its NUL is read.
    std::string one = d + "/only.txt";
    ASSERT_TRUE(QmFile::GetFileNames(one.c_str(), paths));
    EXPECT_EQ(paths, (std::vector<std::string>{one}));
    ASSERT_TRUE(QmFile::GetFileNames(std::string_view(one), paths));
    EXPECT_EQ(paths, (std::vector<std::string>{one}));

    // The form without names, and no argument at all, name nothing.
    std::string none = d + std::string(2, '\0');
    EXPECT_FALSE(QmFile::GetFileNames(none.c_str(), paths));
    EXPECT_TRUE(paths.empty());
    EXPECT_FALSE(QmFile::GetFileNames(static_cast<const char*>(nullptr), paths));
    EXPECT_FALSE(QmFile::GetFileNames("", paths));
}

TEST(QmFile, PathParts) {
    EXPECT_EQ(QmGetFileExtension("/data/run.1/Spectrum.SPC"), "SPC");
    EXPECT_EQ(QmGetFileExtension("/data/run.1/Spectrum"), "");
    EXPECT_EQ(QmGetFileExtension("archive.tar.gz"), "gz");
    EXPECT_EQ(QmGetFileExtension("/home/u/.profile"), "");
    EXPECT_EQ(QmGetFileExtension("trailing."), "");
    EXPECT_EQ(QmGetFileName("/data/run.1/Spectrum.SPC"), "Spectrum.SPC");
    EXPECT_EQ(QmGetFileName("Spectrum.SPC"), "Spectrum.SPC");
    EXPECT_EQ(QmGetFileName("/data/"), "");
    EXPECT_EQ(QmGetFileTitle("/data/run.1/Spectrum.SPC", nullptr), "Spectrum");
    EXPECT_EQ(QmGetFileTitle("/data/run.1/Spectrum", nullptr), "Spectrum");
    EXPECT_EQ(QmGetFileTitle("/data/a.b.c", nullptr), "a.b");
    EXPECT_EQ(QmGetFileTitle("/home/u/.profile", nullptr), ".profile");
    EXPECT_EQ(QmGetFileTitle("/data/Spectrum.SPC", "spc"), "Spectrum");
    EXPECT_EQ(QmGetFileTitle("/data/Spectrum.SPC", ".spc"), "Spectrum");
    EXPECT_EQ(QmGetFileTitle("/data/Spectrum.SPC", "txt"), "Spectrum.SPC");
}

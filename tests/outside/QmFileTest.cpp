#include "outside/utl/QmFile.h"

#include <gtest/gtest.h>

#include <algorithm>
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
    const std::pair<std::string, int> cases[] = {
        {"\xEF\xBB\xBFx", QmFile::BomUtf8},      {"\xFF\xFEx\0", QmFile::BomUtf16LE},
        {"\xFE\xFF\0x", QmFile::BomUtf16BE},     {std::string("\xFF\xFE\0\0", 4), QmFile::BomUtf32LE},
        {std::string("\0\0\xFE\xFF", 4), QmFile::BomUtf32BE}, {"\xEF\xBB", QmFile::NoBom}, {"", QmFile::NoBom},
    };
    std::string path = dir.File("f");
    for (const auto& [bytes, kind] : cases) {
        WriteFile(path, bytes);
        EXPECT_EQ(QmFile::GetBomEncoding(path), kind) << bytes.size();
    }
    EXPECT_EQ(QmFile::GetBomEncoding(dir.File("missing")), QmFile::NoBom);
    EXPECT_THROW(QmFile::GetBomEncoding(dir.File("missing"), true), Exception);
    EXPECT_EQ(QmFile::GetBomEncoding(dir.Path().string()), QmFile::NoBom);
}

TEST(QmFile, IsTextFileLooksForNulInTheFirst30768Bytes) {
    TempDir dir;
    std::string path = dir.File("t");
    const std::tuple<std::string, bool, bool> cases[] = {  // bytes, text?, text when only bytes count?
        {std::string(30767, 'a') + '\0', false, false},
        {std::string(30768, 'a') + '\0', true, true},
        {"", true, true},
        // UTF-16 text is full of NULs: its mark makes it text, unless the caller tests bytes only.
        {"\xFF\xFE" + *Iconv("UTF-16LE", "UTF-8", "a\tb\n"), true, false},
        {std::string("\xEF\xBB\xBF" "abc\0", 7), true, false},
    };
    for (const auto& [bytes, text, byBytes] : cases) {
        WriteFile(path, bytes);
        EXPECT_EQ(QmFile::IsTextFile(path, true), text) << bytes.size();
        EXPECT_EQ(QmFile::IsTextFile(path, false), byBytes) << bytes.size();
    }
    EXPECT_FALSE(QmFile::IsTextFile(dir.File("missing")) || QmFile::IsTextFile(dir.Path().string()));
}

TEST(QmFile, GetEncodingGivesTheTableNameThatReadsTheText) {
    TempDir dir;
    std::string path = dir.File("guess.txt"), name;
    int confidence = -1;
    auto guess = [&](const std::string& bytes) {
        WriteFile(path, bytes);
        EXPECT_TRUE(QmFile::GetEncoding(path, name, confidence));
        return name;
    };
    EXPECT_EQ(guess("\xFF\xFE" + *Iconv("UTF-16LE", "UTF-8", "x")), "utf16le");
    EXPECT_EQ(confidence, 100);
    EXPECT_EQ(guess("Probe\tWert\n1\t2\n"), "utf8");
    EXPECT_LT(confidence, 61);  // ASCII does not tell one ASCII-compatible encoding from another
    EXPECT_EQ(guess("Größe\tMaß\nÄrger\t1\n"), "utf8");
    EXPECT_GE(confidence, 80);

    // Ordinary prose in other encodings (the charset detector compares letter statistics with
    // those of languages): the guess names a table entry, and reading with it gives the text.
    const char kRussian[] =
        "Это простой текст на русском языке. Он нужен для того, чтобы проверить определение кодировки файла. "
        "Мы пишем обычные слова и предложения, которые часто встречаются в языке.\n";
    const char* const cases[][3] = {
        {"SHIFT_JIS", "shiftjis", "日本語のテキストです。カタカナとひらがなと漢字が混ざっています。\n"},
        {"ISO-2022-KR", "iso2022kr", "한국어 텍스트입니다. 이것은 인코딩 감지를 위한 문장입니다.\n"},
        {"CP1251", "windows1251", kRussian},
        {"BIG5", "big5", "這是一個繁體中文的文本，用於測試編碼的檢測。我們需要足夠多的字符。\n"},
        {"CP1252", "windows-1252", "Der „Preis“ beträgt 5 € für die Größe der Äpfel; das ist günstig.\n"},
    };
    for (const auto& [glibc, expected, text] : cases) {
        SCOPED_TRACE(glibc);
        std::string repeated;
        while (repeated.size() < 4000) repeated += text;
        EXPECT_EQ(guess(*Iconv(glibc, "UTF-8", repeated)), expected);
        EXPECT_TRUE(confidence > 0 && confidence <= 100) << confidence;
        std::string line;
        ASSERT_TRUE(QmTextIOStream(path, name).GetLine(line));
        EXPECT_EQ(line + "\n", text);
    }
    EXPECT_FALSE(QmFile::GetEncoding(dir.File("missing"), name, confidence));
    EXPECT_EQ(name, "");
    EXPECT_EQ(confidence, 0);
}

TEST(QmFile, GetEncodingTellsUtf16FromUtf32WithoutAMark) {
    TempDir dir;
    const std::string path = dir.File("wide.txt");
    std::string longText;
    while (longText.size() < 3000) longText += "Z\xC3\xBCrich\t1.5\t\xE6\x97\xA5\xE6\x9C\xAC \xF0\x9F\x98\x80\r\n";
    // A short text is where the units of one form pass for units of the other.
    const std::vector<std::string> texts = {"1\n", "a\tb\n", "x", "12\r\n3\r\n", longText};
    for (const char* encoding : {"UTF-16LE", "UTF-16BE", "UTF-32LE", "UTF-32BE"}) {
        std::string want = encoding;
        want.erase(std::remove(want.begin(), want.end(), '-'), want.end());
        std::transform(want.begin(), want.end(), want.begin(), [](unsigned char c) { return std::tolower(c); });
        for (const std::string& text : texts) {
            SCOPED_TRACE(std::string(encoding) + " " + std::to_string(text.size()) + " bytes of UTF-8");
            WriteFile(path, *Iconv(encoding, "UTF-8", text));
            std::string name;
            int confidence = 0;
            ASSERT_TRUE(QmFile::GetEncoding(path, name, confidence));
            EXPECT_EQ(name, want);
            EXPECT_GE(confidence, 61);  // sure enough for the text formats to read by
        }
    }
    // NULs in what is no UTF-16 or UTF-32 text are no reason to be sure of either.
    for (const std::string& bytes : {std::string("abcdefgh\0ijklmnop\n", 18), std::string(100, 'a') + '\0' + std::string(100, 'b'),
                                     std::string("\x01\0\x02\0\x03\0", 6),
                                     std::string("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1\0\0\0\0", 12)}) {
        WriteFile(path, bytes);
        std::string name;
        int confidence = 0;
        QmFile::GetEncoding(path, name, confidence);
        const bool wide = name.rfind("utf16", 0) == 0 || name.rfind("utf32", 0) == 0;
        EXPECT_FALSE(wide && confidence >= 61) << name << " " << confidence << " for " << bytes.size() << " bytes";
    }
}

TEST(QmFile, GetFileNamesSplitsTheMultiFileForm) {
    using Paths = std::vector<std::string>;
    TempDir dir;
    const std::string d = dir.Path().string(), z(1, '\0');
    // The directory (an existing one), a NUL, each name with its NUL, and one more NUL (here the literal's own).
    const std::string multi = d + z + "a.spc" + z + "b c.spc" + z + "/abs/x.spc" + z;
    const Paths multiPaths = {d + "/a.spc", d + "/b c.spc", "/abs/x.spc"};
    const std::pair<std::string, Paths> cases[] = {
        {multi, multiPaths},
        {d + "/" + z + "a" + z, {d + "/a"}},      // a directory ending in "/" gets no second one
        {d + "/only.txt", {d + "/only.txt"}},     // one path stays one path
        {d + "/only.txt" + z + "x" + z, {d + "/only.txt"}},  // nothing after its NUL is read
        {d + z, {}},                              // the form without names names nothing
        {"", {}},
    };
    Paths paths;
    for (const auto& [text, want] : cases) {
        EXPECT_EQ(QmFile::GetFileNames(text.c_str(), paths), !want.empty()) << text;
        EXPECT_EQ(paths, want) << text;
    }
    ASSERT_TRUE(QmFile::GetFileNames(std::string_view(multi), paths));
    EXPECT_EQ(paths, multiPaths);
    ASSERT_TRUE(QmFile::GetFileNames(std::string_view(d + "/only.txt"), paths));
    EXPECT_EQ(paths, Paths{d + "/only.txt"});
    EXPECT_FALSE(QmFile::GetFileNames(static_cast<const char*>(nullptr), paths));
}

TEST(QmFile, PathParts) {
    const char* const cases[][4] = {  // path, extension, name, title
        {"/data/run.1/Spectrum.SPC", "SPC", "Spectrum.SPC", "Spectrum"},
        {"/data/run.1/Spectrum", "", "Spectrum", "Spectrum"},
        {"/data/a.b.c", "c", "a.b.c", "a.b"},
        {"/home/u/.profile", "", ".profile", ".profile"},
        {"trailing.", "", "trailing.", "trailing"},
        {"/data/", "", "", ""},
    };
    for (const auto& [path, extension, name, title] : cases) {
        EXPECT_EQ(QmGetFileExtension(path), extension) << path;
        EXPECT_EQ(QmGetFileName(path), name) << path;
        EXPECT_EQ(QmGetFileTitle(path, nullptr), title) << path;
    }
    EXPECT_EQ(QmGetFileTitle("/data/Spectrum.SPC", "spc"), "Spectrum");  // a named extension, any case, dot or not
    EXPECT_EQ(QmGetFileTitle("/data/Spectrum.SPC", ".spc"), "Spectrum");
    EXPECT_EQ(QmGetFileTitle("/data/Spectrum.SPC", "txt"), "Spectrum.SPC");
}

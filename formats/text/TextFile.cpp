#include "formats/text/TextFile.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdint>
#include <fstream>
#include <sstream>
#include <vector>

#include <boost/locale/encoding_utf.hpp>

#include "formats/text/TextEncodingName.h"
#include "outside/utl/BinaryIO.h"
#include "outside/utl/ConfigurationSection.h"
#include "outside/utl/Exception.h"
#include "outside/utl/HtmlUtilities.h"
#include "outside/utl/QmFile.h"
#include "outside/utl/QmTextIOStream.h"
#include "platform/Translate.h"
#include "plugin/SprFileFactory.h"

// ---------------------------------------------------------------------------------------
// Options

namespace {

struct EncodingEntry {
    const char* name;
    const char* display;
};

// The encodings offered to users, in the order they are listed. The empty name is the
// legacy code page.
constexpr EncodingEntry kEncodings[] = {
    {"ibm420", "Arabic (IBM420)"},
    {"iso88596", "Arabic (ISO-8859-6)"},
    {"windows1256", "Arabic (Windows-1256)"},
    {"iso88592", "Central European (ISO-8859-2)"},
    {"windows1250", "Central European (Windows-1250)"},
    {"gb18030", "Chinese (GB18030)"},
    {"iso2022cn", "Chinese Simplified (ISO-2022-CN)"},
    {"big5", "Chinese Traditional (Big5)"},
    {"iso88595", "Cyrillic (ISO-8859-5)"},
    {"koi8r", "Cyrillic (KOI8-R)"},
    {"windows1251", "Cyrillic (Windows-1251)"},
    {"iso88597", "Greek (ISO-8859-7)"},
    {"windows1253", "Greek (Windows-1253)"},
    {"ibm424", "Hebrew (IBM424)"},
    {"iso88598", "Hebrew (ISO-8859-8)"},
    {"windows1255", "Hebrew (Windows-1255)"},
    {"eucjp", "Japanese (EUC-JP)"},
    {"iso2022jp", "Japanese (ISO-2022-JP)"},
    {"shiftjis", "Japanese (Shift-JIS)"},
    {"euckr", "Korean (EUC-KR)"},
    {"iso2022kr", "Korean (ISO-2022-KR)"},
    {"", "Local"},
    {"iso88599", "Turkish (ISO-8859-9)"},
    {"windows1254", "Turkish (Windows-1254)"},
    {"utf16be", "Unicode (UTF-16BE)"},
    {"utf16le", "Unicode (UTF-16LE)"},
    {"utf32be", "Unicode (UTF-32BE)"},
    {"utf32le", "Unicode (UTF-32LE)"},
    {"utf8", "Unicode (UTF-8)"},
    {"cp850", "Western European (CP-850)"},
    {"iso88591", "Western European (ISO-8859-1)"},
    {"windows-1252", "Western European (Windows-1252)"},
};
constexpr std::size_t kEncodingCount = std::size(kEncodings);
constexpr std::size_t kLocalIndex = 21;
static_assert(kEncodingCount == 32);

const char* g_encodingNames[kEncodingCount + 1] = {};

const char** EncodingNames() {
    // Filled once from the table; a trailing null marks the end for callers that walk it.
    static const bool filled = [] {
        for (std::size_t i = 0; i < kEncodingCount; ++i) g_encodingNames[i] = kEncodings[i].name;
        return true;
    }();
    (void)filled;
    return g_encodingNames;
}

}  // namespace

TextFileOptions::~TextFileOptions() = default;

bool TextFileOptions::UseDelimiterOption() const { return true; }

bool TextFileOptions::UseIgnoreConsecutiveDelimitersOption() const { return true; }

bool TextFileOptions::Read(QmImportOpenOptions* record) {
    if (!record || record->size < 1 || !record->data) return false;
    std::string text;
    {
        std::istringstream in(std::string(record->data, static_cast<std::size_t>(record->size)));
        if (!ReadBinaryString(in, text)) return false;
    }
    std::unique_ptr<TinyXML2Section> document = TinyXML2Section::CreateXMLSectionFromString(text.c_str());
    if (!document) return false;
    std::unique_ptr<ConfigurationSection> settings = document->GetSection("Settings");
    if (!settings) return false;
    // Read into copies so that a document lacking a key changes nothing.
    std::string newDelimiter = delimiter;
    std::string newEncoding;
    bool newIgnore = ignoreConsecutiveDelimiters;
    if (UseDelimiterOption()) {
        if (!settings->ReadKey("Delimiter", newDelimiter)) return false;
        newDelimiter = HtmlUtilities::URIDecode(newDelimiter);
    }
    if (!settings->ReadKey("Encoding", newEncoding)) return false;
    if (UseIgnoreConsecutiveDelimitersOption() && !settings->ReadKey("IgnoreConsecutiveDelimiters", newIgnore))
        return false;
    delimiter = std::move(newDelimiter);
    encoding = std::move(newEncoding);
    ignoreConsecutiveDelimiters = newIgnore;
    return true;
}

void TextFileOptions::Write(QmImportOpenOptions* record) const {
    if (!record) return;
    TinyXML2Section document;
    std::unique_ptr<ConfigurationSection> settings = document.CreateSection("Settings");
    if (UseDelimiterOption()) {
        std::string encoded = delimiter;
        HtmlUtilities::URIEncode(encoded);
        settings->WriteKey("Delimiter", encoded);
    }
    settings->WriteKey("Encoding", encoding);
    if (UseIgnoreConsecutiveDelimitersOption()) settings->WriteKey("IgnoreConsecutiveDelimiters", ignoreConsecutiveDelimiters);
    std::string text;
    document.Flush(text, false);
    std::ostringstream out;
    WriteBinaryString(out, text);
    const std::string bytes = out.str();
    record->size = static_cast<int>(bytes.size());
    record->data = new char[bytes.size()];
    std::memcpy(record->data, bytes.data(), bytes.size());
}

std::size_t TextFileOptions::GetEncodingIndex(const std::string& name) {
    for (std::size_t i = 0; i < kEncodingCount; ++i)
        if (name == kEncodings[i].name) return i;
    return kLocalIndex;
}

std::wstring TextFileOptions::GetPrettyName(std::size_t index) {
    if (index >= kEncodingCount) return std::wstring();
    std::string text = index == kLocalIndex ? kelto::Translate("Current Windows codepage", "Local")
                                            : kelto::Translate(kEncodings[index].display);
    return boost::locale::conv::utf_to_utf<wchar_t>(text);
}

const char** TextFileOptions::GetAllEncodings() { return EncodingNames(); }

std::size_t TextFileOptions::GetEncodingsCount() { return kEncodingCount; }

// ---------------------------------------------------------------------------------------
// Reading and writing

namespace {

enum class FileCheck { Missing, Text, Binary };

// Whether the file at `path` can be read as text: a byte-order mark, or no NUL byte in its
// first 30768 bytes. A directory or an unreadable file is Missing.
FileCheck CheckText(const std::string& path) {
    struct stat st;
    if (::stat(path.c_str(), &st) != 0 || S_ISDIR(st.st_mode)) return FileCheck::Missing;
    std::ifstream in(path, std::ios::binary);
    if (!in) return FileCheck::Missing;
    std::vector<char> head(30768);
    in.read(head.data(), static_cast<std::streamsize>(head.size()));
    head.resize(static_cast<std::size_t>(in.gcount()));
    if (QmFile::GetBomEncoding(path, false) != QmFile::NoBom) return FileCheck::Text;
    return std::memchr(head.data(), 0, head.size()) ? FileCheck::Binary : FileCheck::Text;
}

}  // namespace

TextFile::TextFile() = default;

TextFile::TextFile(const char* encoding) {
    if (encoding && *encoding) options.SetEncoding(encoding);
}

TextFile::~TextFile() { delete[] optionsBuffer; }

void TextFile::Close() {
    SpreadsheetFile::Close();
    mode = 0;
}

void TextFile::GetErrorMessage(char* buffer, unsigned int size) {
    const char* text = nullptr;
    switch (status) {
        case kOpenFailed: text = "Failed to open stream for reading."; break;
        case kTrailingData: text = "Expected end of file but found more data."; break;
        case kBinaryFile:
            text = "This file appears to be a binary file and cannot be imported. Only ordinary text (ASCII) "
                   "files can be imported.";
            break;
        default: SpreadsheetFile::GetErrorMessage(buffer, size); return;
    }
    CopyMessage(kelto::Translate(text).c_str(), buffer, size);
}

TextFileOptions TextFile::GetTextFileOptions() { return TextFileOptions(); }

int TextFile::SetOptions(QmImportOpenOptions* record) {
    try {
        if (record && record->size > 0 && record->data) {
            TextFileOptions given = options;
            if (!given.Read(record)) return Fail(kBadOptions);
            options = std::move(given);
            return status;
        }
        TextFileOptions defaults = GetTextFileOptions();
        if (status == kSilentError) return status;
        if (record) {
            // An empty record asks for the defaults: the caller gets them back, in a buffer
            // this object owns until it is destroyed.
            defaults.Write(record);
            delete[] optionsBuffer;
            optionsBuffer = record->data;
            options = std::move(defaults);
        } else {
            // No record at all: the encoding detected when the file was opened stays.
            options.SetDelimiter(defaults.GetDelimiter());
            options.SetIgnoreConsecutiveDelimiters(defaults.GetIgnoreConsecutiveDelimiters());
        }
    } catch (const CancelException&) {
        throw;  // the user stopped the import: not a failure of this file
    } catch (const std::exception&) {
        return Fail(kOpenFailed);
    }
    return status;
}

int TextFile::Open(bool read, const char* name, QmImportOpenOptions* record) {
    path = name ? name : "";
    if (status != 0) return status;
    try {
        if (!read) {
            mode = 2;
            std::ofstream out(path, std::ios::binary | std::ios::trunc);
            if (!out) return Fail(kOpenFailed);
            return status;
        }
        mode = 1;
        if (::access(path.c_str(), F_OK) != 0) return Fail(kOpenFailed);
        options.SetEncoding(kelto::text::DetectedEncoding(path));
        if (SetOptions(record) != 0) return status;
        // A file with NUL bytes near its start is not text in any byte-oriented encoding;
        // reading it would fill a table with fragments. UTF-16 and UTF-32 hold NULs by nature.
        if (!kelto::text::IsWideEncoding(options.GetEncoding())) {
            FileCheck check = CheckText(path);
            if (check == FileCheck::Missing) return Fail(kOpenFailed);
            if (check == FileCheck::Binary) return Fail(kBinaryFile);
        }
    } catch (const CancelException&) {
        throw;
    } catch (const std::exception&) {
        return Fail(kOpenFailed);
    }
    return status;
}

int TextFile::CountCells(const std::string& line, const std::string& delimiter, bool ignoreConsecutive) {
    const char* p = line.data();
    const char* end = p + line.size();
    if (end > p && end[-1] == '\r') --end;
    if (p == end) return 0;
    // The common case (one character, no merging) needs only a count of delimiters: every
    // delimiter opens a cell, except one at the very end.
    if (delimiter.size() == 1 && !ignoreConsecutive) {
        const char d = delimiter[0];
        std::size_t n = 0;
        const char* q = p;
        // Eight bytes at a time: the bytes equal to d become zero bytes, which are counted
        // exactly (the additions stay within each byte's low seven bits).
        const std::uint64_t pattern = 0x0101010101010101ull * static_cast<unsigned char>(d);
        for (; end - q >= 8; q += 8) {
            std::uint64_t x;
            std::memcpy(&x, q, 8);
            x ^= pattern;
            const std::uint64_t t = ((x & 0x7F7F7F7F7F7F7F7Full) + 0x7F7F7F7F7F7F7F7Full) | x;
            // One bit per matching byte; the multiplication sums the eight bytes into the top one.
            n += static_cast<std::size_t>((((~t & 0x8080808080808080ull) >> 7) * 0x0101010101010101ull) >> 56);
        }
        for (; q < end; ++q) n += *q == d;
        n += 1 - (end[-1] == d);
        return n > INT_MAX ? INT_MAX : static_cast<int>(n);
    }
    return SplitLine(p, end, delimiter, ignoreConsecutive, [](int, const char*, std::size_t) { return true; });
}

int TextFile::EstablishSize() {
    if (status != 0) return status;
    if (mode != 1) return kWrongDirection;
    QmTextIOStream in(path, options.GetEncoding());
    if (!in) return kSizeError;
    const std::string& delimiter = options.GetDelimiter();
    const bool ignore = options.GetIgnoreConsecutiveDelimiters();
    int cols = -1;
    long long lines = 0;
    bool lastEmpty = false;
    std::string line;
    while (in.GetLine(line)) {
        int n = CountCells(line, delimiter, ignore);
        if (n > 0 && n > cols) cols = n;
        lastEmpty = n == 0;
        if (++lines > INT_MAX) return kSizeError;
    }
    if (in.Fail()) return kSizeError;
    numCols = cols;
    numRows = static_cast<int>(lines - (lastEmpty ? 1 : 0));
    sizeKnown = true;
    return 0;
}

int TextFile::Read(ReadSpreadSheetData* data) {
    if (status != 0) return status;
    if (mode != 1) return Fail(kWrongDirection);
    int cols = GetNumCols();
    int rows = GetNumRows();
    return Read(data, cols, rows, 1, 1, options);
}

int TextFile::Read(ReadSpreadSheetData* data, int lastCol, int lastRow, int firstCol, int firstRow,
                   const TextFileOptions& o) {
    if (status != 0) return status;
    if (mode != 1) return Fail(kWrongDirection);
    if (!data) return 0;
    QmTextIOStream in(path, o.GetEncoding());
    if (!in) return Fail(kOpenFailed);
    const std::string& delimiter = o.GetDelimiter();
    const bool ignore = o.GetIgnoreConsecutiveDelimiters();
    std::string line;
    int asked = 0;
    int linesRead = 0;
    while (!in.EndOfFile()) {
        int next = data->GetNextRow(asked);
        // A negative answer ends the read; so does one that would not move on (it would
        // deliver the same line for ever).
        if (next < 0 || next <= asked) return 0;
        bool got = true;
        while (linesRead < next) {
            if (!in.GetLine(line)) {
                got = false;
                break;
            }
            ++linesRead;
        }
        if (!got || linesRead > lastRow) break;
        if (linesRead >= firstRow) {
            char* text = line.data();
            SplitLine(text, text + line.size(), delimiter, ignore, [&](int col, const char* cell, std::size_t n) {
                if (col > lastCol) return false;
                if (col >= firstCol) {
                    // Terminated in place: the byte after the cell is its delimiter, the CR or
                    // the string's own terminator, none of which is read again.
                    const_cast<char*>(cell)[n] = '\0';
                    data->Set(col, linesRead, static_cast<const char*>(cell));
                }
                return true;
            });
        }
        asked = next;
    }
    if (in.Fail()) return Fail(kOpenFailed);
    int result = (!in.EndOfFile() && linesRead <= lastRow) ? kTrailingData : 0;
    status = result;
    return result;
}

int TextFile::Write(const WriteSpreadSheetData* data) {
    if (mode != 2) return Fail(kWrongDirection);
    if (status != 0) return status;
    if (!data) return 0;
    const int rows = data->GetNumberOfRows();
    const int cols = data->GetNumberOfColumns();
    QmTextIOStream out(path, options.GetEncoding(), QmTextIOStream::ForWriting);
    if (!out) return Fail(kOpenFailed);
    if (rows < 1) return out.Close() ? 0 : Fail(kOpenFailed);
    const std::string& delimiter = options.GetDelimiter();
    std::string text;
    for (int row = 1; row <= rows; ++row) {
        text += data->GetStringValue(1, row);
        for (int col = 2; col <= cols; ++col) {
            text += delimiter;
            text += data->GetStringValue(col, row);
        }
        text += '\n';
        if (text.size() >= 64 * 1024) {
            if (!out.WriteString(text)) return Fail(kOpenFailed);
            text.clear();
        }
    }
    if (!out.WriteString(text) || !out.Close()) return Fail(kOpenFailed);
    return 0;
}

QmImportOpenOptions* TextFile::GetFileReadOptions(const char* name, bool) {
    if (status != 0) return nullptr;
    try {
        const std::string first = kelto::text::FirstFileName(name);
        Open(true, first.c_str(), nullptr);
        // Owned here until filled, so a failure while writing it leaks nothing.
        auto record = std::make_unique<QmImportOpenOptions>(QmImportOpenOptions{0, nullptr});
        options.Write(record.get());
        return record.release();
    } catch (const CancelException&) {
        throw;
    } catch (const std::exception&) {
        if (status == 0) status = kBadOptions;
        return nullptr;
    }
}

void TextFile::SetDelimiter(const char* text) {
    if (text && *text) options.SetDelimiter(text);
}

void TextFile::IgnoreConsecutiveDelimiters(bool ignore) { options.SetIgnoreConsecutiveDelimiters(ignore); }

bool TextFile::IsTextFile(const char* name) { return name && QmFile::IsTextFile(name, true); }

char* TextFile::GetCell(char** cursor, const TextFileOptions& o) {
    if (!cursor || !*cursor || **cursor == '\0') return nullptr;
    char* p = *cursor;
    std::size_t len = std::strlen(p);
    if (p[len - 1] == '\r') p[--len] = '\0';
    if (len == 0) {
        *cursor = p;
        return nullptr;
    }
    const std::string& d = o.GetDelimiter();
    char* hit = d.empty() ? nullptr : static_cast<char*>(memmem(p, len, d.data(), d.size()));
    if (!hit) {
        *cursor = p + len;
        return p;
    }
    *hit = '\0';
    char* next = hit + d.size();
    char* end = p + len;
    if (o.GetIgnoreConsecutiveDelimiters())
        while (static_cast<std::size_t>(end - next) >= d.size() && std::memcmp(next, d.data(), d.size()) == 0)
            next += d.size();
    *cursor = next;
    return p;
}

// ---------------------------------------------------------------------------------------
// Registration

namespace {

class TextFileFactory : public SprFileFactory {
public:
    TextFileFactory()
        : SprFileFactory("Text File", "Text Files (*.txt; *.dat)", "Text File (*.txt)", 2, ".txt\0.dat", 1, 1, 1, 1,
                         1, 1) {}

protected:
    MyKindOfFile IsMyKindOfFile(const char*) override { return LikelyMyKind; }
    SpreadsheetFile* GetSpreadsheetFile() override { return new TextFile(); }
};

// Offered for writing only: it is never picked for a file by looking at it.
class TextUTF8FileFactory : public SprFileFactory {
public:
    TextUTF8FileFactory()
        : SprFileFactory("Text UTF-8 File", "Text UTF-8 Files (*.txt; *.dat)", "Text UTF-8 File (*.txt)", 2,
                         ".txt\0.dat", 1, 0, 1, 1, 1, 1) {}

protected:
    MyKindOfFile IsMyKindOfFile(const char*) override { return NotMyKind; }
    SpreadsheetFile* GetSpreadsheetFile() override { return new TextFile("utf8"); }
};

TextFileFactory g_textFileFactory;
TextUTF8FileFactory g_textUtf8FileFactory;

}  // namespace

#pragma once
// Delimited text: one line per row, one delimited piece per cell. "Text File" reads and
// writes in any encoding; "Text UTF-8 File" is the same class writing UTF-8.
#include <cstddef>
#include <cstring>
#include <string>

#include "plugin/Export.h"
#include "plugin/SpreadsheetFile.h"

// The three settings of the text formats and their options document: a "Settings" section
// with "Delimiter" (percent-encoded), "Encoding" and "IgnoreConsecutiveDelimiters". The
// derived option sets (CSV, DIF) leave out the keys they do not use.
class KELTO_API TextFileOptions {
public:
    TextFileOptions() = default;
    TextFileOptions(const TextFileOptions&) = default;
    TextFileOptions(TextFileOptions&&) = default;
    TextFileOptions& operator=(const TextFileOptions&) = default;
    TextFileOptions& operator=(TextFileOptions&&) = default;
    virtual ~TextFileOptions();

    // Whether the options document holds "Delimiter" and "IgnoreConsecutiveDelimiters".
    virtual bool UseDelimiterOption() const;
    virtual bool UseIgnoreConsecutiveDelimitersOption() const;

    const std::string& GetDelimiter() const { return delimiter; }
    const std::string& GetEncoding() const { return encoding; }
    bool GetIgnoreConsecutiveDelimiters() const { return ignoreConsecutiveDelimiters; }
    void SetDelimiter(const std::string& d) { delimiter = d; }
    void SetEncoding(const std::string& e) { encoding = e; }
    void SetIgnoreConsecutiveDelimiters(bool b) { ignoreConsecutiveDelimiters = b; }

    // Takes the settings from the record's document. False, changing nothing, when the
    // record holds no document, no "Settings" section, or lacks a key this option set uses.
    bool Read(QmImportOpenOptions* record);
    // Replaces the record's size and bytes by this option set's document. The previous bytes
    // are not freed: they belong to whoever put them there.
    void Write(QmImportOpenOptions* record) const;

    // The position of `name` in the encoding table (exact match), or that of the empty name
    // (the legacy code page) when there is none.
    static std::size_t GetEncodingIndex(const std::string& name);
    // The display name of an encoding, translated; empty beyond the table.
    static std::wstring GetPrettyName(std::size_t index);
    static const char** GetAllEncodings();
    static std::size_t GetEncodingsCount();

protected:
    std::string encoding;          // empty: the legacy code page
    std::string delimiter = "\t";  // may be longer than one character
    bool ignoreConsecutiveDelimiters = false;
};

class KELTO_API TextFile : public SpreadsheetFile {
public:
    enum TextError {
        kOpenFailed = 512,
        kTrailingData = 513,
        kBinaryFile = 514,
    };

    TextFile();
    // A non-empty `encoding` is the one written (and read when no options say otherwise).
    explicit TextFile(const char* encoding);
    ~TextFile() override;
    TextFile(const TextFile&) = delete;
    TextFile& operator=(const TextFile&) = delete;

    void Close() override;
    void GetErrorMessage(char* buffer, unsigned int size) override;
    QmImportOpenOptions* GetFileReadOptions(const char* path, bool flag) override;
    int Open(bool read, const char* path, QmImportOpenOptions* options) override;
    int Read(ReadSpreadSheetData* data) override;
    int Write(const WriteSpreadSheetData* data) override;

    // The reading loop with explicit bounds: lines firstRow..lastRow, cells firstCol..lastCol,
    // split with `options`. The row given to Set is the line number in the file.
    int Read(ReadSpreadSheetData* data, int lastCol, int lastRow, int firstCol, int firstRow,
             const TextFileOptions& options);

    void SetDelimiter(const char* text);
    void IgnoreConsecutiveDelimiters(bool ignore);
    const TextFileOptions& GetOptions() const { return options; }

    // A byte-order mark, or no NUL byte in the first 30768 bytes.
    static bool IsTextFile(const char* path);

    // Calls emit(number, text, length) for each cell of the line [begin, end), cells numbered
    // from 1, until emit returns false; returns the number of cells emitted. One trailing CR
    // is not part of the line. An empty delimiter leaves the line whole.
    template <typename Emit>
    static int SplitLine(const char* begin, const char* end, const std::string& delimiter, bool ignoreConsecutive,
                         Emit&& emit);
    // The number of cells of a line (what SplitLine would give).
    static int CountCells(const std::string& line, const std::string& delimiter, bool ignoreConsecutive);

protected:
    int EstablishSize() override;
    // The options used when the caller gives none: the defaults.
    virtual TextFileOptions GetTextFileOptions();
    // The next cell of the NUL-terminated text at *cursor, terminated in place; *cursor moves
    // past it. Null when the rest is empty.
    char* GetCell(char** cursor, const TextFileOptions& options);

    int SetOptions(QmImportOpenOptions* record);

    TextFileOptions options;
    std::string path;
    int mode = 0;  // 0 closed, 1 reading, 2 writing
    char* optionsBuffer = nullptr;
};

template <typename Emit>
int TextFile::SplitLine(const char* p, const char* end, const std::string& delimiter, bool ignoreConsecutive,
                        Emit&& emit) {
    if (end > p && end[-1] == '\r') --end;
    const std::size_t dlen = delimiter.size();
    int cell = 0;
    if (dlen == 0) {
        if (p == end) return 0;
        emit(++cell, p, static_cast<std::size_t>(end - p));
        return cell;
    }
    const char d0 = delimiter[0];
    while (p < end) {
        const char* hit;
        if (dlen == 1)
            hit = static_cast<const char*>(std::memchr(p, d0, static_cast<std::size_t>(end - p)));
        else
            hit = static_cast<const char*>(memmem(p, static_cast<std::size_t>(end - p), delimiter.data(), dlen));
        if (!hit) {
            emit(++cell, p, static_cast<std::size_t>(end - p));
            break;
        }
        if (!emit(++cell, p, static_cast<std::size_t>(hit - p))) break;
        p = hit + dlen;
        if (ignoreConsecutive)
            while (static_cast<std::size_t>(end - p) >= dlen && std::memcmp(p, delimiter.data(), dlen) == 0) p += dlen;
    }
    return cell;
}

#pragma once
// Comma-separated files (read only): a character-level state machine driven by a dialect
// parses the whole file, then the records go to the target table.
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include <boost/container/small_vector.hpp>

#include "formats/text/TextFile.h"
#include "plugin/Export.h"
#include "plugin/SpreadsheetFile.h"

class QmTextIOStream;

struct KELTO_API CsvDialect {
    bool doubleQuote = false;          // "" inside a quoted field stands for one quote
    std::uint32_t delimiter = 0x2C;    // ","
    std::uint32_t quoteChar = 0x22;    // '"'
    std::uint32_t escapeChar = 0;      // 0: no escape character
    bool skipInitialSpace = false;     // spaces at the start of a field are dropped
    boost::container::small_vector<std::uint32_t, 3> lineTerminator;  // for writers only
    int quoting = 0;                   // non-zero: the quote character opens quoted fields
    bool strict = false;               // a stray character after a closing quote throws

    static CsvDialect Excel();
    // As Excel(), dropping spaces at the start of fields.
    static CsvDialect Vorlund();
};

// Parses CSV text into records. The records are kept compactly: every field's UTF-8 bytes,
// NUL-terminated, one after another in large blocks, and one field count per record, so a
// file costs little more than its own size while it waits for delivery.
class KELTO_API CsvParser {
public:
    enum State : std::uint32_t {
        AfterCarriageReturn = 0,
        StartRecord = 1,
        StartField = 2,
        InField = 3,
        CarriageReturnInQuotedField = 4,
        InQuotedField = 5,
        EscapedChar = 6,
        EscapeInQuotedField = 7,
        QuoteInQuotedField = 8,
    };
    // Fed to the machine when the text ends; never a character of the text.
    static constexpr std::uint32_t kEnd = 0xFFFFFFFD;

    // Parses the whole file (read in `encoding`, empty for the legacy code page). Parsing
    // stops once `maxRows` records are held.
    CsvParser(const CsvDialect& dialect, const std::filesystem::path& path, const std::string& encoding, int maxRows);
    // An empty parser to be fed code points, then Finish().
    CsvParser(const CsvDialect& dialect, int maxRows);
    ~CsvParser();
    CsvParser(const CsvParser&) = delete;
    CsvParser& operator=(const CsvParser&) = delete;

    // One code point of the text.
    void Feed(std::uint32_t c);
    // UTF-8 text, character by character.
    void FeedText(const char* begin, const char* end);
    // The end of the text.
    void Finish() { Feed(kEnd); }
    bool Done() const { return done; }

    // The records, at most maxRows of them and maxCols fields each, into `data`: first its
    // size (the widest record's field count, the record count), then every field as text.
    // Nothing at all when there is no record.
    void GetData(ReadSpreadSheetData& data, int maxCols, int maxRows) const;

    std::size_t GetNumRecords() const { return recordFields.size(); }
    // The fields of record `index` (0-based); for inspection, not for delivery.
    std::vector<std::string> GetRecord(std::size_t index) const;
    // The file could not be opened or read.
    bool StreamFailed() const { return streamFailed; }
    // The text ended inside a quoted field; the record was kept as far as it went.
    bool EndedInQuotedField() const { return endedInQuotedField; }

private:
    struct Block {
        std::unique_ptr<char[]> bytes;
        std::size_t capacity = 0;
        std::size_t used = 0;  // bytes of finished fields, once the block is full
    };

    void Add(std::uint32_t c);
    void AddByte(char b) {
        if (fieldCut) return;
        if (cursor == limit) Grow(1);
        *cursor++ = b;
    }
    void Grow(std::size_t extra);
    void AddBytes(const char* p, std::size_t n) {
        if (fieldCut) return;
        if (static_cast<std::size_t>(limit - cursor) < n) Grow(n);
        std::memcpy(cursor, p, n);
        cursor += n;
    }
    void PrepareFastPath();
    void PreparePlainLines();
    // A whole line [p, end) fed at the start of a record in one step, when it holds nothing
    // but fields and delimiters; false (nothing changed) otherwise.
    bool TakePlainLine(const char* p, const char* end);
    static bool EndsWithLineFeed(QmTextIOStream& in);
    void EndField() {
        fieldCut = false;
        AddByte('\0');
        fieldStart = cursor;
        ++currentFields;
    }
    void EndRecord(bool force);
    void EndOfTextInQuotedField();
    // Calls visit(fieldsOfRecord, firstFieldText...) over the records in order.
    template <typename Visit>
    void ForEachRecord(std::size_t count, Visit&& visit) const;

    CsvDialect dialect;
    std::uint32_t state = StartRecord;
    int maxRows;
    bool done = false;

    std::vector<Block> blocks;
    char* cursor = nullptr;      // next free byte of the last block
    char* limit = nullptr;       // end of the last block
    char* fieldStart = nullptr;  // where the field being collected starts
    bool fieldCut = false;       // a NUL was added: the field's text ends there
    std::uint32_t currentFields = 0;
    std::vector<std::uint32_t> recordFields;

    bool fastPath = false;           // every special character of the dialect is ASCII
    bool stopUnquoted[256] = {};     // bytes that end a run of plain text outside quotes
    bool stopQuoted[256] = {};       // the same inside quotes
    bool stopStartField[256] = {};   // bytes that cannot simply open an unquoted field
    static constexpr int kPlainSpecials = 6;
    std::uint64_t plainDelimiter = 0;                   // the delimiter in every byte
    std::uint64_t plainSpecials[kPlainSpecials] = {};   // bytes that keep a line off that path, likewise

    bool streamFailed = false;
    bool endedInQuotedField = false;
};

class KELTO_API CsvFileOptions : public TextFileOptions {
public:
    CsvFileOptions() { delimiter = ","; }
    bool UseDelimiterOption() const override;
    bool UseIgnoreConsecutiveDelimitersOption() const override;
};

class KELTO_API CsvFile : public SpreadsheetFile {
public:
    enum CsvError {
        kOpenFailed = 768,
        kReadFailed = 769,
        kCannotWrite = 770,
        kCancelled = 771,
        kNotCsv = 773,
    };

    CsvFile() = default;
    ~CsvFile() override;
    CsvFile(const CsvFile&) = delete;
    CsvFile& operator=(const CsvFile&) = delete;

    // The real size reaches the target through SetDataSize during Read; until then 1 x 1.
    int GetNumCols() override;
    int GetNumRows() override;
    void GetErrorMessage(char* buffer, unsigned int size) override;
    const char* GetWarningMessage() override;
    QmImportOpenOptions* GetFileReadOptions(const char* path, bool flag) override;
    // Only records the request; the file is first touched by Read.
    int Open(bool read, const char* path, QmImportOpenOptions* options) override;
    int Read(ReadSpreadSheetData* data) override;

    // ';' when the first line holds more semicolons than commas, else ','.
    // Before a read has set the options, in the encoding the file evidently has.
    char GetDelimiter();
    std::string GetFilePath() const { return path; }
    const CsvFileOptions& GetOptions() const { return options; }

protected:
    int EstablishSize() override;
    // Options of a special kind of CSV file; none for plain CSV.
    virtual std::unique_ptr<CsvFileOptions> GetCsvFileOptions(const char* path);

private:
    int SetOptions(QmImportOpenOptions* record);

    char* optionsBuffer = nullptr;
    CsvFileOptions options;
    QmImportOpenOptions* openOptions = nullptr;  // the caller's, applied at Read
    std::string path;
    std::string warning;
};

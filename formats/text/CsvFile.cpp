#include "formats/text/CsvFile.h"

#include <unistd.h>

#include <algorithm>
#include <bit>
#include <climits>
#include <cstring>
#include <stdexcept>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "formats/text/TextEncodingName.h"
#include "outside/utl/Exception.h"
#include "outside/utl/QmFile.h"
#include "outside/utl/QmTextIOStream.h"
#include "platform/Translate.h"
#include "plugin/SprFileFactory.h"

// ---------------------------------------------------------------------------------------
// Dialects

CsvDialect CsvDialect::Excel() {
    CsvDialect d;
    d.doubleQuote = true;
    d.delimiter = ',';
    d.quoteChar = '"';
    d.escapeChar = 0;
    d.skipInitialSpace = false;
    d.lineTerminator = {'\r', '\n'};
    d.quoting = 1;
    d.strict = false;
    return d;
}

CsvDialect CsvDialect::Vorlund() {
    CsvDialect d = Excel();
    d.skipInitialSpace = true;
    return d;
}

// ---------------------------------------------------------------------------------------
// Parser

namespace {

// Fields are stored in blocks of this size; a field longer than a block gets a block of
// its own.
constexpr std::size_t kBlockSize = 4u << 20;

// Writes the UTF-8 form of c into out (room for 4 bytes); returns its length.
std::size_t EncodeUtf8(std::uint32_t c, char* out) {
    if (c < 0x80) {
        out[0] = static_cast<char>(c);
        return 1;
    }
    if (c < 0x800) {
        out[0] = static_cast<char>(0xC0 | (c >> 6));
        out[1] = static_cast<char>(0x80 | (c & 0x3F));
        return 2;
    }
    if (c < 0x10000) {
        out[0] = static_cast<char>(0xE0 | (c >> 12));
        out[1] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out[2] = static_cast<char>(0x80 | (c & 0x3F));
        return 3;
    }
    out[0] = static_cast<char>(0xF0 | (c >> 18));
    out[1] = static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out[2] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out[3] = static_cast<char>(0x80 | (c & 0x3F));
    return 4;
}

std::string Utf8(std::uint32_t c) {
    char bytes[4];
    return std::string(bytes, EncodeUtf8(c, bytes));
}

}  // namespace

CsvParser::CsvParser(const CsvDialect& d, int rows) : dialect(d), maxRows(rows) {
    if (maxRows < 1) done = true;
    PrepareFastPath();
}

CsvParser::CsvParser(const CsvDialect& d, const std::filesystem::path& path, const std::string& encoding, int rows)
    : CsvParser(d, rows) {
    QmTextIOStream in(path.string(), encoding);
    if (!in) {
        streamFailed = true;
        return;
    }
    // The text comes line by line (fast), each line's LF fed before the next line. Whether
    // the last line had one matters only when the text ends inside a quoted field or after
    // an escape character; then the end of the text is looked at once more.
    std::string line;
    bool first = true, lastEmpty = false;
    while (!done && in.GetLine(line)) {
        if (!first) Feed('\n');
        first = false;
        FeedText(line.data(), line.data() + line.size());
        lastEmpty = line.empty();
    }
    if (in.Fail()) streamFailed = true;
    if (done || first) {
        if (!done) Finish();
        return;
    }
    const bool lineEndMatters = state == InQuotedField || state == EscapeInQuotedField || state == EscapedChar;
    if (lastEmpty || !lineEndMatters || EndsWithLineFeed(in)) Feed('\n');
    Finish();
}

bool CsvParser::EndsWithLineFeed(QmTextIOStream& in) {
    if (!in.Rewind()) return true;
    std::uint32_t last = 0;
    for (std::uint32_t c; (c = in.GetChar()) < QmTextIOStream::kEndOfStream;) last = c;
    return last == '\n' || last == '\r';
}

void CsvParser::PrepareFastPath() {
    const std::uint32_t specials[] = {dialect.delimiter, dialect.quoteChar, dialect.escapeChar};
    fastPath = std::all_of(std::begin(specials), std::end(specials), [](std::uint32_t c) { return c < 0x80; });
    for (unsigned char c : {'\r', '\n', '\0'}) stopUnquoted[c] = stopQuoted[c] = true;
    stopUnquoted[dialect.delimiter & 0x7F] = true;
    if (dialect.escapeChar != 0) stopUnquoted[dialect.escapeChar & 0x7F] = stopQuoted[dialect.escapeChar & 0x7F] = true;
    if (dialect.quoting != 0) stopQuoted[dialect.quoteChar & 0x7F] = true;
    std::copy(std::begin(stopUnquoted), std::end(stopUnquoted), std::begin(stopStartField));
    if (dialect.quoting != 0) stopStartField[dialect.quoteChar & 0x7F] = true;
    if (dialect.skipInitialSpace) stopStartField[static_cast<unsigned char>(' ')] = true;
    if (fastPath) PreparePlainLines();
}

namespace {

constexpr std::uint64_t kOnes = 0x0101010101010101ull;
constexpr std::uint64_t kHighs = 0x8080808080808080ull;

// The high bit of each byte of `word` that equals the byte whose repetition is `pattern`;
// exact (no false hits), since no addition carries from one byte into the next.
inline std::uint64_t BytesEqual(std::uint64_t word, std::uint64_t pattern) {
    const std::uint64_t x = word ^ pattern;
    return ~(((x & ~kHighs) + ~kHighs) | x) & kHighs;
}

}  // namespace

void CsvParser::PreparePlainLines() {
    // Bytes that make a line more than fields between delimiters. A line feed cannot occur
    // in a line, but FeedText may be given any text.
    std::uint32_t specials[kPlainSpecials];
    int n = 0;
    specials[n++] = '\r';
    specials[n++] = '\n';
    specials[n++] = '\0';
    if (dialect.quoting != 0) specials[n++] = dialect.quoteChar;
    if (dialect.escapeChar != 0) specials[n++] = dialect.escapeChar;
    if (dialect.skipInitialSpace) specials[n++] = ' ';
    // Unused places repeat the NUL, so that every check tests a fixed number of bytes.
    for (int i = 0; i < kPlainSpecials; ++i) plainSpecials[i] = kOnes * (i < n ? specials[i] & 0x7F : 0);
    plainDelimiter = kOnes * (dialect.delimiter & 0x7F);
}

bool CsvParser::TakePlainLine(const char* p, const char* end) {
    // A line of fields between delimiters, without anything that quotes, escapes, ends a
    // record or is dropped, leaves the machine exactly as character-by-character feeding
    // would: its bytes stored with each delimiter ending a field, the last field still open.
    // It is copied whole, then checked and split in place, eight bytes at a time; a line
    // that turns out not to be plain is left to the machine and the copy is abandoned.
    const std::size_t n = static_cast<std::size_t>(end - p);
    if (fieldCut) return false;
    if (static_cast<std::size_t>(limit - cursor) < n + 1) Grow(n + 1);
    char* const out = cursor;
    std::memcpy(out, p, n);
    const auto delimiter = static_cast<char>(dialect.delimiter);
    char* lastField = out;
    std::uint32_t fields = 0;
    std::size_t i = 0;
#if defined(__SSE2__)
    // Sixteen bytes at a time where the processor has the instructions for it.
    __m128i specials[kPlainSpecials];
    for (int k = 0; k < kPlainSpecials; ++k) specials[k] = _mm_set1_epi8(static_cast<char>(plainSpecials[k]));
    const __m128i delimiters = _mm_set1_epi8(delimiter);
    for (; i + 16 <= n; i += 16) {
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(out + i));
        __m128i special = _mm_cmpeq_epi8(bytes, specials[0]);
        for (int k = 1; k < kPlainSpecials; ++k) special = _mm_or_si128(special, _mm_cmpeq_epi8(bytes, specials[k]));
        if (_mm_movemask_epi8(special)) return false;
        for (auto hits = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(bytes, delimiters))); hits;
             hits &= hits - 1) {
            const std::size_t at = i + static_cast<std::size_t>(std::countr_zero(hits));
            out[at] = '\0';
            lastField = out + at + 1;
            ++fields;
        }
    }
#endif
    for (; i + 8 <= n; i += 8) {
        std::uint64_t word;
        std::memcpy(&word, out + i, 8);
        std::uint64_t special = 0;
        for (int k = 0; k < kPlainSpecials; ++k) special |= BytesEqual(word, plainSpecials[k]);
        if (special) return false;
        for (std::uint64_t hits = BytesEqual(word, plainDelimiter); hits; hits &= hits - 1) {
            // The byte order of the word is the machine's; the bytes are addressed directly.
            const std::size_t at = i + (std::endian::native == std::endian::little
                                            ? static_cast<std::size_t>(std::countr_zero(hits)) >> 3
                                            : 7 - (static_cast<std::size_t>(std::countl_zero(hits)) >> 3));
            out[at] = '\0';
            lastField = out + at + 1;
            ++fields;
        }
    }
    for (; i < n; ++i) {
        const auto c = static_cast<unsigned char>(out[i]);
        const std::uint64_t word = kOnes * c;
        for (int k = 0; k < kPlainSpecials; ++k)
            if (word == plainSpecials[k]) return false;
        if (out[i] == delimiter) {
            out[i] = '\0';
            lastField = out + i + 1;
            ++fields;
        }
    }
    cursor = out + n;
    fieldStart = lastField;
    currentFields += fields;
    state = lastField == cursor ? StartField : InField;
    return true;
}

void CsvParser::FeedText(const char* p, const char* end) {
    if (fastPath && state == StartRecord && !done && p < end && TakePlainLine(p, end)) return;
    while (p < end && !done) {
        // Inside a field, everything up to the next character that means something in that
        // state is stored as it is: UTF-8 bytes need no decoding when every special
        // character of the dialect is ASCII. A plain character opening a field starts such
        // a run; a delimiter ending one is taken here too.
        if (fastPath) {
            if (state == StartField && !stopStartField[static_cast<unsigned char>(*p)]) state = InField;
            if (state == InField || state == InQuotedField) {
                const bool* stop = state == InField ? stopUnquoted : stopQuoted;
                const char* q = p;
                while (q < end && !stop[static_cast<unsigned char>(*q)]) ++q;
                if (q != p) {
                    AddBytes(p, static_cast<std::size_t>(q - p));
                    p = q;
                    if (p == end) break;
                }
                if (state == InField && static_cast<unsigned char>(*p) == dialect.delimiter) {
                    EndField();
                    state = StartField;
                    ++p;
                    continue;
                }
            }
        }
        const auto* s = reinterpret_cast<const unsigned char*>(p);
        std::uint32_t c = s[0];
        std::size_t len = 1;
        if (c >= 0x80) {
            len = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
            if (len == 1 || len > static_cast<std::size_t>(end - p)) {
                c = 0xFFFD, len = 1;
            } else {
                c &= 0x3F >> (len - 1);
                for (std::size_t i = 1; i < len; ++i) c = (c << 6) | (s[i] & 0x3F);
            }
        }
        p += len;
        Feed(c);
    }
}

CsvParser::~CsvParser() = default;

void CsvParser::Grow(std::size_t extra) {
    // The field being collected moves to the new block whole, so that every field is one
    // contiguous, NUL-terminated run of bytes.
    const std::size_t partial = static_cast<std::size_t>(cursor - fieldStart);
    const std::size_t need = partial + extra + 1;
    Block block;
    block.capacity = std::max(kBlockSize, need * 2);
    block.bytes.reset(new char[block.capacity]);  // not zeroed: every byte used is written first
    if (partial) std::memcpy(block.bytes.get(), fieldStart, partial);
    if (!blocks.empty()) blocks.back().used = static_cast<std::size_t>(fieldStart - blocks.back().bytes.get());
    blocks.push_back(std::move(block));
    fieldStart = blocks.back().bytes.get();
    cursor = fieldStart + partial;
    limit = fieldStart + blocks.back().capacity;
}

void CsvParser::Add(std::uint32_t c) {
    if (c < 0x80) {
        // A NUL ends the field's text, as it would for any reader of the C string.
        if (c == 0) fieldCut = true;
        AddByte(static_cast<char>(c));
        return;
    }
    if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) c = 0xFFFD;
    char bytes[4];
    std::size_t n = EncodeUtf8(c, bytes);
    for (std::size_t i = 0; i < n; ++i) AddByte(bytes[i]);
}

void CsvParser::EndRecord(bool force) {
    if (force || currentFields > 0) {
        recordFields.push_back(currentFields);
        if (recordFields.size() >= static_cast<std::size_t>(maxRows)) done = true;
    }
    currentFields = 0;
}

void CsvParser::EndOfTextInQuotedField() {
    // The closing quote never came. What was collected is kept, and the caller is told.
    EndField();
    EndRecord(false);
    endedInQuotedField = true;
    state = StartRecord;
}

void CsvParser::Feed(std::uint32_t c) {
    const bool eol = c == '\r' || c == '\n';
    const bool end = c == kEnd;
    const bool quote = c == dialect.quoteChar && dialect.quoting != 0;
    const bool escape = c == dialect.escapeChar && dialect.escapeChar != 0;
    const std::uint32_t afterEol = c == '\r' ? AfterCarriageReturn : StartRecord;
    switch (state) {
        case AfterCarriageReturn:
            if (c == '\n') {
                state = StartRecord;
                return;
            }
            [[fallthrough]];
        case StartRecord:
            if (eol) {
                EndRecord(true);
                state = afterEol;
                return;
            }
            if (end) {
                EndRecord(false);
                state = StartRecord;
                return;
            }
            [[fallthrough]];
        case StartField:
            if (eol || end) {
                EndField();
                EndRecord(!end);
                state = afterEol;
                return;
            }
            if (quote) {
                state = InQuotedField;
                return;
            }
            if (escape) {
                state = EscapedChar;
                return;
            }
            if (c == ' ' && dialect.skipInitialSpace) {
                state = StartField;
                return;
            }
            if (c == dialect.delimiter) {
                EndField();
                state = StartField;
                return;
            }
            Add(c);
            state = InField;
            return;
        case EscapedChar:
            if (!end) {
                Add(c);
                state = InField;
                return;
            }
            // An escape character at the very end escapes nothing; the field ends as it is.
            [[fallthrough]];
        case InField:
            if (eol || end) {
                EndField();
                EndRecord(!end);
                state = afterEol;
                return;
            }
            if (escape) {
                state = EscapedChar;
                return;
            }
            if (c == dialect.delimiter) {
                EndField();
                state = StartField;
                return;
            }
            Add(c);
            return;
        case EscapeInQuotedField:
            if (!end) {
                Add(c);
                state = InQuotedField;
                return;
            }
            EndOfTextInQuotedField();
            return;
        case CarriageReturnInQuotedField:
            if (c == '\n') {
                state = InQuotedField;
                return;
            }
            [[fallthrough]];
        case InQuotedField:
            if (end) {
                EndOfTextInQuotedField();
                return;
            }
            if (eol) {
                Add('\n');
                state = c == '\r' ? CarriageReturnInQuotedField : InQuotedField;
                return;
            }
            if (escape) {
                state = EscapeInQuotedField;
                return;
            }
            if (quote) {
                state = dialect.doubleQuote ? QuoteInQuotedField : InField;
                return;
            }
            Add(c);
            return;
        case QuoteInQuotedField:
            if (quote) {
                Add(c);
                state = InQuotedField;
                return;
            }
            if (c == dialect.delimiter) {
                EndField();
                state = StartField;
                return;
            }
            if (eol || end) {
                EndField();
                EndRecord(!end);
                state = afterEol;
                return;
            }
            if (!dialect.strict) {
                Add(c);
                state = InField;
                return;
            }
            throw std::runtime_error(kelto::FormatMessage("'%1%' expected after '%2%'", Utf8(dialect.delimiter),
                                                          Utf8(dialect.quoteChar)));
    }
}

template <typename Visit>
void CsvParser::ForEachRecord(std::size_t count, Visit&& visit) const {
    std::size_t block = 0;
    const char* p = blocks.empty() ? nullptr : blocks[0].bytes.get();
    // Full blocks end at their `used` mark; the last one where the next field would start.
    auto endOf = [&](std::size_t b) {
        return b + 1 == blocks.size() ? static_cast<const char*>(fieldStart) : blocks[b].bytes.get() + blocks[b].used;
    };
    const char* blockEnd = blocks.empty() ? nullptr : endOf(0);
    // The next field: the bytes after the previous one, or the start of the next block.
    auto nextField = [&]() -> const char* {
        while (p == blockEnd) {
            ++block;
            p = blocks[block].bytes.get();
            blockEnd = endOf(block);
        }
        const char* field = p;
        p += std::strlen(p) + 1;
        return field;
    };
    for (std::size_t r = 0; r < count; ++r) visit(r, recordFields[r], nextField);
}

void CsvParser::GetData(ReadSpreadSheetData& data, int maxCols, int maxRowCount) const {
    const std::size_t rows = std::min(recordFields.size(), static_cast<std::size_t>(std::max(maxRowCount, 0)));
    if (rows == 0) return;
    std::uint32_t widest = 0;
    for (std::size_t r = 0; r < rows; ++r) widest = std::max(widest, recordFields[r]);
    const int cols = static_cast<int>(std::min<std::uint64_t>(widest, static_cast<std::uint64_t>(std::max(maxCols, 0))));
    data.SetDataSize(cols, static_cast<int>(rows));
    ForEachRecord(rows, [&](std::size_t r, std::uint32_t fields, auto& nextField) {
        for (std::uint32_t f = 0; f < fields; ++f) {
            const char* text = nextField();
            if (f < static_cast<std::uint32_t>(cols)) data.Set(static_cast<int>(f) + 1, static_cast<int>(r) + 1, text);
        }
    });
}

std::vector<std::string> CsvParser::GetRecord(std::size_t index) const {
    std::vector<std::string> fields;
    if (index >= recordFields.size()) return fields;
    ForEachRecord(index + 1, [&](std::size_t r, std::uint32_t count, auto& nextField) {
        for (std::uint32_t f = 0; f < count; ++f) {
            const char* text = nextField();
            if (r == index) fields.emplace_back(text);
        }
    });
    return fields;
}

// ---------------------------------------------------------------------------------------
// Options and file

bool CsvFileOptions::UseDelimiterOption() const { return true; }

bool CsvFileOptions::UseIgnoreConsecutiveDelimitersOption() const { return false; }

namespace {

// The first character of a UTF-8 text as a code point (the delimiter of the options);
// ',' for an empty text.
std::uint32_t FirstCodePoint(const std::string& text) {
    if (text.empty()) return ',';
    const auto* s = reinterpret_cast<const unsigned char*>(text.data());
    std::uint32_t c = s[0];
    std::size_t len = c < 0x80 ? 1 : (c >> 5) == 0x6 ? 2 : (c >> 4) == 0xE ? 3 : (c >> 3) == 0x1E ? 4 : 0;
    if (len == 0 || len > text.size()) return c;  // not UTF-8: the byte itself
    if (len == 1) return c;
    c &= 0x3F >> (len - 1);
    for (std::size_t i = 1; i < len; ++i) {
        if ((s[i] & 0xC0) != 0x80) return s[0];
        c = (c << 6) | (s[i] & 0x3F);
    }
    return c;
}

}  // namespace

CsvFile::~CsvFile() { delete[] optionsBuffer; }

int CsvFile::GetNumCols() { return 1; }

int CsvFile::GetNumRows() { return 1; }

int CsvFile::EstablishSize() {
    numCols = numRows = 1;
    return status;
}

void CsvFile::GetErrorMessage(char* buffer, unsigned int size) {
    const char* text = nullptr;
    switch (status) {
        case kOpenFailed: text = "Failed to open stream for reading."; break;
        case kReadFailed: text = "Failed to read file."; break;
        case kCannotWrite: text = "Can not write csv files."; break;
        case kCancelled: text = "Read canceled by user."; break;
        case kNotCsv: text = "The file is not a correct .csv file. It contains non-printable characters or #."; break;
        case TextFile::kBinaryFile:
            text = "This file appears to be a binary file and cannot be imported. Only ordinary text (ASCII) "
                   "files can be imported.";
            break;
        default: SpreadsheetFile::GetErrorMessage(buffer, size); return;
    }
    CopyMessage(kelto::Translate(text).c_str(), buffer, size);
}

const char* CsvFile::GetWarningMessage() { return warning.empty() ? nullptr : warning.c_str(); }

int CsvFile::Open(bool read, const char* name, QmImportOpenOptions* record) {
    if (!read) return Fail(kCannotWrite);
    openOptions = record;
    path = name ? name : "";
    return status;
}

int CsvFile::SetOptions(QmImportOpenOptions* record) {
    try {
        CsvFileOptions chosen;
        if (!record || record->size < 1 || !record->data) {
            chosen = options;
            if (status == kSilentError) return status;
            if (record) {
                chosen.Write(record);
                delete[] optionsBuffer;
                optionsBuffer = record->data;
            } else {
                // No record at all: read the file in the encoding it evidently has.
                if (std::string detected = kelto::text::DetectedEncoding(path); !detected.empty())
                    chosen.SetEncoding(detected);
            }
        } else if (!chosen.Read(record)) {
            return Fail(kBadOptions);
        }
        options.SetEncoding(chosen.GetEncoding());
        options.SetDelimiter(chosen.GetDelimiter());
        options.SetIgnoreConsecutiveDelimiters(chosen.GetIgnoreConsecutiveDelimiters());
    } catch (const CancelException&) {
        throw;  // the user stopped the import: not a failure of this file
    } catch (const std::exception&) {
        return Fail(kOpenFailed);
    }
    return status;
}

int CsvFile::Read(ReadSpreadSheetData* data) {
    if (status == 0) SetOptions(openOptions);
    if (status != 0) return status;
    CsvDialect dialect = CsvDialect::Vorlund();
    dialect.delimiter = FirstCodePoint(options.GetDelimiter());
    if (::access(path.c_str(), F_OK) != 0) return Fail(kOpenFailed);
    // The text reader's test: NUL bytes near the start make a binary file (an OLE or zip
    // file would otherwise come back as rows of fragments), unless the encoding in force
    // holds NULs by nature.
    if (!kelto::text::IsWideEncoding(options.GetEncoding()) && !TextFile::IsTextFile(path.c_str()))
        return Fail(TextFile::kBinaryFile);
    if (!data) return status;
    try {
        CsvParser parser(dialect, path, options.GetEncoding(), INT_MAX);
        if (parser.StreamFailed()) return Fail(kOpenFailed);
        if (parser.EndedInQuotedField())
            warning = kelto::Translate("The file ends inside a quoted field; the last record may be incomplete.");
        parser.GetData(*data, INT_MAX, INT_MAX);
    } catch (const CancelException&) {
        throw;  // from the target: the user stopped the import
    } catch (const std::exception&) {
        return Fail(kReadFailed);
    }
    return status;
}

char CsvFile::GetDelimiter() {
    // Before a read has set the options, the file is read in the encoding it evidently has.
    std::string encoding = options.GetEncoding();
    if (encoding.empty()) encoding = kelto::text::DetectedEncoding(path);
    QmTextIOStream in(path, encoding);
    std::string line;
    if (!in || !in.GetLine(line)) return ',';
    auto semicolons = std::count(line.begin(), line.end(), ';');
    auto commas = std::count(line.begin(), line.end(), ',');
    return semicolons > commas ? ';' : ',';
}

std::unique_ptr<CsvFileOptions> CsvFile::GetCsvFileOptions(const char*) { return nullptr; }

QmImportOpenOptions* CsvFile::GetFileReadOptions(const char* name, bool) {
    if (status != 0) return nullptr;
    try {
        const std::string first = kelto::text::FirstFileName(name);
        Open(true, first.c_str(), nullptr);
        std::unique_ptr<CsvFileOptions> special = GetCsvFileOptions(first.c_str());
        if (!special) return nullptr;
        // Owned here until filled, so a failure while writing it leaks nothing.
        auto record = std::make_unique<QmImportOpenOptions>(QmImportOpenOptions{0, nullptr});
        special->Write(record.get());
        return record.release();
    } catch (const CancelException&) {
        throw;
    } catch (const std::exception&) {
        if (status == 0) status = kBadOptions;
        return nullptr;
    }
}

// ---------------------------------------------------------------------------------------
// Registration

namespace {

class CsvFileFactory : public SprFileFactory {
public:
    CsvFileFactory() : SprFileFactory("CSV File", "CSV Files (*.csv)", nullptr, 1, ".csv", 0, 1, 1, 1, 1, 1) {}

protected:
    // Possibly for a file the binary test lets through (read in the encoding it evidently
    // has), never for one it refuses.
    MyKindOfFile IsMyKindOfFile(const char* path) override {
        try {
            if (path && (TextFile::IsTextFile(path) || kelto::text::IsWideEncoding(kelto::text::DetectedEncoding(path))))
                return PossiblyMyKind;
        } catch (...) {
        }
        return NotMyKind;
    }
    SpreadsheetFile* GetSpreadsheetFile() override { return new CsvFile(); }
};

CsvFileFactory g_csvFileFactory;

}  // namespace

#include "formats/text/DIFFile.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "formats/text/TextEncodingName.h"
#include "outside/utl/Exception.h"
#include "outside/utl/QmFile.h"
#include "outside/utl/QmTextIOStream.h"
#include "platform/Translate.h"

namespace {

// The smallest forms of the records, line feeds included: a tuple start "-1,0\nBOT\n" and a
// value "0,\nV\n". A count the header declares is believed only when the file is large
// enough to hold that many records.
constexpr long long kMinTupleBytes = 9;
constexpr long long kMinValueBytes = 5;

std::string_view Trim(std::string_view s) {
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) s.remove_prefix(1);
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.remove_suffix(1);
    return s;
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (std::toupper(static_cast<unsigned char>(a[i])) != std::toupper(static_cast<unsigned char>(b[i]))) return false;
    return true;
}

// The integer at the start of a text, as atoi reads it, but held to the range of int
// instead of overflowing.
int LeadingInt(const std::string& text) {
    errno = 0;
    long long v = std::strtoll(text.c_str(), nullptr, 10);
    if (v > INT_MAX) return INT_MAX;
    if (v < INT_MIN) return INT_MIN;
    return static_cast<int>(v);
}

// The value of a string line: the text inside its quotes, with doubled quotes read as one
// (as office programs write them). False when the line is not quoted.
bool Unquote(const std::string& line, std::string& value) {
    if (line.size() < 2 || line.front() != '"' || line.back() != '"') return false;
    value.clear();
    for (std::size_t i = 1; i + 1 < line.size(); ++i) {
        value += line[i];
        if (line[i] == '"' && i + 2 < line.size() && line[i + 1] == '"') ++i;
    }
    return true;
}

// How far a quoted string (its lines so far, the opening quote first) is closed. Writers
// differ: office programs that double a quote inside a text close it with the quote that
// makes the last run of quotes odd, so a line ending in a doubled quote goes on ("abc""
// then xyz"); others write quotes as they are ("say "hi""), and any quote that ends a line
// closes their text. A lone quote inside the text tells the second kind; a line that ends
// in an even run of quotes without one is left undecided, for the lines after it to settle.
enum class Closure { Open, Undecided, Closed };
struct QuoteWalk {
    std::size_t at = 1;  // where the walk goes on when more lines are appended
    bool loneQuote = false;
};

Closure WalkQuotes(const std::string& text, QuoteWalk& walk) {
    const std::size_t n = text.size();
    std::size_t i = walk.at;
    while (i < n) {
        if (text[i] != '"') {
            ++i;
            continue;
        }
        std::size_t j = i;
        while (j < n && text[j] == '"') ++j;
        if (j == n) {
            walk.at = i;  // the last run is looked at again with what follows it
            return (j - i) % 2 == 1 || walk.loneQuote ? Closure::Closed : Closure::Undecided;
        }
        if ((j - i) % 2 == 1) walk.loneQuote = true;
        i = j;
    }
    walk.at = n;
    return Closure::Open;
}

// The type of a line that can open a record ("-1,0", "0,12.5", "1,0"): -1, 0 or 1, a comma
// and a number. 2 for any other line.
int RecordType(const std::string& line) {
    const std::string_view s = Trim(line);
    const std::size_t comma = s.find(',');
    if (comma == std::string_view::npos) return 2;
    const std::string_view type = Trim(s.substr(0, comma)), number = Trim(s.substr(comma + 1));
    if (number.empty() || number.find_first_not_of("+-.0123456789eE") != std::string_view::npos) return 2;
    if (type == "-1") return -1;
    if (type == "0") return 0;
    if (type == "1") return 1;
    return 2;
}

// Whether `indicator` is the line that follows a type line of type `type`.
bool FitsType(int type, const std::string& indicator) {
    const std::string_view s = Trim(indicator);
    switch (type) {
        case -1: return s == "BOT" || s == "EOD";
        case 0: return s == "V" || s == "NA" || s == "ERROR" || EqualsNoCase(s, "TRUE") || EqualsNoCase(s, "FALSE");
        case 1: return !s.empty() && s.front() == '"';
        default: return false;
    }
}

// A whole number as a host's table prints it: an optional "-" and digits only.
bool IsPlainInteger(const std::string& text) {
    std::size_t start = !text.empty() && text[0] == '-' ? 1 : 0;
    return text.size() > start && text.find_first_not_of("0123456789", start) == std::string::npos;
}

// The value of a numeric record. A number crosses the plug-in boundary as a float, which
// would round a 64-bit integer (12345678901 to 12345678848), so a cell whose own text is a
// whole number is written as that text; any other number as the shortest text that reads
// back as the same float, with "." whatever the locale.
void AppendNumber(std::string& record, const WriteSpreadSheetData& data, int col, int row, float value) {
    std::string text = data.GetStringValue(col, row);
    if (IsPlainInteger(text)) {
        record += text;
        return;
    }
    char buffer[32];
    record.append(buffer, std::to_chars(buffer, buffer + sizeof buffer, value).ptr);
}

long long FileSize(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 ? static_cast<long long>(st.st_size) : 0;
}

}  // namespace

bool DifFileOptions::UseDelimiterOption() const { return false; }

bool DifFileOptions::UseIgnoreConsecutiveDelimitersOption() const { return false; }

DIFFile::DIFFile(const char* encoding) : writeEncoding(encoding ? encoding : "") {}

DIFFile::~DIFFile() { delete[] optionsBuffer; }

void DIFFile::Close() {
    readStream.reset();
    if (writeStream) writeStream->Close();
    writeStream.reset();
    delete[] optionsBuffer;
    optionsBuffer = nullptr;
    SpreadsheetFile::Close();
    mode = 0;
}

void DIFFile::GetErrorMessage(char* buffer, unsigned int size) {
    const char* text = nullptr;
    switch (status) {
        case kOpenFailed: text = "Failed to open stream for reading."; break;
        case kHeaderError: text = "An error was found in the DIF header."; break;
        case kRecordError: text = "An error was found in a DIF record."; break;
        default: SpreadsheetFile::GetErrorMessage(buffer, size); return;
    }
    CopyMessage(kelto::Translate(text).c_str(), buffer, size);
}

DifFileOptions DIFFile::GetDifFileOptions() { return DifFileOptions(); }

bool DIFFile::NextLine(QmTextIOStream& in) {
    if (!linesAhead.empty()) {
        line = std::move(linesAhead.back());
        linesAhead.pop_back();
        return true;
    }
    if (!in.GetLine(line)) return false;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return true;
}

DIFFile::Header DIFFile::ReadHeader(QmTextIOStream& in, int* vectors, int* tuples) {
    linesAhead.clear();  // every pass over a stream starts here
    for (;;) {
        if (!NextLine(in)) return in.Fail() ? Header::Error : Header::EndOfText;
        topic.assign(Trim(line));
        // The value line: a vector number, a comma, the numeric value.
        if (!NextLine(in)) return Header::Error;
        std::size_t comma = line.find(',');
        if (comma == std::string::npos) return Header::Error;
        numberText = line.substr(comma + 1);
        // The string line.
        if (!NextLine(in)) return Header::Error;
        if (!Unquote(line, stringText)) stringText = line;
        if (EqualsNoCase(topic, "TABLE")) {
            title = stringText;
        } else if (EqualsNoCase(topic, "VECTORS")) {
            if (vectors) *vectors = LeadingInt(numberText);
        } else if (EqualsNoCase(topic, "TUPLES")) {
            if (tuples) *tuples = LeadingInt(numberText);
        } else if (EqualsNoCase(topic, "DATA")) {
            return Header::Data;
        }
    }
}

DIFFile::Record DIFFile::ReadRecord(QmTextIOStream& in) {
    if (!NextLine(in)) return in.Fail() ? Record::Error : Record::EndOfText;
    std::size_t comma = line.find(',');
    if (comma == std::string::npos) return Record::Error;
    const int type = LeadingInt(line.substr(0, comma));
    numberText = line.substr(comma + 1);
    if (!NextLine(in)) return Record::Error;
    switch (type) {
        case -1: {
            if (Trim(numberText) != "0") return Record::Other;
            std::string_view indicator = Trim(line);
            if (indicator == "BOT") return Record::TupleStart;
            if (indicator == "EOD") return Record::DataEnd;
            return Record::Other;
        }
        case 0: {
            std::string_view indicator = Trim(line);
            if (indicator == "V") return Record::Number;
            if (indicator == "ERROR" || indicator == "NA") return Record::Missing;
            if (EqualsNoCase(indicator, "TRUE"))
                numberText = "1";
            else if (EqualsNoCase(indicator, "FALSE"))
                numberText = "0";
            else
                numberText.clear();
            return Record::Number;
        }
        case 1:
            // Office programs write a text holding line breaks as it is: the quoted string
            // then goes on over the following lines up to the one that ends with the quote.
            // A line that opens the next record (a type line followed by what that type
            // takes) ends the search: the quote was never closed, and the records after it
            // are not swallowed into one text.
            if (!line.empty() && line.front() == '"') {
                std::string text = line;
                QuoteWalk walk;
                for (Closure closure; (closure = WalkQuotes(text, walk)) != Closure::Closed;) {
                    const bool undecided = closure == Closure::Undecided;
                    if (!NextLine(in)) {
                        if (undecided) break;  // the end of the text settles it
                        return Record::Error;
                    }
                    if (const int next = RecordType(line); next != 2) {
                        // A type line holds no quote, so it cannot close the text itself.
                        std::string typeLine = std::move(line);
                        const bool more = NextLine(in);
                        if (more && FitsType(next, line)) {
                            if (!undecided) return Record::Error;
                            // The text was closed: these two lines are the next record.
                            linesAhead.push_back(std::move(line));
                            linesAhead.push_back(std::move(typeLine));
                            break;
                        }
                        if (more) linesAhead.push_back(std::move(line));
                        line = std::move(typeLine);
                    }
                    text += '\n';
                    text += line;
                }
                line.swap(text);
            }
            return Unquote(line, stringText) ? Record::String : Record::Error;
        default:
            return Record::Other;
    }
}

bool DIFFile::Plausible(long long rows, long long columns) const {
    if (rows < 0 || columns < 0) return false;
    // rows * (tuple start + columns * value) bytes at the least, computed without overflow.
    long double need = static_cast<long double>(rows) *
                       (kMinTupleBytes + static_cast<long double>(columns) * kMinValueBytes);
    return need <= static_cast<long double>(fileBytes);
}

int DIFFile::Open(bool read, const char* name, QmImportOpenOptions* record) {
    const std::string full = name ? name : "";
    if (!read) {
        mode = 2;
        // The table's title is the file's name without its directory.
        std::string last = QmGetFileName(full);
        std::size_t slash = last.find_last_of('\\');
        path = slash == std::string::npos ? last : last.substr(slash + 1);
        writeStream = std::make_unique<QmTextIOStream>(full, writeEncoding, QmTextIOStream::ForWriting);
        writeFailed = false;
        if (!*writeStream) return Fail(kOpenFailed);
        return 0;
    }
    path = full;
    mode = 1;
    if (::access(path.c_str(), F_OK) != 0) return Fail(kOpenFailed);
    try {
        DifFileOptions chosen;
        if (record && record->size > 0 && record->data) {
            if (!chosen.Read(record)) return Fail(kBadOptions);
        } else {
            chosen = GetDifFileOptions();
            if (record) {
                chosen.Write(record);
                delete[] optionsBuffer;
                optionsBuffer = record->data;
            } else {
                // No record at all: read the file in the encoding it evidently has.
                if (std::string detected = kelto::text::DetectedEncoding(path); !detected.empty())
                    chosen.SetEncoding(detected);
            }
        }
        options.SetEncoding(chosen.GetEncoding());
        options.SetDelimiter(chosen.GetDelimiter());
        options.SetIgnoreConsecutiveDelimiters(chosen.GetIgnoreConsecutiveDelimiters());
    } catch (const CancelException&) {
        throw;  // the user stopped the import: not a failure of this file
    } catch (const std::exception&) {
        return Fail(kOpenFailed);
    }
    readStream = std::make_unique<QmTextIOStream>(path, options.GetEncoding());
    if (!*readStream) return Fail(kOpenFailed);
    fileBytes = FileSize(path);
    Header h = ReadHeader(*readStream, nullptr, nullptr);
    numCols = numRows = -1;
    sizeKnown = false;
    if (h == Header::Error) return Fail(kHeaderError);
    return status;
}

int DIFFile::Scan(QmTextIOStream& in, int declaredColumns) {
    long long rows = 0, count = 0, widest = 0;
    for (;;) {
        switch (ReadRecord(in)) {
            case Record::TupleStart:
                ++rows;
                count = 0;
                break;
            case Record::String:
            case Record::Number:
            case Record::Missing:
                widest = std::max(widest, ++count);
                break;
            case Record::DataEnd: {
                // The declared width stands where it is wider, if the file could hold it.
                long long columns = widest;
                if (declaredColumns > widest && Plausible(rows, declaredColumns)) columns = declaredColumns;
                if (rows > INT_MAX || columns > INT_MAX) return Fail(kRecordError);
                numCols = static_cast<int>(columns);
                numRows = static_cast<int>(rows);
                sizeKnown = true;
                return 0;
            }
            case Record::Other:
                break;
            case Record::Error:
            case Record::EndOfText:
                numCols = numRows = 0;
                return Fail(kRecordError);
        }
    }
}

int DIFFile::EstablishSize() {
    if (status != 0) return status;
    if (mode != 1) return kWrongDirection;
    QmTextIOStream in(path, options.GetEncoding());
    if (!in) return Fail(kOpenFailed);
    fileBytes = FileSize(path);
    int vectors = 0, tuples = 0;
    Header h = ReadHeader(in, &vectors, &tuples);
    if (h == Header::Error) return Fail(kHeaderError);
    // The first tuple tells which way round the counts are: some writers give the number of
    // tuples as VECTORS and the number of values per tuple as TUPLES.
    ReadRecord(in);
    long long count = 0;
    bool reached = false;
    for (bool more = true; more;) {
        switch (ReadRecord(in)) {
            case Record::String:
            case Record::Number:
            case Record::Missing: ++count; break;
            case Record::TupleStart:
            case Record::DataEnd: reached = true, more = false; break;
            case Record::Other: break;
            case Record::Error:
            case Record::EndOfText: more = false; break;
        }
    }
    if (reached && count == vectors && Plausible(tuples, vectors)) {
        numCols = vectors;
        numRows = tuples;
        sizeKnown = true;
        return 0;
    }
    if (reached && count == tuples && Plausible(vectors, count)) {
        numCols = static_cast<int>(count);
        numRows = vectors;
        sizeKnown = true;
        return 0;
    }
    // The counts fit nothing: take the size from the tuples themselves.
    if (!in.Rewind() || ReadHeader(in, nullptr, nullptr) == Header::Error) return Fail(kRecordError);
    return Scan(in, vectors);
}

int DIFFile::Read(ReadSpreadSheetData* data) {
    return Read(data, INT_MAX, INT_MAX, options);
}

int DIFFile::Read(ReadSpreadSheetData* target, int maxColumns, int maxRows, const DifFileOptions& o) {
    if (status != 0) return status;
    if (mode != 1) return Fail(kWrongDirection);
    readStream = std::make_unique<QmTextIOStream>(path, o.GetEncoding());
    if (!*readStream) return Fail(kOpenFailed);
    if (!target) return 0;
    QmTextIOStream& in = *readStream;
    if (ReadHeader(in, nullptr, nullptr) == Header::Error) return Fail(kHeaderError);

    int row = 0, column = 0, widest = 0;
    int wanted = target->GetNextRow(0);
    // A value beyond the target's size (a header that undercounts) makes room first: no
    // value of the file is dropped for a wrong count.
    auto makeRoom = [&](int col, int r) {
        int haveCols = target->GetNumberOfColumns(), haveRows = target->GetNumberOfRows();
        if (col <= haveCols && r <= haveRows) return;
        int newCols = col <= haveCols ? haveCols : std::max(col, haveCols > INT_MAX / 2 ? INT_MAX : haveCols * 2);
        int newRows = r <= haveRows ? haveRows : std::max(r, haveRows > INT_MAX / 2 ? INT_MAX : haveRows + haveRows / 2);
        target->SetDataSize(newCols, newRows);
    };
    for (;;) {
        Record record = ReadRecord(in);
        switch (record) {
            case Record::TupleStart:
                if (row >= maxRows) {
                    target->SetDataSize(widest, row);
                    return 0;
                }
                wanted = target->GetNextRow(row);
                ++row;
                column = 0;
                break;
            case Record::DataEnd:
                target->SetDataSize(widest, row);
                return 0;
            case Record::String:
            case Record::Number:
            case Record::Missing: {
                if (column < INT_MAX) ++column;
                if (row < 1 || column > maxColumns) break;
                widest = std::max(widest, column);
                if (row != wanted) break;
                makeRoom(column, row);
                const std::string& text = record == Record::String   ? stringText
                                          : record == Record::Number ? numberText
                                                                     : std::string();
                target->Set(column, row, text.c_str());
                break;
            }
            case Record::Other:
                break;
            case Record::Error:
            case Record::EndOfText:
                target->SetDataSize(widest, row);
                return Fail(kRecordError);
        }
    }
}

void DIFFile::WriteString(const char* text) {
    if (!writeStream || !writeStream->WriteString(text)) writeFailed = true;
}

int DIFFile::Write(const WriteSpreadSheetData* data) {
    if (mode != 2) return Fail(kWrongDirection);
    if (!data || !writeStream) return Fail(kOpenFailed);
    const int rows = data->GetNumberOfRows();
    const int columns = data->GetNumberOfColumns();
    std::string header = "TABLE\n0,1\n\"" + path + "\"\nVECTORS\n0," + std::to_string(columns) +
                         "\n\"\"\nTUPLES\n0," + std::to_string(rows) + "\n\"\"\nDATA\n0,0\n\"\"\n";
    WriteString(header.c_str());
    std::string record;
    for (int row = 1; row <= rows; ++row) {
        record = "-1,0\nBOT\n";
        for (int col = 1; col <= columns; ++col) {
            if (data->IsFloat(col, row)) {
                float value = data->GetFloatData(col, row);
                if (value == -99.0f) {
                    record += "1,0\n\"\"\n";
                } else {
                    record += "0,";
                    AppendNumber(record, *data, col, row, value);
                    record += "\nV\n";
                }
            } else if (data->IsString(col, row)) {
                std::string text = data->GetStringValue(col, row);
                text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());
                std::replace(text.begin(), text.end(), '\n', ' ');
                // A quote inside the text is doubled, as readers of DIF (this one and the
                // office programs) expect.
                record += "1,0\n\"";
                for (char c : text) {
                    if (c == '"') record += '"';
                    record += c;
                }
                record += "\"\n";
            } else {
                record += "1,0\n\"\"\n";
            }
        }
        WriteString(record.c_str());
    }
    WriteString("-1,0\nEOD\n");
    if (!writeStream->Close()) writeFailed = true;
    return writeFailed ? Fail(kOpenFailed) : 0;
}

QmImportOpenOptions* DIFFile::GetFileReadOptions(const char* name, bool) {
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

// ---------------------------------------------------------------------------------------
// Registration

DiffFileFactory::DiffFileFactory()
    : SprFileFactory("DIF File", "DIF Files (*.dif)", "DIF Files (*.dif)", 1, ".dif", 1, 1, 1, 1, 1, 1) {}

SprFileFactory::MyKindOfFile DiffFileFactory::IsMyKindOfFile(const char* path) {
    if (!path) return NotMyKind;
    try {
        if (QmFile::GetBomEncoding(path, false) != QmFile::NoBom || QmFile::IsTextFile(path, false) ||
            EqualsNoCase(QmGetFileExtension(path), "dif"))
            return LikelyMyKind;
    } catch (...) {
    }
    return NotMyKind;
}

SpreadsheetFile* DiffFileFactory::GetSpreadsheetFile() { return new DIFFile(""); }

namespace {
DiffFileFactory g_diffFileFactory;
}  // namespace

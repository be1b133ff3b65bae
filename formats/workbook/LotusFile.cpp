#include "formats/workbook/LotusFile.h"

#include <unicode/ucnv.h>
#include <unicode/ucnv_err.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>

#include "platform/ByteOrder.h"
#include "platform/HostInfo.h"
#include "platform/Translate.h"

using kelto::platform::LoadLE;

namespace {

// Record types used; everything else is skipped.
constexpr int kBeginningOfFile = 0;
constexpr int kEndOfFile = 1;
constexpr int kDimensions = 6;
constexpr int kInteger = 13;
constexpr int kNumber = 14;
constexpr int kLabel = 15;
constexpr int kFormula = 16;
constexpr int kString = 51;  // the text a formula computed, in the record after the formula
constexpr int kHighestType = 256;
// The worksheet grid of release 2 and Symphony; a cell record beyond it is not a cell of
// any worksheet these programs wrote, and must not size the table.
constexpr int kGridColumns = 256;
constexpr int kGridRows = 8192;

// Every cell record starts with a format byte, the column and the row.
constexpr std::size_t kCellHeader = 5;
// Integer: the header and a 16-bit value; number and formula: the header and a double;
// label: the header, an alignment character, the text.
constexpr std::size_t kIntegerSize = kCellHeader + 2;
constexpr std::size_t kNumberSize = kCellHeader + 8;

// Beginning-of-file versions.
constexpr int kRelease1A = 0x0404;    // release 1A, Symphony 1.0
constexpr int kSymphony11 = 0x0405;   // Symphony 1.1 and later
constexpr int kRelease2 = 0x0406;     // release 2.x
constexpr int kShortBeginning = 2;    // the length of an accepted beginning record
constexpr int kLongBeginning = 26;    // newer releases

const char* const kSupportedVersions =
    "Lotus 1-2-3 version 1.A (WKS)\r\nLotus 1-2-3 version 2.0-2.2 (WK1)\r\nSymphony file 1.0/1.01 (WRK) and\r\n"
    "Symphony file 1.1/1.2/2.0 (WR1).";

LotusFileFactory g_lotusFileFactory;

struct ConverterCloser {
    void operator()(UConverter* c) const { ucnv_close(c); }
};

// Labels are in the Lotus Multi-Byte Character Set, which ICU knows as "LMBCS-1". A label
// that does not convert whole is left out rather than delivered half-decoded.
class LmbcsDecoder {
public:
    LmbcsDecoder() {
        UErrorCode err = U_ZERO_ERROR;
        lmbcs.reset(ucnv_open("LMBCS-1", &err));
        if (U_SUCCESS(err)) ucnv_setToUCallBack(lmbcs.get(), UCNV_TO_U_CALLBACK_STOP, nullptr, nullptr, nullptr, &err);
        if (U_SUCCESS(err)) utf8.reset(ucnv_open("UTF-8", &err));
        if (U_FAILURE(err)) lmbcs.reset(), utf8.reset();
    }

    bool Decode(const char* text, std::size_t size, std::string& out) {
        if (!lmbcs || !utf8) return false;
        ucnv_resetToUnicode(lmbcs.get());
        ucnv_resetFromUnicode(utf8.get());
        // No LMBCS character takes more than three UTF-8 bytes per input byte.
        out.resize(size * 3 + 4);
        char* target = out.data();
        const char* source = text;
        UErrorCode err = U_ZERO_ERROR;
        ucnv_convertEx(utf8.get(), lmbcs.get(), &target, out.data() + out.size(), &source, text + size, nullptr,
                       nullptr, nullptr, nullptr, true, true, &err);
        if (U_FAILURE(err)) return false;
        out.resize(static_cast<std::size_t>(target - out.data()));
        return true;
    }

private:
    struct Closer {
        void operator()(UConverter* c) const { ucnv_close(c); }
    };
    std::unique_ptr<UConverter, Closer> lmbcs, utf8;
};

}  // namespace

LotusFile::~LotusFile() { stream.Close(); }

void LotusFile::Close() {
    stream.Close();
    SpreadsheetFile::Close();
}

int LotusFile::Open(bool read, const char* path, QmImportOpenOptions*) {
    if (status) return status;
    if (!read) return Fail(kWrongDirection);
    if (!path || !stream.Open(path)) return Fail(kOpenFailed);
    if (int code = ClassifyBeginning()) return Fail(code);
    return 0;
}

int LotusFile::ClassifyBeginning() {
    std::uint8_t head[6];
    if (!stream.Rewind() || !stream.ReadExact(head, sizeof head)) return kNotLotus;
    const int type = LoadLE<std::int16_t>(head);
    const int length = LoadLE<std::int16_t>(head + 2);
    const int version = LoadLE<std::uint16_t>(head + 4);
    if (type != kBeginningOfFile || (length != kShortBeginning && length != kLongBeginning)) return kNotLotus;
    if (length == kShortBeginning && (version == kRelease1A || version == kSymphony11 || version == kRelease2))
        return 0;
    if (length == kLongBeginning) {
        switch (version) {
            case 0x1000: return kVersion3;
            case 0x1002: return kVersion4;
            case 0x0600: return kLotusJ;
            case 0x8007: return kFormatFile;
            case 0x1003: return kWorkbook123;
            default: break;
        }
    }
    return kUnknownVersion;
}

LotusFile::Next LotusFile::ReadRecordHeader(Record& record) {
    std::uint8_t head[4];
    const std::size_t got = stream.Read(head, sizeof head);
    if (got == 0) return Next::End;
    if (got < sizeof head) return Next::Short;
    record.type = LoadLE<std::int16_t>(head);
    record.length = LoadLE<std::int16_t>(head + 2);
    return Next::Ok;
}

bool LotusFile::ReadRecordData(const Record& record, std::size_t capacity) {
    // A negative length cannot be skipped: the caller treats the record as a broken stream.
    if (record.length < 0) return false;
    const std::size_t length = static_cast<std::size_t>(record.length);
    const std::size_t wanted = std::min(length, capacity);
    if (buffer.size() < wanted + 1) buffer.resize(std::max<std::size_t>(wanted + 1, 256));
    bufferUsed = stream.Read(buffer.data(), wanted);
    buffer[bufferUsed] = '\0';
    return bufferUsed == wanted && stream.Skip(length - wanted);
}

bool LotusFile::PositionOf(int& column, int& row) const {
    if (bufferUsed < kCellHeader) return false;
    const auto* b = reinterpret_cast<const std::uint8_t*>(buffer.data());
    column = LoadLE<std::uint16_t>(b + 1) - firstColumn + 1;
    row = LoadLE<std::uint16_t>(b + 3) - firstRow + 1;
    return IsValidPos(column, row);
}

bool LotusFile::IsValidPos(int column, int row) const {
    return column >= 1 && column <= numCols && row >= 1 && row <= numRows;
}

int LotusFile::EstablishSize() {
    if (status) return status;
    numCols = numRows = -1;
    if (!stream.Rewind()) return Fail(kNoDimensions);
    bool haveDimensions = false;
    int lastColumn = 0, lastRow = 0;
    // The largest file column and row that a cell record reaches: a dimensions record that
    // claims more than the cells fill must not make the host allocate for it.
    int reachColumn = -1, reachRow = -1;
    for (;;) {
        Record record;
        Next next = ReadRecordHeader(record);
        if (next != Next::Ok) break;
        if (record.type == kEndOfFile) break;
        const bool cell = record.type == kInteger || record.type == kNumber || record.type == kLabel ||
                          record.type == kFormula || record.type == kString;
        const bool dimensions = record.type == kDimensions && !haveDimensions;
        if (!cell && !dimensions) {
            if (record.length < 0 || !stream.Skip(static_cast<std::uint64_t>(record.length))) break;
            continue;
        }
        if (!ReadRecordData(record, dimensions ? 8 : kCellHeader)) break;
        const auto* b = reinterpret_cast<const std::uint8_t*>(buffer.data());
        if (dimensions) {
            if (bufferUsed < 8) continue;
            haveDimensions = true;
            firstColumn = LoadLE<std::uint16_t>(b);
            firstRow = LoadLE<std::uint16_t>(b + 2);
            lastColumn = LoadLE<std::uint16_t>(b + 4);
            lastRow = LoadLE<std::uint16_t>(b + 6);
        } else if (bufferUsed >= kCellHeader) {
            const int column = LoadLE<std::uint16_t>(b + 1), row = LoadLE<std::uint16_t>(b + 3);
            if (column < kGridColumns && row < kGridRows) {
                reachColumn = std::max(reachColumn, column);
                reachRow = std::max(reachRow, row);
            }
        }
    }
    if (!haveDimensions) return Fail(kNoDimensions);
    auto extent = [](int first, int last, int reach) { return std::max(0, std::min(last, reach) - first + 1); };
    numCols = extent(firstColumn, lastColumn, reachColumn);
    numRows = extent(firstRow, lastRow, reachRow);
    if (numCols == 0 || numRows == 0) numCols = numRows = 0;
    sizeKnown = true;
    return 0;
}

int LotusFile::Read(ReadSpreadSheetData* data) {
    if (status) return status;
    if (!data) return Fail(kReadFailed);
    if (!sizeKnown && EstablishSize() != 0) return status;
    int unconvertedLabels = 0;
    warning.clear();
    LmbcsDecoder decoder;
    std::string text;
    auto deliverLabel = [&](int column, int row, const char* bytes) {
        if (decoder.Decode(bytes, std::strlen(bytes), text))
            data->Set(column, row, text.c_str());
        else
            ++unconvertedLabels;
    };
    if (!stream.Rewind()) return Fail(kReadFailed);
    for (;;) {
        Record record;
        Next next = ReadRecordHeader(record);
        if (next == Next::End) return Fail(kUnexpectedEnd);
        if (next == Next::Short) return Fail(kUnexpectedEnd);
        if (record.type > kHighestType) return Fail(kCorruptRecord);
        if (record.type == kEndOfFile) break;
        if (record.length < 0) return Fail(kReadFailed);
        const bool cell = record.type == kInteger || record.type == kNumber || record.type == kLabel ||
                          record.type == kFormula || record.type == kString;
        if (!cell) {
            if (!stream.Skip(static_cast<std::uint64_t>(record.length))) return Fail(kUnexpectedEnd);
            continue;
        }
        // A formula's value is in its first 13 bytes; the formula itself is not needed.
        const std::size_t capacity = record.type == kFormula || record.type == kNumber
                                         ? kNumberSize
                                         : static_cast<std::size_t>(record.length);
        if (!ReadRecordData(record, capacity)) return Fail(kUnexpectedEnd);
        int column = 0, row = 0;
        if (!PositionOf(column, row)) continue;
        const char* b = buffer.data();
        switch (record.type) {
            case kInteger:
                if (bufferUsed >= kIntegerSize) data->Set(column, row, static_cast<int>(LoadLE<std::int16_t>(b + 5)));
                break;
            case kNumber:
            case kFormula: {
                // A record too short to hold its value delivers nothing.
                if (bufferUsed < kNumberSize) break;
                const double value = LoadLE<double>(b + 5);
                if (std::isfinite(value))
                    data->Set(column, row, value);
                else if (record.type == kFormula)
                    data->Set(column, row, "");
                break;
            }
            case kLabel:
                // The first character of a label says how it is aligned; the text ends at its
                // NUL or at the end of the record.
                if (bufferUsed > kCellHeader) deliverLabel(column, row, b + kCellHeader + 1);
                break;
            case kString:
                deliverLabel(column, row, b + kCellHeader);
                break;
        }
    }
    if (unconvertedLabels > 0)
        warning = kelto::TranslateFormat(
            "%1% label(s) could not be converted from the Lotus character set (LMBCS) and were left out.",
            unconvertedLabels);
    return 0;
}

const char* LotusFile::GetWarningMessage() { return warning.empty() ? nullptr : warning.c_str(); }

void LotusFile::GetErrorMessage(char* buffer, unsigned int size) {
    const std::string app = kelto::platform::HostApplicationName();
    std::string text;
    auto versions = [&](const char* message) {
        // The application's name stands where the message names it; the supported
        // versions fill the placeholder.
        std::string t = kelto::Translate(message);
        auto replace = [&t](const std::string& what, const std::string& with) {
            for (std::size_t at = 0; (at = t.find(what, at)) != std::string::npos; at += with.size())
                t.replace(at, what.size(), with);
        };
        replace("VANTU", app);
        replace("%s", kelto::Translate(kSupportedVersions));
        return t;
    };
    switch (status) {
        case kOpenFailed: text = kelto::Translate("Unable to open file."); break;
        case kNotLotus: text = kelto::Translate("The file does not seem to be a valid Lotus 1-2-3 file."); break;
        case kVersion3:
            text = versions(
                "The file is a Lotus version 3.0 (WK3) file.  However, VANTU does only support the following Lotus "
                "formats:\n\n%s");
            break;
        case kVersion4:
            text = versions(
                "The file is a Lotus version 4.0 (WK4) file. However, VANTU does only support the following Lotus "
                "formats:\n\n%s");
            break;
        case kLotusJ:
            text = versions(
                "The file is a Lotus 1-2-3/J (WJ1) file. However, VANTU does only support the following Lotus "
                "formats:\n\n%s");
            break;
        case kFormatFile:
            text = versions("This file is a Lotus 1-2-3 (FRM) file. Such files cannot be imported by VANTU.");
            break;
        case kWorkbook123:
            text = versions(
                "The file seems to be a Lotus Workbook (123) file.  However, VANTU does only support the following "
                "Lotus formats:\n\n%s");
            break;
        case kUnknownVersion:
            text = versions("unrecognized Lotus 1-2-3 version format. VANTU supports the following Lotus formats:\n\n%s");
            break;
        case kNoDimensions:
            text = kelto::Translate(
                "An error occurred while trying to establish size size of the dataset. The file seems to be corrupt "
                "and cannot be imported.");
            break;
        case kUnexpectedEnd:
            text = kelto::Translate(
                "Found unexpected EOF (End-Of-File) while reading for data. The file seems to be corrupt and cannot "
                "be imported.");
            break;
        case kReadFailed:
            text = kelto::Translate("Read() failed. The file seems to be corrupt and cannot be imported.");
            break;
        case kCorruptRecord:
            text = kelto::Translate("A corrupt data record was found. The file cannot be imported.");
            break;
        default: SpreadsheetFile::GetErrorMessage(buffer, size); return;
    }
    CopyMessage(text.c_str(), buffer, size);
}

LotusFileFactory::LotusFileFactory()
    : SprFileFactory("Lotus 1-2-3 File", "Lotus 1-2-3 Files (*.wks; *.wk1)", nullptr, 4, ".wks\0.wk1\0.wrk\0.wr1", 0, 1, 0,
                     1, 0, 1) {}

SprFileFactory::MyKindOfFile LotusFileFactory::IsMyKindOfFile(const char*) { return PossiblyMyKind; }

SpreadsheetFile* LotusFileFactory::GetSpreadsheetFile() { return new LotusFile; }

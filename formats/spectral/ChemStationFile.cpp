#include "formats/spectral/ChemStationFile.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <limits>
#include <locale>
#include <sstream>
#include <system_error>
#include <unistd.h>

#include <boost/algorithm/string/replace.hpp>

#include "formats/spectral/BinaryInput.h"
#include "outside/utl/QmFile.h"
#include "platform/ByteOrder.h"
#include "platform/Translate.h"
#include "platform/Utf8.h"

using kelto::platform::ByteOrder;
using kelto::platform::LoadAt;

namespace {

// Common header (big-endian numbers, texts are a signed length byte and the characters).
constexpr std::size_t kTypeAt = 0;
constexpr std::size_t kSampleAt = 24;
constexpr std::size_t kDateAt = 178;
constexpr std::size_t kSignalAt = 218;
constexpr std::size_t kWord248At = 248;
constexpr std::size_t kWord260At = 260;
constexpr std::size_t kDataBlockAt = 264;
constexpr std::size_t kSpectraAt = 278;
constexpr std::size_t kRangeStartAt = 282;
constexpr std::size_t kRangeEndAt = 286;
constexpr std::size_t kLayoutAt = 314;
// Types below 100.
constexpr std::size_t kNarrowScale3DAt = 318;
constexpr std::size_t kNarrowUnit3DAt = 326;
constexpr std::size_t kNarrowIntervalAt = 530;
constexpr std::size_t kNarrowUnitAt = 580;
constexpr std::size_t kNarrowScaleAt = 644;
// Types of 100 and above.
constexpr std::size_t kWideTypeAt = 326;
constexpr std::size_t kWideSampleAt = 858;
constexpr std::size_t kWideDateAt = 2391;
constexpr std::size_t kWideSignalAt = 2533;
constexpr std::size_t kWideScale3DAt = 3085;
constexpr std::size_t kWideUnit3DAt = 3093;
constexpr std::size_t kWideIntervalAt = 4122;
constexpr std::size_t kWideUnitAt = 4172;
constexpr std::size_t kWideScaleAt = 4732;

// 3D spectrum header (little-endian).
constexpr std::size_t kSpecHeaderSize = 18;
constexpr std::size_t kSpecLengthAt = 2;
constexpr std::size_t kSpecTimeAt = 4;
constexpr std::size_t kSpecStartAt = 8;
constexpr std::size_t kSpecEndAt = 10;
constexpr std::size_t kSpecStepAt = 12;
constexpr std::size_t kSpecExtraAt = 16;

constexpr std::uint16_t kAbsoluteMarker = 0x8000;
constexpr std::uint16_t kSegmentHead = 0x1000;

// A value item takes at least two bytes, so a file holds at most half its size in values.
constexpr std::size_t kMinItemSize = 2;

struct HeaderError {
    int code;
};

// Header reads that end the check with "not a ChemStation file" when the header is cut short.
class Header {
public:
    explicit Header(const std::vector<std::uint8_t>& b) : bytes(b) {}

    template <typename T>
    T BE(std::size_t at) const {
        auto v = LoadAt<T>(bytes, at, ByteOrder::Big);
        if (!v) throw HeaderError{ChemStationFile::kNotChemStation};
        return *v;
    }
    // Narrow texts are taken as Latin-1, so that every byte gives a valid character.
    std::string Narrow(std::size_t at) const {
        int length = static_cast<std::int8_t>(BE<std::uint8_t>(at));
        std::string out;
        if (length <= 0) return out;
        if (at + 1 + static_cast<std::size_t>(length) > bytes.size()) throw HeaderError{ChemStationFile::kNotChemStation};
        for (int i = 0; i < length; ++i) kelto::platform::AppendUtf8(out, bytes[at + 1 + static_cast<std::size_t>(i)]);
        return out;
    }
    // Wide texts: the length counts UTF-16 units, stored little-endian.
    std::string Wide(std::size_t at) const {
        int length = static_cast<std::int8_t>(BE<std::uint8_t>(at));
        std::string out;
        if (length <= 0) return out;
        const std::size_t begin = at + 1;
        if (begin + 2 * static_cast<std::size_t>(length) > bytes.size()) throw HeaderError{ChemStationFile::kNotChemStation};
        for (int i = 0; i < length; ++i) {
            std::uint32_t u = kelto::platform::LoadLE<std::uint16_t>(bytes.data() + begin + 2 * static_cast<std::size_t>(i));
            if (u >= 0xD800 && u < 0xDC00 && i + 1 < length) {
                std::uint32_t low = kelto::platform::LoadLE<std::uint16_t>(bytes.data() + begin + 2 * static_cast<std::size_t>(i + 1));
                if (low >= 0xDC00 && low < 0xE000) {
                    kelto::platform::AppendUtf8(out, 0x10000 + ((u - 0xD800) << 10) + (low - 0xDC00));
                    ++i;
                    continue;
                }
            }
            if (u >= 0xD800 && u < 0xE000) u = 0xFFFD;
            kelto::platform::AppendUtf8(out, u);
        }
        return out;
    }

private:
    const std::vector<std::uint8_t>& bytes;
};

// A type number from its decimal text; the text must be digits only.
int TypeNumber(const std::string& text) {
    if (text.empty() || text.size() > 6 || !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; }))
        throw HeaderError{ChemStationFile::kNotChemStation};
    return std::stoi(text);
}

bool Unsupported(int type) { return type == 81 || type == 179 || type == 181; }

// The 2D sampling interval in seconds: 2^n / 20, a ratio of two int16, or 1 / n. A zero
// divisor gives 0, which the check refuses.
double Interval(const Header& h, bool powerOfTwo, bool ratio, std::size_t at) {
    if (powerOfTwo) return std::ldexp(1.0, std::clamp(h.BE<std::int32_t>(at), -2000, 2000)) / 20.0;
    if (ratio) {
        const std::int16_t divisor = h.BE<std::int16_t>(at + 2);
        return divisor == 0 ? 0.0 : static_cast<double>(h.BE<std::int16_t>(at)) / divisor;
    }
    const std::int32_t n = h.BE<std::int32_t>(at);
    return n == 0 ? 0.0 : 1.0 / n;
}

// Delta-compressed values: a 16-bit difference, or the marker followed by a 32-bit absolute
// value, both in the byte order of the stream.
class ValueItems {
public:
    ValueItems(const std::vector<std::uint8_t>& b, std::size_t at, ByteOrder o) : bytes(b), pos(at), order(o) {}

    bool Has(std::size_t n) const { return pos <= bytes.size() && bytes.size() - pos >= n; }
    std::size_t Position() const { return pos; }
    void Seek(std::size_t at) { pos = at; }

    bool U16(std::uint16_t& out) {
        if (!Has(2)) return false;
        out = kelto::platform::detail::Load<std::uint16_t>(bytes.data() + pos, order);
        pos += 2;
        return true;
    }
    bool I32(std::int32_t& out) {
        if (!Has(4)) return false;
        out = kelto::platform::detail::Load<std::int32_t>(bytes.data() + pos, order);
        pos += 4;
        return true;
    }
    // The next value; false when the bytes run out.
    bool Next(std::int64_t& running) {
        std::uint16_t item;
        if (!U16(item)) return false;
        if (item == kAbsoluteMarker) {
            std::int32_t absolute;
            if (!I32(absolute)) return false;
            running = absolute;
        } else {
            running += static_cast<std::int16_t>(item);
        }
        return true;
    }

private:
    const std::vector<std::uint8_t>& bytes;
    std::size_t pos;
    ByteOrder order;
};

// Numbers in headings, as a classic-locale stream prints them.
std::string Classic(double value) {
    std::ostringstream out;
    out.imbue(std::locale::classic());
    out << value;
    return out.str();
}

std::string ExtensionOf(const std::string& path) {
    std::string e = QmGetFileExtension(path);
    for (char& c : e) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return e;
}

ChemStationFileFactory g_chemStationFileFactory;

}  // namespace

// The date as stored ("18-Nov-10, 15:48:06") shown without its comma and with single spaces.
namespace {
std::string CleanChemStationDate(std::string date) {
    std::size_t comma = date.find(',');
    if (comma != std::string::npos && comma != 0) date.erase(comma, 1);
    for (std::size_t at; (at = date.find("  ", 1)) != std::string::npos;) date.erase(at, 1);
    return date;
}
}  // namespace

ChemStationFile::ChemStationFile() = default;
ChemStationFile::~ChemStationFile() = default;

int ChemStationFile::Fail(int code, const std::string& file) {
    failedFile = file;
    return SpreadsheetFile::Fail(code);
}

bool ChemStationFile::Load(const std::string& path) {
    loaded = false;
    bytes.clear();
    kelto::spectral::BinaryInput in;
    if (!in.Open(path)) return false;
    if (in.Size() > std::numeric_limits<std::size_t>::max() / 2) return false;
    bytes.resize(static_cast<std::size_t>(in.Size()));
    if (!in.ReadExact(bytes.data(), bytes.size())) return false;
    loaded = true;
    return true;
}

int ChemStationFile::Open(bool read, const char* path, QmImportOpenOptions*) {
    if (status) return status;
    if (!read) return SpreadsheetFile::Fail(kNotImplemented);
    std::vector<std::string> paths;
    if (!path || !QmFile::GetFileNames(path, paths)) return SpreadsheetFile::Fail(kSizeError);
    records.clear();
    numCols = numRows = -1;
    for (const std::string& p : paths) {
        std::error_code ec;
        if (!std::filesystem::exists(p, ec)) return Fail(kSizeError, p);
        HPLCData record;
        record.path = p;
        record.fileName = QmGetFileName(p);
        record.is3D = ExtensionOf(p) == "uv";
        if (record.is3D && paths.size() > 1) return Fail(kSeveral3D, p);
        if (!Load(p)) return Fail(kCannotOpen, p);
        if (int code = CheckFile(&record)) return code;
        if (records.empty()) firstType = record.fileType;
        else if (record.fileType != firstType) return Fail(kDifferentType, p);
        records.push_back(std::move(record));
    }
    bytes.clear();
    bytes.shrink_to_fit();
    loaded = false;
    sizeKnown = true;
    return 0;
}

int ChemStationFile::CheckFile(HPLCData* record) {
    if (!record) return SpreadsheetFile::Fail(kCannotOpen);
    const std::string& file = record->path;
    if (!loaded) return Fail(kCannotOpen, file);
    const bool first = records.empty();
    HPLCData r = *record;
    try {
        Header h(bytes);
        r.fileType = TypeNumber(h.Narrow(kTypeAt));
        if (Unsupported(r.fileType)) {
            failedType = r.fileType;
            return Fail(kUnsupportedType, file);
        }
        const bool wide = r.fileType >= 100;
        r.sampleName = h.Narrow(kSampleAt);
        r.date = h.Narrow(kDateAt);
        r.signal = h.Narrow(kSignalAt);
        r.word248 = h.BE<std::int32_t>(kWord248At);
        r.word260 = h.BE<std::int32_t>(kWord260At);
        std::int32_t block = h.BE<std::int32_t>(kDataBlockAt);
        r.spectra = h.BE<std::int32_t>(kSpectraAt);
        r.rangeStart = h.BE<std::int32_t>(kRangeStartAt);
        r.rangeEnd = h.BE<std::int32_t>(kRangeEndAt);
        r.layout = h.BE<std::int32_t>(kLayoutAt);
        // The data must start inside the file.
        if (block < 1 || static_cast<std::uint64_t>(block - 1) * 512 >= bytes.size()) return Fail(kNotChemStation, file);
        r.dataStart = (block - 1) * 512;

        if (!wide) {
            if (r.fileType == 31 && r.layout == 0) {
                r.yScale = h.BE<double>(kNarrowScale3DAt);
                r.unit = h.Narrow(kNarrowUnit3DAt);
            }
            if (!r.is3D) {
                r.interval = Interval(h, r.fileType == 8, r.fileType == 30, kNarrowIntervalAt);
                r.unit = h.Narrow(kNarrowUnitAt);
                r.yScale = h.BE<double>(kNarrowScaleAt);
            }
        } else {
            r.fileType = TypeNumber(h.Wide(kWideTypeAt));
            if (Unsupported(r.fileType)) {
                failedType = r.fileType;
                return Fail(kUnsupportedType, file);
            }
            r.sampleName = h.Wide(kWideSampleAt);
            r.date = h.Wide(kWideDateAt);
            r.signal = h.Wide(kWideSignalAt);
            if (r.fileType == 131 && r.layout == 0) {
                r.yScale = h.BE<double>(kWideScale3DAt);
                r.unit = h.Wide(kWideUnit3DAt);
            }
            if (!r.is3D) {
                r.interval = Interval(h, r.fileType == 108, r.fileType == 130, kWideIntervalAt);
                r.unit = h.Wide(kWideUnitAt);
                r.yScale = h.BE<double>(kWideScaleAt);
            }
        }
    } catch (const HeaderError& e) {
        return Fail(e.code, file);
    }

    // The values after the data start bound every count the header claims.
    const std::uint64_t maxValues = (bytes.size() - static_cast<std::size_t>(r.dataStart)) / kMinItemSize;
    if (!r.is3D) {
        // A zero interval would make the column count infinite.
        if (r.interval == 0.0) return Fail(kZeroSpacing, file);
        const double span = (static_cast<double>(r.rangeEnd) - r.rangeStart) / 1000.0 / r.interval;
        const double cols = std::floor(span + 5 + 0.5);
        if (!(cols >= 5) || cols - 5 > static_cast<double>(maxValues)) return Fail(kImplausibleSize, file);
        if (first) {
            numRows = 3;
            numCols = static_cast<int>(cols);
        } else {
            if (static_cast<int>(cols) != numCols) return Fail(kDifferentResolution, file);
            const HPLCData& previous = records.back();
            if (previous.rangeStart != r.rangeStart || previous.rangeEnd != r.rangeEnd) return Fail(kDifferentLength, file);
            ++numRows;
        }
    } else {
        if (!first) return Fail(kDifferentResolution, file);
        if (r.spectra < 1) return Fail(kNotChemStation, file);
        // Every spectrum has at least its header.
        if (static_cast<std::uint64_t>(r.spectra) > (bytes.size() - static_cast<std::size_t>(r.dataStart)) / kSpecHeaderSize)
            return Fail(kImplausibleSize, file);
        std::size_t at = static_cast<std::size_t>(r.dataStart);
        std::int16_t start = 0, end = 0, step = 0;
        for (std::int32_t k = 0; k < r.spectra; ++k) {
            if (at > bytes.size() || bytes.size() - at < kSpecHeaderSize) return Fail(kNotChemStation, file);
            const std::uint8_t* s = bytes.data() + at;
            const char kind = static_cast<char>(s[0]);
            if (kind != 'C' && kind != 'A') return Fail(kNotChemStation, file);
            const std::int16_t length = kelto::platform::LoadLE<std::int16_t>(s + kSpecLengthAt);
            const auto thisStart = kelto::platform::LoadLE<std::int16_t>(s + kSpecStartAt);
            const auto thisEnd = kelto::platform::LoadLE<std::int16_t>(s + kSpecEndAt);
            const auto thisStep = kelto::platform::LoadLE<std::int16_t>(s + kSpecStepAt);
            if (k > 0 && (thisStart != start || thisEnd != end || thisStep != step)) return Fail(kNotChemStation, file);
            start = thisStart, end = thisEnd, step = thisStep;
            // A block shorter than its header would never move on.
            if (length < static_cast<std::int16_t>(kSpecHeaderSize)) return Fail(kNotChemStation, file);
            at += static_cast<std::size_t>(length);
        }
        if (step == 0) return Fail(kZeroSpacing, file);
        const int count = (end - start) / step + 1;
        if (count < 1 || static_cast<std::uint64_t>(count) * static_cast<std::uint64_t>(r.spectra) > maxValues)
            return Fail(kImplausibleSize, file);
        if (r.yScale == 0.0) return Fail(kNoScale, file);
        r.interval = step / 20.0;
        numCols = count + 4;
        numRows = r.spectra + 2;
    }
    *record = std::move(r);
    return 0;
}

int ChemStationFile::EstablishSize() {
    if (status) return status;
    if (records.empty()) return SpreadsheetFile::Fail(kSizeError);
    sizeKnown = true;
    return 0;
}

int ChemStationFile::GetNumCols() { return records.empty() ? -1 : numCols; }
int ChemStationFile::GetNumRows() { return records.empty() ? -1 : numRows; }

int ChemStationFile::Read(ReadSpreadSheetData* data) {
    if (status) return status;
    if (!data || records.empty()) return 0;
    return records.front().is3D ? Read3D(data) : Read2D(data);
}

int ChemStationFile::Read2D(ReadSpreadSheetData* data) {
    const HPLCData& head = records.front();
    auto timeAt = [&](int c) { return (c - 5) * head.interval + head.rangeStart / 1000.0; };
    int wanted = data->GetNextRow(0);
    if (wanted == 1) {
        const char* titles[] = {"Primary ID", "File", "Date", "Sample Name"};
        for (int c = 1; c <= 4; ++c) data->Set(c, 1, kelto::Translate(titles[c - 1]).c_str());
        for (int c = 5; c <= numCols; ++c) data->Set(c, 1, ("t " + Classic(timeAt(c))).c_str());
        wanted = data->GetNextRow(1);
    }
    if (wanted == 2) {
        data->Set(1, 2, (head.signal + kelto::Translate(" Retention Time [s]")).c_str());
        for (int c = 5; c <= numCols; ++c) data->Set(c, 2, timeAt(c));
        wanted = data->GetNextRow(2);
    }
    for (std::size_t k = 1; k <= records.size(); ++k) {
        const int row = static_cast<int>(k) + 2;
        if (wanted != row) continue;
        const HPLCData& r = records[k - 1];
        if (!Load(r.path)) return Fail(kCannotOpen, r.path);
        data->Set(1, row, static_cast<int>(k));
        data->Set(2, row, r.fileName.c_str());
        data->Set(3, row, CleanChemStationDate(r.date).c_str());
        data->Set(4, row, (r.unit.empty() ? r.sampleName : r.sampleName + " [" + r.unit + "]").c_str());
        ValueItems items(bytes, static_cast<std::size_t>(r.dataStart), ByteOrder::Big);
        std::int64_t running = 0;
        int col = 5;
        std::uint16_t headWord;
        while (items.U16(headWord) && headWord >= kSegmentHead) {
            for (int i = headWord & 0x0FFF; i > 0; --i) {
                if (!items.Next(running)) return Fail(kUnreadable, r.path);
                if (col > numCols) return Fail(kDifferentLength, r.path);
                data->Set(col++, row, static_cast<double>(running) * r.yScale);
            }
        }
        wanted = data->GetNextRow(row);
    }
    bytes.clear();
    loaded = false;
    return 0;
}

int ChemStationFile::Read3D(ReadSpreadSheetData* data) {
    const HPLCData& r = records.front();
    if (!Load(r.path)) return Fail(kCannotOpen, r.path);
    auto waveAt = [&](int c) { return (c - 5) * r.interval + r.rangeStart / 20.0; };
    int wanted = data->GetNextRow(0);
    if (wanted == 1) {
        const char* titles[] = {"Primary ID", "Date", "Sample Name", "Retention Time Counts"};
        for (int c = 1; c <= 4; ++c) data->Set(c, 1, kelto::Translate(titles[c - 1]).c_str());
        for (int c = 5; c <= numCols; ++c) data->Set(c, 1, ("t " + Classic(waveAt(c))).c_str());
        wanted = data->GetNextRow(1);
    }
    if (wanted == 2) {
        data->Set(1, 2, (r.signal + kelto::Translate(" Wavelength [nm]")).c_str());
        for (int c = 5; c <= numCols; ++c) data->Set(c, 2, waveAt(c));
        wanted = data->GetNextRow(2);
    }
    const std::string date = CleanChemStationDate(r.date);
    ValueItems items(bytes, static_cast<std::size_t>(r.dataStart), ByteOrder::Little);
    std::int64_t running = 0;
    for (std::int32_t k = 1; k <= r.spectra; ++k) {
        const int row = k + 2;
        if (wanted < row) break;  // nothing further is wanted
        const std::size_t at = items.Position();
        if (!items.Has(kSpecHeaderSize)) return Fail(kUnreadable, r.path);
        const char kind = static_cast<char>(bytes[at]);
        if (kind != 'C' && kind != 'A') return Fail(kUnreadable, r.path);
        const auto time = kelto::platform::LoadLE<std::int32_t>(bytes.data() + at + kSpecTimeAt);
        const auto extra = kelto::platform::LoadLE<std::int16_t>(bytes.data() + at + kSpecExtraAt);
        if (extra < 0) return Fail(kUnreadable, r.path);
        items.Seek(at + kSpecHeaderSize + static_cast<std::size_t>(extra));
        const bool keep = wanted == row;
        if (keep) {
            data->Set(1, row, static_cast<int>(k));
            data->Set(2, row, date.c_str());
            data->Set(3, row, r.sampleName.c_str());
            data->Set(4, row, time / 1000.0);
        }
        for (int c = 5; c <= numCols; ++c) {
            std::int64_t value;
            if (kind == 'C') {
                if (!items.Next(running)) return Fail(kUnreadable, r.path);
                value = running;
            } else {
                std::int32_t plain;
                if (!items.I32(plain)) return Fail(kUnreadable, r.path);
                value = plain;
            }
            if (keep) data->Set(c, row, static_cast<double>(value) * r.yScale);
        }
        if (keep) wanted = data->GetNextRow(row);
    }
    bytes.clear();
    loaded = false;
    return 0;
}

void ChemStationFile::Close() {
    records.clear();
    bytes.clear();
    loaded = false;
    failedFile.clear();
    numCols = numRows = -1;
    sizeKnown = false;
    SpreadsheetFile::Close();
}

void ChemStationFile::GetErrorMessage(char* buffer, unsigned int size) {
    const char* longText = nullptr;
    const char* shortText = nullptr;
    switch (status) {
        case kCannotOpen: longText = "Unable to open file %s.", shortText = "Unable to open file"; break;
        case kDifferentLength: shortText = "The imported files seems to be of different length."; break;
        case kDifferentType: shortText = "Only files of the same file type can be opened at the same time."; break;
        case kSeveral3D: shortText = "Import of more then one 3D HPLC file (*.uv files) is not yet supported."; break;
        case kDifferentResolution: shortText = "The imported files seems to have different resolution."; break;
        case kNotChemStation:
            longText = "The file does not seem to be an HPLC Chemstation file. The file %s could not be opened.";
            shortText = "The file does not seem to be an HPLC Chemstation file.";
            break;
        case kUnreadable:
            longText = "The file could not be read. The file %s could not be opened.";
            shortText = "The file could not be read.";
            break;
        case kUnsupportedType:
            longText = "The file %s is an HPLC ChemStation file of type %1%, which cannot be imported.";
            shortText = "HPLC ChemStation files of type %1% cannot be imported.";
            break;
        case kZeroSpacing:
            longText = "The file %s gives a sampling interval or wavelength step of 0.";
            shortText = "The file gives a sampling interval or wavelength step of 0.";
            break;
        case kNoScale:
            longText = "The file %s holds no scale factor for its values.";
            shortText = "The file holds no scale factor for its values.";
            break;
        case kImplausibleSize:
            longText = "The file %s declares more values than it holds.";
            shortText = "The file declares more values than it holds.";
            break;
        default: SpreadsheetFile::GetErrorMessage(buffer, size); return;
    }
    std::string text;
    if (longText && !failedFile.empty()) {
        text = kelto::Translate(longText);
        boost::algorithm::replace_all(text, "%s", failedFile);
    } else {
        text = kelto::Translate(shortText);
    }
    if (status == kUnsupportedType) text = kelto::FormatMessage(text, failedType);
    CopyMessage(text.c_str(), buffer, size);
}

bool ChemStationFile::IsChemStationFile(const char* path) {
    if (!path || access(path, F_OK) != 0) return false;
    const std::string e = ExtensionOf(path);
    return e == "ch" || e == "uv";
}

ChemStationFileFactory::ChemStationFileFactory()
    : SprFileFactory("HPLC ChemStation File", "HPLC ChemStation Files (*.ch, *.uv)", "HPLC ChemStation File (*.ch)", 2,
                     ".ch\0.uv", 0, 1, 2, 1, 0, 1) {}

SprFileFactory::MyKindOfFile ChemStationFileFactory::IsMyKindOfFile(const char* path) {
    return ChemStationFile::IsChemStationFile(path) ? LikelyMyKind : NotMyKind;
}

SpreadsheetFile* ChemStationFileFactory::GetSpreadsheetFile() { return new ChemStationFile; }

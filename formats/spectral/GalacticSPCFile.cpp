#include "formats/spectral/GalacticSPCFile.h"

#include <array>
#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <sstream>

#include <fmt/format.h>

#include "formats/spectral/RelativeCompare.h"
#include "outside/utl/Exception.h"
#include "outside/utl/QmFile.h"
#include "platform/ByteOrder.h"
#include "platform/Translate.h"

using kelto::platform::LoadLE;
using kelto::spectral::BinaryInput;

namespace {

// New layout: the 512-byte main header. Offsets as in the published format description
// (Galactic "SPC file format", SPCHDR); fields not listed are not used.
constexpr std::size_t kNewHeaderSize = 512;
constexpr std::size_t kFlagsAt = 0;
constexpr std::size_t kVersionAt = 1;
constexpr std::size_t kExponentAt = 3;     // fexp, 0x80: IEEE floats
constexpr std::size_t kPointsAt = 4;       // fnpts, uint32
constexpr std::size_t kFirstAt = 8;        // ffirst, double
constexpr std::size_t kLastAt = 16;        // flast, double
constexpr std::size_t kSubFilesAt = 24;    // fnsub, int32
constexpr std::size_t kXUnitAt = 28;       // fxtype
constexpr std::size_t kZUnitAt = 30;       // fztype
constexpr std::size_t kDateAt = 32;        // fdate, packed minute/hour/day/month/year
constexpr std::size_t kLabelsAt = 218;     // fcatxt, 30 bytes
constexpr std::size_t kLabelsSize = 30;
constexpr std::size_t kZIncrementAt = 312; // fzinc, float

// Old layout: a 224-byte header (OSPCHDR) followed directly by the sub-files.
constexpr std::size_t kOldHeaderSize = 256;  // read as one block: the header and the first sub-header
constexpr std::uint64_t kOldDataStart = 224;
constexpr std::size_t kOldExponentAt = 2;    // oexp, int16, 0xFF80: floats
constexpr std::size_t kOldPointsAt = 4;      // onpts, float
constexpr std::size_t kOldFirstAt = 8;       // ofirst, float
constexpr std::size_t kOldLastAt = 12;       // olast, float

// Every sub-file starts with a 32-byte header (SUBHDR).
constexpr std::size_t kSubHeaderSize = 32;
constexpr std::size_t kSubExponentAt = 1;
constexpr std::size_t kSubIndexAt = 2;
constexpr std::size_t kSubZAt = 4;
constexpr std::size_t kSubNextZAt = 8;

constexpr std::uint8_t kNewLayout = 0x4B;
constexpr std::uint8_t kOldLayout = 0x4D;
constexpr std::uint8_t kUnsupportedLayout = 0x4C;  // the big-endian variant

// Flags (ftflgs).
constexpr std::uint8_t kFlagShortValues = 0x01;  // TSPREC: 16-bit y values
constexpr std::uint8_t kFlagMulti = 0x04;        // TMULTI: several sub-files
constexpr std::uint8_t kFlagZUneven = 0x10;      // TORDRD: z values not evenly spaced
constexpr std::uint8_t kFlagAxisLabels = 0x20;   // TALABS: axis label text given
constexpr std::uint8_t kFlagOwnXArrays = 0x40;   // TXYXYS: an x array in every sub-file
constexpr std::uint8_t kFlagXArray = 0x80;       // TXVALS: one x array after the header

constexpr int kFloatExponent = 0x80;

const char* UnitText(unsigned code) {
    static const char* const kUnits[] = {
        "",      "cm-1",    "um",          "nm",  "Sec",         "Min",     "Hz",       "KHz",
        "MHz",   "M/z",     "PPM",         "Days", "Years",      "Raman Shift (cm-1)", "eV", "",
        "Diod Number", "Channel", "Degrees", "\xC2\xB0" "F", "\xC2\xB0" "C", "\xC2\xB0" "K", "Data Points", "mSec",
        "uSec",  "nSec",    "GHz",         "cm",  "m",           "mm",      "Hours",
    };
    return code < std::size(kUnits) ? kUnits[code] : "";
}

bool IsTimeUnit(unsigned code) { return code == 4 || code == 5 || code == 30; }

std::string StreamText(double value) {
    std::ostringstream out;
    out << value;
    return out.str();
}

// Days in `month` of `year`; a month outside 1-12 has no end.
std::int64_t MonthLength(std::int64_t month, std::int64_t year) {
    static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (month < 1 || month > 12) return std::numeric_limits<std::int64_t>::max();
    if (month == 2 && ((year % 4 == 0 && year % 100 != 0) || year % 400 == 0)) return 29;
    return kDays[month - 1];
}

}  // namespace

namespace kelto::spectral {

// The time stamp of a sub-file: the file's date word plus an offset of `z` in the z unit
// (seconds, minutes or hours), as text showing the date parts down from the highest one that
// is not zero. The carries are worked out by arithmetic: a large z would otherwise take
// millions of single steps. Exposed for the tests.
std::string SpcTimeStamp(std::uint32_t date, unsigned zUnit, double z) {
    double offset = zUnit == 5 ? z * 60.0 : zUnit == 30 ? z * 3600.0 : z;
    // Beyond 2^50 seconds (35 million years) a double no longer holds milliseconds anyway.
    constexpr double kLimit = 1125899906842624.0;
    if (!(offset >= 0)) offset = 0;
    if (offset > kLimit) offset = kLimit;
    const double whole = std::trunc(offset);
    const std::int64_t millis = static_cast<std::int64_t>((offset - whole) * 1000.0);
    std::int64_t total = static_cast<std::int64_t>(whole);

    std::int64_t year = date >> 20;
    std::int64_t month = (date >> 16) & 0x0F;
    std::int64_t day = (date >> 11) & 0x1F;
    std::int64_t hour = (date >> 6) & 0x1F;
    std::int64_t minute = date & 0x3F;

    // A stored minute or hour out of range carries the same way as one reached by adding:
    // only the step that reaches 60 (24) carries, so a field already past it first counts on.
    const std::int64_t second = total % 60;
    std::int64_t addMinutes = total / 60;
    std::int64_t addHours = 0, addDays = 0;
    if (addMinutes > 0) {
        if (minute >= 60) {
            // Counting on from 61, 62 ... never meets 60 again: the minutes just grow.
            minute += addMinutes;
        } else {
            const std::int64_t reached = minute + addMinutes;
            minute = reached % 60;
            addHours = reached / 60;
        }
    }
    if (addHours > 0) {
        if (hour >= 24) {
            hour += addHours;
        } else {
            const std::int64_t reached = hour + addHours;
            hour = reached % 24;
            addDays = reached / 24;
        }
    }
    // Days: one month at a time, with 400-year leaps once the day is a real day of its month
    // (the Gregorian calendar repeats every 146097 days).
    while (addDays > 0) {
        const std::int64_t length = MonthLength(month, year);
        if (length == std::numeric_limits<std::int64_t>::max()) {
            day += addDays;
            break;
        }
        if (day >= 1 && day <= length && addDays >= 146097) {
            year += 400 * (addDays / 146097);
            addDays %= 146097;
            continue;
        }
        // A day below 28 never passes the end; a stored day beyond the month's length passes
        // it at the first step, losing the length.
        if (day >= length) {
            day = day + 1 - length;
            --addDays;
        } else if (day + addDays <= length) {
            day += addDays;
            break;
        } else {
            addDays -= length + 1 - day;
            day = 1;
        }
        if (++month > 12) {
            month -= 12;
            ++year;
        }
    }

    if (year != 0)
        return fmt::format("{:04d}-{:02d}-{:02d} {:02d}:{:02d}:{:02d}.{:03d}", year, month, day, hour, minute, second,
                           millis);
    if (month != 0)
        return fmt::format("{:02d}-{:02d} {:02d}:{:02d}:{:02d}.{:03d}", month, day, hour, minute, second, millis);
    if (day != 0) return fmt::format("{:02d} {:02d}:{:02d}:{:02d}.{:03d}", day, hour, minute, second, millis);
    if (hour != 0) return fmt::format("{:02d}:{:02d}:{:02d}.{:03d}", hour, minute, second, millis);
    if (minute != 0) return fmt::format("{:02d}:{:02d}.{:03d}", minute, second, millis);
    return fmt::format("{:02d}.{:03d}", second, millis);
}

}  // namespace kelto::spectral

namespace {
GalacticSPCFileFactory g_galacticSpcFileFactory;
}  // namespace

// What one header says, and the state of the sub-file last read.
struct GalacticSPCFile::Header {
    bool oldLayout = false;
    bool multi = false;
    bool values32 = true;
    bool floats = false;
    int exponent = 0;
    double first = 0.0;
    double last = 0.0;
    double spacing = 0.0;
    std::uint64_t points = 0;
    std::int32_t subFiles = 0;
    std::string xLabel;
    bool zEven = false;
    float zIncrement = 0.0f;
    float zFirst = 0.0f;
    float z = -1.0f;
    std::uint8_t zUnit = 0;
    std::uint32_t date = 0;
    std::uint64_t dataStart = 0;

    std::uint64_t ValueBytes() const { return points * (values32 ? 4u : 2u); }
    std::uint64_t SubFileBytes() const { return kSubHeaderSize + ValueBytes(); }

    // Value i of a sub-file's raw values.
    float Value(const std::uint8_t* raw, std::uint64_t i) const {
        if (!values32) {
            const auto v = LoadLE<std::int16_t>(raw + 2 * i);
            return static_cast<float>(v) / static_cast<float>(std::ldexp(1.0, 16 - exponent));
        }
        const std::uint8_t* p = raw + 4 * i;
        if (floats) return LoadLE<float>(p);
        std::int32_t v;
        if (oldLayout) {
            // The high half comes first.
            const std::uint32_t high = LoadLE<std::uint16_t>(p);
            const std::uint32_t low = LoadLE<std::uint16_t>(p + 2);
            v = static_cast<std::int32_t>((high << 16) | low);
        } else {
            v = LoadLE<std::int32_t>(p);
        }
        return static_cast<float>(v) / static_cast<float>(std::ldexp(1.0, 32 - exponent));
    }
};

GalacticSPCFile::GalacticSPCFile() = default;

GalacticSPCFile::~GalacticSPCFile() { delete[] optionsBuffer_; }

int GalacticSPCFile::ReadHeader(BinaryInput& in, const std::string& path, Header& h, bool checkSubFiles) {
    h = Header{};
    std::array<std::uint8_t, kNewHeaderSize> b{};
    if (!in.Rewind() || !in.ReadExact(b.data(), 2)) return kNotSpc;
    const std::uint8_t flags = b[kFlagsAt];
    const std::uint8_t version = b[kVersionAt];
    if (version == kUnsupportedLayout) return kUnsupportedVersion;
    if (version != kNewLayout && version != kOldLayout) return kNotSpc;
    const std::uint64_t size = in.Size();

    if (version == kNewLayout) {
        if (!in.Rewind() || !in.ReadExact(b.data(), kNewHeaderSize)) return kShortHeader;
        if (flags & kFlagOwnXArrays) return kOwnXArrays;
        h.multi = flags & kFlagMulti;
        h.values32 = !(flags & kFlagShortValues);
        h.first = LoadLE<double>(&b[kFirstAt]);
        h.last = LoadLE<double>(&b[kLastAt]);
        const std::uint32_t points = LoadLE<std::uint32_t>(&b[kPointsAt]);
        h.points = points;
        h.subFiles = LoadLE<std::int32_t>(&b[kSubFilesAt]);
        h.date = LoadLE<std::uint32_t>(&b[kDateAt]);
        if (flags & kFlagAxisLabels) {
            const char* text = reinterpret_cast<const char*>(&b[kLabelsAt]);
            h.xLabel.assign(text, strnlen(text, kLabelsSize));
        } else {
            h.xLabel = UnitText(b[kXUnitAt]);
        }
        h.zEven = h.multi && !(flags & kFlagZUneven) && h.subFiles >= 2;
        h.zUnit = b[kZUnitAt];
        h.zIncrement = LoadLE<float>(&b[kZIncrementAt]);
        if (b[kExponentAt] == kFloatExponent) {
            h.floats = true;
        } else {
            h.exponent = static_cast<std::int8_t>(b[kExponentAt]);
        }
        // Nothing is allocated or counted from the header before it is held against the
        // file's size.
        const std::uint64_t xBytes = (flags & kFlagXArray) ? 4 * h.points : 0;
        const std::uint64_t available = size - kNewHeaderSize;
        if (xBytes > available || h.subFiles < 0) return kNotSpc;
        // At Read the count was judged already; a file cut since then ends after its complete
        // rows, as each read is checked.
        // A file without sub-files still has to have room for one: its point count sizes the
        // table.
        const std::uint64_t claimed = static_cast<std::uint64_t>(std::max<std::int32_t>(h.subFiles, 1));
        if (checkSubFiles && claimed > (available - xBytes) / h.SubFileBytes()) return kNotSpc;
        h.dataStart = kNewHeaderSize + xBytes;
        if (flags & kFlagXArray) {
            std::vector<std::uint8_t> raw(xBytes);
            if (!in.ReadExact(raw.data(), raw.size())) return kNotSpc;
            std::vector<float> x(h.points);
            for (std::uint64_t i = 0; i < h.points; ++i) x[i] = LoadLE<float>(raw.data() + 4 * i);
            if (!haveXArray_) {
                xArray_ = std::move(x);
                haveXArray_ = true;
                xArrayPath_ = path;
            } else if (path == xArrayPath_) {
                // Read meets again the file the array came from: nothing to compare, and a
                // NaN in it must not make the file differ from itself.
            } else if (x.size() != xArray_.size()) {
                return kXDiffers;
            } else {
                // Element by element, as stored: a NaN never equals.
                for (std::size_t i = 0; i < x.size(); ++i)
                    if (!(x[i] == xArray_[i])) return kXDiffers;
            }
        }
    } else {
        if (!in.Rewind() || !in.ReadExact(b.data(), kOldHeaderSize)) return kShortHeader;
        if (flags & kFlagXArray) return kUnevenX;
        h.oldLayout = true;
        h.multi = flags & kFlagMulti;
        h.values32 = !(flags & kFlagShortValues);
        const float first = LoadLE<float>(&b[kOldFirstAt]);
        const float last = LoadLE<float>(&b[kOldLastAt]);
        h.first = first;
        h.last = last;
        const float points = LoadLE<float>(&b[kOldPointsAt]);
        // Checked before the conversion, which is undefined for a value out of range.
        if (!(points >= 0.0f && points <= static_cast<float>(size))) return kNotSpc;
        h.points = static_cast<std::uint64_t>(points);
        const std::uint16_t word = LoadLE<std::uint16_t>(&b[kOldExponentAt]);
        if (word == 0xFF80) {
            h.floats = true;
        } else {
            h.exponent = static_cast<std::int16_t>(word);
        }
        h.dataStart = kOldDataStart;
        // The old header holds no sub-file count: a multi-file holds as many whole sub-files
        // as follow the header, a single one exactly one.
        const std::uint64_t whole = (size - kOldDataStart) / h.SubFileBytes();
        if (whole < 1 && checkSubFiles) return kNotSpc;
        h.subFiles = h.multi ? static_cast<std::int32_t>(std::min<std::uint64_t>(whole, INT32_MAX)) : 1;
        if (h.points >= 2) h.spacing = static_cast<double>(last - first) / (static_cast<double>(h.points) - 1.0);
    }
    if (!h.oldLayout && h.points >= 2)
        h.spacing = (h.last - h.first) / static_cast<double>(static_cast<std::uint32_t>(h.points) - 1u);
    // A single point has no spacing (0/0); it must not stop the file matching itself or others.
    if (h.points < 2) h.spacing = std::numeric_limits<double>::quiet_NaN();
    lastOldLayout_ = h.oldLayout;
    lastZUnit_ = h.zUnit;
    lastXLabel_ = h.xLabel;
    return 0;
}

int GalacticSPCFile::ReadSubHeader(BinaryInput& in, Header& h) {
    h.z = -1.0f;
    std::array<std::uint8_t, kSubHeaderSize> b{};
    if (!in.ReadExact(b.data(), b.size())) return kNotSpc;
    if (h.multi) {
        // Each sub-file of a multi-file is scaled by its own exponent.
        if (b[kSubExponentAt] == kFloatExponent) {
            h.floats = true;
        } else {
            h.floats = false;
            h.exponent = static_cast<std::int8_t>(b[kSubExponentAt]);
        }
    }
    // The old layout keeps no z worth showing.
    if (h.oldLayout) return 0;
    if (!h.multi) {
        h.z = 0.0f;
        return 0;
    }
    const std::uint16_t index = LoadLE<std::uint16_t>(&b[kSubIndexAt]);
    const float z = LoadLE<float>(&b[kSubZAt]);
    const float nextZ = LoadLE<float>(&b[kSubNextZAt]);
    if (index == 0) h.zFirst = z;
    h.z = z;
    if (h.zEven) {
        if (h.zIncrement == 0.0f && nextZ == 0.0f) {
            h.zEven = false;
            return 0;
        }
        if (h.zIncrement == 0.0f) h.zIncrement = nextZ - z;
        h.z = static_cast<float>(index) * h.zIncrement + h.zFirst;
    }
    return 0;
}

int GalacticSPCFile::Open(bool read, const char* path, QmImportOpenOptions* options) {
    if (status) return status;
    if (!read) return Fail(kWrongDirection);
    std::vector<std::string> paths;
    if (!path || !QmFile::GetFileNames(path, paths)) return Fail(kOpenFailed);
    for (const std::string& name : paths) {
        BinaryInput in;
        if (!in.Open(name)) return Fail(kOpenFailed);
        Header h;
        if (int code = ReadHeader(in, name, h, true)) return Fail(code);
        FileRecord record;
        record.path = name;
        record.first = h.first;
        record.last = h.last;
        record.spacing = h.spacing;
        record.points = h.points;
        record.subFiles = h.subFiles;
        files_.push_back(std::move(record));
    }
    return ApplyOptions(options);
}

USDConstraints GalacticSPCFile::DefaultConstraints() const {
    USDConstraints c;
    c.IncludeOrdinalValues = true;
    c.IncludeAllValues = true;
    c.NumberOfIncludedIntervals = 1;
    c.IncludeXStartPt = {static_cast<float>(commonFirst_)};
    c.IncludeXEndPt = {static_cast<float>(greatestLast_)};
    c.UseAverage = 0;
    return c;
}

void GalacticSPCFile::StoreOptions(QmImportOpenOptions* record, const USDConstraints& constraints, bool replaceGiven) {
    const std::string bytes = USDBase::ToOptionsBytes(constraints);
    auto copy = std::make_unique<char[]>(bytes.size());
    std::memcpy(copy.get(), bytes.data(), bytes.size());
    if (replaceGiven) {
        // The caller's record owns its bytes: the old ones make way for the new.
        delete[] record->data;
    } else {
        delete[] optionsBuffer_;
        optionsBuffer_ = copy.get();
    }
    record->size = static_cast<int>(bytes.size());
    record->data = copy.release();
}

int GalacticSPCFile::ApplyOptions(QmImportOpenOptions* options) {
    SelectFiles();
    // Files that cannot share an axis take no settings; Read says why.
    if (CheckFiles() != 0) return status;
    USDConstraints constraints = DefaultConstraints();
    if (options && options->size > 0 && options->data) {
        try {
            const std::string text = USDBase::TextFromOptionsBytes(options->data, static_cast<std::size_t>(options->size));
            if (!USDBase::GetUSDConstraintsFromString(text, constraints)) return Fail(kBadOptions);
        } catch (const CancelException&) {
            throw;
        } catch (const std::exception&) {
            return Fail(kOpenFailed);
        }
        StoreOptions(options, constraints, true);
    } else {
        const int code = GetUSDConstraints(&constraints);
        if (code) return Fail(code);
        if (options) StoreOptions(options, constraints, false);
    }
    constraintsSet_ = true;
    SetUSDConstraints(&constraints);
    return status;
}

int GalacticSPCFile::CheckFiles() {
    if (files_.empty()) return kNoFiles;
    const FileRecord& head = files_.front();
    commonFirst_ = head.first;
    greatestLast_ = head.last;
    greatestPoints_ = head.points;
    // The first spacing there is: a one-point file has none to offer.
    commonSpacing_ = 0.0;
    for (const FileRecord& f : files_) {
        if (!std::isnan(f.spacing)) {
            commonSpacing_ = f.spacing;
            break;
        }
    }
    for (const FileRecord& f : files_) {
        if (!kelto::spectral::RelativelyEqual(f.first, commonFirst_) ||
            !kelto::spectral::RelativelyEqual(f.spacing, commonSpacing_))
            return kSpacingDiffers;
        greatestPoints_ = std::max(greatestPoints_, f.points);
        greatestLast_ = std::max(greatestLast_, f.last);
    }
    return 0;
}

int GalacticSPCFile::SelectFilesToImport(const std::vector<int>& indices) {
    if (status) return -1;
    std::vector<FileRecord> kept;
    for (std::size_t i = 0; i < files_.size(); ++i)
        for (int wanted : indices)
            if (wanted >= 0 && static_cast<std::size_t>(wanted) == i) {
                kept.push_back(files_[i]);
                break;
            }
    files_ = std::move(kept);
    return files_.empty() ? -1 : 0;
}

int GalacticSPCFile::GetFileList(std::vector<std::string>& out) {
    for (const FileRecord& f : files_) {
        const std::string name = QmGetFileName(f.path);
        if (f.subFiles < 2) {
            out.push_back(kelto::TranslateFormat(
                "%1% [Num values: %2%, First value: %3%, Last value: %4%, X-Spacing: %5%]", name, f.points,
                StreamText(f.first), StreamText(f.last), StreamText(f.spacing)));
        } else {
            out.push_back(kelto::TranslateFormat("%1% [Num sub-files: %2%, Num values: %3%]", name, f.subFiles, f.points));
        }
    }
    return status;
}

int GalacticSPCFile::SelectFiles() { return status; }

int GalacticSPCFile::GetUSDConstraints(USDConstraints* out) {
    if (out) *out = DefaultConstraints();
    return status;
}

QmImportOpenOptions* GalacticSPCFile::GetFileReadOptions(const char* path, bool) {
    try {
        Open(true, path, nullptr);
        USDConstraints constraints;
        if (constraintsSet_) USDBase::GetUSDConstraints(&constraints);
        else GetUSDConstraints(&constraints);
        const std::string bytes = USDBase::ToOptionsBytes(constraints);
        auto record = std::make_unique<QmImportOpenOptions>(QmImportOpenOptions{0, nullptr});
        auto data = std::make_unique<char[]>(bytes.size());
        std::memcpy(data.get(), bytes.data(), bytes.size());
        record->size = static_cast<int>(bytes.size());
        record->data = data.release();
        return record.release();
    } catch (const CancelException&) {
        throw;
    } catch (const std::exception&) {
        if (status == 0) status = kBadOptions;
        return nullptr;
    }
}

std::uint64_t GalacticSPCFile::GreatestPointCount() const {
    std::uint64_t greatest = greatestPoints_;
    for (const FileRecord& f : files_) greatest = std::max(greatest, f.points);
    return greatest;
}

bool GalacticSPCFile::UsesXArray() const {
    return !lastOldLayout_ && haveXArray_ && xArray_.size() == GreatestPointCount();
}

std::vector<float> GalacticSPCFile::XPositions() const {
    if (UsesXArray()) return xArray_;
    std::vector<float> x(GreatestPointCount());
    for (std::size_t i = 0; i < x.size(); ++i)
        x[i] = static_cast<float>(commonFirst_ + static_cast<double>(i) * commonSpacing_);
    return x;
}

int GalacticSPCFile::GetNumRows() {
    if (status) return -1;
    std::int64_t rows = 1 + (IncludeXAsAnObservation() ? 1 : 0);
    for (const FileRecord& f : files_) rows += f.subFiles;
    return rows > INT32_MAX ? -1 : static_cast<int>(rows);
}

int GalacticSPCFile::GetNumCols() {
    if (status || files_.empty()) return -1;
    greatestPoints_ = GreatestPointCount();
    // Every point takes at least two bytes of its file, so a count this large is a file
    // larger than a table can be wide.
    if (greatestPoints_ > static_cast<std::uint64_t>(INT32_MAX - 3)) return -1;
    if (UsesXArray()) {
        Reset();
        int columns = 0;
        for (float x : xArray_)
            if (IsValid(x)) ++columns;
        return columns + 3;
    }
    if (greatestPoints_ == 0) return -1;
    return GetNumCol(static_cast<int>(greatestPoints_), commonFirst_, commonSpacing_) + 3;
}

int GalacticSPCFile::EstablishSize() { return 1; }

int GalacticSPCFile::Read(ReadSpreadSheetData* data) {
    if (status) return status;
    if (int code = CheckFiles()) return Fail(code);
    if (!data) return 0;
    const bool ordinal = IncludeXAsAnObservation();
    const int rowCount = GetNumRows();
    if (rowCount < 0) return status;
    const std::vector<float> xs = XPositions();

    if (data->GetNextRow(0) == 1) {
        data->Set(1, 1, kelto::Translate("Primary ID").c_str());
        data->Set(2, 1, kelto::Translate("Name").c_str());
        std::string zHeading = IsTimeUnit(lastZUnit_) ? kelto::Translate("Date") : std::string(UnitText(lastZUnit_));
        if (zHeading.empty()) zHeading = "Z";
        data->Set(3, 1, zHeading.c_str());
        Reset();
        int column = 4;
        for (float x : xs) {
            if (!IsValid(x)) continue;
            if (ordinal) data->Set(column++, 1, kelto::FormatMessage("t %1%", StreamText(x)).c_str());
            else data->Set(column++, 1, x);
        }
    }
    const int firstDataRow = ordinal ? 3 : 2;
    if (ordinal && data->GetNextRow(1) == 2) {
        // The x-value row, under the same headings.
        data->Set(1, 2, "");
        data->Set(2, 2, lastXLabel_.c_str());
        data->Set(3, 2, "");
        Reset();
        int column = 4;
        for (float x : xs)
            if (IsValid(x)) data->Set(column++, 2, x);
    }

    int wanted = data->GetNextRow(firstDataRow - 1);
    int row = firstDataRow;
    for (const FileRecord& f : files_) {
        if (wanted < firstDataRow || wanted > rowCount) break;
        BinaryInput in;
        if (!in.Open(f.path)) return Fail(kOpenFailed);
        Header h;
        if (int code = ReadHeader(in, f.path, h, false)) return Fail(code);
        // The file must still be the one measured when it was opened. An old-layout
        // multi-file counts its sub-files by its size, so a cut one reads as far as it goes.
        if (h.points != f.points || (h.subFiles != f.subFiles && !(h.oldLayout && h.subFiles < f.subFiles)))
            return Fail(kNotSpc);
        if (!in.Rewind() || !in.Skip(h.dataStart)) return Fail(kNotSpc);
        const std::string title = QmGetFileTitle(f.path);
        const std::uint64_t valueBytes = h.ValueBytes();
        const std::uint64_t points = std::min<std::uint64_t>(h.points, xs.size());
        for (std::int32_t s = 0; s < f.subFiles; ++s, ++row) {
            if (row != wanted) {
                if (int code = ReadSubHeader(in, h)) return Fail(code);
                if (!in.Skip(valueBytes)) return Fail(kNotSpc);
                continue;
            }
            wanted = data->GetNextRow(row);
            if (int code = ReadSubHeader(in, h)) return Fail(code);
            values_.resize(valueBytes);
            // A file cut short inside its values ends the read here, after the complete rows.
            if (!in.ReadExact(values_.data(), values_.size())) return Fail(kNotSpc);
            data->Set(1, row, static_cast<std::int64_t>(row - 1 - (ordinal ? 1 : 0)));
            if (f.subFiles > 1) data->Set(2, row, kelto::FormatMessage("%1%_%2%", title, s + 1).c_str());
            else data->Set(2, row, title.c_str());
            if (h.z < 0 || std::isnan(h.z)) {
                data->Set(3, row, "");
            } else if (IsTimeUnit(h.zUnit)) {
                data->Set(3, row, kelto::spectral::SpcTimeStamp(h.date, h.zUnit, h.z).c_str());
            } else {
                data->Set(3, row, h.z);
            }
            Reset();
            int column = 4;
            for (std::uint64_t i = 0; i < points; ++i) {
                float x = xs[i];
                float y = h.Value(values_.data(), i);
                if (IsValid(x, y)) data->Set(column++, row, y);
            }
            if (wanted < firstDataRow || wanted > rowCount) break;
        }
    }
    status = kNoError;
    return 0;
}

void GalacticSPCFile::Close() {
    files_.clear();
    xArray_.clear();
    xArrayPath_.clear();
    haveXArray_ = false;
    constraintsSet_ = false;
    SpreadsheetFile::Close();
}

void GalacticSPCFile::GetErrorMessage(char* buffer, unsigned int size) {
    const char* text = nullptr;
    switch (status) {
        case kOpenFailed: text = "Unable to open file."; break;
        case kNotOpened: text = "Unable to read file. The file was not opened or Open File failed."; break;
        case kNotSpc: text = "This file does not seem to be a valid Galactic SPC file."; break;
        case kUnsupportedVersion: text = "This version of Galactic SPC files are not supported."; break;
        case kUnevenX: text = "Unevenly spaced X-variables are not supported."; break;
        case kNoFiles: text = "No files were selected, import aborted."; break;
        case kSpacingDiffers: text = "The data did not have the same X-spacing."; break;
        case kOwnXArrays: text = "GC-MS spectra files are not supported."; break;
        case kXDiffers: text = "The X variable names in files differ from each other"; break;
        default: SpreadsheetFile::GetErrorMessage(buffer, size); return;
    }
    CopyMessage(kelto::Translate(text).c_str(), buffer, size);
}

GalacticSPCFileFactory::GalacticSPCFileFactory()
    : SprFileFactory("GalacticSPC File", "Galactic SPC Files (*.spc)", nullptr, 1, ".spc", 0, 1, 2, 1, 1, 1) {}

SprFileFactory::MyKindOfFile GalacticSPCFileFactory::IsMyKindOfFile(const char*) { return PossiblyMyKind; }

SpreadsheetFile* GalacticSPCFileFactory::GetSpreadsheetFile() { return new GalacticSPCFile; }

#include "formats/spectral/BrukerOPUS.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <limits>

#include "formats/spectral/BinaryInput.h"
#include "formats/spectral/RelativeCompare.h"
#include "outside/utl/QmFile.h"
#include "outside/utl/QmSystemInfo.h"
#include "platform/ByteOrder.h"
#include "platform/Prompt.h"
#include "platform/Translate.h"
#include "platform/Utf8.h"
#include "plugin/ImportSpecBase.h"

using kelto::platform::LoadLE;
using kelto::spectral::BinaryInput;
using kelto::spectral::OpusRecord;

namespace {

constexpr std::array<std::uint8_t, 4> kMagic = {0x0A, 0x0A, 0xFE, 0xFE};
constexpr std::size_t kHeaderSize = 24;
constexpr std::size_t kDirectoryAt = 12;
constexpr std::size_t kEntryCountAt = 20;
constexpr std::size_t kEntrySize = 12;
constexpr std::size_t kParameterHeadSize = 8;
constexpr float kMissing = -99.0f;

// Role codes the host gives the five name columns and the two heading rows.
constexpr int kNameColumnRole = 5;
constexpr int kTextColumnRole = 6;
constexpr int kVariableNameRowRole = 27;
constexpr int kAxisRowRole = 29;

struct BlockType {
    unsigned a, b, c;
    explicit BlockType(std::uint32_t type) : a(type & 3u), b((type >> 2) & 3u), c((type >> 4) & 0x3Fu) {}
    bool IsData() const { return a == 3 && b == 3 && c == 0; }
    bool IsDataStatus() const { return a == 3 && b == 3 && c == 1; }
    bool IsOtherParameters() const { return a == 0 && c >= 1; }
};

// Parameter names are compared over all four bytes, the NUL included.
constexpr std::uint32_t Name(const char (&n)[4]) {
    return static_cast<std::uint32_t>(static_cast<unsigned char>(n[0])) |
           static_cast<std::uint32_t>(static_cast<unsigned char>(n[1])) << 8 |
           static_cast<std::uint32_t>(static_cast<unsigned char>(n[2])) << 16;
}

struct ParameterSet {
    std::int32_t points = 0;
    double firstX = 0, lastX = 0, scale = 0, maxY = 0, minY = 0;
    std::int32_t derivative = 0;
    std::string xUnit, date, time;
};

// Texts are Latin-1 bytes up to their first NUL.
std::string TextValue(const std::vector<std::uint8_t>& value) {
    std::string out;
    for (std::uint8_t c : value) {
        if (c == 0) break;
        kelto::platform::AppendUtf8(out, c);
    }
    return out;
}

std::string FileNameOf(const std::string& path) { return QmGetFileName(path); }

BrukerOPUSFileFactory g_brukerOpusFileFactory;
BrukerOPUSInterpolatedFileFactory g_brukerOpusInterpolatedFileFactory;

}  // namespace

namespace kelto::spectral {

bool HasOpusMagic(const std::string& path) {
    BinaryInput in;
    std::array<std::uint8_t, 4> magic{};
    return in.Open(path) && in.ReadExact(magic.data(), magic.size()) && magic == kMagic;
}

int ReadOpusRecord(OpusRecord& record, std::string& error) {
    const std::string& file = record.path;
    auto corruptHeader = [&] {
        error = kelto::TranslateFormat("A corrupt header block was found in the file '%1%'. Import aborted.", file);
        return 4;
    };
    auto corruptStatus = [&] {
        error = kelto::TranslateFormat("A corrupt data status block was found in the file '%1%'. Import aborted.", file);
        return 4;
    };
    BinaryInput in;
    std::array<std::uint8_t, kHeaderSize> header{};
    if (!in.Open(file) || !in.ReadExact(header.data(), header.size())) return corruptHeader();
    const std::int32_t directory = LoadLE<std::int32_t>(header.data() + kDirectoryAt);
    const std::uint32_t entries = LoadLE<std::uint32_t>(header.data() + kEntryCountAt);
    if (directory < static_cast<std::int32_t>(kHeaderSize)) return corruptHeader();
    // The directory must lie inside the file before its entries are read.
    const std::uint64_t directoryEnd = static_cast<std::uint64_t>(directory) + std::uint64_t{entries} * kEntrySize;
    if (directoryEnd > in.Size()) return corruptHeader();
    if (!in.Skip(static_cast<std::uint64_t>(directory) - kHeaderSize)) return corruptHeader();

    bool haveData = false, haveStatus = false;
    std::vector<std::uint32_t> parameterBlocks;
    for (std::uint32_t i = 0; i < entries; ++i) {
        std::array<std::uint8_t, kEntrySize> entry{};
        if (!in.ReadExact(entry.data(), entry.size())) return corruptHeader();
        const std::uint32_t type = LoadLE<std::uint32_t>(entry.data());
        const BlockType kind(type);
        if (kind.IsData()) {
            if (!haveData) {
                haveData = true;
                record.dataType = type;
                record.dataLength = LoadLE<std::uint32_t>(entry.data() + 4);
                record.dataOffset = LoadLE<std::uint32_t>(entry.data() + 8);
            }
        } else if (kind.IsDataStatus() || kind.IsOtherParameters()) {
            haveStatus = haveStatus || kind.IsDataStatus();
            parameterBlocks.push_back(LoadLE<std::uint32_t>(entry.data() + 8));
        }
    }
    // Without a spectrum block there is nothing to read either.
    if (!haveStatus || !haveData) {
        error = kelto::TranslateFormat(
            "Could not find any data in '%1%'. Import aborted.\n\n(Sample and reference data cannot be imported.} ", file);
        return 4;
    }

    ParameterSet kept;
    std::vector<std::uint8_t> value;
    for (std::uint32_t offset : parameterBlocks) {
        if (!in.Rewind() || !in.Skip(offset)) return corruptStatus();
        ParameterSet fresh;
        for (;;) {
            std::array<std::uint8_t, kParameterHeadSize> head{};
            const std::size_t got = in.Read(head.data(), head.size());
            if (got == 0) break;
            if (got < head.size()) return corruptStatus();
            const std::uint32_t name = LoadLE<std::uint32_t>(head.data());
            const std::int16_t size = LoadLE<std::int16_t>(head.data() + 6);
            if (name == Name("END")) break;
            const std::size_t bytes = size > 0 ? 2u * static_cast<std::size_t>(size) : 0u;
            auto read = [&](std::size_t need) {
                value.resize(bytes);
                if (!in.ReadExact(value.data(), bytes) || bytes < need) return false;
                return true;
            };
            auto int32 = [&](std::int32_t& out) {
                if (!read(4)) return false;
                out = LoadLE<std::int32_t>(value.data());
                return true;
            };
            auto float64 = [&](double& out) {
                if (!read(8)) return false;
                out = LoadLE<double>(value.data());
                return true;
            };
            auto text = [&](std::string& out) {
                if (!read(0)) return false;
                out = TextValue(value);
                return true;
            };
            bool ok = true;
            switch (name) {
                case Name("DPF"): {
                    std::int32_t format = 0;
                    if (!(ok = int32(format))) break;
                    if (format != 1) {
                        error = kelto::TranslateFormat(
                            "%1%: The Bruker OPUS File import does currently not support files where data has not "
                            "been saved as 'REAL32'. Import aborted.",
                            FileNameOf(file));
                        return 4;
                    }
                    break;
                }
                case Name("NPT"): ok = int32(fresh.points); break;
                case Name("FXV"): ok = float64(fresh.firstX); break;
                case Name("LXV"): ok = float64(fresh.lastX); break;
                case Name("CSF"): ok = float64(fresh.scale); break;
                case Name("MXY"): ok = float64(fresh.maxY); break;
                case Name("MNY"): ok = float64(fresh.minY); break;
                case Name("DXU"): ok = text(fresh.xUnit); break;
                case Name("DER"): ok = int32(fresh.derivative); break;
                case Name("DAT"): ok = text(fresh.date); break;
                case Name("TIM"): ok = text(fresh.time); break;
                case Name("SNM"): ok = text(record.sampleName); break;
                case Name("SFM"): ok = text(record.sampleForm); break;
                default:
                    // A value running past the end of the file ends the block, as the next
                    // head read would find nothing.
                    if (!in.Skip(bytes)) in.Skip(in.Remaining());
                    break;
            }
            if (!ok) return corruptStatus();
        }
        // The first set with the largest point count that still fits the data block wins.
        if (static_cast<std::int64_t>(record.dataLength) >= fresh.points && fresh.points > kept.points) kept = fresh;
    }

    record.points = kept.points;
    record.firstX = kept.firstX;
    record.lastX = kept.lastX;
    record.scale = kept.scale;
    record.maxY = kept.maxY;
    record.minY = kept.minY;
    record.derivative = kept.derivative;
    record.xUnit = kept.xUnit;
    record.date = kept.date;
    record.time = kept.time;
    // The points are claimed by a parameter block; the table is sized from them, so they
    // must be in the file.
    if (static_cast<std::uint64_t>(record.dataOffset) + 4ull * static_cast<std::uint64_t>(record.points) > in.Size()) {
        error = kelto::TranslateFormat("The file '%1%' seems to be corrupt.", file);
        return 4;
    }
    return 0;
}

std::string OpusXUnitName(const std::string& code) {
    if (code == "WN") return kelto::Translate("Wavenumber cm-1");
    if (code == "MI") return kelto::Translate("Micron");
    if (code == "LGW") return kelto::Translate("Log Wavenumber");
    if (code == "MIN") return kelto::Translate("Minutes");
    if (code == "PNT") return kelto::Translate("Points");
    return code;
}

std::vector<float> InterpolateOntoAxis(double firstX, double lastX, const std::vector<float>& y,
                                       const std::vector<float>& axis) {
    const std::size_t n = y.size();
    if (n < 2 || axis.size() < 2) return {};
    const double step = (lastX - firstX) / static_cast<double>(n - 1);
    const float tolerance = std::fabs(static_cast<float>(2 * step));
    // The usable source points (y not missing), ordered by x; equal x keep file order, so the
    // first of a run of equal values is the one taken.
    struct Point {
        float x, y;
    };
    std::vector<Point> source;
    source.reserve(n);
    for (std::size_t j = 0; j < n; ++j)
        if (y[j] != kMissing) source.push_back({static_cast<float>(firstX + static_cast<double>(j) * step), y[j]});
    // NaN x values cannot be ordered; they never serve as neighbours.
    source.erase(std::remove_if(source.begin(), source.end(), [](const Point& p) { return std::isnan(p.x); }), source.end());
    // Spectra are stored with x rising or falling; only an axis with repeated or unordered
    // values needs the general sort.
    auto less = [](const Point& p, const Point& q) { return p.x < q.x; };
    auto greater = [](const Point& p, const Point& q) { return p.x > q.x; };
    if (std::adjacent_find(source.begin(), source.end(), [&](const Point& p, const Point& q) { return !greater(p, q); }) ==
        source.end())
        std::reverse(source.begin(), source.end());
    else if (std::adjacent_find(source.begin(), source.end(), [&](const Point& p, const Point& q) { return !less(p, q); }) !=
             source.end())
        std::stable_sort(source.begin(), source.end(), less);

    std::vector<float> out(axis.size(), kMissing);
    if (source.empty()) return out;
    auto byX = [](const Point& p, float x) { return p.x < x; };
    for (std::size_t k = 0; k < axis.size(); ++k) {
        const float X = axis[k];
        if (std::isnan(X)) continue;
        // Upper neighbour: the first point with x >= X. Lower: the first of the run of the
        // greatest x <= X.
        auto upper = std::lower_bound(source.begin(), source.end(), X, byX);
        auto afterLower = std::upper_bound(source.begin(), source.end(), X, [](float x, const Point& p) { return x < p.x; });
        const Point* L = nullptr;
        const Point* U = upper != source.end() ? &*upper : nullptr;
        if (afterLower != source.begin()) {
            auto lower = std::lower_bound(source.begin(), afterLower, (afterLower - 1)->x, byX);
            L = &*lower;
        }
        // Beyond either end the end point stands in for the missing neighbour, so a target
        // within the tolerance of the range takes the end value.
        if (!L) L = U;
        if (!U) U = L;
        if (std::fabs(L->x - X) > tolerance && std::fabs(U->x - X) > tolerance) continue;
        if (X == kMissing) continue;
        if (L->y == kMissing || U->y == kMissing || L->x == kMissing || U->x == kMissing) {
            if (RelativelyEqual(L->x, X)) out[k] = L->y;
            else if (RelativelyEqual(U->x, X)) out[k] = U->y;
            continue;
        }
        if (U->x != L->x && !RelativelyEqual(U->x, L->x)) out[k] = L->y + (X - L->x) / (U->x - L->x) * (U->y - L->y);
        else out[k] = (L->y + U->y) * 0.5f;
    }
    return out;
}

}  // namespace kelto::spectral

// ---------------------------------------------------------------- shared reader part

int BrukerOPUSBase::SetError(int code, const std::string& text) {
    errorText = text;
    return Fail(code);
}

int BrukerOPUSBase::OpenFiles(bool read, const char* path) {
    if (!read)
        return SetError(kWrongDirection, kelto::TranslateFormat("%1% does not support writing OPUS files",
                                                                QmSystemInfo::GetApplicationName()));
    std::vector<std::string> paths;
    if (path) QmFile::GetFileNames(path, paths);
    for (const std::string& p : paths)
        if (!kelto::spectral::HasOpusMagic(p))
            return SetError(4, kelto::TranslateFormat("%1% does not seem to be a supported Bruker OPUS file.", p));
    records.clear();
    for (const std::string& p : paths) {
        OpusRecord record;
        record.path = p;
        record.fileName = FileNameOf(p);
        std::string error;
        if (int code = kelto::spectral::ReadOpusRecord(record, error)) return SetError(code, error);
        records.push_back(std::move(record));
    }
    if (records.empty()) return SetError(4, kelto::Translate("No data was found. Import aborted."));
    return 0;
}

std::vector<double> BrukerOPUSBase::Axis(int points, double first, double last) {
    std::vector<double> x(static_cast<std::size_t>(std::max(points, 0)));
    // One point has no spacing: it stands at the first x.
    const double step = points > 1 ? (last - first) / (points - 1) : 0.0;
    for (int i = 1; i <= points; ++i) x[static_cast<std::size_t>(i - 1)] = first + (i - 1) * step;
    return x;
}

void BrukerOPUSBase::SetImportSpec(ImportSpecBase* spec) { importSpec = spec; }

const char* BrukerOPUSBase::GetWarningMessage() { return nullptr; }

void BrukerOPUSBase::GetErrorMessage(char* buffer, unsigned int size) {
    if (status == 0 || errorText.empty()) {
        SpreadsheetFile::GetErrorMessage(buffer, size);
        return;
    }
    CopyMessage(errorText.c_str(), buffer, size);
}

void BrukerOPUSBase::Close() {
    records.clear();
    errorText.clear();
    SpreadsheetFile::Close();
}

int BrukerOPUSBase::Read(ReadSpreadSheetData* data) {
    if (status) return status;
    if (!data) return 0;
    if (!sizeKnown && EstablishSize() != 0) return status;
    const int valueColumns = numCols - 5;
    if (importSpec) {
        importSpec->AnnounceSize(data->GetNumberOfRows(), data->GetNumberOfColumns());
        importSpec->SetColumnRole(1, kNameColumnRole);
        for (int c = 2; c <= 5; ++c) importSpec->SetColumnRole(c, kTextColumnRole);
        importSpec->rolesSet = true;
    }
    int wanted = data->GetNextRow(0);
    if (wanted == 1) {
        if (importSpec) importSpec->SetHeaderRole(1, kVariableNameRowRole);
        const char* titles[] = {"File Name", "Sample Name", "Sample Form", "Date", "Time"};
        for (int c = 1; c <= 5; ++c) data->Set(c, 1, kelto::Translate(titles[c - 1]).c_str());
        const std::string var = kelto::Translate("Var_%1%");
        for (int i = 1; i <= valueColumns; ++i) data->Set(i + 5, 1, kelto::FormatMessage(var, i).c_str());
        wanted = data->GetNextRow(1);
    }
    if (wanted == 2) {
        if (importSpec) importSpec->SetHeaderRole(2, kAxisRowRole);
        data->Set(1, 2, kelto::spectral::OpusXUnitName(records.front().xUnit).c_str());
        const std::vector<double> x = RowTwoAxis();
        for (std::size_t i = 0; i < x.size() && static_cast<int>(i) < valueColumns; ++i)
            data->Set(static_cast<int>(i) + 6, 2, static_cast<float>(x[i]));
        wanted = data->GetNextRow(2);
    }
    std::vector<std::uint8_t> raw;
    std::vector<float> y;
    for (std::size_t k = 0; k < records.size(); ++k) {
        const int row = static_cast<int>(k) + 3;
        if (wanted > row) continue;
        if (wanted != row) break;
        const OpusRecord& r = records[k];
        data->Set(1, row, r.fileName.c_str());
        data->Set(2, row, r.sampleName.c_str());
        data->Set(3, row, r.sampleForm.c_str());
        data->Set(4, row, r.date.c_str());
        data->Set(5, row, r.time.c_str());
        BinaryInput in;
        const std::size_t bytes = 4u * static_cast<std::size_t>(std::max(r.points, 0));
        raw.resize(bytes);
        if (!in.Open(r.path) || !in.Skip(r.dataOffset) || !in.ReadExact(raw.data(), bytes))
            return SetError(4, kelto::TranslateFormat("The file '%1%' seems to be corrupt.", r.path));
        y.resize(static_cast<std::size_t>(std::max(r.points, 0)));
        for (std::size_t i = 0; i < y.size(); ++i) y[i] = LoadLE<float>(raw.data() + 4 * i);
        WriteValues(data, row, r, y);
        wanted = data->GetNextRow(row);
    }
    return 0;
}

// ---------------------------------------------------------------- as stored

int BrukerOPUS::Open(bool read, const char* path, QmImportOpenOptions* openOptions) {
    if (status) return status;
    if (int code = OpenFiles(read, path)) return code;
    const OpusRecord& first = records.front();
    if (openOptions) {
        BatchImportSettings::BrukerOptions settings;
        settings.points = first.points;
        settings.firstX = first.firstX;
        settings.lastX = first.lastX;
        settings.flag = -1;
        auto record = CreateBrukerImportOptions(settings);
        delete[] openOptions->data;
        openOptions->size = record->size;
        openOptions->data = record->data;
        record->data = nullptr;
        record->size = 0;
    }
    for (const OpusRecord& r : records)
        if (r.points != first.points)
            return SetError(4, kelto::TranslateFormat("Not all files have the same number of x-values.\n\nThe file %1% "
                                                      "has %2% values but the file %3% has %4%.",
                                                      first.path, first.points, r.path, r.points));
    bool sameRange = true;
    for (const OpusRecord& r : records)
        sameRange = sameRange && kelto::spectral::RelativelyEqual(r.firstX, first.firstX) &&
                    kelto::spectral::RelativelyEqual(r.lastX, first.lastX);
    if (!sameRange) {
        std::string lines;
        const std::string line = kelto::Translate("File: %1%; first X value: %2%; last X value: %3%\n");
        for (const OpusRecord& r : records) lines += kelto::FormatMessage(line, r.path, r.firstX, r.lastX);
        const std::string question = kelto::TranslateFormat(
            "Not all files starts and/or ends at the same x-values but all files have the same number of "
            "values:\n\n%1%\nDo you still want to continue importing the files?",
            lines);
        if (kelto::platform::AskYesNo(question) == kelto::platform::PromptAnswer::No)
            return SetError(4, kelto::Translate("Import canceled."));
    }
    return 0;
}

int BrukerOPUS::EstablishSize() {
    if (status) return status;
    if (records.empty()) return Fail(kSizeError);
    std::int32_t points = 0;
    for (const OpusRecord& r : records) points = std::max(points, r.points);
    numCols = points + 5;
    numRows = static_cast<int>(records.size()) + 2;
    sizeKnown = true;
    return 0;
}

std::vector<double> BrukerOPUS::RowTwoAxis() {
    const OpusRecord& first = records.front();
    return Axis(first.points, first.firstX, first.lastX);
}

void BrukerOPUS::WriteValues(ReadSpreadSheetData* data, int row, const OpusRecord& r, const std::vector<float>& y) {
    for (std::size_t i = 0; i < y.size(); ++i) data->Set(static_cast<int>(i) + 6, row, static_cast<double>(y[i]) * r.scale);
}

// ---------------------------------------------------------------- interpolated

int BrukerOPUSInterpolated::Open(bool read, const char* path, QmImportOpenOptions* openOptions) {
    if (status) return status;
    if (int code = OpenFiles(read, path)) return code;
    const OpusRecord& first = records.front();
    haveOptions = false;
    if (openOptions && openOptions->size > 0 && openOptions->data) {
        options = GetBrukerImportOptions(*openOptions);
        haveOptions = true;
    } else if (openOptions) {
        options = BatchImportSettings::BrukerOptions{};
        options.points = first.points;
        options.firstX = first.firstX;
        options.lastX = first.lastX;
        options.flag = -1;
        auto record = CreateBrukerImportOptions(options);
        delete[] openOptions->data;
        openOptions->size = record->size;
        openOptions->data = record->data;
        record->data = nullptr;
        record->size = 0;
        haveOptions = true;
    }
    // The common axis: a count of 0 means "take the first file's".
    int points = first.points;
    double lo = first.firstX, hi = first.lastX;
    if (haveOptions && options.points != 0) {
        points = options.points;
        lo = options.firstX;
        hi = options.lastX;
    }
    if (points < 2 || points > kMaxInterpolatedPoints)
        return SetError(kBadOptions, kelto::TranslateFormat("The common x axis must have between 2 and %1% points, not %2%.",
                                                            kMaxInterpolatedPoints, points));
    if (!std::isfinite(lo) || !std::isfinite(hi))
        return SetError(kBadOptions, kelto::Translate("The common x axis must start and end at finite x values."));
    commonAxis.clear();
    for (double x : Axis(points, lo, hi)) commonAxis.push_back(static_cast<float>(x));
    return 0;
}

int BrukerOPUSInterpolated::EstablishSize() {
    if (status) return status;
    if (records.empty()) return Fail(kSizeError);
    numCols = static_cast<int>(commonAxis.size()) + 5;
    numRows = static_cast<int>(records.size()) + 2;
    sizeKnown = true;
    return 0;
}

std::vector<double> BrukerOPUSInterpolated::RowTwoAxis() { return {commonAxis.begin(), commonAxis.end()}; }

void BrukerOPUSInterpolated::WriteValues(ReadSpreadSheetData* data, int row, const OpusRecord& r,
                                         const std::vector<float>& y) {
    const std::vector<float> mapped = kelto::spectral::InterpolateOntoAxis(r.firstX, r.lastX, y, commonAxis);
    for (std::size_t i = 0; i < mapped.size(); ++i) {
        const int col = static_cast<int>(i) + 6;
        if (mapped[i] == kMissing) data->Set(col, row, "");
        else data->Set(col, row, static_cast<double>(mapped[i]) * r.scale);
    }
}

// ---------------------------------------------------------------- factories

namespace {
// Every file of the path is tested: all OPUS files is a yes, some a maybe, none a no.
SprFileFactory::MyKindOfFile KindOfOpusFiles(const char* path) {
    std::vector<std::string> paths;
    if (!path || !QmFile::GetFileNames(path, paths)) return SprFileFactory::NotMyKind;
    std::size_t matching = 0;
    for (const std::string& p : paths) matching += kelto::spectral::HasOpusMagic(p) ? 1 : 0;
    if (matching == paths.size()) return SprFileFactory::IsMyKind;
    return matching ? SprFileFactory::LikelyMyKind : SprFileFactory::NotMyKind;
}
}  // namespace

BrukerOPUSFileFactory::BrukerOPUSFileFactory()
    : SprFileFactory("Bruker OPUS File", "Bruker OPUS File (*.*)", nullptr, 1, ".*", 0, 1, 2, 1, 0, 1) {}
SprFileFactory::MyKindOfFile BrukerOPUSFileFactory::IsMyKindOfFile(const char* path) { return KindOfOpusFiles(path); }
SpreadsheetFile* BrukerOPUSFileFactory::GetSpreadsheetFile() { return new BrukerOPUS; }

BrukerOPUSInterpolatedFileFactory::BrukerOPUSInterpolatedFileFactory()
    : SprFileFactory("Bruker OPUS Interpolated File", "Bruker OPUS Interpolated File (*.*)", nullptr, 1, ".*", 0, 1, 2,
                     1, 0, 2) {}
SprFileFactory::MyKindOfFile BrukerOPUSInterpolatedFileFactory::IsMyKindOfFile(const char* path) {
    return KindOfOpusFiles(path);
}
SpreadsheetFile* BrukerOPUSInterpolatedFileFactory::GetSpreadsheetFile() { return new BrukerOPUSInterpolated; }

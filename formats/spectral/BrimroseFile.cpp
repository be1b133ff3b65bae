#include "formats/spectral/BrimroseFile.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

#include <fmt/format.h>

#include "outside/utl/QmTimeUtl.h"
#include "platform/ByteOrder.h"
#include "platform/Translate.h"

using kelto::platform::LoadLE;

namespace {

// Main header, 512 bytes, little-endian; the fields are not aligned.
constexpr std::size_t kMainHeaderSize = 512;
constexpr std::size_t kSignatureAt = 0;
constexpr std::size_t kFirstWavelengthAt = 29;  // float
// 33: a float this reader does not use
constexpr std::size_t kWavelengthStepAt = 37;  // float
constexpr std::size_t kPointCountAt = 41;      // u16, points per spectrum
constexpr std::size_t kObservationCountAt = 45;  // u16
constexpr std::uint32_t kSignatures[] = {0x0D0C10FFu, 0x0BA7133Cu};

// Each observation: a 128-byte sub header starting with the acquisition time (u32 seconds
// since 1970-01-01 UTC), then one float per point.
constexpr std::size_t kSubHeaderSize = 128;
constexpr std::size_t kTimeAt = 0;

BrimroseFileFactory g_brimroseFileFactory;

}  // namespace

struct BrimroseFile::MainHeader {
    std::uint16_t pointCount = 0;
    std::uint16_t observationCount = 0;
};

BrimroseFile::BrimroseFile() = default;
BrimroseFile::~BrimroseFile() = default;

bool BrimroseFile::IsBrimroseFile(const char* path) {
    if (!path) return false;
    try {
        kelto::spectral::BinaryInput in;
        std::array<std::uint8_t, kMainHeaderSize> header;
        if (!in.Open(path) || !in.ReadExact(header.data(), header.size())) return false;
        std::uint32_t signature = LoadLE<std::uint32_t>(header.data() + kSignatureAt);
        return std::find(std::begin(kSignatures), std::end(kSignatures), signature) != std::end(kSignatures);
    } catch (...) {
        return false;
    }
}

int BrimroseFile::Open(bool read, const char* path, QmImportOpenOptions*) {
    if (status) return status;
    if (!read) return Fail(kWrongDirection);
    if (!path || !file.Open(path)) Fail(kOpenFailed);
    // Also decides for a file that did not open: a missing file reports "not a Brimrose file".
    if (!IsBrimroseFile(path)) Fail(kNotBrimrose);
    return status;
}

int BrimroseFile::ReadMainHeader(MainHeader& header) {
    std::array<std::uint8_t, kMainHeaderSize> bytes;
    if (!file.Rewind() || !file.ReadExact(bytes.data(), bytes.size())) return kShortMainHeader;
    firstWavelength = LoadLE<float>(bytes.data() + kFirstWavelengthAt);
    wavelengthStep = LoadLE<float>(bytes.data() + kWavelengthStepAt);
    header.pointCount = LoadLE<std::uint16_t>(bytes.data() + kPointCountAt);
    header.observationCount = LoadLE<std::uint16_t>(bytes.data() + kObservationCountAt);
    return 0;
}

int BrimroseFile::EstablishSize() {
    if (status) return status;
    numCols = numRows = 0;
    MainHeader header;
    if (int code = ReadMainHeader(header)) {
        numCols = numRows = -1;
        return Fail(code);
    }
    const std::uint16_t p = header.pointCount;
    if (header.observationCount == 0) {
        numCols = p;
        numRows = 0;
    } else {
        // The table gets a row only for observations the file has at least begun: a header
        // promising 65535 observations of 65535 points must not make the host allocate 4e9
        // cells. The read still walks all promised observations and fails at the first one
        // that is cut or missing.
        const std::uint64_t recordSize = kSubHeaderSize + 4ull * p;
        const std::uint64_t available = file.Size() - kMainHeaderSize;
        const std::uint64_t begun = (available + recordSize - 1) / recordSize;
        const std::uint64_t observations = std::min<std::uint64_t>(header.observationCount, begun);
        numCols = p + 2;
        numRows = static_cast<int>(observations) + 1;
    }
    sizeKnown = true;
    return 0;
}

const char* BrimroseFile::FormatTime(std::uint32_t seconds) {
    std::int64_t t = seconds;
    std::tm local{};
    if (!qmlocaltime_r(&t, &local)) {
        dateText[0] = '\0';
    } else {
        std::snprintf(dateText, sizeof dateText, "%04d-%02d-%02d/%02d:%02d:%02d", local.tm_year + 1900,
                      local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);
    }
    return dateText;
}

int BrimroseFile::Read(ReadSpreadSheetData* data) {
    if (status) return status;
    if (!data) return 0;
    if (!sizeKnown && EstablishSize() != 0) return status;
    MainHeader header;
    if (int code = ReadMainHeader(header)) return Fail(code);
    if (numRows < 1) return 0;

    const int p = header.pointCount;
    int wanted = data->GetNextRow(0);
    if (wanted == 1) {
        data->Set(1, 1, kelto::Translate("Short for Sample Number", "SampleNo").c_str());
        data->Set(2, 1, "DateTime");
        for (int c = 3; c <= numCols; ++c) {
            float wavelength = firstWavelength + static_cast<float>(c - 3) * wavelengthStep;
            data->Set(c, 1, fmt::format("w{:1.0f}", wavelength).c_str());
        }
        wanted = data->GetNextRow(1);
    }

    // The delivered columns are those of the size pass, but never more than this header's
    // points (the file might have been rewritten in between).
    const int lastCol = std::min(numCols, p + 2);
    if (values.size() < static_cast<std::size_t>(p) + 5) values.resize(static_cast<std::size_t>(p) + 5);
    std::array<std::uint8_t, kSubHeaderSize> sub;
    for (int observation = 1; observation <= header.observationCount; ++observation) {
        const int row = observation + 1;
        // A host that wants no further row of the table ends the read here. Observations
        // beyond the table are those the file does not hold: reading on reports the cut.
        if (row <= numRows && (wanted < 0 || wanted > numRows)) break;
        if (!file.ReadExact(sub.data(), sub.size())) return Fail(kShortSubHeader);
        // The spectrum is read into the float buffer's own bytes and decoded in place.
        auto* raw = reinterpret_cast<std::uint8_t*>(values.data());
        if (!file.ReadExact(raw, 4u * static_cast<std::size_t>(p))) return Fail(kShortData);
        if (row > numRows) break;  // the file grew since the size pass: nothing beyond the table
        if (row != wanted) continue;
        for (int i = 0; i < p; ++i) values[i] = LoadLE<float>(raw + 4 * i);
        data->Set(1, row, static_cast<std::int64_t>(observation));
        data->Set(2, row, FormatTime(LoadLE<std::uint32_t>(sub.data() + kTimeAt)));
        for (int c = 3; c <= lastCol; ++c) data->Set(c, row, values[c - 3]);
        wanted = data->GetNextRow(row);
    }
    return 0;
}

void BrimroseFile::Close() {
    if (!file.IsOpen()) return;
    file.Close();
    SpreadsheetFile::Close();
}

void BrimroseFile::GetErrorMessage(char* buffer, unsigned int size) {
    const char* text = nullptr;
    switch (status) {
        case kOpenFailed: text = "Failed to open stream for reading."; break;
        case kWrongMode: text = "Wrong file mode. The executed operation is only supported in read mode."; break;
        case kShortMainHeader: text = "File corrupt! Could not read the whole main header (possibly end of file)."; break;
        case kShortSubHeader: text = "File corrupt! Could not read the whole sub header (possibly end of file)."; break;
        case kShortData: text = "File corrupt! Could not read data (possibly end of file)."; break;
        case kBadHeader:
            text = "File is corrupt! Header contains corrupt information about starting, ending wavelength, or "
                   "number of data points.";
            break;
        case kNotBrimrose: text = "The file does not seem to be a valid Brimrose file."; break;
        default: SpreadsheetFile::GetErrorMessage(buffer, size); return;
    }
    CopyMessage(kelto::Translate(text).c_str(), buffer, size);
}

BrimroseFileFactory::BrimroseFileFactory()
    : SprFileFactory("Brimrose File", "Brimrose Files (*.dat)", nullptr, 1, ".dat", 0, 1, 0, 1, 0, 1) {}

SprFileFactory::MyKindOfFile BrimroseFileFactory::IsMyKindOfFile(const char* path) {
    return BrimroseFile::IsBrimroseFile(path) ? IsMyKind : NotMyKind;
}

SpreadsheetFile* BrimroseFileFactory::GetSpreadsheetFile() { return new BrimroseFile; }

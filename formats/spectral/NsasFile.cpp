#include "formats/spectral/NsasFile.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <filesystem>

#include <fmt/format.h>

#include "platform/ByteOrder.h"
#include "platform/Translate.h"

using kelto::platform::LoadLE;
using kelto::spectral::BinaryInput;

namespace {

// Spectrum header, 80 bytes, little-endian 16-bit fields; bytes not listed are not used.
constexpr std::size_t kHeaderSize = 80;
constexpr std::size_t kModelAt = 0;
constexpr std::size_t kSpectrumNoAt = 2;
constexpr std::size_t kSampleNameAt = 4;
constexpr std::size_t kSampleNameSize = 10;
constexpr std::size_t kPointCountAt = 14;
constexpr std::size_t kStartAt = 16;
constexpr std::size_t kEndAt = 18;
constexpr std::size_t kConstituentCountAt = 30;
// Date and time, printed as 68-66-64 70:72:74.
constexpr std::size_t kDateAt[] = {68, 66, 64};
constexpr std::size_t kTimeAt[] = {70, 72, 74};

// After the header: 48 filler bytes, then the values padded to a multiple of 128 bytes.
constexpr std::uint64_t kFillerSize = 48;
constexpr std::uint64_t kBlock = 128;

// ".cn": an optional name record of 384 bytes (10-byte names from offset 0), then one
// 128-byte value record (32 floats) per spectrum.
constexpr std::uint64_t kNameRecordSize = 384;
constexpr std::size_t kConstituentNameSize = 10;
constexpr std::uint64_t kValueRecordSize = 128;
constexpr int kValuesPerRecord = 32;

std::uint64_t PaddedDataSize(int n) { return kBlock * ((4ull * static_cast<std::uint64_t>(n) + kBlock - 1) / kBlock); }

// A name field: up to the first NUL, without leading and trailing bytes of code 32 or less.
std::string TrimmedField(const std::uint8_t* field, std::size_t size) {
    std::size_t end = 0;
    while (end < size && field[end] != 0) ++end;
    std::size_t begin = 0;
    while (begin < end && field[begin] <= 32) ++begin;
    while (end > begin && field[end - 1] <= 32) --end;
    return std::string(reinterpret_cast<const char*>(field) + begin, end - begin);
}

enum class HeaderRead { Ok, End, Short };

NsasFileFactory g_nsasFileFactory;

}  // namespace

struct NsasFile::SpectrumHeader {
    std::array<std::uint8_t, kHeaderSize> bytes{};
    std::int16_t model = 0;
    std::int16_t spectrumNo = 0;
    std::int16_t n = 0;
    std::int16_t start = 0;
    std::int16_t end = 0;
    std::int16_t constituents = 0;
    float step = 0.0f;
    float last = 0.0f;

    HeaderRead ReadFrom(BinaryInput& in) {
        std::size_t got = in.Read(bytes.data(), bytes.size());
        if (got == 0) return HeaderRead::End;
        if (got < bytes.size()) return HeaderRead::Short;
        const std::uint8_t* b = bytes.data();
        model = LoadLE<std::int16_t>(b + kModelAt);
        spectrumNo = LoadLE<std::int16_t>(b + kSpectrumNoAt);
        n = LoadLE<std::int16_t>(b + kPointCountAt);
        start = LoadLE<std::int16_t>(b + kStartAt);
        end = LoadLE<std::int16_t>(b + kEndAt);
        constituents = LoadLE<std::int16_t>(b + kConstituentCountAt);
        // In single precision, as the grid of the table is built from it.
        step = n > 0 ? static_cast<float>(end - start) / static_cast<float>(n) : 0.0f;
        last = static_cast<float>(end) - step;
        return HeaderRead::Ok;
    }
    bool Plausible() const {
        return start > 0 && last > 0 && static_cast<float>(start) <= last && n >= 1 && step > 0 && constituents >= 0;
    }
    std::string SampleName() const { return TrimmedField(bytes.data() + kSampleNameAt, kSampleNameSize); }
    std::string Time() const {
        auto at = [&](std::size_t offset) { return static_cast<int>(LoadLE<std::int16_t>(bytes.data() + offset)); };
        char text[64];
        std::snprintf(text, sizeof text, "%02d-%02d-%02d %02d:%02d:%02d", at(kDateAt[0]), at(kDateAt[1]),
                      at(kDateAt[2]), at(kTimeAt[0]), at(kTimeAt[1]), at(kTimeAt[2]));
        return text;
    }
};

NsasFile::NsasFile() = default;
NsasFile::~NsasFile() = default;

int NsasFile::Open(bool read, const char* path, QmImportOpenOptions*) {
    if (status) return status;
    if (!read) return Fail(kWrongDirection);
    if (!path || !daStream.Open(path)) return Fail(kOpenFailed);
    const std::string name = path;
    // The constituent file is optional. On a case-sensitive file system ".CN" is tried as
    // well, since such files come from systems where case does not matter.
    for (const char* extension : {".cn", ".CN"}) {
        std::filesystem::path cn(name);
        cn.replace_extension(extension);
        if (cn.string() != name && cnStream.Open(cn.string())) break;
    }
    return 0;
}

int NsasFile::EstablishSize() {
    if (status) return status;
    numCols = numRows = 0;
    haveFirstHeader = false;
    auto fail = [this](int code) {
        numCols = numRows = -1;
        return Fail(code);
    };
    if (!daStream.Rewind()) return fail(kShortHeader);
    int spectra = 0;
    // Every spectrum takes at least 256 bytes, so the count is bounded by the file size.
    for (;;) {
        SpectrumHeader header;
        HeaderRead got = header.ReadFrom(daStream);
        if (got == HeaderRead::End) break;
        if (got == HeaderRead::Short) return fail(kShortHeader);
        if (!header.Plausible()) return fail(kBadHeader);
        if (!haveFirstHeader) {
            haveFirstHeader = true;
            minStart = header.start;
            minLast = header.last;
            step = header.step;
            constituentCount = header.constituents;
        } else {
            if (header.step != step || header.constituents != constituentCount) return fail(kMismatchedHeader);
            minStart = std::min(minStart, static_cast<float>(header.start));
            minLast = std::min(minLast, header.last);
        }
        if (!daStream.Skip(kFillerSize + PaddedDataSize(header.n))) return fail(kShortData);
        ++spectra;
    }
    if (spectra > 0) {
        // The smallest last wavelength belongs to a spectrum that starts at or above minStart
        // and has at least as many points as it spans, so this is below 32768 for any file;
        // the check only keeps the conversion defined.
        float columns = (minLast - minStart) / step + 1;
        if (!(columns >= 1 && columns <= 65536)) return fail(kBadHeader);
        wavelengthColumns = static_cast<int>(columns);
        constituentColumns = cnStream.IsOpen() ? std::min<int>(constituentCount, kValuesPerRecord) : 0;
        numRows = spectra + 2;
        numCols = wavelengthColumns + 4 + constituentColumns;
    }
    sizeKnown = true;
    return 0;
}

int NsasFile::ReadNameRecord(std::vector<std::string>& names) {
    names.assign(static_cast<std::size_t>(constituentColumns), std::string());
    if (!cnStream.IsOpen()) return 0;
    // The two layouts differ only in their size: with N spectra, a name record and N value
    // records, or the value records alone.
    const std::uint64_t size = cnStream.Size();
    const std::uint64_t spectra = static_cast<std::uint64_t>(numRows - 2);
    if (!cnStream.Rewind()) return kShortNameRecord;
    if (size == (spectra + 3) * kValueRecordSize) {
        std::array<std::uint8_t, kNameRecordSize> record;
        if (!cnStream.ReadExact(record.data(), record.size())) return kShortNameRecord;
        for (int i = 0; i < constituentColumns; ++i)
            names[static_cast<std::size_t>(i)] = TrimmedField(record.data() + i * kConstituentNameSize, kConstituentNameSize);
        return 0;
    }
    if (size == spectra * kValueRecordSize) return 0;
    return kUnknownCnSize;
}

int NsasFile::SkipSpectrum(const SpectrumHeader& header) {
    if (!daStream.Skip(kFillerSize + PaddedDataSize(header.n))) return kShortDataFiller;
    if (cnStream.IsOpen() && !cnStream.Skip(kValueRecordSize)) return kShortValueFiller;
    return 0;
}

int NsasFile::ReadSpectrumRow(const SpectrumHeader& header, int row, ReadSpreadSheetData* data) {
    if (!daStream.Skip(kFillerSize)) return kShortFiller;
    const std::size_t dataBytes = 4u * static_cast<std::size_t>(header.n);
    spectrum.resize(dataBytes);
    if (!daStream.ReadExact(spectrum.data(), dataBytes)) return kShortData;
    // To the end of the padded block: a spectrum may have points beyond the common grid
    // that were not delivered, and the next header starts after all of them.
    if (!daStream.Skip(PaddedDataSize(header.n) - dataBytes)) return kShortDataFiller;
    std::array<std::uint8_t, kValueRecordSize> constituents{};
    if (cnStream.IsOpen()) {
        if (!cnStream.ReadExact(constituents.data(), 4u * static_cast<std::size_t>(constituentColumns)))
            return kShortValueRecord;
        if (!cnStream.Skip(kValueRecordSize - 4u * static_cast<std::uint64_t>(constituentColumns)))
            return kShortValueFiller;
    }

    data->Set(1, row, static_cast<std::int64_t>(row - 2));
    data->Set(2, row, static_cast<std::int64_t>(header.spectrumNo));
    data->Set(3, row, header.SampleName().c_str());
    data->Set(4, row, header.Time().c_str());
    // Column c stands for wavelength minStart + (c - 5) * step; it takes the spectrum's next
    // value when that wavelength, truncated, lies within the spectrum's own range, and stays
    // missing otherwise. Never more values than the spectrum has.
    int next = 0;
    for (int c = 5; c <= wavelengthColumns + 4; ++c) {
        float wavelength = minStart + static_cast<float>(c - 5) * step;
        float whole = std::trunc(wavelength);
        if (whole < header.start || whole > header.end || next >= header.n) continue;
        data->Set(c, row, LoadLE<float>(spectrum.data() + 4 * next));
        ++next;
    }
    for (int i = 0; i < constituentColumns; ++i)
        data->Set(wavelengthColumns + 5 + i, row, LoadLE<float>(constituents.data() + 4 * i));
    return 0;
}

int NsasFile::Read(ReadSpreadSheetData* data) {
    if (status) return status;
    if (!data) return 0;
    if (!sizeKnown && EstablishSize() != 0) return status;
    // An empty ".da" file has no spectra and a size of 0 x 0: nothing to deliver.
    if (numRows <= 0) return 0;

    // Rows 1 and 2 both come from the first spectrum header; row r >= 3 is spectrum r - 2.
    if (!daStream.Rewind()) return Fail(kShortHeader);
    SpectrumHeader header;
    if (header.ReadFrom(daStream) != HeaderRead::Ok) return Fail(kShortHeader);

    int wanted = data->GetNextRow(0);
    if (wanted == 1) {
        data->Set(1, 1, fmt::format("/Instrument model {}", header.model).c_str());
        wanted = data->GetNextRow(1);
    }

    // The ".cn" layout is settled whether or not the host wants the name row.
    std::vector<std::string> names;
    if (int code = ReadNameRecord(names)) return Fail(code);
    if (wanted == 2) {
        data->Set(1, 2, kelto::Translate("Short for Sample Number", "SampleNo").c_str());
        data->Set(2, 2, kelto::Translate("Short for Spectrum Number", "SpectrumNo").c_str());
        data->Set(3, 2, kelto::Translate("SampleName").c_str());
        data->Set(4, 2, "Time");
        for (int c = 5; c <= wavelengthColumns + 4; ++c) {
            float wavelength = minStart + static_cast<float>(c - 5) * step;
            data->Set(c, 2, fmt::format("w{:g}", static_cast<double>(wavelength)).c_str());
        }
        for (int i = 0; i < constituentColumns; ++i)
            data->Set(wavelengthColumns + 5 + i, 2, names[static_cast<std::size_t>(i)].c_str());
        wanted = data->GetNextRow(2);
    }

    for (int row = 3; row <= numRows; ++row) {
        if (wanted < 0 || wanted > numRows) break;
        if (row > 3) {
            if (header.ReadFrom(daStream) != HeaderRead::Ok) return Fail(kShortHeader);
        }
        // The size pass judged every header; one that changed since is not trusted.
        if (!header.Plausible()) return Fail(kBadHeader);
        if (row != wanted) {
            if (int code = SkipSpectrum(header)) return Fail(code);
            continue;
        }
        if (int code = ReadSpectrumRow(header, row, data)) return Fail(code);
        wanted = data->GetNextRow(row);
    }
    return 0;
}

void NsasFile::Close() {
    const bool wasOpen = daStream.IsOpen();
    cnStream.Close();
    daStream.Close();
    if (wasOpen) SpreadsheetFile::Close();
}

void NsasFile::GetErrorMessage(char* buffer, unsigned int size) {
    const char* text = nullptr;
    switch (status) {
        case kOpenFailed: text = "Failed to open stream for reading."; break;
        case kWrongMode: text = "Wrong file mode. The executed operation is only supported in read mode."; break;
        case kShortHeader:
            text = "DA-file corrupt! Could not read the whole header for spectra (possibly end of file).";
            break;
        case kBadHeader:
            text = "Spectra header in DA-file is corrupt! Spectra header contains corrupt information about "
                   "starting, ending wavelength, or number of data points.";
            break;
        case kMismatchedHeader:
            text = "Spectra header in DA-file is corrupt! Spectra header contains information that doesn't match "
                   "earlier read spectra. Spectra wavelengths or number of constituents does not match.";
            break;
        case kShortFiller:
            text = "DA-file corrupt! Could not read through the unused filler (possibly end of file).";
            break;
        case kShortData: text = "DA-file corrupt! Could not read all the data for spectra (possibly end of file)."; break;
        case kShortDataFiller:
            text = "DA-file corrupt! Could not read through the spectra filler (possibly end of file).";
            break;
        case kShortNameRecord:
            text = "CN-file corrupt! Could not read the whole name record for constituents (possibly end of file).";
            break;
        case kShortValueRecord:
            text = "CN-file corrupt! Could not read the whole value record for constituents (possibly end of file).";
            break;
        case kShortValueFiller:
            text = "CN-file corrupt! Could not read through the value record filler (possibly end of file).";
            break;
        case kUnknownCnSize: text = "CN-file corrupt! File size do not match any known version of CN file formats."; break;
        default: SpreadsheetFile::GetErrorMessage(buffer, size); return;
    }
    CopyMessage(kelto::Translate(text).c_str(), buffer, size);
}

NsasFileFactory::NsasFileFactory()
    : SprFileFactory("NSAS File", "NSAS Files (*.da)", nullptr, 1, ".da", 0, 1, 0, 1, 0, 1) {}

SprFileFactory::MyKindOfFile NsasFileFactory::IsMyKindOfFile(const char*) { return PossiblyMyKind; }

SpreadsheetFile* NsasFileFactory::GetSpreadsheetFile() { return new NsasFile; }

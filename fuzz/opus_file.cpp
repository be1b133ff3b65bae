// Bruker OPUS readers under arbitrary bytes. The input is one flag byte (bit 0: the
// interpolated reader; bit 1: the selection names the file twice; bit 2: the next 21 bytes
// are a Bruker options record; the other bits steer which rows the harness asks for), the
// record when there is one, then the file's bytes.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "SpectralHarness.h"
#include "formats/spectral/BrukerOPUS.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1 || size > (1u << 16)) return 0;
    const std::uint8_t flags = data[0];
    std::size_t at = 1;
    char optionBytes[BatchImportSettings::kBrukerOptionsSize];
    QmImportOpenOptions record{0, nullptr};
    if (flags & 4) {
        if (size < at + sizeof optionBytes) return 0;
        std::memcpy(optionBytes, data + at, sizeof optionBytes);
        at += sizeof optionBytes;
        // The readers may replace the record's bytes (freeing the old ones with delete[]).
        record.size = sizeof optionBytes;
        record.data = new char[sizeof optionBytes];
        std::memcpy(record.data, optionBytes, sizeof optionBytes);
    }
    const std::string& dir = kelto::fuzz::ScratchDir();
    kelto::fuzz::WriteScratch(dir + "/input.0", data + at, size - at);
    std::string argument = dir + "/input.0";
    if (flags & 2) argument = dir + std::string(1, '\0') + "input.0" + '\0' + "input.0" + '\0' + '\0';

    SpreadsheetFile* file = flags & 1 ? static_cast<SpreadsheetFile*>(new BrukerOPUSInterpolated) : new BrukerOPUS;
    if (file->Open(true, argument.c_str(), flags & 4 ? &record : nullptr) == 0) {
        const int rows = file->GetNumRows();
        const int cols = file->GetNumCols();
        if (rows >= 0 && cols >= 0) {
            // The points must lie in the file, or (interpolated) within the bound on the axis.
            const std::size_t limit = flags & 1 ? BrukerOPUSBase::kMaxInterpolatedPoints : (size - at) / 4;
            if (rows > 4 || static_cast<std::size_t>(cols) > limit + 5) __builtin_trap();
            // Reading a million-point axis proves nothing more than a small one, only slower.
            if (cols <= (1 << 16)) {
                kelto::fuzz::CheckingSink sink(flags & 0xf8, (flags >> 5) & 7);
                sink.SetDataSize(cols, rows);
                file->Read(&sink);
            }
        }
    }
    char message[256];
    file->GetErrorMessage(message, sizeof message);
    file->Close();
    delete file;
    delete[] record.data;
    return 0;
}

// Galactic SPC reader under arbitrary bytes. The input is a small container (see
// corpus/README-spc.md): a mode byte (bit 0: two files read together, bit 1: an empty options
// record that receives the defaults, bit 2: an options record holding the spectral
// constraints of bits 4-7), the split point of the two files as 2 bytes little-endian, then
// the file bytes. The table must stay within what the files can hold.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "SpectralHarness.h"
#include "formats/spectral/GalacticSPCFile.h"
#include "formats/spectral/USDBase.h"
#include "platform/ByteOrder.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // Rows grow with the sub-files and columns with the points, both bounded by the size.
    if (size < 3 || size > (1u << 17)) return 0;
    const std::string& dir = kelto::fuzz::ScratchDir();
    const std::uint8_t mode = data[0];
    const std::uint8_t* bytes = data + 3;
    const std::size_t total = size - 3;
    std::size_t split = kelto::platform::LoadLE<std::uint16_t>(data + 1);
    std::string argument;
    if (mode & 1) {
        if (split > total) split = total;
        kelto::fuzz::WriteScratch(dir + "/a.spc", bytes, split);
        kelto::fuzz::WriteScratch(dir + "/b.spc", bytes + split, total - split);
        argument = dir;
        argument.push_back('\0');
        argument += "a.spc";
        argument.push_back('\0');
        argument += "b.spc";
        argument.push_back('\0');
        argument.push_back('\0');
    } else {
        kelto::fuzz::WriteScratch(dir + "/a.spc", bytes, total);
        argument = dir + "/a.spc";
    }

    QmImportOpenOptions record{0, nullptr};
    std::string given;
    if (mode & 4) {
        // Intervals and averaging from the mode bits, over a range that real axes use.
        USDConstraints c;
        c.IncludeOrdinalValues = mode & 0x10;
        c.IncludeAllValues = false;
        c.NumberOfIncludedIntervals = 2;
        c.IncludeXStartPt = {static_cast<float>(mode & 0x20 ? 0 : 500), 2000.0f};
        c.IncludeXEndPt = {1500.0f, 4000.0f};
        c.UseAverage = (mode >> 6) + 1;
        given = USDBase::ToOptionsBytes(c);
        record.size = static_cast<int>(given.size());
        record.data = new char[given.size()];
        std::memcpy(record.data, given.data(), given.size());
    }
    {
        GalacticSPCFile file;
        if (file.Open(true, argument.c_str(), (mode & 6) ? &record : nullptr) == 0) {
            const int rows = file.GetNumRows();
            const int cols = file.GetNumCols();
            if (rows >= 0 && cols >= 0) {
                // Every sub-file takes at least 32 bytes, every point at least 2.
                if (static_cast<std::size_t>(rows) > total / 32 + 4 || static_cast<std::size_t>(cols) > total / 2 + 4)
                    __builtin_trap();
                kelto::fuzz::CheckingSink sink(total > 600 ? bytes[600] & 0xfe : 0, total > 601 ? bytes[601] % 8 : 0);
                sink.SetDataSize(cols, rows);
                // After a read the counts stay as they were.
                if (file.Read(&sink) == 0 && (file.GetNumRows() != rows || file.GetNumCols() != cols)) __builtin_trap();
            }
        }
        char message[256];
        file.GetErrorMessage(message, sizeof message);
        file.Close();
        // A record given with content belongs to the caller, its new bytes too; an empty one
        // points into the reader, which is gone now.
        if (mode & 4) delete[] record.data;
    }
    return 0;
}

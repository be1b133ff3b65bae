// Brimrose reader under arbitrary bytes: kind test, open, size pass, read into a checking
// sink, error message. The table must stay within what the file can hold.
#include <cstddef>
#include <cstdint>

#include "SpectralHarness.h"
#include "formats/spectral/BrimroseFile.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > (1u << 20)) return 0;
    static const std::string path = kelto::fuzz::ScratchDir() + "/input.dat";
    kelto::fuzz::WriteScratch(path, data, size);
    BrimroseFile::IsBrimroseFile(path.c_str());

    BrimroseFile file;
    if (file.Open(true, path.c_str(), nullptr) == 0) {
        int rows = file.GetNumRows();
        int cols = file.GetNumCols();
        if (rows >= 0 && cols >= 0) {
            // One row per observation the file has begun (each at least 128 bytes), plus names.
            if (static_cast<std::size_t>(rows) > (size - 512) / 128 + 2 || cols > 65537) __builtin_trap();
            std::uint8_t pattern = size > 600 ? data[600] : 0;
            kelto::fuzz::CheckingSink sink(pattern & 0xfe, size > 601 ? data[601] % 8 : 0);
            sink.SetDataSize(cols, rows);
            file.Read(&sink);
        }
    }
    char message[256];
    file.GetErrorMessage(message, sizeof message);
    file.Close();
    return 0;
}

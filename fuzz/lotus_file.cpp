// Lotus reader under arbitrary bytes: open, size pass, read into a checking sink, messages.
// The table never grows beyond the release 2 grid, whatever the dimensions record claims.
#include <cstddef>
#include <cstdint>

#include "SpectralHarness.h"
#include "formats/workbook/LotusFile.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > (1u << 20)) return 0;
    static const std::string path = kelto::fuzz::ScratchDir() + "/input.wk1";
    kelto::fuzz::WriteScratch(path, data, size);
    LotusFile file;
    if (file.Open(true, path.c_str(), nullptr) == 0) {
        int rows = file.GetNumRows();
        int cols = file.GetNumCols();
        if (rows >= 0 && cols >= 0) {
            if (cols > 256 || rows > 8192) __builtin_trap();
            kelto::fuzz::CheckingSink sink(0, 0);
            sink.SetDataSize(cols, rows);
            file.Read(&sink);
            if (const char* w = file.GetWarningMessage(); w && !*w) __builtin_trap();
        }
    }
    char message[512];
    file.GetErrorMessage(message, sizeof message);
    file.Close();
    return 0;
}

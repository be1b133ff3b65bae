// Product worksheet reader under arbitrary bytes: the input is a ".mip" compound file (seeds
// made by the compound-file builder). The compound layer checks sectors and chains; this
// exercises the directory walk, the settings entry and the worksheet's line splitting.
#include <cstddef>
#include <cstdint>
#include <string>

#include "SpectralHarness.h"
#include "formats/text/KeltoFile.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > (1u << 20)) return 0;
    static const std::string path = kelto::fuzz::ScratchDir() + "/input.mip";
    kelto::fuzz::WriteScratch(path, data, size);
    KeltoFile file;
    if (file.Open(true, path.c_str(), nullptr) == 0) {
        const int rows = file.GetNumRows(), cols = file.GetNumCols();
        if (rows >= 0 && cols >= 0) {
            kelto::fuzz::CheckingSink sink(size ? data[size / 2] : 0, 0);
            sink.SetDataSize(cols, rows);
            file.Read(&sink);
        }
    }
    char message[256];
    file.GetErrorMessage(message, sizeof message);
    file.Close();
    return 0;
}

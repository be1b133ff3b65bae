// HPLC ChemStation reader under arbitrary bytes. The input is one flag byte (bit 0: the file
// is a ".uv" diode-array file; bit 1: the selection names the file twice, as a multi-file
// read; the other bits steer which rows the harness asks for), then the file's bytes.
#include <cstddef>
#include <cstdint>
#include <string>

#include "SpectralHarness.h"
#include "formats/spectral/ChemStationFile.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // The table is bounded by the file size (each value takes at least two bytes).
    if (size < 1 || size > (1u << 16)) return 0;
    const std::string& dir = kelto::fuzz::ScratchDir();
    const bool uv = data[0] & 1;
    const std::string name = uv ? "input.uv" : "input.ch";
    kelto::fuzz::WriteScratch(dir + "/" + name, data + 1, size - 1);
    std::string argument = dir + "/" + name;
    if (data[0] & 2) argument = dir + std::string(1, '\0') + name + '\0' + name + '\0' + '\0';

    ChemStationFile file;
    if (file.Open(true, argument.c_str(), nullptr) == 0) {
        const int rows = file.GetNumRows();
        const int cols = file.GetNumCols();
        if (rows >= 0 && cols >= 0) {
            if (static_cast<std::uint64_t>(rows - 2) * static_cast<std::uint64_t>(cols - 4) > size * 4 + 4) __builtin_trap();
            kelto::fuzz::CheckingSink sink(data[0] & 0xfc, (data[0] >> 5) & 7);
            sink.SetDataSize(cols, rows);
            file.Read(&sink);
        }
    }
    char message[256];
    file.GetErrorMessage(message, sizeof message);
    file.Close();
    return 0;
}

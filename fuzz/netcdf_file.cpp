// netCDF reader under arbitrary bytes (the library parses the container): kind test, template,
// open, size pass, read into a checking sink, error message. Also the same bytes as both
// files of a two-file read.
#include <cstddef>
#include <cstdint>

#include "SpectralHarness.h"
#include "formats/spectral/NetCDFFile.h"

namespace {

void ReadOnce(const std::string& argument, std::size_t size, const std::uint8_t* data) {
    NetCDFFile file;
    if (file.Open(true, argument.c_str(), nullptr) == 0) {
        const int rows = file.GetNumRows();
        const int cols = file.GetNumCols();
        if (rows >= 0 && cols >= 0) {
            // Neither observations nor points may outnumber the bytes of the files.
            if (static_cast<std::size_t>(rows) > 2 * size + 3 || static_cast<std::size_t>(cols) > size + 3)
                __builtin_trap();
            kelto::fuzz::CheckingSink sink(size > 40 ? data[40] & 0xfe : 0, size > 41 ? data[41] % 8 : 0);
            sink.SetDataSize(cols, rows);
            file.Read(&sink);
        }
    }
    char message[256];
    file.GetErrorMessage(message, sizeof message);
    file.Close();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > (1u << 20)) return 0;
    static const std::string dir = kelto::fuzz::ScratchDir();
    static const std::string path = dir + "/input.cdf";
    static const std::string copy = dir + "/copy.cdf";
    kelto::fuzz::WriteScratch(path, data, size);
    NetCDFFile::IsNetCDFFile(path.c_str());
    NetCDFFile::GetFileTemplate(path.c_str());
    ReadOnce(path, size, data);
    kelto::fuzz::WriteScratch(copy, data, size);
    std::string several = dir;
    several += '\0';
    several += "input.cdf";
    several += '\0';
    several += "copy.cdf";
    several += '\0';
    several += '\0';
    ReadOnce(several, size, data);
    return 0;
}

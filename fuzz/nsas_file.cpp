// NSAS reader under arbitrary bytes. The input is a small container (see
// corpus/README-nsas.md): a flag byte (bit 0: a ".cn" file exists), the ".da" length as
// 4 bytes little-endian, the ".da" bytes, then the ".cn" bytes.
#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "SpectralHarness.h"
#include "formats/spectral/NsasFile.h"
#include "platform/ByteOrder.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // Rows are bounded by the file size and columns by the widest spectrum, so the work of
    // one read grows with the square of the input: keep inputs small.
    if (size < 5 || size > (1u << 16)) return 0;
    static const std::string da = kelto::fuzz::ScratchDir() + "/input.da";
    static const std::string cn = kelto::fuzz::ScratchDir() + "/input.cn";
    const bool haveCn = data[0] & 1;
    std::size_t daSize = kelto::platform::LoadLE<std::uint32_t>(data + 1);
    if (daSize > size - 5) daSize = size - 5;
    kelto::fuzz::WriteScratch(da, data + 5, daSize);
    if (haveCn) kelto::fuzz::WriteScratch(cn, data + 5 + daSize, size - 5 - daSize);
    else std::remove(cn.c_str());

    NsasFile file;
    if (file.Open(true, da.c_str(), nullptr) == 0) {
        int rows = file.GetNumRows();
        int cols = file.GetNumCols();
        if (rows >= 0 && cols >= 0) {
            // Each spectrum takes at least 256 bytes; a spectrum spans at most 32767 points.
            if (static_cast<std::size_t>(rows) > daSize / 256 + 2 || cols > 32768 + 4 + 32 + 2) __builtin_trap();
            kelto::fuzz::CheckingSink sink(data[0] & 0xfe, (data[0] >> 4) & 7);
            sink.SetDataSize(cols, rows);
            file.Read(&sink);
        }
    }
    char message[256];
    file.GetErrorMessage(message, sizeof message);
    file.Close();
    return 0;
}

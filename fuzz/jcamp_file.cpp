// JCAMP-DX reader under arbitrary text. The input is a small container (see
// corpus/README-jcamp.md): a flag byte (bit 0: two files read together; the other bits steer
// which rows the harness asks for), a byte placing the cut between the two files, then the
// text. Open, size pass, read into a checking sink, and every text the reader gives out.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "SpectralHarness.h"
#include "formats/spectral/JCAMPFile.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2 || size > (1u << 16)) return 0;
    static const std::string dir = kelto::fuzz::ScratchDir();
    const std::uint8_t flags = data[0];
    const std::uint8_t* body = data + 2;
    const std::size_t n = size - 2;
    std::string argument;
    if (flags & 1) {
        const std::size_t cut = n * data[1] / 256;
        kelto::fuzz::WriteScratch(dir + "/a.jdx", body, cut);
        kelto::fuzz::WriteScratch(dir + "/b.jdx", body + cut, n - cut);
        argument = dir + '\0' + "a.jdx" + '\0' + "b.jdx" + '\0' + '\0';
    } else {
        kelto::fuzz::WriteScratch(dir + "/a.jdx", body, n);
        argument = dir + "/a.jdx";
    }

    JCAMPFile file;
    if (file.Open(true, argument.c_str(), nullptr) == 0) {
        std::vector<std::string> list;
        file.GetJCAMPBlockList(list);
        kelto::platform::OleDateResult date;
        file.GetDateCreated(date);
        int rows = file.GetNumRows();
        int cols = file.GetNumCols();
        if (rows >= 0 && cols >= 0) {
            // A page needs a label line of at least 7 bytes ("##PAGE="); a block no more
            // points than the reader's cap.
            if (static_cast<std::size_t>(rows) > n / 7 + 3 || cols > JCAMPFile::kMaxPoints + 2) __builtin_trap();
            // Work grows with the cells of the table, which a few bytes of NPOINTS can make
            // large; such inputs are judged by the size pass alone.
            if (static_cast<std::int64_t>(rows) * cols <= (std::int64_t{1} << 22)) {
                kelto::fuzz::CheckingSink sink(flags & 0xfe, (flags >> 4) & 7);
                sink.SetDataSize(cols, rows);
                file.Read(&sink);
            }
        }
    }
    if (const char* warning = file.GetWarningMessage()) (void)std::strlen(warning);
    char message[512];
    file.GetErrorMessage(message, sizeof message);
    file.Close();
    return 0;
}

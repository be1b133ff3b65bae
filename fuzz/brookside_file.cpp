// Brookside reader under arbitrary text: the input is split at each "@@@\n" into the ".trn"
// file and up to three files it may name ("a.txt", "sub/b.txt", "c.txt"), all written to a
// scratch folder, so that the INI reading, the paths, the header checks, the centering and
// the row mapping across files all see hostile input. Rows are asked for in an order picked
// from the input.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

#include "SpectralHarness.h"
#include "formats/text/BrooksideFile.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > (1u << 20)) return 0;
    static const std::string dir = kelto::fuzz::ScratchDir();
    static const char* const kNames[] = {"run.trn", "a.txt", "sub/b.txt", "c.txt"};
    static const bool made = std::filesystem::create_directories(dir + "/sub");
    (void)made;
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    constexpr std::string_view kMarker = "@@@\n";
    std::size_t at = 0;
    for (const char* name : kNames) {
        const std::string path = dir + "/" + name;
        if (at > input.size()) {
            std::filesystem::remove(path);
            continue;
        }
        std::size_t end = input.find(kMarker, at);
        if (end == std::string_view::npos || name == kNames[3]) end = input.size();
        kelto::fuzz::WriteScratch(path, data + at, end - at);
        at = end + kMarker.size();
    }
    BrooksideFile file;
    if (file.Open(true, (dir + "/run.trn").c_str(), nullptr) == 0) {
        const int rows = file.GetNumRows(), cols = file.GetNumCols();
        if (rows >= 0 && cols >= 0 && static_cast<long long>(rows) * cols <= (1LL << 22)) {
            kelto::fuzz::CheckingSink sink(size ? data[size / 2] : 0, size > 1 ? data[1] % 8 : 0);
            sink.SetDataSize(cols, rows);
            file.Read(&sink);
        }
    }
    char message[256];
    file.GetErrorMessage(message, sizeof message);
    file.Close();
    return 0;
}

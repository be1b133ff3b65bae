// MAT-file reader under arbitrary bytes: the input is the file. Each input is read twice,
// once as the default options leave it (one level 4 matrix) and once keeping whichever
// identifier layout the scan found, so the placement paths run too.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "SpectralHarness.h"
#include "formats/workbook/MatFile.h"

namespace {

class LayoutMatFile : public MatFile {
protected:
    bool SetOptions() override {
        MatFile::SetOptions();
        obsnumLayout = foundObsnumLayout;
        identifierLayout = foundIdentifierLayout;
        return status != 0;
    }
};

template <typename File>
void ReadOnce(const std::string& path, std::uint8_t skip) {
    File file;
    if (file.Open(true, path.c_str(), nullptr) == 0) {
        std::vector<std::string> list;
        file.GetMatrixList(list);
        const int rows = file.GetNumRows(), cols = file.GetNumCols();
        if (rows >= 0 && cols >= 0) {
            kelto::fuzz::CheckingSink sink(skip, 0);
            sink.SetDataSize(cols, rows);
            file.Read(&sink);
        }
    }
    char message[512];
    file.GetErrorMessage(message, sizeof message);
    file.GetWarningMessage();
    file.Close();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > (1u << 20)) return 0;
    static const std::string path = kelto::fuzz::ScratchDir() + "/input.mat";
    kelto::fuzz::WriteScratch(path, data, size);
    ReadOnce<MatFile>(path, 0);
    ReadOnce<LayoutMatFile>(path, size ? data[size - 1] : 0);
    return 0;
}

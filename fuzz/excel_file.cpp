// Excel BIFF reader under arbitrary bytes (see corpus/README-excel_file.md). The first byte
// steers the run:
//   bit 0  the rest is a BIFF record stream, put into a compound file as its "Workbook" stream
//          (else the rest is the file itself: a compound file or a plain BIFF2-4 stream)
//   bit 1  every worksheet is chosen (else the default: the first)
//   bit 2  several sheets one under another (read order 1), else side by side
//   bits 3-7  which rows the sink asks for
#include <cstddef>
#include <cstdint>

#include "SpectralHarness.h"
#include "formats/workbook/ExcelFile.h"
#include "tests/platform/CfbBuilder.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1 || size > (1u << 18)) return 0;
    static const std::string path = kelto::fuzz::ScratchDir() + "/input.xls";
    const std::uint8_t steer = data[0];
    if (steer & 1) {
        kelto::test::CfbBuilder builder;
        builder.root.children.push_back(kelto::test::Stream("Workbook", std::vector<std::uint8_t>(data + 1, data + size)));
        const std::vector<std::uint8_t> file = builder.Build();
        kelto::fuzz::WriteScratch(path, file.data(), file.size());
    } else {
        kelto::fuzz::WriteScratch(path, data + 1, size - 1);
    }

    QmImportOpenOptions* options = nullptr;
    QmImportOpenOptions record{0, nullptr};
    if (steer & 2) {
        ExcelFileOptions choice;
        choice.allSheets = true;
        choice.readOrder = (steer & 4) ? 1 : 2;
        choice.WriteRecord(record);
        options = &record;
    }
    ExcelFile file;
    if (file.Open(true, path.c_str(), options) == 0) {
        const int cols = file.GetNumCols();
        const int rows = file.GetNumRows();
        // A sheet is at most 256 columns by 65,536 rows, plus one label row or column.
        const std::size_t sheets = file.GetWorksheets().size() + 1;
        if (cols < 0 || rows < 0 || static_cast<std::size_t>(cols) > 256 * sheets + 1 ||
            static_cast<std::size_t>(rows) > 65536 * sheets + 1)
            __builtin_trap();
        kelto::fuzz::CheckingSink sink(steer >> 3, 0);
        sink.SetDataSize(cols, rows);
        file.Read(&sink);
        file.GetReadFile();
    }
    char message[512];
    file.GetErrorMessage(message, sizeof message);
    file.Close();
    delete[] record.data;
    return 0;
}

// The .xlsb reader under arbitrary input, in two forms picked by the first byte:
// - bit 0 clear: the rest is the file itself;
// - bit 0 set: the rest is the record parts, separated by "\n#--\n", in the order sheet 1,
//   shared strings, styles, workbook; they are packed (stored) into a package around fixed
//   relationships, so the mutations reach the record readers rather than the zip layer.
// Bit 1 reads the sheets one under another.
#include <zip.h>

#include <cstdint>
#include <string>
#include <vector>

#include "SpectralHarness.h"
#include "formats/workbook/ExcelXLSBFile.h"

namespace {

const char* const kNames[] = {"xl/worksheets/sheet1.bin", "xl/sharedStrings.bin", "xl/styles.bin", "xl/workbook.bin"};

bool Pack(const std::string& path, const std::string& input) {
    static std::vector<std::string> parts;
    parts.clear();
    std::size_t start = 0;
    while (parts.size() < 4) {
        std::size_t at = input.find("\n#--\n", start);
        parts.push_back(input.substr(start, at == std::string::npos ? std::string::npos : at - start));
        if (at == std::string::npos) break;
        start = at + 5;
    }
    static const std::string rels =
        "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
        "<Relationship Id=\"rId1\" Type=\"worksheet\" Target=\"worksheets/sheet1.bin\"/></Relationships>";
    int error = 0;
    zip_t* z = zip_open(path.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &error);
    if (!z) return false;
    auto add = [&](const char* name, const std::string& text) {
        zip_source_t* s = zip_source_buffer(z, text.data(), text.size(), 0);
        zip_int64_t i = zip_file_add(z, name, s, ZIP_FL_OVERWRITE);
        if (i >= 0) zip_set_file_compression(z, static_cast<zip_uint64_t>(i), ZIP_CM_STORE, 0);
    };
    add("xl/_rels/workbook.bin.rels", rels);
    for (std::size_t i = 0; i < parts.size(); ++i)
        if (!parts[i].empty()) add(kNames[i], parts[i]);
    return zip_close(z) == 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1 || size > (1u << 20)) return 0;
    static const std::string path = kelto::fuzz::ScratchDir() + "/input.xlsb";
    const std::string rest(reinterpret_cast<const char*>(data) + 1, size - 1);
    if (data[0] & 1) {
        if (!Pack(path, rest)) return 0;
    } else {
        kelto::fuzz::WriteScratch(path, data + 1, size - 1);
    }
    ExcelXLSBFile file;
    ExcelFileOptions options;
    options.allSheets = true;
    options.readOrder = (data[0] & 2) ? 1 : 3;
    QmImportOpenOptions record{0, nullptr};
    options.WriteRecord(record);
    if (file.Open(true, path.c_str(), &record) == 0) {
        // The table is sized by the reader itself; the sink checks every cell against it.
        kelto::fuzz::CheckingSink sink(0, 0);
        file.Read(&sink);
        file.GetWarningMessage();
    }
    delete[] record.data;
    char message[512];
    file.GetErrorMessage(message, sizeof message);
    file.Close();
    return 0;
}

// The .xlsx reader under arbitrary input, in two forms picked by the first byte:
// - bit 0 clear: the rest is the file itself (zip structure, bombs, broken deflate);
// - bit 0 set: the rest is the XML of the parts, separated by "\n#--\n", in the order
//   sheet 1, shared strings, styles, workbook, sheet 2; they are packed (stored) into a
//   package around fixed relationships, so the mutations reach the XML parsers.
// Bits 1-2 pick the read order, bit 3 reads every sheet.
#include <zip.h>

#include <cstdint>
#include <string>
#include <vector>

#include "SpectralHarness.h"
#include "formats/workbook/ExcelXLSXFile.h"

namespace {

const char* const kNames[] = {"xl/worksheets/sheet1.xml", "xl/sharedStrings.xml", "xl/styles.xml", "xl/workbook.xml",
                              "xl/worksheets/sheet2.xml"};

const char* kWorkbook =
    "<workbook xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\" "
    "xmlns:r=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships\"><sheets>"
    "<sheet name=\"A\" sheetId=\"1\" r:id=\"rId1\"/><sheet name=\"B\" sheetId=\"2\" r:id=\"rId2\"/></sheets></workbook>";

const char* kRels =
    "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
    "<Relationship Id=\"rId1\" Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/worksheet\" "
    "Target=\"worksheets/sheet1.xml\"/>"
    "<Relationship Id=\"rId2\" Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/worksheet\" "
    "Target=\"worksheets/sheet2.xml\"/></Relationships>";

bool Pack(const std::string& path, const std::string& input) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    while (parts.size() < 5) {
        std::size_t at = input.find("\n#--\n", start);
        parts.push_back(input.substr(start, at == std::string::npos ? std::string::npos : at - start));
        if (at == std::string::npos) break;
        start = at + 5;
    }
    if (parts.size() < 4) parts.resize(4);
    if (parts[3].empty()) parts[3] = kWorkbook;
    // libzip reads the buffers at zip_close: every text must live until then.
    static const std::string rels = kRels;
    int error = 0;
    zip_t* z = zip_open(path.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &error);
    if (!z) return false;
    auto add = [&](const char* name, const std::string& text) {
        zip_source_t* s = zip_source_buffer(z, text.data(), text.size(), 0);
        zip_int64_t i = zip_file_add(z, name, s, ZIP_FL_OVERWRITE);
        if (i >= 0) zip_set_file_compression(z, static_cast<zip_uint64_t>(i), ZIP_CM_STORE, 0);
    };
    add("xl/_rels/workbook.xml.rels", rels);
    for (std::size_t i = 0; i < parts.size(); ++i)
        if (!parts[i].empty()) add(kNames[i], parts[i]);
    return zip_close(z) == 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1 || size > (1u << 20)) return 0;
    static const std::string path = kelto::fuzz::ScratchDir() + "/input.xlsx";
    const std::uint8_t flags = data[0];
    const std::string rest(reinterpret_cast<const char*>(data) + 1, size - 1);
    if (flags & 1) {
        if (!Pack(path, rest)) return 0;
    } else {
        kelto::fuzz::WriteScratch(path, data + 1, size - 1);
    }
    ExcelXLSXFile file;
    ExcelFileOptions options;
    options.allSheets = (flags & 8) != 0;
    options.sheetIndexes = {0};
    options.readOrder = (flags >> 1) & 3;
    QmImportOpenOptions record{0, nullptr};
    options.WriteRecord(record);
    if (file.Open(true, path.c_str(), &record) == 0) {
        kelto::fuzz::CheckingSink sink(0, 0);
        file.Read(&sink);
        file.GetWarningMessage();
        file.GetReadFile();
    }
    delete[] record.data;
    char message[512];
    file.GetErrorMessage(message, sizeof message);
    return 0;
}

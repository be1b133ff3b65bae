#pragma once
// Workbooks built in code for the .xlsx tests, and a cell sink that keeps every value with
// its type as delivered.
#include <zip.h>

#include <map>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include <gtest/gtest.h>

#include "formats/workbook/ExcelXLSXFile.h"
#include "plugin/SpreadSheetData.h"
#include "tests/outside/TestFiles.h"

namespace kelto::test::xlsx {

inline constexpr const char* kMainNs = "http://schemas.openxmlformats.org/spreadsheetml/2006/main";

using Parts = std::vector<std::pair<std::string, std::string>>;

// A zip of `parts`, deflated unless `store`.
inline void WriteZip(const std::string& path, const Parts& parts, bool store = false) {
    int error = 0;
    zip_t* z = zip_open(path.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &error);
    ASSERT_NE(z, nullptr);
    for (const auto& [name, text] : parts) {
        zip_source_t* s = zip_source_buffer(z, text.data(), text.size(), 0);
        zip_int64_t index = zip_file_add(z, name.c_str(), s, ZIP_FL_OVERWRITE);
        ASSERT_GE(index, 0);
        zip_set_file_compression(z, static_cast<zip_uint64_t>(index), store ? ZIP_CM_STORE : ZIP_CM_DEFLATE, 0);
    }
    ASSERT_EQ(zip_close(z), 0);
}

inline std::string SheetXml(const std::string& rows, const std::string& dimension = "") {
    std::string xml = std::string("<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n<worksheet xmlns=\"") +
                      kMainNs + "\">";
    if (!dimension.empty()) xml += "<dimension ref=\"" + dimension + "\"/>";
    return xml + "<sheetData>" + rows + "</sheetData></worksheet>";
}

struct Book {
    std::vector<std::pair<std::string, std::string>> sheets;  // name, sheet part XML
    std::string sharedStrings;                                // <si> items; none when empty
    std::string numFmts, cellXfs;                             // inner XML of the style lists
    bool date1904 = false;
    Parts extra;                                              // more parts, or replacements
};

inline Parts PartsOf(const Book& book) {
    const std::string rel = "http://schemas.openxmlformats.org/officeDocument/2006/relationships";
    std::string sheets, rels;
    for (std::size_t i = 0; i < book.sheets.size(); ++i) {
        const std::string n = std::to_string(i + 1);
        sheets += "<sheet name=\"" + book.sheets[i].first + "\" sheetId=\"" + n + "\" r:id=\"rId" + n + "\"/>";
        rels += "<Relationship Id=\"rId" + n + "\" Type=\"" + rel + "/worksheet\" Target=\"worksheets/sheet" + n +
                ".xml\"/>";
    }
    rels += "<Relationship Id=\"rS\" Type=\"" + rel + "/styles\" Target=\"styles.xml\"/>";
    if (!book.sharedStrings.empty())
        rels += "<Relationship Id=\"rT\" Type=\"" + rel + "/sharedStrings\" Target=\"sharedStrings.xml\"/>";
    Parts parts = {
        {"_rels/.rels",
         "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\"><Relationship "
         "Id=\"rId1\" Type=\"" + rel + "/officeDocument\" Target=\"xl/workbook.xml\"/></Relationships>"},
        {"xl/workbook.xml", std::string("<workbook xmlns=\"") + kMainNs + "\" xmlns:r=\"" + rel + "\"><workbookPr" +
                                (book.date1904 ? " date1904=\"1\"" : "") + "/><sheets>" + sheets +
                                "</sheets></workbook>"},
        {"xl/_rels/workbook.xml.rels",
         "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">" + rels +
             "</Relationships>"},
        {"xl/styles.xml", std::string("<styleSheet xmlns=\"") + kMainNs + "\"><numFmts>" + book.numFmts +
                              "</numFmts><cellXfs>" + book.cellXfs + "</cellXfs></styleSheet>"},
    };
    if (!book.sharedStrings.empty())
        parts.push_back({"xl/sharedStrings.xml", std::string("<sst xmlns=\"") + kMainNs + "\">" + book.sharedStrings + "</sst>"});
    for (std::size_t i = 0; i < book.sheets.size(); ++i)
        parts.push_back({"xl/worksheets/sheet" + std::to_string(i + 1) + ".xml", book.sheets[i].second});
    for (const auto& part : book.extra) {
        bool replaced = false;
        for (auto& p : parts)
            if (p.first == part.first) p.second = part.second, replaced = true;
        if (!replaced) parts.push_back(part);
    }
    return parts;
}

// A delivered value: a number or a text.
using Value = std::variant<double, std::string>;

inline std::string Show(const Value& v) {
    if (const double* d = std::get_if<double>(&v)) return "n:" + std::to_string(*d);
    return "s:" + std::get<std::string>(v);
}

// Keeps every cell by (column, row) and every size call.
class Recorder : public ReadSpreadSheetData {
public:
    std::map<std::pair<int, int>, Value> cells;
    std::vector<std::pair<int, int>> sizes;
    int columns = 0, rows = 0;
    int outside = 0;  // cells delivered outside the announced size

    void Set(int col, int row, double value) override { Put(col, row, value); }
    void Set(int col, int row, float value) override { Put(col, row, static_cast<double>(value)); }
    void Set(int col, int row, const char* text) override { Put(col, row, std::string(text)); }
    void SetDataSize(int cols, int r) override {
        sizes.emplace_back(cols, r);
        columns = cols;
        rows = r;
    }
    int GetNumberOfColumns() const override { return columns; }
    int GetNumberOfRows() const override { return rows; }

    // The non-empty cells as "B3=s:text" lines, in row order.
    std::string Dump() const {
        std::map<std::pair<int, int>, std::string> byRow;
        for (const auto& [at, v] : cells) {
            if (const auto* s = std::get_if<std::string>(&v); s && s->empty()) continue;
            byRow[{at.second, at.first}] = kelto::workbook::xlsx::CellName(at.first, at.second) + "=" + Show(v);
        }
        std::string out;
        for (const auto& [at, line] : byRow) out += (out.empty() ? "" : " ") + line;
        return out;
    }

private:
    void Put(int col, int row, Value v) {
        if (col < 1 || row < 1 || col > columns || row > rows) ++outside;
        cells[{col, row}] = std::move(v);
    }
};

struct ReadResult {
    int open = -1, read = -1;
    std::string message;
    Recorder table;
};

// Opens `path` with `options` (null for the defaults), reads it with `reader`.
inline ReadResult ReadXlsx(const std::string& path, const ExcelFileOptions* options = nullptr,
                           kelto::workbook::xlsx::SheetReader reader = kelto::workbook::xlsx::SheetReader::Auto) {
    ReadResult r;
    ExcelXLSXFile file;
    file.SetSheetReader(reader);
    QmImportOpenOptions record{0, nullptr};
    if (options) options->WriteRecord(record);
    r.open = file.Open(true, path.c_str(), options ? &record : nullptr);
    delete[] record.data;
    if (r.open == 0) r.read = file.Read(&r.table);
    char message[1024];
    file.GetErrorMessage(message, sizeof message);
    r.message = message;
    return r;
}

}  // namespace kelto::test::xlsx

#pragma once
// Reading and writing through the real entry points, options records, and a target table
// that records every call a reader makes, for the text formats' tests.
#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "data/SpreadsheetData.h"
#include "formats/text/CsvFile.h"
#include "formats/text/TextFile.h"
#include "outside/TestFiles.h"
#include "outside/utl/BinaryIO.h"
#include "outside/utl/ConfigurationSection.h"
#include "plugin/HostCallbacks.h"
#include "plugin/QmImport.h"

namespace kelto::test {

inline int FormatIndex(const std::string& name) {
    for (int i = 1; i <= QmImportSizeFileFormatsSupported(); ++i)
        if (name == QmImportGetFileFormatInfo(i)->name) return i;
    ADD_FAILURE() << "format not registered: " << name;
    return 0;
}

// One file read the way a host does: open, size, size the table, read.
struct EntryRead {
    bool opened = false, sized = false, read = false;
    int rows = -1, cols = -1;  // what the size query said
    std::string error, warning;
    FloatStringSpreadsheetData table;

    bool Ok() const { return opened && sized && read; }
    int Rows() const { return table.GetNumberOfRows(); }
    int Cols() const { return table.GetNumberOfColumns(); }
    std::string Size() const { return std::to_string(Cols()) + "x" + std::to_string(Rows()); }
    std::string Text(int col, int row) const { return table.GetStringValue(col, row); }
    float Number(int col, int row) const { return table.GetFloatData(col, row); }
    bool IsMissing(int col, int row) const { return table.IsMisVal(col, row); }
};

inline std::unique_ptr<EntryRead> ReadThroughEntryPoints(const std::string& format, const std::string& path,
                                                         QmImportOpenOptions* options = nullptr) {
    auto r = std::make_unique<EntryRead>();
    const int index = FormatIndex(format);
    SpreadsheetFile* handle = nullptr;
    r->opened = QmImportOpen(index, path.c_str(), true, &handle, options);
    if (r->opened) r->sized = QmImportEstablishSize(index, handle, &r->rows, &r->cols);
    if (r->sized) {
        r->table.SetDataSize(r->cols, r->rows);
        HostReadCallbacks callbacks(r->table);
        r->read = QmImportRead(index, handle, callbacks.Record());
        if (const char* w = QmImportGetWarning(index, handle)) r->warning = w;
    }
    if (handle) {
        r->error = QmImportGetLastError(index, handle);
        QmImportClose(index, handle);
    }
    return r;
}

inline bool WriteThroughEntryPoints(const std::string& format, const std::string& path, const SpreadsheetData& source,
                                    std::string* error) {
    const int index = FormatIndex(format);
    SpreadsheetFile* handle = nullptr;
    bool ok = QmImportOpen(index, path.c_str(), false, &handle, nullptr);
    if (ok) {
        HostWriteCallbacks callbacks(source);
        ok = QmImportWrite(index, handle, callbacks.Record());
    }
    if (handle) {
        if (!ok) *error = QmImportGetLastError(index, handle);
        QmImportClose(index, handle);
    }
    return ok;
}

// A table of texts, row by row ("" is a missing cell).
inline std::unique_ptr<FloatStringSpreadsheetData> TableOf(const std::vector<std::vector<std::string>>& rows) {
    auto t = std::make_unique<FloatStringSpreadsheetData>();
    t->SetDataSize(static_cast<int>(rows[0].size()), static_cast<int>(rows.size()));
    for (std::size_t r = 0; r < rows.size(); ++r)
        for (std::size_t c = 0; c < rows[r].size(); ++c) t->Set(int(c) + 1, int(r) + 1, rows[r][c].c_str());
    return t;
}

inline std::string ErrorOf(SpreadsheetFile& f) {
    char buffer[300];
    f.GetErrorMessage(buffer, sizeof buffer);
    return buffer;
}

// A cell sink that keeps every text it is given and every size it is told.
class RecordingTable : public ReadSpreadSheetData {
public:
    using ReadSpreadSheetData::Set;
    void Set(int col, int row, const char* text) override { texts[{col, row}] = text; }
    void Set(int col, int row, float value) override { texts[{col, row}] = "#" + std::to_string(value); }
    void SetDataSize(int c, int r) override {
        cols = c, rows = r;
        sizes.emplace_back(c, r);
    }
    int GetNumberOfColumns() const override { return cols; }
    int GetNumberOfRows() const override { return rows; }
    int GetNextRow(int row) const override { return nextRow ? nextRow(row) : row + 1; }

    // The texts of one row, up to the last one set.
    std::vector<std::string> Row(int row) const {
        std::vector<std::string> out;
        for (const auto& [key, text] : texts) {
            if (key.second != row) continue;
            out.resize(std::max(out.size(), static_cast<std::size_t>(key.first)));
            out[static_cast<std::size_t>(key.first) - 1] = text;
        }
        return out;
    }

    std::map<std::pair<int, int>, std::string> texts;
    std::vector<std::pair<int, int>> sizes;
    std::function<int(int)> nextRow;
    int cols = 0, rows = 0;
};

// Options bytes kept here; `record` points at them (or is empty).
struct OptionsBytes {
    explicit OptionsBytes(std::string b = std::string()) : bytes(std::move(b)) {
        record = {static_cast<int>(bytes.size()), bytes.empty() ? nullptr : bytes.data()};
    }
    OptionsBytes(const OptionsBytes&) = delete;
    OptionsBytes& operator=(const OptionsBytes&) = delete;
    std::string bytes;
    QmImportOpenOptions record{0, nullptr};
};

// The bytes of a record made by the library for the caller, which frees it.
inline std::string TakeBytes(QmImportOpenOptions* record) {
    if (!record) return std::string();
    std::string bytes(record->data, static_cast<std::size_t>(record->size));
    delete[] record->data;
    delete record;
    return bytes;
}

inline std::string WrittenBytes(const TextFileOptions& o) {
    return TakeBytes([&] {
        auto* record = new QmImportOpenOptions{0, nullptr};
        o.Write(record);
        return record;
    }());
}

// The keys of an options document's "Settings" section, with their stored values.
inline std::map<std::string, std::string> SettingsKeys(const std::string& bytes) {
    std::map<std::string, std::string> keys;
    std::istringstream in(bytes);
    std::string xml;
    if (!ReadBinaryString(in, xml)) return keys;
    auto doc = TinyXML2Section::CreateXMLSectionFromString(xml.c_str());
    auto settings = doc ? doc->GetSection("Settings") : nullptr;
    for (const std::string& k : settings ? settings->GetKeyNames() : std::vector<std::string>())
        settings->ReadKey(k, keys[k]);
    return keys;
}

// A CSV parser's records as "[a|b][c]".
inline std::string RecordsOf(const CsvParser& p) {
    std::string s;
    for (std::size_t i = 0; i < p.GetNumRecords(); ++i) {
        s += "[";
        auto fields = p.GetRecord(i);
        for (std::size_t f = 0; f < fields.size(); ++f) s += (f ? "|" : "") + fields[f];
        s += "]";
    }
    return s;
}

// UTF-8 `text` fed one code point at a time, until the parser is done.
inline void FeedCodePoints(CsvParser& p, const std::string& text) {
    for (std::size_t i = 0; i < text.size() && !p.Done();) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        std::size_t len = c < 0x80 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
        std::uint32_t cp = len == 1 ? c : c & (0x3F >> (len - 1));
        for (std::size_t k = 1; k < len; ++k) cp = (cp << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3F);
        p.Feed(cp);
        i += len;
    }
}

inline bool HaveProgram(const std::string& name) {
    return std::system(("command -v " + name + " >/dev/null 2>&1").c_str()) == 0;
}

}  // namespace kelto::test

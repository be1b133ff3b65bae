#pragma once
// Reading and writing through the real entry points, and a target table that records every
// call a reader makes, for the text formats' tests.
#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "data/SpreadsheetData.h"
#include "outside/TestFiles.h"
#include "plugin/HostCallbacks.h"
#include "plugin/QmImport.h"

namespace kelto::test {

inline int FormatIndex(const std::string& name) {
    for (int i = 1; i <= QmImportSizeFileFormatsSupported(); ++i)
        if (name == QmImportGetFileFormatInfo(i)->name) return i;
    ADD_FAILURE() << "format not registered: " << name;
    return 0;
}

// The result of reading one file the way a host does: open, size, size the table, read.
struct EntryRead {
    bool opened = false, sized = false, read = false;
    int rows = -1, cols = -1;
    std::string error, warning;
    FloatStringSpreadsheetData table;

    bool Ok() const { return opened && sized && read; }
    int Rows() const { return table.GetNumberOfRows(); }
    int Cols() const { return table.GetNumberOfColumns(); }
    // A text cell's text, or a number in the General style, "" for missing.
    std::string Text(int col, int row) const { return table.GetStringValue(col, row); }
    float Number(int col, int row) const { return table.GetFloatData(col, row); }
    bool IsNumber(int col, int row) const { return table.IsFloat(col, row); }
    bool IsMissing(int col, int row) const { return table.IsMisVal(col, row); }
};

inline std::unique_ptr<EntryRead> ReadThroughEntryPoints(const std::string& format, const std::string& path,
                                                         QmImportOpenOptions* options = nullptr) {
    auto result = std::make_unique<EntryRead>();
    const int index = FormatIndex(format);
    SpreadsheetFile* handle = nullptr;
    result->opened = QmImportOpen(index, path.c_str(), true, &handle, options);
    if (result->opened) result->sized = QmImportEstablishSize(index, handle, &result->rows, &result->cols);
    if (result->sized) {
        result->table.SetDataSize(result->cols, result->rows);
        HostReadCallbacks callbacks(result->table);
        result->read = QmImportRead(index, handle, callbacks.Record());
        callbacks.RethrowIfFailed();
        if (const char* w = QmImportGetWarning(index, handle)) result->warning = w;
    }
    if (handle) {
        result->error = QmImportGetLastError(index, handle);
        QmImportClose(index, handle);
    }
    return result;
}

// Writes `source` through the entry points; the error text on failure.
inline bool WriteThroughEntryPoints(const std::string& format, const std::string& path, const SpreadsheetData& source,
                                    std::string* error = nullptr) {
    const int index = FormatIndex(format);
    SpreadsheetFile* handle = nullptr;
    bool ok = QmImportOpen(index, path.c_str(), false, &handle, nullptr);
    if (ok) {
        HostWriteCallbacks callbacks(source);
        ok = QmImportWrite(index, handle, callbacks.Record());
    }
    if (handle) {
        if (!ok && error) *error = QmImportGetLastError(index, handle);
        QmImportClose(index, handle);
    }
    return ok;
}

// A table of texts, row by row ("" is a missing cell), for writers.
inline std::unique_ptr<FloatStringSpreadsheetData> TableOf(const std::vector<std::vector<std::string>>& rows) {
    auto t = std::make_unique<FloatStringSpreadsheetData>();
    std::size_t width = 0;
    for (const auto& r : rows) width = std::max(width, r.size());
    t->SetDataSize(static_cast<int>(width), static_cast<int>(rows.size()));
    for (std::size_t r = 0; r < rows.size(); ++r)
        for (std::size_t c = 0; c < rows[r].size(); ++c)
            t->Set(static_cast<int>(c) + 1, static_cast<int>(r) + 1, rows[r][c].c_str());
    return t;
}

// A cell sink that keeps every text and number it is given, and every size it is told.
class RecordingTable : public ReadSpreadSheetData {
public:
    using ReadSpreadSheetData::Set;
    void Set(int col, int row, const char* text) override { texts[{col, row}] = text; }
    void Set(int col, int row, float value) override { numbers[{col, row}] = value; }
    void SetDataSize(int c, int r) override {
        cols = c, rows = r;
        sizes.emplace_back(c, r);
    }
    int GetNumberOfColumns() const override { return cols; }
    int GetNumberOfRows() const override { return rows; }
    int GetNextRow(int row) const override {
        ++nextRowCalls;
        return nextRow ? nextRow(row) : row + 1;
    }

    // The texts of one row, from column 1 to the last one set.
    std::vector<std::string> Row(int row) const {
        std::vector<std::string> out;
        for (const auto& [key, text] : texts) {
            if (key.second != row) continue;
            if (out.size() < static_cast<std::size_t>(key.first)) out.resize(static_cast<std::size_t>(key.first));
            out[static_cast<std::size_t>(key.first) - 1] = text;
        }
        return out;
    }

    std::map<std::pair<int, int>, std::string> texts;
    std::map<std::pair<int, int>, float> numbers;
    std::vector<std::pair<int, int>> sizes;
    std::function<int(int)> nextRow;
    mutable int nextRowCalls = 0;
    int cols = 0, rows = 0;
};

// The bytes of an options record, kept here; `record` points at them (or is empty).
struct OptionsBytes {
    explicit OptionsBytes(std::string b = std::string()) : bytes(std::move(b)) {
        record.size = static_cast<int>(bytes.size());
        record.data = bytes.empty() ? nullptr : bytes.data();
    }
    OptionsBytes(const OptionsBytes&) = delete;
    OptionsBytes& operator=(const OptionsBytes&) = delete;
    std::string bytes;
    QmImportOpenOptions record{0, nullptr};
};

// The bytes of a record some code filled (the caller's to free), freed here.
inline std::string TakeBytes(QmImportOpenOptions* record) {
    if (!record) return std::string();
    std::string bytes(record->data ? record->data : "", record->data ? static_cast<std::size_t>(record->size) : 0);
    delete[] record->data;
    delete record;
    return bytes;
}

// Whether an outside program can be run.
inline bool HaveProgram(const std::string& name) {
    return std::system(("command -v " + name + " >/dev/null 2>&1").c_str()) == 0;
}

}  // namespace kelto::test

#pragma once
// Tables that are both a cell sink and a cell source: one object can be filled by a reader
// and then handed to a writer.
#include <cstdint>
#include <memory>
#include <string>

#include "data/FloatStringMatrix.h"
#include "plugin/Export.h"
#include "plugin/SpreadSheetData.h"

class KELTO_API SpreadsheetData : public ReadSpreadSheetData, public WriteSpreadSheetData {
public:
    SpreadsheetData() = default;
    ~SpreadsheetData() override;

    using ReadSpreadSheetData::Set;
    // Attaches a pointer of the caller's choice (a host's context for the table); this
    // library never reads it.
    virtual void SetHostContext(void* context) { hostContext_ = context; }
    void* GetHostContext() const { return hostContext_; }

private:
    void* hostContext_ = nullptr;
};

// The in-memory table: a SpreadsheetData backed by a FloatStringMatrix, created by the first
// SetDataSize. Text set into it is parsed (numbers become numbers).
class KELTO_API FloatStringSpreadsheetData : public SpreadsheetData {
public:
    FloatStringSpreadsheetData();
    ~FloatStringSpreadsheetData() override;
    FloatStringSpreadsheetData(const FloatStringSpreadsheetData&) = delete;
    FloatStringSpreadsheetData& operator=(const FloatStringSpreadsheetData&) = delete;

    // Only once the matrix exists (after the first SetDataSize).
    FloatStringMatrix& GetFloatStringMatrix() { return *matrix_; }
    const FloatStringMatrix& GetFloatStringMatrix() const { return *matrix_; }

    using SpreadsheetData::Set;
    // Cells outside the current size are ignored (as are all cells before the first
    // SetDataSize): a reader's stray coordinate must not write outside the rows.
    void Set(int col, int row, float value) override {
        if (Inside(col, row)) matrix_->Set(col, row, value);
    }
    void Set(int col, int row, const char* text) override {
        if (!Inside(col, row)) return;
        kelto::data::TextArena::Use use(&texts_);
        matrix_->Set(col, row, text);
    }
    // Exactly cols x rows afterwards: columns are added or dropped at the right, rows at the
    // bottom, keeping the cells that remain. Negative counts are taken as 0. A size beyond
    // the bound of plugin/TableBound.h throws kelto::TableTooLarge, changing nothing.
    void SetDataSize(int cols, int rows) override;

    int GetNumberOfColumns() const override { return matrix_ ? matrix_->GetNumColumns() : 0; }
    int GetNumberOfRows() const override { return matrix_ ? matrix_->GetNumRows() : 0; }

    float GetFloatData(int col, int row) const override;
    // Texts and 64-bit integers as they are; a float as the shortest text that reads back as
    // the same float (no digit grouping, the C library's decimal point); the missing float as "".
    std::string GetStringValue(int col, int row) const override;
    // Always the first cell: this table holds no separate name rows or columns.
    bool GetFirstDataCell(int* col, int* row) const override;
    // A number that is not the missing value (texts kept for their leading zeros count).
    bool IsFloat(int col, int row) const override;
    bool IsMisVal(int col, int row) const override;
    bool IsString(int col, int row) const override;
    bool IsInt64(int col, int row) const override;
    std::int64_t GetInt64(int col, int row) const override;

private:
    bool Inside(int col, int row) const {
        // One unsigned comparison per coordinate covers both 0 and the far side.
        return matrix_ && static_cast<unsigned>(col - 1) < static_cast<unsigned>(matrix_->GetNumColumns()) &&
               static_cast<unsigned>(row - 1) < static_cast<unsigned>(matrix_->GetNumRows());
    }

    // Where the texts of a large table are carved. Each carved text keeps its chunk alive, so
    // the matrix's cells may outlive the arena.
    kelto::data::TextArena texts_;
    std::unique_ptr<FloatStringMatrix> matrix_;
};

#pragma once
// Several tables presented as one: stacked (the first part's rows first) or side by side (the
// first part's columns first). Each cell operation goes to the part that holds the cell, in
// that part's own coordinates. The combination owns its parts.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "data/SpreadsheetData.h"
#include "plugin/Export.h"

class KELTO_API CombinedSpreadsheetData : public SpreadsheetData {
public:
    CombinedSpreadsheetData();
    ~CombinedSpreadsheetData() override;
    CombinedSpreadsheetData(const CombinedSpreadsheetData&) = delete;
    CombinedSpreadsheetData& operator=(const CombinedSpreadsheetData&) = delete;

    // Takes ownership; a null part is ignored.
    void AddSpreadsheetData(std::unique_ptr<SpreadsheetData> part);
    // The i-th part (from 0), or null beyond the last; still owned by the combination.
    const SpreadsheetData* GetData(std::size_t i) const;
    // Changes the meaning of every coordinate at once.
    void SetSideBySide(bool sideBySide) { sideBySide_ = sideBySide; }

    using SpreadsheetData::Set;
    // A cell beyond the end of its part enlarges that part (never shrinks it). Coordinates
    // beyond all parts throw std::out_of_range.
    void Set(int col, int row, float value) override;
    void Set(int col, int row, const char* text) override;
    // Always throws std::runtime_error: each part is sized by whoever made it.
    void SetDataSize(int cols, int rows) override;
    int GetNextRow(int row) const override;

    int GetNumberOfColumns() const override;
    int GetNumberOfRows() const override;

    // Cells a part lies short of read as missing (-99, "", false, 0); coordinates beyond all
    // parts throw std::out_of_range.
    float GetFloatData(int col, int row) const override;
    std::string GetStringValue(int col, int row) const override;
    // The first part's answer; without parts (1, 1) and false.
    bool GetFirstDataCell(int* col, int* row) const override;
    bool IsFloat(int col, int row) const override;
    bool IsMisVal(int col, int row) const override;
    bool IsString(int col, int row) const override;
    bool IsInt64(int col, int row) const override;
    std::int64_t GetInt64(int col, int row) const override;

private:
    // The part holding (col, row), whose coordinates become that part's own.
    SpreadsheetData* GetData(int& col, int& row) const;
    static bool Inside(const SpreadsheetData& part, int col, int row);

    std::vector<std::unique_ptr<SpreadsheetData>> parts_;
    bool sideBySide_ = false;
};

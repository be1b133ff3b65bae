#pragma once
// The plug-in side of the callback records: a reader or writer sees the host's table as an
// ordinary ReadSpreadSheetData / WriteSpreadSheetData. Both adapters live for one call.
#include "plugin/CallbackRecords.h"
#include "plugin/SpreadSheetData.h"

class KELTO_API DLLReadSpreadSheetData : public ReadSpreadSheetData {
public:
    explicit DLLReadSpreadSheetData(ReadCallbackRecord* record) : record_(record) {}

    using ReadSpreadSheetData::Set;
    void Set(int col, int row, float value) override;
    void Set(int col, int row, const char* text) override;
    // Whole numbers strictly between 999990 and 2^63 travel as exact decimal text, since a
    // float would round them; everything else as a float.
    void Set(int col, int row, double value) override;
    // -99 (the missing value) travels as the empty text, every other value as decimal text.
    void Set(int col, int row, std::int64_t value) override;
    int GetNextRow(int row) const override;
    void SetDataSize(int cols, int rows) override;
    int GetNumberOfColumns() const override;
    int GetNumberOfRows() const override;

private:
    ReadCallbackRecord* record_;
};

class KELTO_API DLLWriteSpreadSheetData : public WriteSpreadSheetData {
public:
    explicit DLLWriteSpreadSheetData(WriteCallbackRecord* record) : record_(record) {}

    float GetFloatData(int col, int row) const override;
    std::string GetStringValue(int col, int row) const override;
    bool GetFirstDataCell(int* col, int* row) const override;
    bool IsFloat(int col, int row) const override;
    bool IsMisVal(int col, int row) const override;
    bool IsString(int col, int row) const override;
    // 64-bit integers do not cross the boundary for writing.
    bool IsInt64(int col, int row) const override;
    std::int64_t GetInt64(int col, int row) const override;
    int GetNumberOfColumns() const override;
    int GetNumberOfRows() const override;

private:
    WriteCallbackRecord* record_;
};

// True when `v` is whole and strictly between 999990 and 2^63: such a double is kept as a
// 64-bit integer rather than rounded to a float. Shared by the adapter and the cell value.
inline bool IsLargeWholeNumber(double v) {
    if (!(v > 999990.0 && v < 9223372036854775808.0)) return false;
    return static_cast<double>(static_cast<std::int64_t>(v)) == v;
}

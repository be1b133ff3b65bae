#pragma once
// Cell sink and cell source. A reader pushes cells into a ReadSpreadSheetData; a writer pulls
// them from a WriteSpreadSheetData. Cells are addressed (column, row), both counted from 1.
#include <cstdint>
#include <string>

#include "plugin/Export.h"

class KELTO_API SpreadSheetDataBase {
public:
    SpreadSheetDataBase() = default;
    SpreadSheetDataBase(const SpreadSheetDataBase&) = default;
    SpreadSheetDataBase& operator=(const SpreadSheetDataBase&) = default;
    virtual ~SpreadSheetDataBase();
    virtual int GetNumberOfColumns() const = 0;
    virtual int GetNumberOfRows() const = 0;

    // Cleared by the host before reading a format whose record has tableFlag 0; nothing in
    // this library reads it.
    bool tableFlag = true;
};

class KELTO_API ReadSpreadSheetData : public virtual SpreadSheetDataBase {
public:
    // The int, 64-bit and double forms pass the value on as a float unless overridden.
    virtual void Set(int col, int row, int value);
    virtual void Set(int col, int row, std::int64_t value);
    virtual void Set(int col, int row, double value);
    // The callee copies the text.
    virtual void Set(int col, int row, const char* text) = 0;
    virtual void Set(int col, int row, float value) = 0;
    // The row that follows `row` in the target's row order (a host may skip rows).
    virtual int GetNextRow(int row) const;
    virtual void SetDataSize(int cols, int rows) = 0;
};

class KELTO_API WriteSpreadSheetData : public virtual SpreadSheetDataBase {
public:
    virtual float GetFloatData(int col, int row) const = 0;
    virtual std::string GetStringValue(int col, int row) const = 0;
    // The first cell that holds data rather than names.
    virtual bool GetFirstDataCell(int* col, int* row) const = 0;
    virtual bool IsFloat(int col, int row) const = 0;
    virtual bool IsMisVal(int col, int row) const = 0;
    virtual bool IsString(int col, int row) const = 0;
    virtual bool IsInt64(int col, int row) const = 0;
    virtual std::int64_t GetInt64(int col, int row) const = 0;
};

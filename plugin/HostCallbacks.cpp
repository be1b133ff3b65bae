#include "plugin/HostCallbacks.h"

#include <string>

#include "plugin/TableBound.h"

HostReadCallbacks::HostReadCallbacks(ReadSpreadSheetData& target) {
    record_.SetFloat = &SetFloat;
    record_.SetString = &SetString;
    record_.SetDataSize = &SetDataSize;
    record_.numRows = target.GetNumberOfRows();
    record_.numCols = target.GetNumberOfColumns();
    // The record holds the most-derived table pointer as ReadSpreadSheetData*, so it can be
    // turned back without knowing the table's class.
    record_.context = static_cast<void*>(&target);
    record_.GetNextRow = &GetNextRow;
}

HostReadCallbacks& HostReadCallbacks::From(ReadCallbackRecord* r) {
    return *reinterpret_cast<HostReadCallbacks*>(r);
}

void HostReadCallbacks::RethrowIfFailed() const {
    if (error_) std::rethrow_exception(error_);
}

void HostReadCallbacks::SetFloat(ReadCallbackRecord* r, int row, int col, float value) {
    HostReadCallbacks& self = From(r);
    if (self.error_) return;
    try {
        self.Target().Set(col, row, value);
    } catch (...) {
        self.error_ = std::current_exception();
    }
}

void HostReadCallbacks::SetString(ReadCallbackRecord* r, int row, int col, const char* text) {
    HostReadCallbacks& self = From(r);
    if (self.error_) return;
    try {
        self.Target().Set(col, row, text ? text : "");
    } catch (...) {
        self.error_ = std::current_exception();
    }
}

void HostReadCallbacks::SetDataSize(ReadCallbackRecord* r, int rows, int cols) {
    HostReadCallbacks& self = From(r);
    if (self.error_) return;
    try {
        ReadSpreadSheetData& target = self.Target();
        // Whatever the host's table is, a plug-in never makes it grow beyond the bound.
        kelto::CheckTableSize(rows, cols);
        target.SetDataSize(cols, rows);
        r->numRows = target.GetNumberOfRows();
        r->numCols = target.GetNumberOfColumns();
    } catch (...) {
        self.error_ = std::current_exception();
    }
}

int HostReadCallbacks::GetNextRow(ReadCallbackRecord* r, int row) {
    HostReadCallbacks& self = From(r);
    if (self.error_) return kStopRow;
    try {
        return self.Target().GetNextRow(row);
    } catch (...) {
        self.error_ = std::current_exception();
        return kStopRow;
    }
}

HostWriteCallbacks::HostWriteCallbacks(const WriteSpreadSheetData& source) {
    record_.GetCellType = &GetCellType;
    record_.GetFloat = &GetFloat;
    record_.GetString = &GetString;
    record_.GetFirstDataCell = &GetFirstDataCell;
    record_.numRows = source.GetNumberOfRows();
    record_.numCols = source.GetNumberOfColumns();
    record_.context = const_cast<void*>(static_cast<const void*>(&source));
}

HostWriteCallbacks& HostWriteCallbacks::From(WriteCallbackRecord* r) {
    return *reinterpret_cast<HostWriteCallbacks*>(r);
}

void HostWriteCallbacks::RethrowIfFailed() const {
    if (error_) std::rethrow_exception(error_);
}

unsigned char HostWriteCallbacks::GetCellType(WriteCallbackRecord* r, int row, int col) {
    HostWriteCallbacks& self = From(r);
    if (self.error_) return kCellMissing;
    try {
        const WriteSpreadSheetData& source = self.Source();
        if (source.IsMisVal(col, row)) return kCellMissing;
        return source.IsFloat(col, row) ? kCellNumber : kCellText;
    } catch (...) {
        self.error_ = std::current_exception();
        return kCellMissing;
    }
}

float HostWriteCallbacks::GetFloat(WriteCallbackRecord* r, int row, int col) {
    HostWriteCallbacks& self = From(r);
    if (self.error_) return -99.0f;
    try {
        return self.Source().GetFloatData(col, row);
    } catch (...) {
        self.error_ = std::current_exception();
        return -99.0f;
    }
}

const char* HostWriteCallbacks::GetString(WriteCallbackRecord* r, int row, int col) {
    thread_local std::string text;
    HostWriteCallbacks& self = From(r);
    text.clear();
    if (self.error_) return text.c_str();
    try {
        text = self.Source().GetStringValue(col, row);
    } catch (...) {
        self.error_ = std::current_exception();
        text.clear();
    }
    return text.c_str();
}

bool HostWriteCallbacks::GetFirstDataCell(WriteCallbackRecord* r, int* a, int* b) {
    HostWriteCallbacks& self = From(r);
    if (self.error_) return false;
    try {
        return self.Source().GetFirstDataCell(a, b);
    } catch (...) {
        self.error_ = std::current_exception();
        return false;
    }
}

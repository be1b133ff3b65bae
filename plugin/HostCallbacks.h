#pragma once
// The host's side of the callback records: fills a ReadCallbackRecord over any
// ReadSpreadSheetData, or a WriteCallbackRecord over any WriteSpreadSheetData, so that a
// table can be read into or written from through any plug-in's QmImportRead/QmImportWrite.
//
// An exception thrown by the host's table (a cancelled read, a combined table asked for a
// cell beyond its parts) must not unwind through a plug-in's C entry point. It is caught
// here and kept; later callbacks do nothing and GetNextRow answers a row beyond any table,
// so a reader that follows the host's row order stops early. The host calls
// RethrowIfFailed() once the entry point has returned.
#include <exception>

#include "plugin/CallbackRecords.h"
#include "plugin/Export.h"
#include "plugin/SpreadSheetData.h"

class KELTO_API HostReadCallbacks {
public:
    explicit HostReadCallbacks(ReadSpreadSheetData& target);
    HostReadCallbacks(const HostReadCallbacks&) = delete;
    HostReadCallbacks& operator=(const HostReadCallbacks&) = delete;

    ReadCallbackRecord* Record() { return &record_; }
    ReadSpreadSheetData& Target() const { return *static_cast<ReadSpreadSheetData*>(record_.context); }
    void RethrowIfFailed() const;

    // The row GetNextRow answers once the target has failed: beyond any table.
    static constexpr int kStopRow = 0x3fffffff;

private:
    static HostReadCallbacks& From(ReadCallbackRecord* r);
    static void SetFloat(ReadCallbackRecord* r, int row, int col, float value);
    static void SetString(ReadCallbackRecord* r, int row, int col, const char* text);
    static void SetDataSize(ReadCallbackRecord* r, int rows, int cols);
    static int GetNextRow(ReadCallbackRecord* r, int row);

    ReadCallbackRecord record_;  // first member: the record's address is the object's
    std::exception_ptr error_;
};

class KELTO_API HostWriteCallbacks {
public:
    explicit HostWriteCallbacks(const WriteSpreadSheetData& source);
    HostWriteCallbacks(const HostWriteCallbacks&) = delete;
    HostWriteCallbacks& operator=(const HostWriteCallbacks&) = delete;

    WriteCallbackRecord* Record() { return &record_; }
    const WriteSpreadSheetData& Source() const {
        return *static_cast<const WriteSpreadSheetData*>(record_.context);
    }
    void RethrowIfFailed() const;

private:
    static HostWriteCallbacks& From(WriteCallbackRecord* r);
    static unsigned char GetCellType(WriteCallbackRecord* r, int row, int col);
    static float GetFloat(WriteCallbackRecord* r, int row, int col);
    // The text lives in one string per thread, valid until that thread's next call.
    static const char* GetString(WriteCallbackRecord* r, int row, int col);
    static bool GetFirstDataCell(WriteCallbackRecord* r, int* a, int* b);

    WriteCallbackRecord record_;  // first member
    std::exception_ptr error_;
};

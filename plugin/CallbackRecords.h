#pragma once
// Callback records built by a host for one read or one write. They pass the row before the
// column (the class interfaces take the column first); the adapters swap the two.
#include <cstddef>

struct ReadCallbackRecord {
    void (*SetFloat)(ReadCallbackRecord*, int row, int col, float value);
    void (*SetString)(ReadCallbackRecord*, int row, int col, const char* text);
    // Announce or change the table size; the callee refreshes numRows/numCols afterwards.
    void (*SetDataSize)(ReadCallbackRecord*, int rows, int cols);
    int numRows;
    int numCols;
    void* context;  // the host's target table; never touched by a plug-in
    int (*GetNextRow)(ReadCallbackRecord*, int row);
};
static_assert(sizeof(ReadCallbackRecord) == 48);
static_assert(offsetof(ReadCallbackRecord, SetString) == 8);
static_assert(offsetof(ReadCallbackRecord, SetDataSize) == 16);
static_assert(offsetof(ReadCallbackRecord, numRows) == 24);
static_assert(offsetof(ReadCallbackRecord, numCols) == 28);
static_assert(offsetof(ReadCallbackRecord, context) == 32);
static_assert(offsetof(ReadCallbackRecord, GetNextRow) == 40);

// Cell types answered by WriteCallbackRecord::GetCellType.
enum : unsigned char { kCellNumber = 1, kCellText = 2, kCellMissing = 3 };

struct WriteCallbackRecord {
    unsigned char (*GetCellType)(WriteCallbackRecord*, int row, int col);
    float (*GetFloat)(WriteCallbackRecord*, int row, int col);
    // The text stays valid until the next GetString call.
    const char* (*GetString)(WriteCallbackRecord*, int row, int col);
    bool (*GetFirstDataCell)(WriteCallbackRecord*, int* a, int* b);
    int numRows;
    int numCols;
    void* context;  // the host's source table
};
static_assert(sizeof(WriteCallbackRecord) == 48);
static_assert(offsetof(WriteCallbackRecord, GetFloat) == 8);
static_assert(offsetof(WriteCallbackRecord, GetString) == 16);
static_assert(offsetof(WriteCallbackRecord, GetFirstDataCell) == 24);
static_assert(offsetof(WriteCallbackRecord, numRows) == 32);
static_assert(offsetof(WriteCallbackRecord, numCols) == 36);
static_assert(offsetof(WriteCallbackRecord, context) == 40);

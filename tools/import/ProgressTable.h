#pragma once
// A table that stands in front of the real target during a read and counts the rows a reader
// has delivered, so that a progress bar can compare them with the size the reader announced.
// Every call goes on to the target unchanged.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

#include "data/SpreadsheetData.h"

namespace kelto::cli {

class ProgressTable : public SpreadsheetData {
public:
    explicit ProgressTable(SpreadsheetData& target) : target_(target) {}

    // The highest row a cell was delivered to, and the rows announced by the last
    // SetDataSize. Safe to read from another thread while the read runs.
    int RowsDelivered() const { return delivered_.load(std::memory_order_relaxed); }
    int RowsAnnounced() const { return announced_.load(std::memory_order_relaxed); }

    void Set(int col, int row, int value) override {
        Count(row);
        target_.Set(col, row, value);
    }
    void Set(int col, int row, std::int64_t value) override {
        Count(row);
        target_.Set(col, row, value);
    }
    void Set(int col, int row, double value) override {
        Count(row);
        target_.Set(col, row, value);
    }
    void Set(int col, int row, const char* text) override {
        Count(row);
        target_.Set(col, row, text);
    }
    void Set(int col, int row, float value) override {
        Count(row);
        target_.Set(col, row, value);
    }
    int GetNextRow(int row) const override { return target_.GetNextRow(row); }
    void SetDataSize(int cols, int rows) override {
        target_.SetDataSize(cols, rows);
        announced_.store(rows, std::memory_order_relaxed);
    }

    int GetNumberOfColumns() const override { return target_.GetNumberOfColumns(); }
    int GetNumberOfRows() const override { return target_.GetNumberOfRows(); }
    float GetFloatData(int col, int row) const override { return target_.GetFloatData(col, row); }
    std::string GetStringValue(int col, int row) const override { return target_.GetStringValue(col, row); }
    bool GetFirstDataCell(int* col, int* row) const override { return target_.GetFirstDataCell(col, row); }
    bool IsFloat(int col, int row) const override { return target_.IsFloat(col, row); }
    bool IsMisVal(int col, int row) const override { return target_.IsMisVal(col, row); }
    bool IsString(int col, int row) const override { return target_.IsString(col, row); }
    bool IsInt64(int col, int row) const override { return target_.IsInt64(col, row); }
    std::int64_t GetInt64(int col, int row) const override { return target_.GetInt64(col, row); }

private:
    void Count(int row) {
        // Readers deliver row by row; only a new highest row touches the shared counter.
        if (row > highest_) {
            highest_ = row;
            delivered_.store(row, std::memory_order_relaxed);
        }
    }

    SpreadsheetData& target_;
    int highest_ = 0;
    std::atomic<int> delivered_{0};
    std::atomic<int> announced_{0};
};

// Draws a bar for a table on stderr from a thread of its own, first after `delay` (a quick
// read shows nothing), then a few times a second until stopped.
class ProgressBar {
public:
    ProgressBar(const ProgressTable& table, std::string label, std::chrono::milliseconds delay);
    ~ProgressBar();
    ProgressBar(const ProgressBar&) = delete;
    ProgressBar& operator=(const ProgressBar&) = delete;

    // Ends the thread and wipes the bar. Called more than once, it does nothing more.
    void Stop();

    // The bar's text for `delivered` of `announced` rows in `width` columns.
    static std::string Render(const std::string& label, int delivered, int announced, int width);

private:
    void Run(std::chrono::milliseconds delay);

    const ProgressTable& table_;
    std::string label_;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool stopping_ = false;
    std::thread thread_;
};

}  // namespace kelto::cli

#pragma once
// Shared by the spectral readers' harnesses: the input goes to real files in a folder of
// this process (the readers read files by path), and the cells go to a sink that checks
// every coordinate against the size the reader announced and asks for rows in an order
// picked from the input, so that the row-skipping paths run too.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "plugin/SpreadSheetData.h"

namespace kelto::fuzz {

// Created on first use and removed with its files when the process exits.
inline const std::string& ScratchDir() {
    static const std::string dir = [] {
        std::string pattern = (access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp") + std::string("/kelto-fuzz-XXXXXX");
        if (!mkdtemp(pattern.data())) std::abort();
        return pattern;
    }();
    static const bool cleanup = [] {
        std::atexit([] {
            std::error_code ec;
            std::filesystem::remove_all(dir, ec);
        });
        return true;
    }();
    (void)cleanup;
    return dir;
}

inline void WriteScratch(const std::string& path, const std::uint8_t* data, std::size_t size) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) std::abort();
    if (size && std::fwrite(data, 1, size, f) != size) std::abort();
    std::fclose(f);
}

class CheckingSink : public ReadSpreadSheetData {
public:
    // `skipPattern` bit k (k = row % 8) set: that row is passed over; `stopAfter` > 0 ends
    // the wanted rows there.
    CheckingSink(std::uint8_t skipPattern, int stopAfter) : skip_(skipPattern), stop_(stopAfter) {}

    using ReadSpreadSheetData::Set;
    void Set(int col, int row, float) override { Check(col, row); }
    void Set(int col, int row, const char* text) override {
        Check(col, row);
        if (!text) __builtin_trap();
        length_ += std::strlen(text);  // the text must be NUL-terminated and readable
    }
    void SetDataSize(int cols, int rows) override { cols_ = cols, rows_ = rows; }
    int GetNumberOfColumns() const override { return cols_; }
    int GetNumberOfRows() const override { return rows_; }
    int GetNextRow(int row) const override {
        int next = row + 1;
        while (next < row + 9 && (skip_ >> (next % 8) & 1)) ++next;
        if (stop_ > 0 && next > stop_) return 0x3fffffff;
        return next;
    }
    std::uint64_t cells = 0;

private:
    void Check(int col, int row) {
        if (col < 1 || col > cols_ || row < 1 || row > rows_) __builtin_trap();
        ++cells;
    }
    int cols_ = 0, rows_ = 0;
    std::uint8_t skip_;
    int stop_;
    std::size_t length_ = 0;
};

}  // namespace kelto::fuzz

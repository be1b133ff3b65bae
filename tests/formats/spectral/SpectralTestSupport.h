#pragma once
// Reading a file into the in-memory table through a format class or through the exported
// entry points with the host's callback record, and a table that skips rows as a host may.
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "data/SpreadsheetData.h"
#include "outside/TestFiles.h"
#include "plugin/HostCallbacks.h"
#include "plugin/QmImport.h"
#include "plugin/SprFileFactory.h"
#include "plugin/SpreadsheetFile.h"
#include "tests/formats/spectral/SpectralFixtures.h"

namespace kelto::test::spectral {

inline std::string Write(const TempDir& dir, const std::string& name, const Bytes& bytes) {
    WriteFile(dir.File(name), std::string(bytes.begin(), bytes.end()));
    return dir.File(name);
}

// Passes over the `skip` rows and wants nothing after `last`; records what it was asked.
class SkippingTable : public FloatStringSpreadsheetData {
public:
    std::set<int> skip;
    int last = 1 << 20;
    mutable std::vector<int> asked;
    int GetNextRow(int row) const override {
        asked.push_back(row);
        int next = row + 1;
        while (skip.count(next)) ++next;
        return next > last ? HostReadCallbacks::kStopRow : next;
    }
};

struct Outcome {
    int open = -1, rows = -1, cols = -1, read = -1;  // through the entry points: 0 or 1
    std::string error;
};

inline std::string MessageOf(SpreadsheetFile& f) {
    char buffer[512];
    f.GetErrorMessage(buffer, sizeof buffer);
    return buffer;
}

// Opens (with `options` when given), sizes and reads; the first failing step's code stays.
template <typename Format>
Outcome ReadDirect(const std::string& path, FloatStringSpreadsheetData& table, QmImportOpenOptions* options = nullptr) {
    Outcome r;
    Format file;
    if ((r.open = file.Open(true, path.c_str(), options)) == 0 && (r.rows = file.GetNumRows()) >= 0 &&
        (r.cols = file.GetNumCols()) >= 0) {
        table.SetDataSize(r.cols, r.rows);
        r.read = file.Read(&table);
    }
    r.error = MessageOf(file);
    return r;
}

// The multi-file argument: the folder, then each name, each ended by a NUL, and a final NUL.
inline std::string Several(const std::string& dir, const std::vector<std::string>& names) {
    std::string arg = dir + '\0';
    for (const auto& n : names) arg += n + '\0';
    return arg + '\0';
}

// The committed seeds and samples are the builders' output (KELTO_REMAKE_FIXTURES=1 writes them).
inline void ExpectCommitted(const std::vector<std::pair<std::string, Bytes>>& files) {
    for (const auto& [path, bytes] : files) {
        const std::string full = std::string(KELTO_SOURCE_DIR) + "/" + path, text(bytes.begin(), bytes.end());
        if (std::getenv("KELTO_REMAKE_FIXTURES")) {
            std::filesystem::create_directories(std::filesystem::path(full).parent_path());
            WriteFile(full, text);
        }
        EXPECT_EQ(ReadFile(full), text) << path << " is not the builder's output";
    }
}

// A tab-separated file as rows of fields; empty lines and lines starting with '#' left out.
inline std::vector<std::vector<std::string>> ReadTsv(const std::string& path) {
    std::vector<std::vector<std::string>> rows;
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);) {
        if (line.empty() || line[0] == '#') continue;
        std::vector<std::string>& row = rows.emplace_back();
        std::size_t at = 0;
        for (std::size_t tab; (tab = line.find('\t', at)) != std::string::npos; at = tab + 1) row.push_back(line.substr(at, tab - at));
        row.push_back(line.substr(at));
    }
    return rows;
}

// The names a corpus folder's MANIFEST.tsv lists (its first column, under a heading row).
inline std::vector<std::string> CorpusFiles(const std::string& dir) {
    std::vector<std::string> names;
    for (const auto& row : ReadTsv(dir + "MANIFEST.tsv"))
        if (row[0] != "file") names.push_back(row[0]);
    return names;
}

// Expected values as "key<TAB>value" lines, where each "y" line adds one value.
struct KeyedValues {
    std::map<std::string, std::string> keys;
    std::vector<double> y;
};
inline KeyedValues LoadKeyedValues(const std::string& path) {
    KeyedValues e;
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);) {
        const auto tab = line.find('\t');
        if (line.substr(0, tab) == "y") e.y.push_back(std::stod(line.substr(tab + 1)));
        else e.keys[line.substr(0, tab)] = line.substr(tab + 1);
    }
    return e;
}

inline int FormatIndex(const char* name) {
    for (int i = 1; i <= SprFileFactory::SizeInfos(); ++i)
        if (std::string(SprFileFactory::GetInfo(i)->name) == name) return i;
    return 0;
}

inline Outcome ReadViaHost(const char* format, const std::string& path, FloatStringSpreadsheetData& table) {
    Outcome r;
    const int index = FormatIndex(format);
    SpreadsheetFile* handle = nullptr;
    r.open = QmImportOpen(index, path.c_str(), true, &handle, nullptr) ? 0 : 1;
    if (r.open == 0 && QmImportEstablishSize(index, handle, &r.rows, &r.cols)) {
        table.SetDataSize(r.cols, r.rows);
        HostReadCallbacks callbacks(table);
        r.read = QmImportRead(index, handle, callbacks.Record()) ? 0 : 1;
        callbacks.RethrowIfFailed();
    }
    r.error = QmImportGetLastError(index, handle);
    QmImportClose(index, handle);
    return r;
}

inline std::string Text(const FloatStringSpreadsheetData& t, int col, int row) {
    return t.IsString(col, row) ? t.GetStringValue(col, row) : "<not text>";
}

}  // namespace kelto::test::spectral

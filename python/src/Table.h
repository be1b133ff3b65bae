#pragma once
// The Python package's view of the host layer, free of Python: formats, detection, default
// options, reads into columns and writes. module.cpp turns these into Python objects.
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "host/ColumnarSpreadsheetData.h"

namespace kelto::python {

// What a read, detection or write that failed says: the library's message, the file it is
// about, and the reader's status code when a reader gave one.
struct Failure {
    std::string message;
    std::string file;
    std::optional<int> code;
};

// One column of a read table, as the host's columnar table hands it over: `numbers` (NaN
// where the cell is no number), `integers` (empty until the column holds a 64-bit integer
// cell), `kinds` (one byte per cell: 0 missing, 1 number, 2 integer, 3 text) and the texts
// with their 0-based rows.
using ColumnData = ColumnarColumn;

struct ReadArguments {
    std::vector<std::string> files;
    std::string format;                  // empty: detect
    std::optional<std::string> options;  // an options document
    std::vector<std::pair<std::string, std::string>> settings;  // single "Settings" keys
};

struct ReadResult {
    std::string format;
    std::string readName;
    std::vector<std::string> warnings;
    std::vector<std::string> notes;  // what the host guessed (CSV delimiter, encoding)
    std::size_t rows = 0;
    std::vector<ColumnData> columns;
    std::optional<Failure> failure;
};

struct FormatRecord {
    std::string name;
    std::string filter;
    std::vector<std::string> extensions;
    bool reads = false;
    bool writes = false;
    int multiFile = 0;
};

struct DetectResult {
    std::string format;  // empty: not detected
    std::optional<Failure> failure;
};

struct OptionsResult {
    std::string format;
    std::vector<std::pair<std::string, std::string>> settings;
    std::optional<std::string> document;  // the whole document; nothing for a binary record
    std::optional<Failure> failure;
};

// A table handed to a writer, filled cell by cell.
class WriteTable {
public:
    WriteTable(std::size_t columns, std::size_t rows);
    ~WriteTable();
    void SetNumber(int col, int row, double value);
    void SetInteger(int col, int row, std::int64_t value);
    void SetText(int col, int row, const std::string& text);
    struct Impl;
    Impl& impl() { return *impl_; }

private:
    std::unique_ptr<Impl> impl_;
};

// Builds the process-wide plug-in list: the *sprfile* libraries of `packageDirectory` (the
// package's own folder, searched in place of the interpreter's), then every plug-in library
// of `extraDirectory` (null: none). False when the list had been built already (the folders
// then change nothing).
bool Initialise(const std::string& packageDirectory, const char* extraDirectory);
// The hook that readers' yes/no questions go to: it returns false to take the reader's
// default, else true with the answer.
void SetQuestionHook(bool (*hook)(const std::string& question, bool& answer));

std::vector<FormatRecord> Formats();
DetectResult Detect(const std::string& path);
OptionsResult DefaultOptions(const std::vector<std::string>& files, const std::string& format);
// `poll`, when set, is called every few thousand rows; true cancels the read.
ReadResult Read(const ReadArguments& args, const std::function<bool()>& poll);
std::optional<Failure> Write(const std::string& path, const std::string& format, WriteTable& table);

}  // namespace kelto::python

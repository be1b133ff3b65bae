#include <strings.h>

#include <atomic>
#include <cmath>
#include <filesystem>
#include <limits>
#include <mutex>

#include "data/SpreadsheetData.h"
#include "host/ColumnarSpreadsheetData.h"
#include "host/HostRead.h"
#include "host/ImportHelperBase.h"
#include "host/ImportOptionsHelper.h"
#include "host/RecordText.h"
#include "outside/utl/Exception.h"
#include "platform/Prompt.h"
#include "python/src/Table.h"

namespace kelto::python {

namespace {

// A host for one operation: each read has its own, so that reads on several threads keep
// their messages apart. The plug-in list behind it is shared by the whole process.
class PythonHost : public ImportHelperBase {
public:
    explicit PythonHost(const char* directory = nullptr) : ImportHelperBase(nullptr, directory) {}

    int PutMsg1(const char* text, const char*, MessageType, int defaultAnswer) override {
        if (text && *text) warnings.emplace_back(text);
        return defaultAnswer;
    }
    void PutMsg2(const char* first, const char* second, const char*) override {
        warnings.push_back(std::string(first ? first : "") + ": " + (second ? second : ""));
    }

    ImportDLLLoader& Loader() { return GetLoader(); }
    int Count() const { return GetNumberOfFormats(); }
    const FormatTableEntry& Entry(int index) const { return GetFormatTable()[index]; }

    // The list index of the format named `format` (its name, case ignored when nothing matches
    // exactly, its filter text or one of its patterns), among the readable formats or the
    // writable ones; -1 when none is.
    int Find(const std::string& format, bool forWrite) {
        auto usable = [&](int i) { return forWrite ? Entry(i).canWrite : Entry(i).canRead; };
        for (int pass = 0; pass < 2; ++pass)
            for (int i = 1; i <= Count(); ++i) {
                const char* name = GetFormatName(i);
                if (name && usable(i) && (pass == 0 ? format == name : strcasecmp(format.c_str(), name) == 0))
                    return i;
            }
        for (int i = 1; i <= Count(); ++i) {
            if (!usable(i)) continue;
            const QmImportFileFormatInfo* info = Loader().GetInfo(i);
            if (format == Entry(i).readFilter || (forWrite && format == Entry(i).writeFilter)) return i;
            bool match = false;
            if (info)
                kelto::host::ForEachExtension(*info, [&](const char* extension) {
                    match = match || format == std::string("*.") + extension;
                });
            if (match) return i;
        }
        return -1;
    }

    int WriteOrdinalOf(int index) const {
        int ordinal = 0;
        for (int i = 1; i <= index; ++i)
            if (Entry(i).canWrite) ++ordinal;
        return ordinal;
    }

    std::vector<std::string> warnings;
};

std::once_flag gInitialised;

void EnsureList() {
    std::call_once(gInitialised, [] { PythonHost host(nullptr); });
}

// Stands in front of the read's table: passes every cell on, and every few thousand rows asks
// `poll` whether to stop.
class WatchedTable : public SpreadsheetData {
public:
    static constexpr int kPollRows = 2048;

    WatchedTable(SpreadsheetData& target, const std::function<bool()>& poll) : target_(target), poll_(poll) {}

    void Set(int col, int row, int value) override { Seen(row), target_.Set(col, row, value); }
    void Set(int col, int row, std::int64_t value) override { Seen(row), target_.Set(col, row, value); }
    void Set(int col, int row, double value) override { Seen(row), target_.Set(col, row, value); }
    void Set(int col, int row, const char* text) override { Seen(row), target_.Set(col, row, text); }
    void Set(int col, int row, float value) override { Seen(row), target_.Set(col, row, value); }
    int GetNextRow(int row) const override { return target_.GetNextRow(row); }
    void SetDataSize(int cols, int rows) override { target_.SetDataSize(cols, rows); }
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
    void Seen(int row) {
        if (row < next_ || !poll_) return;
        next_ = row + kPollRows;
        if (poll_()) throw CancelException();
    }

    SpreadsheetData& target_;
    const std::function<bool()>& poll_;
    int next_ = kPollRows;
};

std::string Subject(const std::vector<std::string>& files) { return files.empty() ? std::string() : files.front(); }

}  // namespace

struct WriteTable::Impl {
    ColumnarSpreadsheetData table;
};

WriteTable::WriteTable(std::size_t columns, std::size_t rows) : impl_(std::make_unique<Impl>()) {
    impl_->table.SetDataSize(static_cast<int>(columns), static_cast<int>(rows));
}
WriteTable::~WriteTable() = default;
void WriteTable::SetNumber(int col, int row, double value) { impl_->table.Set(col, row, static_cast<float>(value)); }
void WriteTable::SetInteger(int col, int row, std::int64_t value) { impl_->table.Set(col, row, value); }
// A text stays a text ("007" is not written as the number 7).
void WriteTable::SetText(int col, int row, const std::string& text) { impl_->table.SetText(col, row, text); }

bool Initialise(const std::string& packageDirectory, const char* extraDirectory) {
    bool built = false;
    std::call_once(gInitialised, [&] {
        ImportDLLLoader::SetHostDirectory(packageDirectory);
        PythonHost host(extraDirectory);
        built = true;
    });
    return built;
}

void SetQuestionHook(bool (*hook)(const std::string& question, bool& answer)) {
    static std::once_flag once;
    std::call_once(once, [hook] {
        platform::SetPromptHook([hook](const std::string& question) {
            bool answer = true;
            if (!hook(question, answer)) return platform::PromptAnswer::Yes;
            return answer ? platform::PromptAnswer::Yes : platform::PromptAnswer::No;
        });
    });
}

std::vector<FormatRecord> Formats() {
    EnsureList();
    PythonHost host;
    std::vector<FormatRecord> out;
    for (int i = 1; i <= host.Count(); ++i) {
        const QmImportFileFormatInfo* info = host.Loader().GetInfo(i);
        if (!info) continue;
        FormatRecord record;
        record.name = info->name ? info->name : "";
        record.filter = info->filter ? info->filter : "";
        kelto::host::ForEachExtension(*info, [&](const char* e) { record.extensions.emplace_back(e); });
        record.reads = info->canRead != 0;
        record.writes = info->canWrite != 0;
        record.multiFile = info->multiFile;
        out.push_back(std::move(record));
    }
    return out;
}

// The format a read of `path` alone would take (a tab-separated file's extension counts, as
// in reads), or nothing when no format recognises it.
DetectResult Detect(const std::string& path) {
    EnsureList();
    PythonHost host;
    DetectResult result;
    kelto::host::ReadOutcome outcome;
    if (kelto::host::ChooseFormat(host, {path}, std::string(), outcome) >= 1) {
        result.format = outcome.format;
    } else if (outcome.refused != ImportHelperBase::FormatNotDetected &&
               outcome.refused != ImportHelperBase::FormatNotUsable) {
        result.failure = Failure{outcome.message, outcome.file.empty() ? path : outcome.file, std::nullopt};
    }
    return result;
}

// What a failed outcome says, with the reader's code only when a reader ran.
Failure FailureOf(const kelto::host::ReadOutcome& outcome, const std::vector<std::string>& files) {
    Failure failure{outcome.message, outcome.file.empty() ? Subject(files) : outcome.file, std::nullopt};
    if (outcome.failure == kelto::host::ReadFailure::Reader) failure.code = outcome.code;
    if (failure.message.empty())
        failure.message = outcome.failure == kelto::host::ReadFailure::Cancelled ? "the read was cancelled"
                                                                                  : "the file could not be read";
    return failure;
}

OptionsResult DefaultOptions(const std::vector<std::string>& files, const std::string& format) {
    EnsureList();
    PythonHost host;
    OptionsResult result;
    kelto::host::ReadOutcome outcome;
    result.settings = kelto::host::DefaultSettings(host, files, format, &outcome);
    if (!outcome.ok) result.failure = FailureOf(outcome, files);
    result.format = outcome.format;
    return result;
}

ReadResult Read(const ReadArguments& args, const std::function<bool()>& poll) {
    EnsureList();
    PythonHost host;
    ReadResult result;
    ColumnarSpreadsheetData table;
    WatchedTable watched(table, poll);
    kelto::host::ReadRequest request;
    request.paths = args.files;
    request.format = args.format;
    request.optionsXml = args.options;
    request.settings = args.settings;
    const kelto::host::ReadOutcome outcome = kelto::host::Read(host, request, watched);
    result.warnings = std::move(host.warnings);
    result.format = outcome.format;
    result.notes = outcome.notes;
    for (const std::string& key : outcome.unknownKeys)
        result.warnings.push_back(outcome.format + " has no option \"" + key + "\"; it is passed on anyway");
    if (!outcome.ok) {
        result.failure = FailureOf(outcome, args.files);
        return result;
    }
    result.readName = outcome.readName;
    result.rows = static_cast<std::size_t>(table.GetNumberOfRows());
    result.columns.reserve(static_cast<std::size_t>(table.GetNumberOfColumns()));
    for (int c = 1; c <= table.GetNumberOfColumns(); ++c) result.columns.push_back(table.TakeColumn(c));
    return result;
}

std::optional<Failure> Write(const std::string& path, const std::string& format, WriteTable& table) {
    EnsureList();
    PythonHost host;
    int ordinal = 0;
    if (!format.empty()) {
        const int index = host.Find(format, true);
        if (index < 1) return Failure{"unknown or unwritable format '" + format + "'", path, std::nullopt};
        ordinal = host.WriteOrdinalOf(index);
    }
    if (!host.WriteSpreadsheetFile(path.c_str(), ordinal, &table.impl().table, nullptr)) {
        std::string message = host.GetErrorMessage();
        return Failure{message.empty() ? "the file could not be written" : message, path, std::nullopt};
    }
    return std::nullopt;
}

}  // namespace kelto::python

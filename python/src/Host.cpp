#include <strings.h>

#include <atomic>
#include <cmath>
#include <filesystem>
#include <limits>
#include <mutex>

#include "data/SpreadsheetData.h"
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

    // The read ordinal of list index `index`.
    int ReadOrdinalOf(int index) const {
        int ordinal = 1;
        for (int i = 1; i <= index; ++i)
            if (Entry(i).canRead) ++ordinal;
        return ordinal;
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

std::vector<ColumnData> Columns(const FloatStringSpreadsheetData& table) {
    const int cols = table.GetNumberOfColumns(), rows = table.GetNumberOfRows();
    std::vector<ColumnData> out(static_cast<std::size_t>(cols));
    for (int c = 1; c <= cols; ++c) {
        ColumnData& column = out[static_cast<std::size_t>(c - 1)];
        column.numbers.assign(static_cast<std::size_t>(rows), std::numeric_limits<float>::quiet_NaN());
        column.kinds.assign(static_cast<std::size_t>(rows), 0);
        for (int r = 1; r <= rows; ++r) {
            const std::size_t i = static_cast<std::size_t>(r - 1);
            if (table.IsMisVal(c, r)) continue;
            if (table.IsInt64(c, r)) {
                if (column.integers.empty()) column.integers.assign(static_cast<std::size_t>(rows), 0);
                column.integers[i] = table.GetInt64(c, r);
                column.kinds[i] = 2;
                column.hasInteger = true;
            } else if (table.IsString(c, r)) {
                column.texts.emplace_back(r - 1, table.GetStringValue(c, r));
                column.kinds[i] = 3;
                column.hasText = true;
            } else {
                column.numbers[i] = table.GetFloatData(c, r);
                column.kinds[i] = 1;
                column.hasNumber = true;
            }
        }
    }
    return out;
}

std::string Subject(const std::vector<std::string>& files) { return files.empty() ? std::string() : files.front(); }

}  // namespace

struct WriteTable::Impl {
    FloatStringSpreadsheetData table;
};

WriteTable::WriteTable(std::size_t columns, std::size_t rows) : impl_(std::make_unique<Impl>()) {
    impl_->table.SetDataSize(static_cast<int>(columns), static_cast<int>(rows));
}
WriteTable::~WriteTable() = default;
void WriteTable::SetNumber(int col, int row, double value) {
    impl_->table.GetFloatStringMatrix().Set(col, row, static_cast<float>(value));
}
void WriteTable::SetInteger(int col, int row, std::int64_t value) {
    impl_->table.GetFloatStringMatrix().Set(col, row, value);
}
void WriteTable::SetText(int col, int row, const std::string& text) {
    impl_->table.GetFloatStringMatrix().Set(col, row, text);
}

bool Initialise(const char* directory) {
    bool built = false;
    std::call_once(gInitialised, [&] {
        PythonHost host(directory);
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

DetectResult Detect(const std::string& path) {
    EnsureList();
    PythonHost host;
    DetectResult result;
    int format = 1;
    ImportHelperBase::ReadErrors error = ImportHelperBase::NoReadError;
    if (!host.CheckFilesBeforeRead({path}, format, error, false)) {
        if (error != ImportHelperBase::FormatNotDetected && error != ImportHelperBase::FormatNotUsable)
            result.failure = Failure{host.GetErrorMessage(), path, std::nullopt};
        return result;
    }
    const char* name = host.GetFormatName(format);
    result.format = name ? name : "";
    return result;
}

OptionsResult DefaultOptions(const std::vector<std::string>& files, const std::string& format) {
    OptionsResult result;
    result.failure = Failure{"default options are not available yet", Subject(files), std::nullopt};
    (void)format;
    return result;
}

ReadResult Read(const ReadArguments& args, const std::function<bool()>& poll) {
    EnsureList();
    PythonHost host;
    ReadResult result;
    auto fail = [&](std::string message, std::string file) {
        result.failure = Failure{std::move(message), std::move(file), std::nullopt};
        return std::move(result);
    };
    int ordinal = 1;
    if (!args.format.empty()) {
        const int index = host.Find(args.format, false);
        if (index < 1) return fail("unknown or unreadable format '" + args.format + "'", Subject(args.files));
        ordinal = host.ReadOrdinalOf(index);
    }
    if (!args.settings.empty()) return fail("settings are not available yet", Subject(args.files));
    ImportHelperBase::ReadErrors error = ImportHelperBase::NoReadError;
    if (!host.CheckFilesBeforeRead(args.files, ordinal, error, false)) return fail(host.GetErrorMessage(), Subject(args.files));
    const int index = ordinal;
    result.format = host.GetFormatName(index) ? host.GetFormatName(index) : "";
    std::unique_ptr<ImportOptionsHelper::OpenOptions> options;
    if (args.options) {
        try {
            options = ImportOptionsHelper::OpenOptions::CreateOpenOptions(*args.options);
        } catch (const std::exception& e) {
            return fail(e.what(), Subject(args.files));
        }
    }
    FloatStringSpreadsheetData table;
    WatchedTable watched(table, poll);
    const bool ok = host.ReadSpreadsheetFile(args.files, index, &watched, options.get(), true, nullptr);
    result.warnings = std::move(host.warnings);
    if (!ok) {
        std::string message = host.GetErrorMessage();
        return fail(message.empty() ? "the read was cancelled" : message, Subject(args.files));
    }
    result.readName = host.GetFilenameRead();
    result.rows = static_cast<std::size_t>(table.GetNumberOfRows());
    result.columns = Columns(table);
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

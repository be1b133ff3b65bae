#include "host/HostRead.h"

#include <algorithm>
#include <filesystem>

#include "data/SpreadsheetData.h"
#include "host/FileGuesses.h"
#include "outside/utl/ConfigurationSection.h"
#include "outside/utl/Exception.h"
#include "outside/utl/HtmlUtilities.h"
#include "outside/utl/QmTextIOStream.h"
#include "platform/Translate.h"

namespace fs = std::filesystem;
using ImportOptionsHelper::OpenOptions;

namespace kelto::host {

namespace {

constexpr const char* kCsvFormat = "CSV File";

// The rows of a file read after others, written below them into the same table: row r of
// the reader is row offset + r of the target. The target grows to hold them, never narrower
// than what is above them; the narrower side keeps missing cells.
class StackedPart : public SpreadsheetData {
public:
    explicit StackedPart(SpreadsheetData& target)
        : target_(target), offset_(target.GetNumberOfRows()), baseColumns_(target.GetNumberOfColumns()) {}

    void Set(int col, int row, int value) override {
        if (Inside(col, row)) target_.Set(col, row + offset_, value);
    }
    void Set(int col, int row, std::int64_t value) override {
        if (Inside(col, row)) target_.Set(col, row + offset_, value);
    }
    void Set(int col, int row, double value) override {
        if (Inside(col, row)) target_.Set(col, row + offset_, value);
    }
    void Set(int col, int row, const char* text) override {
        if (Inside(col, row)) target_.Set(col, row + offset_, text);
    }
    void Set(int col, int row, float value) override {
        if (Inside(col, row)) target_.Set(col, row + offset_, value);
    }
    int GetNextRow(int row) const override { return target_.GetNextRow(row + offset_) - offset_; }
    void SetDataSize(int cols, int rows) override {
        cols = std::max(cols, 0);
        rows = std::max(rows, 0);
        target_.SetDataSize(std::max(cols, baseColumns_), offset_ + rows);
        columns_ = cols;
        rows_ = rows;
    }
    void SetHostContext(void* context) override { target_.SetHostContext(context); }

    int GetNumberOfColumns() const override { return columns_; }
    int GetNumberOfRows() const override { return rows_; }
    float GetFloatData(int col, int row) const override { return target_.GetFloatData(col, row + offset_); }
    std::string GetStringValue(int col, int row) const override { return target_.GetStringValue(col, row + offset_); }
    bool GetFirstDataCell(int* col, int* row) const override { return target_.GetFirstDataCell(col, row); }
    bool IsFloat(int col, int row) const override { return target_.IsFloat(col, row + offset_); }
    bool IsMisVal(int col, int row) const override { return target_.IsMisVal(col, row + offset_); }
    bool IsString(int col, int row) const override { return target_.IsString(col, row + offset_); }
    bool IsInt64(int col, int row) const override { return target_.IsInt64(col, row + offset_); }
    std::int64_t GetInt64(int col, int row) const override { return target_.GetInt64(col, row + offset_); }

private:
    bool Inside(int col, int row) const {
        return static_cast<unsigned>(col - 1) < static_cast<unsigned>(columns_) &&
               static_cast<unsigned>(row - 1) < static_cast<unsigned>(rows_);
    }

    SpreadsheetData& target_;
    const int offset_;
    const int baseColumns_;
    int columns_ = 0;
    int rows_ = 0;
};

std::string FormatNameOf(const ImportHelperBase& helper, int index) {
    const char* name = helper.GetFormatName(index);
    return name ? name : "";
}

// What a note says about the guessed keys the user left alone.
std::string GuessNote(const CsvGuess& guess, const std::vector<Setting>& given) {
    auto isGiven = [&](const char* key) {
        return std::any_of(given.begin(), given.end(), [&](const Setting& s) { return s.key == key; });
    };
    std::string note;
    if (!isGiven("Delimiter")) note = "delimiter '" + guess.delimiter + "'";
    if (!isGiven("Encoding")) {
        if (!note.empty()) note += " and ";
        note += "encoding " + (guess.encoding.empty() ? "of the legacy code page (" + GetLegacyStreamEncoding() + ")"
                                                      : guess.encoding);
    }
    return note.empty() ? note : "guessed " + note + " from the file";
}

std::vector<Setting> ToSettings(const std::vector<std::pair<std::string, std::string>>& pairs) {
    std::vector<Setting> settings;
    settings.reserve(pairs.size());
    for (const auto& [key, value] : pairs) settings.push_back(Setting{key, value});
    return settings;
}

// A "Sheets" list as ApplySettings takes it: names joined by ";", with ";" and "\" inside a
// name escaped.
std::string JoinSheets(const std::vector<std::string>& names) {
    std::string out;
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (i) out += ';';
        for (char c : names[i]) {
            if (c == ';' || c == '\\') out += '\\';
            out += c;
        }
    }
    return out;
}

// The "Settings" keys of a document with their values as settings give them back.
std::vector<std::pair<std::string, std::string>> SettingsOf(const std::string& text) {
    std::vector<std::pair<std::string, std::string>> out;
    std::unique_ptr<TinyXML2Section> document = TinyXML2Section::CreateXMLSectionFromString(text.c_str());
    std::unique_ptr<ConfigurationSection> section = document ? document->GetSection("Settings") : nullptr;
    if (!section) return out;
    for (const std::string& key : section->GetKeyNames()) {
        std::string value;
        if (key == "Sheets") {
            std::vector<std::string> names;
            section->ReadKey(key, names, ';');
            for (std::string& name : names) name = HtmlUtilities::URIDecode(name);
            value = JoinSheets(names);
        } else {
            section->ReadKey(key, value);
            if (key == "Delimiter") {
                // Back to what a setting takes: a backslash is written doubled there.
                std::string decoded = HtmlUtilities::URIDecode(value);
                value.clear();
                for (char c : decoded) {
                    if (c == '\\') value += '\\';
                    value += c;
                }
            }
        }
        out.emplace_back(key, std::move(value));
    }
    return out;
}

}  // namespace

// ---------------------------------------------------------------------------------------
// Format

int ChooseFormat(ImportHelperBase& helper, const std::vector<std::string>& paths, const std::string& format,
                 ReadOutcome& outcome) {
    outcome.files = paths;
    outcome.file = paths.empty() ? std::string() : paths.front();
    auto refuse = [&](ReadFailure failure, std::string message) {
        outcome.ok = false;
        outcome.failure = failure;
        outcome.message = std::move(message);
        return 0;
    };
    if (paths.empty()) return refuse(ReadFailure::Refused, kelto::Translate("The file does not exist."));

    int ordinal = 1;  // detect
    if (!format.empty()) {
        ordinal = helper.GetReadOrdinal(format);
        if (ordinal == -2) return refuse(ReadFailure::FormatNotReadable, kelto::TranslateFormat("the format '%1%' cannot be read", format));
        if (ordinal < 1) return refuse(ReadFailure::UnknownFormat, kelto::TranslateFormat("unknown format '%1%'", format));
    } else if (const char* byExtension = FormatForExtension(paths.front())) {
        ordinal = std::max(helper.GetReadOrdinal(byExtension), 1);
    }

    ImportHelperBase::ReadErrors error = ImportHelperBase::NoReadError;
    if (!helper.CheckFilesBeforeRead(paths, ordinal, error, true)) {
        outcome.refused = error;
        std::string message = helper.GetErrorMessage();
        if (message.empty()) message = kelto::Translate("the files cannot be read together");
        // A missing file or a directory is named by itself.
        if (error == ImportHelperBase::FileDoesNotExist || error == ImportHelperBase::DirectoryGiven) {
            for (const std::string& file : paths) {
                std::error_code ec;
                fs::file_status status = fs::status(file, ec);
                if (ec || !fs::exists(status) || fs::is_directory(status)) {
                    outcome.file = file;
                    break;
                }
            }
        }
        return refuse(ReadFailure::Refused, std::move(message));
    }
    outcome.formatIndex = ordinal;
    outcome.format = FormatNameOf(helper, ordinal);
    return ordinal;
}

// ---------------------------------------------------------------------------------------
// Options

std::optional<OptionsChoice> HostDefaultOptions(const std::string& formatName, const std::string& file,
                                                const std::vector<Setting>& given) {
    if (IsBrukerFormat(formatName)) return OptionsChoice{BrukerDefaultsDocument(), {}, {}};
    if (formatName != kCsvFormat) return std::nullopt;
    const CsvGuess guess = GuessCsvOptions(file);
    return OptionsChoice{CsvOptionsDocument(guess), GuessNote(guess, given), {}};
}

OptionsChoice ChooseOptions(ImportHelperBase& helper, const std::vector<std::string>& paths, int index,
                            const std::optional<std::string>& optionsXml, const std::vector<Setting>& settings) {
    const std::string formatName = FormatNameOf(helper, index);
    OptionsChoice choice;
    // CSV always gets options: the reader's own defaults know neither the delimiter nor the
    // encoding of the file at hand.
    if (!optionsXml && settings.empty() && formatName != kCsvFormat) return choice;
    std::string text;
    bool fromFormat = false;
    if (optionsXml) {
        if (!IsOptionsDocument(*optionsXml))
            throw std::invalid_argument(kelto::Translate("not an options document (XML with a \"Settings\" section)"));
        text = *optionsXml;
    } else {
        std::unique_ptr<OpenOptions> defaults = OpenOptions::Adopt(helper.GetFileOptions(paths, index, false));
        if (defaults && defaults->size > 0) {
            std::optional<std::string> recordText = RecordText(*defaults);
            if (!recordText)
                throw BinaryOptionsError(kelto::TranslateFormat(
                    "the options of %1% are not a text document; single keys cannot be set", formatName));
            text = *recordText;
            fromFormat = true;
        } else if (std::optional<OptionsChoice> host = HostDefaultOptions(formatName, paths.front(), settings)) {
            text = *host->text;
            choice.note = host->note;
            fromFormat = true;
        } else if (settings.empty()) {
            return choice;
        } else {
            text = EmptyOptionsDocument();
        }
    }
    if (!settings.empty()) {
        std::vector<std::string> newKeys;
        text = ApplySettings(text, settings, newKeys);
        // Against a document given whole, every key is the user's own choice.
        if (fromFormat) choice.unknownKeys = std::move(newKeys);
    }
    choice.text = std::move(text);
    return choice;
}

std::unique_ptr<OpenOptions> MakeOptionsRecord(const std::string& text, const std::string& formatName) {
    try {
        if (IsBrukerFormat(formatName)) return CreateBrukerImportOptions(BrukerOptionsFromText(text));
        return OpenOptions::CreateOpenOptions(text);
    } catch (const Exception& e) {
        throw std::invalid_argument(e.what());
    }
}

// ---------------------------------------------------------------------------------------
// Reading

void ReadFiles(ImportHelperBase& helper, const std::vector<std::string>& paths, int index,
               QmImportOpenOptions* options, SpreadsheetData& target,
               const std::function<void(const std::vector<std::string>&)>& beforeEachRead, ReadOutcome& outcome) {
    auto readOnce = [&](const std::vector<std::string>& files, SpreadsheetData& into, bool first) {
        if (beforeEachRead) beforeEachRead(files);
        if (!helper.ReadSpreadsheetFile(files, index, &into, options, true, nullptr)) {
            outcome.ok = false;
            outcome.files = files;
            outcome.file = files.front();
            outcome.message = helper.GetErrorMessage();
            outcome.code = helper.GetErrorCode();
            // A cancelled read leaves the helper's last message as it was: it is not this one.
            if (helper.WasCancelled()) {
                outcome.failure = ReadFailure::Cancelled;
                outcome.message.clear();
                outcome.code = 0;
            } else {
                outcome.failure = ReadFailure::Reader;
            }
            return false;
        }
        if (first) outcome.readName = helper.GetFilenameRead();
        return true;
    };

    outcome.files = paths;
    outcome.file = paths.empty() ? std::string() : paths.front();
    if (paths.size() < 2 || helper.GetMultiFileSupport(index) != 1) {
        if (!readOnce(paths, target, true)) return;
    } else {
        // Its readers open a single path: each file by itself, stacked in the order given.
        for (std::size_t i = 0; i < paths.size(); ++i) {
            if (i == 0) {
                if (!readOnce({paths[i]}, target, true)) return;
            } else {
                StackedPart part(target);
                if (!readOnce({paths[i]}, part, false)) return;
            }
        }
        outcome.files = paths;
        outcome.file = paths.front();
    }
    outcome.ok = true;
    outcome.failure = ReadFailure::None;
}

ReadOutcome Read(ImportHelperBase& helper, const ReadRequest& request, SpreadsheetData& target) {
    ReadOutcome outcome;
    try {
        const int index = ChooseFormat(helper, request.paths, request.format, outcome);
        if (index < 1) return outcome;
        const std::vector<Setting> settings = ToSettings(request.settings);
        OptionsChoice choice;
        std::unique_ptr<OpenOptions> record;
        try {
            choice = ChooseOptions(helper, request.paths, index, request.optionsXml, settings);
            if (choice.text) record = MakeOptionsRecord(*choice.text, outcome.format);
        } catch (const BinaryOptionsError& e) {
            outcome.failure = ReadFailure::BinaryOptions;
            outcome.message = e.what();
            return outcome;
        } catch (const std::invalid_argument& e) {
            outcome.failure = ReadFailure::BadOptions;
            outcome.message = e.what();
            return outcome;
        }
        outcome.unknownKeys = choice.unknownKeys;
        ReadFiles(helper, request.paths, index, record.get(), target, request.beforeEachRead, outcome);
        // What was guessed is worth saying only once the read worked.
        if (outcome.ok && !choice.note.empty()) outcome.notes.push_back(choice.note);
    } catch (const CancelException&) {
        outcome.ok = false;
        outcome.failure = ReadFailure::Cancelled;
        outcome.message.clear();
    } catch (const std::exception& e) {
        // A host hook or a table that throws (memory, say) ends the read with its message.
        outcome.ok = false;
        outcome.failure = ReadFailure::Reader;
        outcome.message = e.what();
    }
    return outcome;
}

std::vector<std::pair<std::string, std::string>> DefaultSettings(ImportHelperBase& helper,
                                                                 const std::vector<std::string>& paths,
                                                                 const std::string& format, ReadOutcome* outcome) {
    ReadOutcome local;
    ReadOutcome& out = outcome ? *outcome : local;
    out = ReadOutcome{};
    try {
        const int index = ChooseFormat(helper, paths, format, out);
        if (index < 1) return {};
        out.ok = true;
        std::unique_ptr<OpenOptions> record = OpenOptions::Adopt(helper.GetFileOptions(paths, index, false));
        if (record && record->size > 0) {
            std::optional<std::string> text = RecordText(*record);
            return text ? SettingsOf(*text) : std::vector<std::pair<std::string, std::string>>{};
        }
        if (std::optional<OptionsChoice> host = HostDefaultOptions(out.format, paths.front())) {
            if (!host->note.empty()) out.notes.push_back(host->note);
            return SettingsOf(*host->text);
        }
    } catch (const CancelException&) {
        out.ok = false;
        out.failure = ReadFailure::Cancelled;
    } catch (const std::exception& e) {
        out.ok = false;
        out.failure = ReadFailure::Reader;
        out.message = e.what();
    }
    return {};
}

}  // namespace kelto::host

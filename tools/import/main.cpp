// kelto-import: the import plug-in libraries from a shell. Lists formats, detects, prints and
// edits open options, reads files into a table printed for people or as typed JSON, and
// converts to any writable format.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <limits>
#include <memory>
#include <optional>
#include <sstream>

#include "data/SpreadsheetData.h"
#include "host/FileGuesses.h"
#include "host/HostRead.h"
#include "host/OptionsText.h"
#include "host/RecordText.h"
#include "outside/utl/Exception.h"
#include "outside/utl/Log.h"
#include "outside/utl/QmTextIOStream.h"
#include "platform/HostInfo.h"
#include "platform/Prompt.h"
#include "plugin/LibraryInfo.h"
#include "tools/import/Arguments.h"
#include "tools/import/CellText.h"
#include "tools/import/CommandLineHost.h"
#include "tools/import/Terminal.h"

namespace fs = std::filesystem;
using namespace kelto::cli;
using ImportOptionsHelper::OpenOptions;
using kelto::host::IsBrukerFormat;
using kelto::host::IsOptionsDocument;
using kelto::host::RecordText;

namespace {

constexpr int kOk = 0;
constexpr int kFailed = 1;
constexpr int kUsage = 2;

constexpr long long kDefaultRows = 20;
constexpr long long kDefaultColumns = 20;

// One error line: the program, what it is about, and the message.
int Fail(const std::string& subject, const std::string& message) {
    Terminal::Line("kelto-import: " + subject + ": " + Flatten(message));
    return kFailed;
}

void Out(const std::string& text) { std::fwrite(text.data(), 1, text.size(), stdout); }

// What a multi-file read is called in messages: its first file.
std::string Subject(const std::vector<std::string>& files) {
    if (files.size() == 1) return files.front();
    return files.front() + " (and " + std::to_string(files.size() - 1) + " more)";
}

std::string Extensions(const QmImportFileFormatInfo& info, const char* separator) {
    std::string out;
    kelto::host::ForEachExtension(info, [&](const char* extension) {
        if (!out.empty()) out += separator;
        out += extension;
    });
    return out;
}

std::string Padded(const std::string& text, std::size_t width, bool right) {
    std::size_t w = DisplayWidth(text);
    if (w >= width) return text;
    std::string pad(width - w, ' ');
    return right ? pad + text : text + pad;
}

std::string Size(int rows, int columns) {
    return std::to_string(rows) + (rows == 1 ? " row" : " rows") + " x " + std::to_string(columns) +
           (columns == 1 ? " column" : " columns");
}

// ---------------------------------------------------------------------------------------
// formats

int Formats(CommandLineHost& host, const Arguments& args) {
    const int count = host.FormatCount();
    if (args.json) {
        std::string out = "[";
        for (int i = 1; i <= count; ++i) {
            const QmImportFileFormatInfo* info = host.FormatInfo(i);
            if (!info) continue;
            out += i == 1 ? "\n" : ",\n";
            out += "{\"name\": ";
            AppendJsonString(out, info->name ? info->name : "");
            out += ", \"filter\": ";
            AppendJsonString(out, info->filter ? info->filter : "");
            out += ", \"save_filter\": ";
            if (info->canWrite && info->saveFilter)
                AppendJsonString(out, info->saveFilter);
            else
                out += "null";
            out += ", \"extensions\": [";
            bool first = true;
            kelto::host::ForEachExtension(*info, [&](const char* extension) {
                if (!first) out += ", ";
                first = false;
                AppendJsonString(out, extension);
            });
            out += "], \"read\": ";
            out += info->canRead ? "true" : "false";
            out += ", \"write\": ";
            out += info->canWrite ? "true" : "false";
            out += ", \"multi_file\": " + std::to_string(info->multiFile) + "}";
        }
        out += "\n]\n";
        Out(out);
        return kOk;
    }
    std::size_t nameWidth = 6, extWidth = 10;
    for (int i = 1; i <= count; ++i) {
        if (const QmImportFileFormatInfo* info = host.FormatInfo(i)) {
            nameWidth = std::max(nameWidth, DisplayWidth(info->name ? info->name : ""));
            extWidth = std::max(extWidth, DisplayWidth(Extensions(*info, " ")));
        }
    }
    std::string out = Padded("Format", nameWidth, false) + "  Use  " + Padded("Extensions", extWidth, false) + "  Filter\n";
    for (int i = 1; i <= count; ++i) {
        const QmImportFileFormatInfo* info = host.FormatInfo(i);
        if (!info) continue;
        std::string use;
        use += info->canRead ? 'r' : '-';
        use += info->canWrite ? 'w' : '-';
        use += info->multiFile ? 'm' : '-';
        out += Padded(info->name ? info->name : "", nameWidth, false) + "  " + use + "  " +
               Padded(Extensions(*info, " "), extWidth, false) + "  " + (info->filter ? info->filter : "") + "\n";
    }
    out += "(r: reads, w: writes, m: several files make one table)\n";
    Out(out);
    return kOk;
}

// The read ordinal of the format a file's extension stands for (tab-separated files: "Text
// File"), else 1: detect.
int ExtensionOrdinal(CommandLineHost& host, const std::string& file) {
    const char* format = kelto::host::FormatForExtension(file);
    const int ordinal = format ? host.GetReadOrdinal(format) : 1;
    return ordinal >= 1 ? ordinal : 1;
}

// ---------------------------------------------------------------------------------------
// detect

int Detect(CommandLineHost& host, const Arguments& args) {
    int status = kOk;
    for (const std::string& file : args.files) {
        int format = ExtensionOrdinal(host, file);
        ImportHelperBase::ReadErrors error = ImportHelperBase::NoReadError;
        if (!host.CheckFilesBeforeRead({file}, format, error, true)) {
            status = Fail(file, host.GetErrorMessage());
            continue;
        }
        const char* name = host.GetFormatName(format);
        Out(file + ": " + (name ? name : "?") + "\n");
    }
    std::fflush(stdout);
    return status;
}

// ---------------------------------------------------------------------------------------
// Choosing the format and the options of a read

// The list index for reading `args.files`; 0 after reporting why there is none (the exit
// status is then in `status`).
int ChooseFormat(CommandLineHost& host, const Arguments& args, int& status) {
    kelto::host::ReadOutcome outcome;
    const int index = kelto::host::ChooseFormat(host, args.files, args.format, outcome);
    if (index >= 1) return index;
    switch (outcome.failure) {
        case kelto::host::ReadFailure::FormatNotReadable:
            throw UsageError(args.command + ": the format '" + args.format + "' cannot be read");
        case kelto::host::ReadFailure::UnknownFormat:
            throw UsageError(args.command + ": unknown format '" + args.format + "' (see kelto-import formats)");
        default:
            // A missing file or a directory is named by itself.
            const bool oneFile = outcome.refused == ImportHelperBase::FileDoesNotExist ||
                                 outcome.refused == ImportHelperBase::DirectoryGiven;
            status = Fail(oneFile ? outcome.file : Subject(args.files), outcome.message);
            return 0;
    }
}

std::string ReadWholeFile(const std::string& path) {
    std::ostringstream text;
    if (path == "-") {
        text << std::cin.rdbuf();
        return text.str();
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) throw UsageError("cannot read the options file '" + path + "'");
    text << in.rdbuf();
    return text.str();
}

// The options text for the read: --options or the format's defaults or this program's own
// (CSV's guessed from the file), with the --set keys on top; nothing when there are none.
// `guessNote`, when given, says what was guessed.
std::optional<std::string> OptionsDocument(CommandLineHost& host, const Arguments& args, int index,
                                           std::string* guessNote = nullptr) {
    const std::string formatName = host.GetFormatName(index) ? host.GetFormatName(index) : "";
    std::optional<std::string> given;
    if (!args.optionsFile.empty()) {
        given = ReadWholeFile(args.optionsFile);
        if (!IsOptionsDocument(*given))
            throw UsageError(args.command + ": '" + args.optionsFile +
                             "' is not an options document (XML with a \"Settings\" section)");
    }
    kelto::host::OptionsChoice choice;
    try {
        choice = kelto::host::ChooseOptions(host, args.files, index, given, args.settings);
    } catch (const kelto::host::BinaryOptionsError&) {
        throw UsageError(args.command + ": the options of " + formatName +
                         " are not a text document; --set cannot change them");
    } catch (const std::invalid_argument& e) {
        throw UsageError(args.command + ": " + e.what());
    }
    for (const std::string& key : choice.unknownKeys)
        Terminal::Line("kelto-import: warning: " + formatName + " has no option \"" + key + "\"; it is passed on anyway");
    if (guessNote) *guessNote = choice.note;
    return choice.text;
}

// The record holding an options document; a document the reader cannot take is a usage
// error. The Bruker readers get the 21-byte record the document describes.
std::unique_ptr<OpenOptions> MakeOptions(const Arguments& args, const std::string& text, const std::string& formatName) {
    try {
        return kelto::host::MakeOptionsRecord(text, formatName);
    } catch (const std::invalid_argument& e) {
        throw UsageError(args.command + ": " + e.what());
    }
}

struct ReadResult {
    int index = 0;
    std::string formatName;
    std::string readName;  // what the (first) read was called
    std::vector<std::string> warnings;
};

// Reads the files of `args` into `table`; returns the exit status. A format whose record
// says multiFile 2 reads several files together, in one read; one that says 1 takes them
// one at a time and the tables are stacked (kelto::host::ReadFiles).
int ReadTable(CommandLineHost& host, const Arguments& args, FloatStringSpreadsheetData& table, ReadResult& result) {
    int status = kOk;
    result.index = ChooseFormat(host, args, status);
    if (result.index < 1) return status;
    const char* name = host.GetFormatName(result.index);
    result.formatName = name ? name : "";
    std::unique_ptr<OpenOptions> options;
    std::string guessNote;
    if (std::optional<std::string> text = OptionsDocument(host, args, result.index, &guessNote))
        options = MakeOptions(args, *text, result.formatName);

    ProgressTable counting(table);
    kelto::host::ReadOutcome outcome;
    host.WatchProgress(&counting);
    kelto::host::ReadFiles(host, args.files, result.index, options.get(), counting,
                           [&](const std::vector<std::string>& files) { host.SetSubject(Subject(files)); }, outcome);
    host.WatchProgress(nullptr);
    host.SetSubject(std::string());
    result.warnings = host.TakeMessages();
    if (!outcome.ok)
        return Fail(Subject(outcome.files), outcome.message.empty() ? "the read was cancelled" : outcome.message);
    result.readName = outcome.readName;
    // What was guessed is said once the read worked (a file that cannot be read at all
    // makes a guess meaningless).
    if (!guessNote.empty() && args.command == "show") Terminal::Line("kelto-import: " + Subject(args.files) + ": " + guessNote);
    return kOk;
}

// ---------------------------------------------------------------------------------------
// options

int Options(CommandLineHost& host, const Arguments& args) {
    int status = kOk;
    const int index = ChooseFormat(host, args, status);
    if (index < 1) return status;
    // With --options or --set: the document a read would be given.
    if (!args.optionsFile.empty() || !args.settings.empty()) {
        std::optional<std::string> text = OptionsDocument(host, args, index);
        MakeOptions(args, *text, host.GetFormatName(index) ? host.GetFormatName(index) : "");
        if (!text->empty() && text->back() != '\n') *text += '\n';
        Out(*text);
        return kOk;
    }
    const std::string formatName = host.GetFormatName(index) ? host.GetFormatName(index) : "";
    std::unique_ptr<OpenOptions> record;
    try {
        record = OpenOptions::Adopt(host.GetFileOptions(args.files, index, false));
    } catch (const CancelException&) {
        return Fail(Subject(args.files), "cancelled");
    }
    if (record && record->size > 0) {
        std::optional<std::string> text = RecordText(*record);
        if (!text) {
            Terminal::Line("kelto-import: " + Subject(args.files) + ": the options of " + formatName + " are " +
                           std::to_string(record->size) + " bytes of binary data, not a document that can be shown");
            return kOk;
        }
        if (!text->empty() && text->back() != '\n') *text += '\n';
        Out(*text);
        return kOk;
    }
    if (std::optional<kelto::host::OptionsChoice> defaults = kelto::host::HostDefaultOptions(formatName, args.files.front())) {
        Terminal::Line("kelto-import: " + formatName + " gives no default options; kelto-import " +
                       (defaults->note.empty() ? "shows its own" : defaults->note));
        std::string text = *defaults->text;
        if (!text.empty() && text.back() != '\n') text += '\n';
        Out(text);
    } else {
        Terminal::Line("kelto-import: " + formatName + " gives no default options for " + Subject(args.files));
    }
    return kOk;
}

// ---------------------------------------------------------------------------------------
// show

void PrintJson(const FloatStringSpreadsheetData& table, const ReadResult& read, long long maxRows) {
    const int rows = table.GetNumberOfRows();
    const int columns = table.GetNumberOfColumns();
    std::string out = "{\"format\": ";
    AppendJsonString(out, read.formatName);
    out += ", \"read_name\": ";
    AppendJsonString(out, read.readName);
    out += ", \"columns\": " + std::to_string(columns) + ", \"rows\": " + std::to_string(rows) + ", \"cells\": [";
    const long long shown = std::min<long long>(rows, maxRows);
    for (int r = 1; r <= shown; ++r) {
        out += r == 1 ? "\n[" : ",\n[";
        const FloatStringVector& row = table.GetFloatStringMatrix()[r];
        for (int c = 1; c <= columns; ++c) {
            if (c > 1) out += ", ";
            AppendJsonCell(out, row[c]);
        }
        out += ']';
        if (out.size() > (1 << 16)) {
            Out(out);
            out.clear();
        }
    }
    out += shown > 0 ? "\n], \"warnings\": [" : "], \"warnings\": [";
    for (std::size_t i = 0; i < read.warnings.size(); ++i) {
        if (i) out += ", ";
        AppendJsonString(out, read.warnings[i]);
    }
    out += "]}\n";
    Out(out);
}

void PrintText(const FloatStringSpreadsheetData& table, const ReadResult& read, const std::string& subject,
               long long maxRows, long long maxColumns) {
    const int rows = table.GetNumberOfRows();
    const int columns = table.GetNumberOfColumns();
    std::string out = subject + ": " + read.formatName + ", " + Size(rows, columns) + "\n";
    const int shownRows = static_cast<int>(std::min<long long>(rows, maxRows));
    const int shownColumns = static_cast<int>(std::min<long long>(columns, maxColumns));
    if (shownRows > 0 && shownColumns > 0) {
        constexpr std::size_t kMaxWidth = 32;
        const FloatStringMatrix& matrix = table.GetFloatStringMatrix();
        std::vector<std::vector<std::string>> text(static_cast<std::size_t>(shownRows));
        std::vector<std::size_t> width(static_cast<std::size_t>(shownColumns));
        for (int c = 1; c <= shownColumns; ++c) width[c - 1] = std::to_string(c).size();
        for (int r = 1; r <= shownRows; ++r) {
            for (int c = 1; c <= shownColumns; ++c) {
                std::string cell = CutToWidth(DisplayCell(matrix.Cell(c, r)), kMaxWidth);
                width[c - 1] = std::max(width[c - 1], DisplayWidth(cell));
                text[r - 1].push_back(std::move(cell));
            }
        }
        const std::size_t labelWidth = std::to_string(shownRows).size();
        std::string line(labelWidth, ' ');
        for (int c = 1; c <= shownColumns; ++c) line += "  " + Padded(std::to_string(c), width[c - 1], true);
        out += line + "\n";
        for (int r = 1; r <= shownRows; ++r) {
            line = Padded(std::to_string(r), labelWidth, true);
            for (int c = 1; c <= shownColumns; ++c) {
                const FloatString& cell = matrix.Cell(c, r);
                // Numbers line up on the right, texts on the left.
                line += "  " + Padded(text[r - 1][c - 1], width[c - 1], !cell.IsString());
            }
            while (!line.empty() && line.back() == ' ') line.pop_back();
            out += line + "\n";
        }
    }
    if (shownRows > 0 && shownColumns > 0 && (shownRows < rows || shownColumns < columns)) {
        out += "(";
        if (shownRows < rows) out += std::to_string(rows - shownRows) + " more rows";
        if (shownRows < rows && shownColumns < columns) out += ", ";
        if (shownColumns < columns) out += std::to_string(columns - shownColumns) + " more columns";
        out += ")\n";
    }
    Out(out);
}

int Show(CommandLineHost& host, const Arguments& args) {
    FloatStringSpreadsheetData table;
    ReadResult read;
    if (int status = ReadTable(host, args, table, read); status != kOk) return status;
    if (args.json)
        PrintJson(table, read, args.maxRows.value_or(std::numeric_limits<long long>::max()));
    else
        PrintText(table, read, Subject(args.files), args.maxRows.value_or(kDefaultRows),
                  args.maxColumns.value_or(kDefaultColumns));
    return kOk;
}

// ---------------------------------------------------------------------------------------
// convert

int Convert(CommandLineHost& host, const Arguments& args) {
    // The output format is settled before the read, so that a mistake costs no reading.
    int writeOrdinal;
    if (!args.to.empty()) {
        writeOrdinal = host.WriteOrdinal(args.to);
        if (writeOrdinal == -2) throw UsageError("convert: the format '" + args.to + "' cannot be written");
        if (writeOrdinal < 1)
            throw UsageError("convert: unknown output format '" + args.to + "' (see kelto-import formats)");
    } else {
        writeOrdinal = host.WriteOrdinalForPath(args.output);
        if (writeOrdinal < 1)
            throw UsageError("convert: no writable format has the extension of '" + args.output + "'; name one with --to");
    }
    FloatStringSpreadsheetData table;
    ReadResult read;
    if (int status = ReadTable(host, args, table, read); status != kOk) return status;
    if (!host.WriteSpreadsheetFile(args.output.c_str(), writeOrdinal, &table, nullptr))
        return Fail(args.output, host.GetErrorMessage());
    const char* name = host.GetFormatName(host.WritableListIndex(writeOrdinal));
    Out(args.output + ": " + (name ? name : "?") + ", " + Size(table.GetNumberOfRows(), table.GetNumberOfColumns()) + "\n");
    return kOk;
}

// ---------------------------------------------------------------------------------------

std::chrono::milliseconds ProgressDelay() {
    const char* text = std::getenv("KELTO_IMPORT_PROGRESS_DELAY_MS");
    if (!text || !*text) return std::chrono::milliseconds(1000);
    char* end = nullptr;
    long value = std::strtol(text, &end, 10);
    if (*end != '\0' || value < 0) return std::chrono::milliseconds(1000);
    return std::chrono::milliseconds(value);
}

void InstallHooks(bool verbose) {
    kelto::platform::SetHostApplicationName("kelto-import");
    kelto::platform::SetPromptHook([](const std::string& question) {
        if (Terminal::StdinIsTerminal() && Terminal::StderrIsTerminal())
            return Terminal::AskYesNo(question, true) ? kelto::platform::PromptAnswer::Yes
                                                      : kelto::platform::PromptAnswer::No;
        Terminal::Line("kelto-import: " + Flatten(question) + " -- no terminal to ask; answered yes");
        return kelto::platform::PromptAnswer::Yes;
    });
    if (verbose)
        Log::SetSink([](const Log::Entry& entry) {
            Terminal::Line("kelto-import: log: " + entry.source + "/" + entry.tag + ": " + Flatten(entry.text));
        });
}

int Run(int argc, char** argv) {
    Arguments args = ParseArguments(argc, argv);
    if (args.version) {
        Out(std::string("kelto-import ") + KeltoLibraryVersion() + "\n");
        return kOk;
    }
    if (args.help) {
        Out(HelpText(args.command));
        return kOk;
    }
    if (args.command.empty()) throw UsageError("no command given");
    InstallHooks(args.verbose);
    CommandLineHost host(args.pluginDirectory.empty() ? nullptr : args.pluginDirectory.c_str());
    host.SetProgressDelay(ProgressDelay());
    if (args.command == "formats") return Formats(host, args);
    if (args.command == "detect") return Detect(host, args);
    if (args.command == "options") return Options(host, args);
    if (args.command == "show") return Show(host, args);
    return Convert(host, args);
}

}  // namespace

int main(int argc, char** argv) {
    try {
        int status = Run(argc, argv);
        if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
            Terminal::Line("kelto-import: cannot write to standard output");
            return kFailed;
        }
        return status;
    } catch (const UsageError& e) {
        std::string command = CommandIn(argc, argv);
        Terminal::Line(std::string("kelto-import: ") + e.what() + " (see kelto-import " +
                       (command.empty() ? "" : command + " ") + "--help)");
        return kUsage;
    } catch (const std::exception& e) {
        Terminal::Line(std::string("kelto-import: ") + Flatten(e.what()));
        return kFailed;
    }
}

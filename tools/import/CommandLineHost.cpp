#include "tools/import/CommandLineHost.h"

#include <filesystem>
#include <strings.h>

#include <utility>

#include "host/RecordText.h"
#include "tools/import/Terminal.h"

namespace kelto::cli {

namespace {

// The extension of a pattern such as "*.dif" (".dif"); empty when it is no such pattern.
std::string PatternExtension(const std::string& pattern) {
    if (pattern.size() < 3 || pattern[0] != '*' || pattern[1] != '.') return std::string();
    if (pattern.find_first_of("*?;", 1) != std::string::npos) return std::string();
    return pattern.substr(1);
}

}  // namespace

CommandLineHost::CommandLineHost(const char* pluginDirectory) : ImportHelperBase(nullptr, pluginDirectory) {}

int CommandLineHost::PutMsg1(const char* text, const char* caption, MessageType type, int defaultAnswer) {
    std::string message = Flatten(text ? text : "");
    (void)caption;  // a dialog's title; the kind of message says as much here
    std::string kind = type == Error ? "error" : type == Warning ? "warning" : "note";
    Terminal::Line("kelto-import: " + kind + ": " + (subject_.empty() ? "" : subject_ + ": ") + message);
    messages_.push_back(std::move(message));
    // Nobody is asked: the reader's own default goes ahead, as in an unattended run.
    return defaultAnswer;
}

void CommandLineHost::PutMsg2(const char* first, const char* second, const char*) {
    std::string message = Flatten(std::string(first ? first : "") + ": " + (second ? second : ""));
    Terminal::Line("kelto-import: " + message);
    messages_.push_back(std::move(message));
}

std::vector<std::string> CommandLineHost::TakeMessages() { return std::exchange(messages_, {}); }

const QmImportFileFormatInfo* CommandLineHost::FormatInfo(int index) { return GetLoader().GetInfo(index); }

int CommandLineHost::NameMatch(const std::string& name) {
    for (int i = 1; i <= FormatCount(); ++i)
        if (const char* n = GetFormatName(i); n && name == n) return i;
    for (int i = 1; i <= FormatCount(); ++i)
        if (const char* n = GetFormatName(i); n && strcasecmp(name.c_str(), n) == 0) return i;
    return -1;
}

int CommandLineHost::WriteOrdinal(const std::string& format) {
    const FormatTableEntry* table = GetFormatTable();
    auto ordinalOf = [&](int index) {
        int ordinal = 0;
        for (int i = 1; i <= index; ++i)
            if (table[i].canWrite) ++ordinal;
        return ordinal;
    };
    if (int index = NameMatch(format); index >= 1) return table[index].canWrite ? ordinalOf(index) : -2;
    for (int i = 1; i <= FormatCount(); ++i) {
        if (!table[i].canWrite) continue;
        if (format == table[i].writeFilter || format == table[i].readFilter) return ordinalOf(i);
    }
    if (std::string extension = PatternExtension(format); !extension.empty()) return WriteOrdinalForPath("x" + extension);
    return -1;
}

int CommandLineHost::WriteOrdinalForPath(const std::string& path) {
    // Only the last element's extension counts: a dot in a directory name is no extension.
    std::string name = std::filesystem::path(path).filename().string();
    if (name.find('.') == std::string::npos) return -1;
    return GetFormatIndex(name, true, false);
}

int CommandLineHost::WritableListIndex(int writeOrdinal) {
    const FormatTableEntry* table = GetFormatTable();
    for (int i = 1; i <= FormatCount(); ++i)
        if (table[i].canWrite && --writeOrdinal == 0) return i;
    return -1;
}

void CommandLineHost::ShowProgressBarWhileReading(SpreadsheetData*, int, int) {
    // The target may be a part stacked below others: the bar counts the whole table's rows.
    if (!counting_ || !Terminal::StderrIsTerminal()) return;
    std::string label = subject_.empty() ? "reading" : std::filesystem::path(subject_).filename().string();
    bar_ = std::make_unique<ProgressBar>(*counting_, label, progressDelay_);
}

void CommandLineHost::StopProgressBar(SpreadsheetData*) {
    if (bar_) bar_->Stop();
}

}  // namespace kelto::cli

#pragma once
// The command line's import host: messages and warnings go to stderr, a long read shows a
// progress bar there when stderr is a terminal, and formats are chosen by name, filter text
// or pattern.
#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "host/ImportHelperBase.h"
#include "tools/import/ProgressTable.h"

namespace kelto::cli {

class CommandLineHost : public ImportHelperBase {
public:
    // `pluginDirectory`: an extra directory of plug-in libraries (null: none).
    explicit CommandLineHost(const char* pluginDirectory);

    int PutMsg1(const char* text, const char* caption, MessageType type, int defaultAnswer) override;
    void PutMsg2(const char* first, const char* second, const char* third) override;

    // The file a message is about, put in front of warnings; empty: none.
    void SetSubject(const std::string& subject) { subject_ = subject; }
    // Warnings and messages received since the last call.
    std::vector<std::string> TakeMessages();

    // Formats in list order (list index = position + 1).
    int FormatCount() const { return GetNumberOfFormats(); }
    const QmImportFileFormatInfo* FormatInfo(int index);

    // The write ordinal for a format given by name, filter text or pattern ("*.dif"); -1
    // when nothing matches, -2 when the named format cannot be written.
    int WriteOrdinal(const std::string& format);
    // The write ordinal of the first writable format with the extension of `path`; -1.
    int WriteOrdinalForPath(const std::string& path);
    // The list index of the write ordinal's format; -1.
    int WritableListIndex(int writeOrdinal);

    // The delay before a read shows its progress bar.
    void SetProgressDelay(std::chrono::milliseconds delay) { progressDelay_ = delay; }
    // The table whose rows the progress bar counts during the reads that follow (the
    // target of the reads, or the table it is stacked into); null: no bar.
    void WatchProgress(ProgressTable* counting) {
        counting_ = counting;
        bar_.reset();
    }

protected:
    void ShowProgressBarWhileReading(SpreadsheetData* target, int columns, int rows) override;
    void StopProgressBar(SpreadsheetData* target) override;

private:
    int NameMatch(const std::string& name);

    std::string subject_;
    std::vector<std::string> messages_;
    std::chrono::milliseconds progressDelay_{1000};
    ProgressTable* counting_ = nullptr;
    std::unique_ptr<ProgressBar> bar_;
};

}  // namespace kelto::cli

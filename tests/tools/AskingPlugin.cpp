// A hand-written plug-in for the command-line tests: one format, "Asking File" (.ask), whose
// reader asks the user the question written in the file through the library's yes/no hook,
// puts the answer in the table and leaves a warning. It links the shared library only for
// that hook, as a plug-in of the same process must: the host's answer arrives through it.
#include <fstream>
#include <string>

#include "platform/Prompt.h"
#include "plugin/QmImport.h"

namespace {

const QmImportFileFormatInfo kAsking = {"Asking File", "Asking Files (*.ask)", nullptr, 1, ".ask\0", 0, 1, 0, 1, 1, 1};

struct Handle {
    std::string path;
    std::string error;
    std::string warning;
};

Handle* FromHandle(SpreadsheetFile* handle) { return reinterpret_cast<Handle*>(handle); }

// The question, or empty when the file does not start with "ASK ".
std::string Question(const char* path) {
    std::ifstream in(path ? path : "");
    std::string line;
    std::getline(in, line);
    return line.rfind("ASK ", 0) == 0 ? line.substr(4) : "";
}

}  // namespace

KELTO_C_API void QmImportInitPackage() {}
KELTO_C_API void QmImportReleasePackage() {}
KELTO_C_API int QmImportSizeFileFormatsSupported() { return 1; }
KELTO_C_API const QmImportFileFormatInfo* QmImportGetFileFormatInfo(int) { return &kAsking; }

KELTO_C_API unsigned char QmImportIsCorrectFileType(int, const char* path) {
    return Question(path).empty() ? 0 : 2;
}

KELTO_C_API bool QmImportOpen(int, const char* path, bool read, SpreadsheetFile** handle, QmImportOpenOptions*) {
    auto* h = new Handle{path ? path : "", "", ""};
    *handle = reinterpret_cast<SpreadsheetFile*>(h);
    if (!read) h->error = "Asking files cannot be written.";
    return h->error.empty();
}

KELTO_C_API void QmImportClose(int, SpreadsheetFile* handle) { delete FromHandle(handle); }

KELTO_C_API const char* QmImportGetLastError(int, SpreadsheetFile* handle) {
    return handle ? FromHandle(handle)->error.c_str() : "";
}

KELTO_C_API bool QmImportEstablishSize(int, SpreadsheetFile*, int* rows, int* cols) {
    *rows = 2;
    *cols = 1;
    return true;
}

KELTO_C_API bool QmImportRead(int, SpreadsheetFile* handle, ReadCallbackRecord* record) {
    Handle* h = FromHandle(handle);
    const std::string question = Question(h->path.c_str());
    if (question.empty()) {
        h->error = "An asking file starts with ASK and its question.";
        return false;
    }
    bool yes = kelto::platform::AskYesNo(question) == kelto::platform::PromptAnswer::Yes;
    record->SetString(record, 1, 1, "answer");
    record->SetString(record, 2, 1, yes ? "yes" : "no");
    h->warning = "The answer was\nrecorded.";
    return true;
}

KELTO_C_API const char* QmImportGetWarning(int, SpreadsheetFile* handle) {
    const std::string& w = FromHandle(handle)->warning;
    return w.empty() ? nullptr : w.c_str();
}

// A hand-written plug-in for the command-line tests, with two formats. "Asking File" (.ask):
// the reader asks the user the question written in the file through the library's yes/no
// hook, puts the answer in the table and leaves a warning. "Together File" (.tog, multiFile
// 2): several files come in one read, as the multi-file argument, and each becomes a row of
// its name and the number of files in that read. It links the shared library for the hook
// and the argument's splitting, as a plug-in of the same process does.
#include <fstream>
#include <string>
#include <vector>

#include "outside/utl/QmFile.h"
#include "platform/Prompt.h"
#include "plugin/QmImport.h"

namespace {

const QmImportFileFormatInfo kFormats[] = {
    {"Asking File", "Asking Files (*.ask)", nullptr, 1, ".ask\0", 0, 1, 0, 1, 1, 1},
    {"Together File", "Together Files (*.tog)", nullptr, 1, ".tog\0", 0, 1, 2, 1, 1, 1},
};

struct Handle {
    std::string path;
    std::string error;
    std::string warning;
    std::vector<std::string> together;  // the files of a Together read
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
KELTO_C_API int QmImportSizeFileFormatsSupported() { return 2; }
KELTO_C_API const QmImportFileFormatInfo* QmImportGetFileFormatInfo(int index) {
    return index == 1 || index == 2 ? &kFormats[index - 1] : nullptr;
}

KELTO_C_API unsigned char QmImportIsCorrectFileType(int index, const char* path) {
    return index == 1 && !Question(path).empty() ? 2 : 0;
}

KELTO_C_API bool QmImportOpen(int index, const char* path, bool read, SpreadsheetFile** handle, QmImportOpenOptions*) {
    auto* h = new Handle{path ? path : "", "", "", {}};
    *handle = reinterpret_cast<SpreadsheetFile*>(h);
    if (!read) h->error = "Asking files cannot be written.";
    if (index == 2 && !QmFile::GetFileNames(path, h->together)) h->error = "No files to read.";
    return h->error.empty();
}

KELTO_C_API void QmImportClose(int, SpreadsheetFile* handle) { delete FromHandle(handle); }

KELTO_C_API const char* QmImportGetLastError(int, SpreadsheetFile* handle) {
    return handle ? FromHandle(handle)->error.c_str() : "";
}

KELTO_C_API bool QmImportEstablishSize(int, SpreadsheetFile* handle, int* rows, int* cols) {
    const Handle* h = FromHandle(handle);
    *rows = h->together.empty() ? 2 : static_cast<int>(h->together.size());
    *cols = h->together.empty() ? 1 : 2;
    return true;
}

KELTO_C_API bool QmImportRead(int, SpreadsheetFile* handle, ReadCallbackRecord* record) {
    Handle* h = FromHandle(handle);
    for (std::size_t i = 0; i < h->together.size(); ++i) {
        record->SetString(record, static_cast<int>(i) + 1, 1, QmGetFileName(h->together[i]).c_str());
        record->SetString(record, static_cast<int>(i) + 1, 2, std::to_string(h->together.size()).c_str());
    }
    if (!h->together.empty()) return true;
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

#include "plugin/SpreadsheetFile.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "platform/Translate.h"
#include "plugin/ImportSpecBase.h"

SpreadsheetFile::~SpreadsheetFile() = default;

void SpreadsheetFile::Close() { status = kNoError; }

int SpreadsheetFile::GetNumCols() {
    if (!sizeKnown && EstablishSize() != 0) return -1;
    return numCols;
}

int SpreadsheetFile::GetNumRows() {
    if (!sizeKnown && EstablishSize() != 0) return -1;
    return numRows;
}

int SpreadsheetFile::operator!() const { return status; }

void SpreadsheetFile::GetErrorMessage(char* buffer, unsigned int size) {
    static const char* const kMessages[] = {
        "",
        "This function is not implemented for this file format.",
        "An error occurred when trying to establish the size of the data in the file.",
        "Tried to write to the file when it was opened for reading or vice versa.",
        "",
        "Incorrect format of file open options",
    };
    const char* text = (status >= 0 && status <= kBadOptions) ? kMessages[status]
                                                              : "No further information available.";
    if (*text == '\0') {
        CopyMessage("", buffer, size);
        return;
    }
    CopyMessage(kelto::Translate(text).c_str(), buffer, size);
}

const char* SpreadsheetFile::GetWarningMessage() { return nullptr; }

QmImportOpenOptions* SpreadsheetFile::GetFileReadOptions(const char*, bool) { return nullptr; }

const char* SpreadsheetFile::GetReadFile() const { return nullptr; }

int SpreadsheetFile::Write(const WriteSpreadSheetData*) { return Fail(kNotImplemented); }

int SpreadsheetFile::GetStatus() const { return status; }

void SpreadsheetFile::SetImportSpec(ImportSpecBase* spec) {
    if (spec) spec->rolesSet = false;
}

void SetSpreadsheetFileStatus(SpreadsheetFile& file, int code) { file.status = code; }

void CopyMessage(const char* text, char* buffer, unsigned int size) {
    if (!buffer || size == 0) return;
    if (!text) text = "";
    std::size_t n = std::min<std::size_t>(std::strlen(text) + 1, size);
    std::memcpy(buffer, text, n);
    buffer[n - 1] = '\0';
}
